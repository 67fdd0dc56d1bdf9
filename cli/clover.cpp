// Commands of the Clover distributions:
//   clover-check                      the revision check; prints the newest revision and the list
//   clover-repo [--repo DIR]          the usable files of the local repository (a query)
//   make-clover-zip ARCHIVE --output DIR
//                                     a release archive made into its data-set zip in DIR
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/settings.h"
#include "cli/cli.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "datasets/clover_iso_unpack.h"
#include "datasets/clover_local_distr.h"
#include "datasets/data_zip.h"
#include "datasets/dataset_services.h"
#include "net/clover_rev_check.h"
#include "net/http_get.h"

namespace fw::cli {
namespace {

namespace fs = std::filesystem;

int CloverCheckCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  if (!args.empty()) return Fail(kExitUsage, "usage: clover-check");
  if (!TryStartNetTransfer()) return Fail(kExitFailure, "another download is running");
  int code;
  {
    const InterruptCancels interrupts;
    code = CheckCloverLastRevThread(1);
  }
  CancelMainThread = 0;
  if (code != kWebOk) return Fail(kExitFailure, "clover-check: no Clover revision found");
  // The check's own status line has said "Found Latest Clover r" + the revision: the list follows.
  for (int rev : KnownCloverRevisions()) std::cout << rev << "\n";
  return kExitOk;
}

int CloverRepoCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "--repo") {
    std::string folder = args[1];
    if (folder.back() != '/') folder += '/';
    Settings().CloverLocalRepository = folder;  // a query: the settings are not saved
  } else if (!args.empty()) {
    return Fail(kExitUsage, "usage: clover-repo [--repo DIR]");
  }
  const std::string& repository = Settings().CloverLocalRepository;
  std::error_code ec;
  if (!fs::is_directory(repository, ec))
    return Fail(kExitFailure, "no repository folder " + repository);
  InstallSystemDataSetServices();
  FindCloverLocalDistr();
  for (const CloverLocalDistr& d : CloverLocalDistrs())
    std::cout << d.FileName << " (Rev." << d.Rev << ")\n";
  return kExitOk;
}

// A folder of its own inside `parent` for the unpacking, removed with everything in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const fs::path& parent) {
    std::random_device random;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      const fs::path candidate = parent / (".clover-unpack-" + std::to_string(random() % 1000000));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) path_ = candidate;
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string UnpackFailure(int exitCode) {
  switch (exitCode) {
    case kUnpackNoArchive:
      return "the archive cannot be read";
    case kUnpackNoArchiver:
      return "the 7-Zip archiver 7zz is missing (Debian package 7zip)";
    case kUnpackArchiverFailed:
      return "7zz could not unpack the archive (or it holds no ISO image)";
    default:
      return "the archive has no usable name";
  }
}

int MakeCloverZipCommand(const GlobalOptions&, const std::vector<std::string>& args) {
  std::string archive;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--output" && i + 1 < args.size()) {
      output = args[++i];
    } else if (archive.empty() && args[i].rfind("--", 0) != 0) {
      archive = args[i];
    } else {
      return Fail(kExitUsage, "usage: make-clover-zip ARCHIVE --output DIR");
    }
  }
  if (archive.empty() || output.empty())
    return Fail(kExitUsage, "usage: make-clover-zip ARCHIVE --output DIR");
  std::error_code ec;
  const fs::path source = fs::absolute(archive, ec);
  if (!fs::exists(source, ec)) return Fail(kExitFailure, "no such file: " + archive);
  if (!fs::is_regular_file(source, ec) || Validate7zZIPFile(source.string()) == 0)
    return Fail(kExitFailure, archive + " is no 7-Zip archive");
  const fs::path folder = fs::absolute(output, ec);
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) return Fail(kExitFailure, "no folder " + output);

  // The steps run beside the result, so that the finished zip is renamed into place whole.
  const ScratchFolder work(folder);
  if (work.path().empty()) return Fail(kExitFailure, "cannot create a folder in " + output);
  UnpackCloverIsoOptions options;
  options.cancelled = [] { return CancelMainThread != 0; };
  options.onLine = [](std::string_view line) { FW_LOGP("make-clover-zip", line); };
  const std::string name = CloverIsoUnpackFolder(source.string()) + ".zip";
  std::cout << "Unpack " << source.filename().string() << " ..." << std::endl;
  int exitCode;
  {
    const InterruptCancels interrupts;
    exitCode = UnpackCloverIso(work.path().string() + "/", source.string(), options);
  }
  if (CancelMainThread != 0) {
    CancelMainThread = 0;
    return Fail(kExitFailure, "make-clover-zip cancelled");
  }
  if (exitCode != kUnpackOk)
    return Fail(kExitFailure, "make-clover-zip: " + UnpackFailure(exitCode) + " (exit code " +
                                  std::to_string(exitCode) + ")");
  fs::rename(work.path() / name, folder / name, ec);
  if (ec)
    return Fail(kExitFailure, "cannot write " + (folder / name).string() + ": " + ec.message());
  std::cout << (folder / name).string() << "\n";
  return kExitOk;
}

}  // namespace

FW_CLI_HELP("clover-check", "", "",
            "Reads the Clover project's release page and prints \"Found Latest Clover r\" and "
            "the newest revision, then the revisions found, newest first, one per line. Keeps the "
            "revision and the time of the check in the settings (CloverLastRev, "
            "CloverLastRevCheckDate); exit status 1 when no revision was found.");
FW_CLI_HELP("clover-repo", "", "",
            "Prints the usable files of the Clover local repository as \"FileName (Rev.N)\", "
            "highest revision first: data-set zips whose root boot file names a revision, and "
            "release archives. Saves nothing.\n\n"
            "--repo DIR\tlook in DIR instead of the CloverLocalRepository setting");
FW_CLI_HELP("make-clover-zip", "", "",
            "Turns a Clover release archive (Clover-N-X64.iso.7z) into the data-set zip "
            "Clover-N-X64.zip that format --data-set Local installs, through 7zz, and prints its "
            "path.\n\n"
            "ARCHIVE\tthe release archive\n"
            "--output DIR\tthe folder for the zip (made when missing)");
FW_CLI_COMMAND("clover-check", "clover-check        find the latest Clover revision on the web",
               CloverCheckCommand);
FW_CLI_QUERY_COMMAND("clover-repo",
                     "clover-repo [--repo DIR]  the Clover distributions of the local repository",
                     CloverRepoCommand);
FW_CLI_COMMAND("make-clover-zip",
               "make-clover-zip ARCHIVE --output DIR  a Clover-NNNN-X64.iso.7z made into "
               "Clover-NNNN-X64.zip",
               MakeCloverZipCommand);

}  // namespace fw::cli
