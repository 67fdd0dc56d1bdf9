#include "datasets/hfs_extraction.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/ui_event.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"
#include "datasets/hfs_archiver.h"
#include "net/http_get.h"
#include "net/recovery_hd_download.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

std::string FileNameOf(const std::string& path) { return fs::path(path).filename().string(); }

// The work folder's files as the log lists them.
void LogWorkFolderFiles() {
  std::error_code ec;
  for (fs::directory_iterator it(ZorTempWorkDir(), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (!it->is_regular_file(e2)) continue;
    FW_LOGP("HideFiles", it->path().filename().string() +
                             " - Size in byte: " + std::to_string(it->file_size(e2)));
  }
}

void EmptyWorkFolder() {
  if (ZorTempWorkDir().empty()) return;
  std::error_code ec;
  for (fs::directory_iterator it(ZorTempWorkDir(), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    fs::remove_all(it->path(), e2);
  }
}

// The DMG job's start (busy flag, work folder) and its end sequence.
class DmgJob {
 public:
  DmgJob() { format_op_in_progress = 1; }
  ~DmgJob() {
    EmptyWorkFolder();
    FW_LOGP("ExtractHFSFromDMG", "ExtractHFSFromDMG: Result=" + std::to_string(outcome.result));
    format_op_in_progress = 0;
  }
  bool Prepare() {
    if (CreateTempWorkDir()) return true;
    MessageBox("Error", "Can't create TEMP folder!" + ZorTempWorkDir(), MsgButtons::Ok,
               MsgIcon::Error);
    return false;
  }
  void Extract(const std::string& dmg, const std::string& folder) {
    if (ArchiverProgram().empty()) {
      FW_LOGP("ExtractHFSFromDMG", "7zz is not installed");
      MessageBox("Error", "Can't unpack Internal Resources!", MsgButtons::Ok, MsgIcon::Error);
      return;
    }
    LogWorkFolderFiles();
    // The archiver tells no progress: the line says what runs, with an empty bar.
    ShowStatus("Extracting HFS-Image from " + FileNameOf(dmg) + " ...", -1);
    const HfsExtraction x = ExtractHfsImagesFromDmg(dmg, folder);
    ShowStatus("", -1);
    if (!x.started) {
      FW_LOGP("ExtractHFSFromDMG", "ExtractHFSFromDMG: Error Run Extract HFS volume.");
      MessageBox("Error ! ", "Error Run Extract HFS volume.", MsgButtons::Ok, MsgIcon::Error);
      return;
    }
    // Exit code 0 alone is no success: the archiver says so also for a DMG without HFS partitions.
    if (x.exitCode == 0 && !x.images.empty()) {
      for (const std::string& image : x.images) FW_LOGP("ExtractHFSFromDMG", "Extracted " + image);
      outcome.images = x.images;
      outcome.result = 1;
      MessageBox("Info", "HFS volume Extracted.", MsgButtons::Ok, MsgIcon::Information);
      return;
    }
    FW_LOGP("ExtractHFSFromDMG", "archiver exit code " + std::to_string(x.exitCode) + ", " +
                                     std::to_string(x.images.size()) + " images");
    MessageBox("Error", "Can't open \"" + FileNameOf(dmg) + "\"\r\nas DMG archive.", MsgButtons::Ok,
               MsgIcon::Error);
  }
  HfsJobOutcome outcome;
};

std::string SummaryText(const std::string& name, const std::string& folder) {
  return "\tSummary Information:\r\n\r\nDL Recovery HD file for macOS: \r\n\"" + name +
         "\" ........... Success\r\nExtract HFS-Image (*.hfs) file ................. "
         "Success\r\nSave in the Directory: \"" +
         folder +
         "\" ........... Success\r\n\r\nAn ZORImage file can be restored to the required "
         "Partition\r\nusing the button [Restore ...].";
}

// The package job's steps up to its end sequence; a failure returns early with what it showed.
void DownloadAndUnpack(const RecoveryHDEntry& entry, const std::string& folder,
                       HfsJobOutcome* outcome) {
  if (!CreateTempWorkDir()) {
    MessageBox("Error!", "Can't create TEMP folder!" + ZorTempWorkDir(), MsgButtons::Ok,
               MsgIcon::Error);
    return;
  }
  if (ArchiverProgram().empty()) {
    FW_LOGP("DLAndExtractHFSImageFromRecoveryHD", "7zz is not installed");
    MessageBox("Error", "Can't Unpack Internal Resources!", MsgButtons::Ok, MsgIcon::Error);
    return;
  }
  LogWorkFolderFiles();
  // The download runs on a worker of its own, one GetRecoveryHDThread at a time.
  if (!TryStartNetTransfer()) {
    MessageBox("Error!", "Can't download RecoveryHD for MAC OS X " + entry.Name, MsgButtons::Ok,
               MsgIcon::Error);
    return;
  }
  static std::atomic<int> threadNumber{0};
  const std::string number = std::to_string(++threadNumber);
  std::thread download([&] { outcome->downloadCode = GetRecoveryHDThread(entry); });
  FW_LOGP("DLAndExtractHFSImageFromRecoveryHD", "Created GetRecoveryHDThread() = " + number);
  download.join();
  FW_LOGP("DLAndExtractHFSImageFromRecoveryHD", "Ended GetRecoveryHDThread() = " + number);
  const std::string package = std::string(kRecoveryHDPackageName);
  std::error_code ec;
  if (outcome->downloadCode != kWebOk || !fs::is_regular_file(ZorTempWorkDir() + package, ec))
    return;
  ShowStatusFor(package + " Downloaded", 1000);
  LogWorkFolderFiles();
  ShowStatusFor("Extracting HFS-Image from " + package + " ...", 2000);
  outcome->unpackCode =
      UnpackRecoveryHDPackage(ZorTempWorkDir(), package, folder, &outcome->images);
  if (outcome->unpackCode == kUnpackCannotRun) {
    FW_LOGP("DLAndExtractHFSImageFromRecoveryHD", "Error Run Extract HFS-Image.");
    MessageBox("Error ! ", "Error Run Extract HFS-Image.", MsgButtons::Ok, MsgIcon::Error);
    return;
  }
  FW_LOGP("DLAndExtractHFSImageFromRecoveryHD",
          "RunProgram Exitcode=" + std::to_string(outcome->unpackCode));
  if (outcome->unpackCode != kUnpackOk) {
    ShowStatusFor(
        "Extract HFS-Image from " + package + " ErrorCode: " + std::to_string(outcome->unpackCode),
        2000);
    return;
  }
  ShowStatusFor("Done", 2000);
  outcome->result = 1;
}

}  // namespace

int ExtractHFSFromDMG() {
  DmgJob job;
  if (!job.Prepare()) return 0;
  Ui& ui = TheUi();
  const std::string dmg = ui.OpenFileChooser(
      "Select DMG-file for extraction", "", {{"dmg (*.dmg)", "*.dmg"}, {"All files (*.*)", "*.*"}});
  if (dmg.empty()) return 0;
  const std::string folder =
      ui.FolderChooser("Select path to save image file:", fs::path(dmg).parent_path().string());
  if (folder.empty()) return 0;
  job.Extract(dmg, folder);
  return job.outcome.result;
}

HfsJobOutcome RunExtractHFSFromDMG(const std::string& dmgPath, const std::string& outputFolder) {
  DmgJob job;
  if (job.Prepare()) job.Extract(dmgPath, outputFolder);
  return job.outcome;
}

HfsJobOutcome DLAndExtractHFSImageFromRecoveryHD(const RecoveryHDEntry& entry,
                                                 const std::string& outputFolder) {
  HfsJobOutcome outcome;
  const std::string folder = outputFolder.empty() ? Settings().ZORImageLocalRepo : outputFolder;
  Ui& ui = TheUi();
  format_op_in_progress = 1;
  CancelMainThread = 0;
  ui.SetControlText(kMainWindow, main_ctl::kDlCenter, "Cancel DL");
  DownloadAndUnpack(entry, folder, &outcome);
  RemoveTempWorkDir();
  if (outcome.result == 1)
    MessageBox("Info", SummaryText(entry.Name, folder), MsgButtons::Ok, MsgIcon::Information);
  format_op_in_progress = 0;
  CancelMainThread = 0;
  ui.SetControlText(kMainWindow, main_ctl::kDlCenter, "DL Center");
  UpdateAllDrivesFromWorker();
  return outcome;
}

}  // namespace fw
