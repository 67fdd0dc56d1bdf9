#include "datasets/clover_iso_unpack.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "platform/process.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

class Steps {
 public:
  Steps(std::string sevenZip, const UnpackCloverIsoOptions& options)
      : sevenZip_(std::move(sevenZip)), options_(options) {}

  void Say(const std::string& line) const {
    if (options_.onLine) options_.onLine(line);
  }

  // One archiver run; false for error level 2 or more, a failed start or a cancel.
  bool Archiver(std::vector<std::string> args, const fs::path& cwd = {}) const {
    args.insert(args.begin(), sevenZip_);
    std::string echo;
    for (const auto& a : args) echo += (echo.empty() ? "" : " ") + a;
    Say(echo);
    ProcessOptions run;
    run.workingDir = cwd.string();
    run.cancelled = options_.cancelled;
    run.onLine = options_.onLine;
    const ProcessResult r = RunProcess(args, run);
    if (r.started && !r.cancelled && r.exitCode >= 0 && r.exitCode < 2) return true;
    Say(r.cancelled ? "Cancelled: " + echo : DescribeProcessEnd(args, r));
    return false;
  }

 private:
  std::string sevenZip_;
  const UnpackCloverIsoOptions& options_;
};

// The ISO images the first step took out: plain files only (an archive can carry a link named
// like an image, which would make the next step read whatever it points to).
std::vector<fs::path> IsoFilesIn(const fs::path& folder) {
  std::vector<fs::path> isos;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (fs::is_regular_file(it->symlink_status(ec)) &&
        EndsWithNoCase(it->path().filename().string(), ".iso"))
      isos.push_back(it->path());
  }
  std::sort(isos.begin(), isos.end());
  return isos;
}

// Links and special files of the unpacked tree are dropped: the zip is made by following names,
// and a link planted in an image must not pull files of this machine into the data set.
void RemoveNonRegularEntries(const fs::path& folder, const Steps& steps) {
  std::vector<fs::path> doomed;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::file_status st = it->symlink_status(ec);
    if (fs::is_symlink(st) || (!fs::is_regular_file(st) && !fs::is_directory(st))) {
      doomed.push_back(it->path());
      if (fs::is_directory(st)) it.disable_recursion_pending();
    }
  }
  for (const fs::path& p : doomed) {
    steps.Say("Skipped (not a plain file): " + fs::relative(p, folder, ec).string());
    fs::remove(p, ec);
  }
}

// The root boot files: every "boot*" of usr/standalone/i386/x64, and boot6 again as "boot".
void CopyRootBootFiles(const fs::path& u, const Steps& steps) {
  const fs::path x64 = u / "usr" / "standalone" / "i386" / "x64";
  std::error_code ec;
  bool any = false;
  for (fs::directory_iterator it(x64, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("boot", 0) != 0 || !it->is_regular_file(ec)) continue;
    std::error_code copyError;
    fs::copy_file(it->path(), u / name, fs::copy_options::overwrite_existing, copyError);
    if (copyError) steps.Say("Warning: cannot copy " + name + ": " + copyError.message());
    any = true;
  }
  if (!any) steps.Say("Warning: no boot files in usr/standalone/i386/x64");
  if (fs::is_regular_file(x64 / "boot6", ec)) {
    std::error_code copyError;
    fs::copy_file(x64 / "boot6", u / "boot", fs::copy_options::overwrite_existing, copyError);
    if (copyError) steps.Say("Warning: cannot copy boot6 to boot: " + copyError.message());
  } else {
    steps.Say("Warning: no boot6 in usr/standalone/i386/x64: the data set has no \"boot\"");
  }
}

}  // namespace

std::string CloverIsoUnpackFolder(const std::string& archiveFileName) {
  std::string name = fs::path(archiveFileName).filename().string();
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (EndsWithNoCase(name, ".iso")) name.erase(name.size() - 4);
  return name;
}

int UnpackCloverIso(const std::string& workFolder, const std::string& archiveFileName,
                    const UnpackCloverIsoOptions& options) {
  const Steps plain("", options);
  if (archiveFileName.empty()) {
    plain.Say("Usage: Unpack_Clover_ISO Clover-NNNN-X64.iso.7z");
    return kUnpackUsage;
  }
  const fs::path work(workFolder);
  const fs::path archive =
      fs::path(archiveFileName).is_absolute() ? fs::path(archiveFileName) : work / archiveFileName;
  std::error_code ec;
  if (!fs::is_regular_file(archive, ec)) {
    plain.Say("Not found: " + archive.string());
    return kUnpackNoArchive;
  }
  const std::string sevenZip = FindProgram(options.archiver);
  if (sevenZip.empty()) {
    plain.Say("The 7-Zip archiver " + options.archiver + " is missing (Debian package 7zip)");
    return kUnpackNoArchiver;
  }
  const Steps steps(sevenZip, options);
  const std::string U = CloverIsoUnpackFolder(archive.string());
  if (U.empty() || U == "." || U == "..") {
    steps.Say("No unpack folder for " + archive.filename().string());
    return kUnpackUsage;
  }
  const fs::path u = work / U;
  fs::remove_all(u, ec);
  auto failed = [&] {
    std::error_code e;
    fs::remove_all(u, e);
    return kUnpackArchiverFailed;
  };

  // The ISO out of the release archive.
  if (!steps.Archiver(
          {"e", archive.string(), "-o" + u.string(), "-i!*.iso", "-i!*.ISO", "-y", "-bd"}))
    return failed();
  const std::vector<fs::path> isos = IsoFilesIn(u);
  if (isos.empty()) {
    steps.Say("No ISO image in " + archive.filename().string());
    return failed();
  }
  // The ISO's file tree into U.
  for (const fs::path& iso : isos) {
    if (!steps.Archiver({"x", iso.string(), "-o" + u.string(), "-y", "-bd"})) return failed();
  }
  for (const fs::path& iso : isos) fs::remove(iso, ec);
  fs::remove_all(u / "[BOOT]", ec);
  RemoveNonRegularEntries(u, steps);
  CopyRootBootFiles(u, steps);

  // The whole tree into U.zip beside U.
  const fs::path zip = work / (U + ".zip");
  fs::remove(zip, ec);
  if (!steps.Archiver({"a", "-tzip", "-mx" + std::to_string(std::clamp(options.zipLevel, 0, 9)),
                       "-r", "-bd", zip.string(), "*"},
                      u)) {
    fs::remove(zip, ec);
    return failed();
  }
  fs::remove_all(u, ec);
  return kUnpackOk;
}

}  // namespace fw
