#include "datasets/hfs_archiver.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "app/globals.h"
#include "app/log.h"
#include "platform/process.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

std::mutex gArchiverMutex;
std::string gArchiverOverride;

// The archiver's exit codes: 0 success, 1 warning, 2 and above an error.
constexpr int kArchiverWarning = 1;

using Snapshot = std::map<std::string, std::pair<uintmax_t, fs::file_time_type>>;

bool IsImageName(const fs::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".hfs";
}

Snapshot ImagesIn(const fs::path& folder) {
  Snapshot s;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (!it->is_regular_file(e2) || !IsImageName(it->path())) continue;
    s[it->path().filename().string()] = {it->file_size(e2), it->last_write_time(e2)};
  }
  return s;
}

std::vector<std::string> NewImages(const fs::path& folder, const Snapshot& before) {
  std::vector<std::string> images;
  for (const auto& [name, facts] : ImagesIn(folder)) {
    const auto old = before.find(name);
    if (old == before.end() || old->second != facts) images.push_back((folder / name).string());
  }
  return images;
}

ProcessResult RunArchiver(std::vector<std::string> args, const std::string& workingDir) {
  const std::string program = ArchiverProgram();
  args.insert(args.begin(), program.empty() ? std::string("7zz") : program);
  ProcessOptions options;
  options.workingDir = workingDir;
  options.cancelled = [] { return CancelMainThread.load() != 0; };
  ProcessResult result = RunProcess(args, options);
  FW_LOGP("RunProgram", DescribeProcessEnd(args, result));
  return result;
}

// A step whose archiver ended with an error (2 or more), a signal, or a cancel.
bool Failed(const ProcessResult& r) {
  if (r.exitCode == kArchiverWarning) FW_LOGP("RunProgram", "archiver warning (exit code 1)");
  return !r.started || r.cancelled || r.exitCode < 0 || r.exitCode > kArchiverWarning;
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

void Remove(const fs::path& p) {
  std::error_code ec;
  fs::remove(p, ec);
}

}  // namespace

std::string ArchiverProgram() {
  {
    std::lock_guard<std::mutex> lock(gArchiverMutex);
    if (!gArchiverOverride.empty()) return gArchiverOverride;
  }
  return FindProgram("7zz");
}

void SetArchiverProgramForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(gArchiverMutex);
  gArchiverOverride = path;
}

HfsExtraction ExtractHfsImagesFromDmg(const std::string& dmgPath, const std::string& outputFolder) {
  HfsExtraction out;
  const Snapshot before = ImagesIn(outputFolder);
  const ProcessResult r =
      RunArchiver({"e", "-tdmg", dmgPath, "*.hfs", "-aou", "-o" + outputFolder}, "");
  out.started = r.started;
  out.exitCode = r.exitCode;
  out.cancelled = r.cancelled;
  if (r.started) out.images = NewImages(outputFolder, before);
  return out;
}

int UnpackRecoveryHDPackage(const std::string& workFolder, const std::string& packageName,
                            const std::string& outputFolder, std::vector<std::string>* images) {
  images->clear();
  if (packageName.empty()) {
    FW_LOG("Usage: UnpackRecoveryHDPackage package [output folder]");
    return kUnpackUsage;
  }
  const fs::path work(workFolder);
  if (!IsFile(work / packageName)) return kUnpackNoPackage;
  const fs::path output = outputFolder.empty() ? work : work / outputFolder;  // absolute wins
  std::error_code ec;
  if (!fs::is_directory(output, ec)) return kUnpackNoOutput;
  if (ArchiverProgram().empty()) return kUnpackCannotRun;

  const fs::path meta = work / "RecoveryHDMeta.dmg";
  const fs::path base = work / "BaseSystem.dmg";
  auto fail = [&] {
    Remove(meta);
    Remove(base);
    return kUnpackFailed;
  };
  // A package is a XAR archive holding RecoveryHDMeta.dmg.
  ProcessResult r = RunArchiver(
      {"e", "-w", "-r", "-txar", "-y", "--", packageName, "RecoveryHDMeta.dmg"}, workFolder);
  if (!r.started) return kUnpackCannotRun;
  if (r.cancelled) return fail();
  // The RecoveryHDMetaDmg.pkg packages of the installer products are that DMG themselves, behind
  // a XAR header: then the package is opened as the DMG (and the HFS volume inside it).
  std::vector<std::string> step2 = {
      "e", "-w", "-r", "-y", "--", "RecoveryHDMeta.dmg", "BaseSystem.dmg"};
  if (!IsFile(meta)) {
    FW_LOG("No RecoveryHDMeta.dmg in " + packageName + ": opened as a DMG itself");
    step2 = {"e", "-w", "-r", "-thfs.dmg", "-y", "--", packageName, "BaseSystem.dmg"};
  } else if (Failed(r)) {
    return fail();
  }
  r = RunArchiver(step2, workFolder);
  Remove(meta);
  if (Failed(r) || !IsFile(base)) return fail();

  const Snapshot before = ImagesIn(output);
  r = RunArchiver(
      {"e", "-w", "-tdmg", "-o" + output.string(), "-aou", "-y", "--", "BaseSystem.dmg", "*.hfs"},
      workFolder);
  Remove(base);
  if (Failed(r)) return fail();
  *images = NewImages(output, before);
  if (images->empty()) {
    FW_LOG("BaseSystem.dmg holds no HFS partition");
    return kUnpackFailed;
  }
  return kUnpackOk;
}

}  // namespace fw
