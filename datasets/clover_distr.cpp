#include "datasets/clover_distr.h"

#include <filesystem>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_host.h"
#include "app/settings.h"
#include "app/text.h"
#include "app/ui.h"
#include "datasets/clover_iso_unpack.h"
#include "datasets/clover_local_distr.h"
#include "datasets/data_zip.h"
#include "datasets/dataset_services.h"
#include "net/clover_release_download.h"
#include "net/http_get.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProc = "DLAndExtractCloverFromCloverDistrISO";
constexpr const char* kCopyError = "Error Copy the Latest Clover Data Set to Selected Drive.";

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// The names and sizes of the work folder's files (Linux has no hidden attribute to give them).
void LogWorkFolderFiles(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e;
    if (it->is_regular_file(e))
      FW_LOGP(kProc, it->path().filename().string() +
                         " - Size in byte: " + std::to_string(FileSize(it->path().string())));
  }
}

void ErrorBox(const std::string& title, const std::string& text) {
  MessageBox(title, text, MsgButtons::Ok, MsgIcon::Error);
}

// The routine's last step, on every path.
int32_t End(int32_t result) {
  TheWindows().ActivateWindow(kMainWindow);
  FW_LOGP(kProc, "Result=" + std::to_string(result));
  return result;
}

// The release archive into the work folder; its file name, or "" after the failure was shown.
std::string GetArchive(int Local, const std::string& work) {
  if (Local == 1) {
    const std::string source = TheCloverChoice().CloverLocalSelectedName;
    const std::string name = fs::path(source).filename().string();
    const std::string target = work + name;
    std::error_code ec;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
    // A failed copy is only logged: the unpack steps then report the missing archive.
    FW_LOGP(kProc, std::string(ec ? "Error CopyFile " : "CopyFile ") + source + " to " + target);
    ShowStatus("Use " + name, 0);
    return name;
  }
  switch (StartGetCloverRevThread()) {
    case CloverDownloadStart::kStarted:
      break;
    case CloverDownloadStart::kAlreadyRunning:
      return "";
    case CloverDownloadStart::kCannotStart:
      ErrorBox("Error!", "Can't download Latest Clover.");
      return "";
  }
  if (!WaitGetCloverRevThread(kCloverDownloadLimitMs)) {
    ErrorBox("Error!", "Can't download Latest Clover: Timeout 300 secs.");
    return "";
  }
  const CloverDownload download = LastCloverDownload();
  if (download.code != kWebOk) return "";
  if (Validate7zZIPFile(download.file) == 0) {
    ShowStatus("Error: The downloaded file is not an LZMA file.", 0);
    Pause(3000);
    return "";
  }
  ShowStatus("Clover r" + CloverDLRev() + " Downloaded", 0);
  Pause(1000);
  return fs::path(download.file).filename().string();
}

// Copies the zip into the repository; the old file of that name stays until the copy is whole.
void SaveToRepository(const std::string& zip) {
  const std::string name = fs::path(zip).filename().string();
  const fs::path target = fs::path(Settings().CloverLocalRepository) / name;
  const fs::path partial = fs::path(Settings().CloverLocalRepository) / ("." + name + ".partial");
  std::error_code ec;
  fs::copy_file(zip, partial, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(partial, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    FW_LOGP(kProc, "Error! Can't Save the Latest Clover DL ZOR-ready zip distr");
    FW_LOGP(kProc, GetErrorText(ec.value()));
    return;
  }
  ShowStatusFor(name + " Saved to Clover Local Repo", 4000);
}

}  // namespace

int32_t PrepareCloverDataSetZip(int Local, std::string* zipPath) {
  zipPath->clear();
  DataSetServices& services = TheDataSetServices();
  if (!services.createTempWorkDir || services.createTempWorkDir() == 0) {
    ErrorBox("Error!", "Can't create TEMP folder!" +
                           (services.workFolder ? services.workFolder() : std::string()));
    return End(0);
  }
  const std::string work = services.workFolder();
  LogWorkFolderFiles(work);
  const std::string archive = GetArchive(Local, work);
  if (archive.empty() && Local != 1) return End(0);
  const std::string zip =
      work + (Local == 1 ? CloverIsoUnpackFolder(archive) : "Clover-" + CloverDLRev() + "-X64") +
      ".zip";
  LogWorkFolderFiles(work);

  FW_LOGP(kProc, "Zip: " + zip);
  FW_LOGP(kProc, "ZorTempWorkDir$: " + work);
  UnpackCloverIsoOptions options;
  // A zip that is not kept is stored: it is unpacked once, right away, and packing it would only
  // cost time on both sides.
  options.zipLevel = Settings().SaveLatestCloverAfterDL != 0 ? 9 : 0;
  options.cancelled = [] { return CancelMainThread != 0 || FormatStatus != 0; };
  options.onLine = [](std::string_view line) { FW_LOGP(kProc, line); };
  ShowStatus("Unpack " + archive + " ...", 0);
  const int exitCode = UnpackCloverIso(work, archive, options);
  FW_LOGP(kProc, "Exitcode: " + std::to_string(exitCode));
  if (exitCode != kUnpackOk) {
    // A cancel stops the archiver: the user knows why it ended.
    if (!options.cancelled()) ErrorBox("Error!", "Error During Extract Latest Clover Data Set.");
    return End(0);
  }
  if (FileSize(zip) <= 0) {
    ErrorBox("Error!", kCopyError);
    return End(0);
  }
  *zipPath = zip;
  return 1;
}

int32_t InstallCloverDataSetZip(const std::string& DestPath, const std::string& zipPath) {
  // A data set with entries that did not reach the target is not installed.
  ExtractTally tally;
  if (FileSize(zipPath) <= 0 ||
      ExtractDataZip(nullptr, 0, DestPath, false, zipPath, true, false, &tally) == 0 ||
      tally.NotWritten() != 0) {
    if (FormatStatus == 0) ErrorBox("Error!", kCopyError);
    return End(0);
  }
  if (Settings().SaveLatestCloverAfterDL != 0) SaveToRepository(zipPath);
  return End(1);
}

int32_t DLAndExtractCloverFromCloverDistrISO(const std::string& DestPath, int Local) {
  std::string zip;
  if (PrepareCloverDataSetZip(Local, &zip) == 0) return 0;
  return InstallCloverDataSetZip(DestPath, zip);
}

}  // namespace fw
