#include "prepare/format_job.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/models/jobs.h"
#include "app/models/window_host.h"
#include "app/text.h"
#include "app/ui.h"
#include "app/workers.h"
#include "disk/inventory.h"
#include "disk/raw_access.h"
#include "platform/sysinfo.h"
#include "prepare/drive_letter.h"
#include "prepare/format_drive.h"
#include "prepare/format_steps.h"
#include "prepare/partition_table.h"

namespace fw {

namespace {

// Window 0 controls the job drives.
constexpr int kMainWindow = 0;
constexpr int kFormatButton = 2;
constexpr int kDriveList = 97;

FormatOutcome g_outcome;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return 0;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// The job's state, and its one end sequence: every path leaves through Finish().
class FormatJob {
 public:
  FormatJob(int installData, const FormatJobOptions& options)
      : installData_(installData), options_(options) {}

  void Run() {
    Body();
    Finish();
  }

 private:
  // Returns when the job ends (any step); Finish() then does the end sequence.
  void Body();
  bool Checks();
  bool Confirm();
  bool WriteLayout();
  bool FormatFirstPartition();
  bool InstallBootRecords();
  void InstallDataSet();
  int InstallCloverDataSet();
  bool VerifyDataSet(const std::string& zipPath);
  void WriteIndexingMarkers();
  void Fail(const std::string& why) {
    if (outcome_.failure.empty()) outcome_.failure = why;
  }
  // A refusal before the question: the reason in the log, the status line and a box.
  void Refuse(const std::string& why) {
    FW_LOGP("FormatThread", "FormatThread: " + why);
    ShowStatus("Error : " + why, 0);
    MessageBox("Error", why, MsgButtons::Ok, MsgIcon::Warning);
    Fail(why);
  }
  bool CheckBeforeTheQuestion();
  bool PrepareCloverDataSet();
  bool GetLatestRelease();
  bool GetLocalReleaseArchive();
  bool DataSetNotReady();
  void Finish();

  int installData_;
  FormatJobOptions options_;
  FormatOutcome outcome_;
  int gadgetIndexSave_ = 0;
  DriveHandle hPhysicalDrive_ = kInvalidHandle;
  DriveHandle hLogicalVolume_ = kInvalidHandle;
  JobBootImages images_;
  SettingsRecord& s_ = Settings();
  std::string layoutNote_;  // what the table cannot describe of the disk, told before the question
  std::string cloverZip_;   // the data-set zip made from a release archive before the question
};

bool FormatJob::Checks() {
  DiskRecord& disk = CurrentDisk();
  if (SetCurrentDisk() == 0) {
    FW_LOGP("FormatThread", "FormatThread Error SetCurrentDisk");
    Fail("no disk is selected");
    return false;
  }
  if (disk.DriveLetters.find(SystemDriveLetter()) != std::string::npos) {
    FW_LOGP("FormatThread", "FormatThread: Not permitted! You selected a System Drive.");
    MessageBox("Error", "Sorry, operation not permitted!\r\nYou selected a System Drive.",
               MsgButtons::Ok, MsgIcon::Warning);
    Fail("the disk holds the system volume");
    return false;
  }
  if (disk.BusType != "USB") {
    FW_LOGP("FormatThread", "FormatThread: WARNING: Target Drive is Not USB Disk!");
    const MsgAnswer a = MessageBox("Warning",
                                   "Are You sure?\r\nTarget Drive is Not USB Disk!\r\n\r\nTo "
                                   "Continue with this operation, click OK.\r\nTo quit click "
                                   "CANCEL.",
                                   MsgButtons::OkCancel, MsgIcon::Warning);
    if (a == MsgAnswer::Cancel) {
      FW_LOGP("FormatThread", "FormatThread: Exit: Target Drive is Not USB Disk!");
      Fail("the disk is not a USB disk and the warning was cancelled");
      return false;
    }
  }

  // Boot images.
  const std::string& br = s_.Boot_records;
  if (br == "Windows") {
    FW_LOGP("FormatThread", "Windows_Format Starting ...");
  } else if (br == "FreeDos") {
    FW_LOGP("FormatThread", "FreeDos_Format Starting ...");
    if (s_.FileSystem != "FAT32-LBA") s_.FileSystem = "FAT32-LBA";
  } else if (br == "Clover") {
    FW_LOGP("FormatThread", "Clover_Format Starting ...");
    if (s_.FileSystem != "FAT32-LBA" && s_.FileSystem != "FAT32" && s_.FileSystem != "exFAT") {
      FW_LOGP("FormatThread", "Select FileSystem : FAT32-LBA or exFAT only!");
      ShowStatusFor("Error : Select FileSystem : FAT32-LBA Or exFAT only!", 5000);
      Fail("Clover boot records need FAT32-LBA, FAT32 or exFAT");
      return false;
    }
    const CloverChoice& clover = TheCloverChoice();
    if (s_.InstallDataSet == "Local") {
      if (FileSizeOf(clover.CloverLocalSelectedName) <= 0) {
        FW_LOGP("FormatThread",
                "Not Exist CloverLocalSelectedName$ = " + clover.CloverLocalSelectedName);
        ShowStatusFor("Can't Read Local Data set", 2000);
        MessageBox("Warning",
                   "WARNING: Sorry, Not Found Any Clover Distr in Local Repository: \r\n" +
                       s_.CloverLocalRepository,
                   MsgButtons::Ok, MsgIcon::Warning);
        Fail("no Clover data set in the local repository");
        return false;
      }
      FW_LOGP("FormatThread", "Open CloverLocalSelectedName$ = " + clover.CloverLocalSelectedName);
      ShowStatusFor("Success Read Local Data set", 2000);
    }
  } else {
    FW_LOGP("FormatThread", "Found Not Format Boot Records Selected ...");
  }
  images_ = JobSelectBootImages(br, s_.FileSystem);
  FW_LOGP("FormatThread", "FormatThread Boot_records$ = " + br);

  return CheckBeforeTheQuestion();
}

// Everything that would make the job fail after the wipe and can be known before it: the layout,
// what the formatter takes (size, sectors, label, cluster size), and write access to the disk.
bool FormatJob::CheckBeforeTheQuestion() {
  const DiskRecord& disk = CurrentDisk();
  const std::string n = std::to_string(disk.DiskNumber);
  if (s_.Boot_records != "Not_Format") {
    // A boot partition that does not fit would make the second partition's size wrap around.
    std::string why;
    if (!CheckPartitionLayout(disk, s_, &why, &layoutNote_)) {
      Refuse(why);
      return false;
    }
    if (!layoutNote_.empty()) {
      FW_LOGP("FormatThread", "FormatThread: " + layoutNote_);
      ShowStatusFor(layoutNote_, 2000);
    }
    const std::string fs = s_.FileSystem == "FAT32-LBA" ? "FAT32" : s_.FileSystem;
    const std::string refusal = FormatterRefusal(
        disk.BytesPerSector, static_cast<uint64_t>(FirstPartitionStart(disk, s_)),
        static_cast<uint64_t>(FirstPartitionSectors(disk, s_)), fs, s_.VolumeLabel,
        static_cast<uint32_t>(std::strtoul(s_.ClusterSize.c_str(), nullptr, 10)),
        static_cast<uint16_t>(disk.SectorsPerTrack), static_cast<uint16_t>(disk.TracksPerCylinder));
    if (!refusal.empty()) {
      Refuse(refusal);
      return false;
    }
  }
  if (s_.Boot_records != "Not_Format" || installData_ == 1) {
    const DriveHandle probe = GetDriveHandle(disk.DiskNumber, "", true, false);
    if (probe == kInvalidHandle) {
      Refuse("cannot open disk " + n + " for writing: " + ErrnoText(DriveHandleError()));
      return false;
    }
    CloseHandle(probe);
  }
  return true;
}

// A Clover data set that has to be fetched or unpacked (the latest release, a release archive) is
// made into its zip before the question: one that cannot be had ends the job with the disk
// untouched. The revision check, the download and the unpacking keep their texts.
bool FormatJob::PrepareCloverDataSet() {
  const std::string& br = s_.Boot_records;
  if (installData_ != 1 || (br != "Clover" && br != "Not_Format")) return true;
  const bool latest = s_.InstallDataSet == "DL";
  if (!latest && (s_.InstallDataSet != "Local" ||
                  Lower(ExtensionOf(TheCloverChoice().CloverLocalSelectedName)) != "7z"))
    return true;
  // Meanwhile the Format button cancels the check, the download and the archiver, as it cancels
  // the job later on.
  TheUi().SetControlText(kMainWindow, kFormatButton, "Cancel");
  const bool made = latest ? GetLatestRelease() : GetLocalReleaseArchive();
  TheUi().SetControlText(kMainWindow, kFormatButton, "Format Disk");
  if (!made || FormatStatus != 0 || CancelMainThread != 0) return DataSetNotReady();
  return true;
}

bool FormatJob::GetLatestRelease() {
  FW_LOGP("FormatThread", "InstallDataSet$=DL");
  std::string& dlRev = CloverDLRev();
  FW_LOGP("FormatThread", "CloverDLRev$=" + dlRev);
  if (std::strtol(dlRev.c_str(), nullptr, 10) == 0) {
    FW_LOGP("FormatThread", "CloverLastRev$=" + s_.CloverLastRev);
    FW_LOGP("FormatThread", "Run CheckCloverLastRevThread()");
    const int checked = JobCheckCloverLastRev();
    TheWindows().ActivateWindow(kMainWindow);
    if (checked != 1) {
      FW_LOGP("FormatThread", "Error Check Clover Last Revision");
      ShowStatusFor("Error Check Clover Last Revision", 2000);
      return false;
    }
    FW_LOGP("FormatThread", "CheckCloverLastRev: #WEB_OK");
    dlRev = s_.CloverLastRev;
  }
  return JobPrepareCloverDataSetZip(0, &cloverZip_) != 0;
}

bool FormatJob::GetLocalReleaseArchive() {
  const std::string& archive = TheCloverChoice().CloverLocalSelectedName;
  FW_LOGP("FormatThread", "FormatThread: selected: " + archive);
  if (!JobValidate7zZIPFile(archive)) {
    ShowStatusFor("Not 7z archive file: " + FileNamePart(archive), 2000);
    return false;
  }
  return JobPrepareCloverDataSetZip(1, &cloverZip_) != 0;
}

bool FormatJob::DataSetNotReady() {
  outcome_.dataSetAsked = true;
  FW_LOGP("FormatThread", "FormatThread: Result=#False");
  ShowStatusFor("Clover Data set files Not Installed", 2000);
  Fail(FormatStatus != 0 || CancelMainThread != 0
           ? "cancelled while getting the data set"
           : "the Clover data set could not be had; the disk was not changed");
  return false;
}

bool FormatJob::Confirm() {
  const DiskRecord& disk = CurrentDisk();
  const std::string device = BuildDeviceDescription(disk);
  if (disk.DriveLetters.empty() && s_.Boot_records == "Not_Format") {
    FW_LOGP("FormatThread", "Can't copy Boot Data Set Files - Dest Disk Don't Have Letter!");
    ShowStatusFor("Error : Can't copy Boot Data Set Files - Dest Disk Don't Have a Letter!", 5000);
    Fail("the disk has no volume with a letter to copy the data set to");
    return false;
  }
  if (!PrepareCloverDataSet()) return false;
  std::string summary = BuildTaskSummary(s_, installData_, TheCloverChoice(), CloverDLRev());
  if (!layoutNote_.empty()) summary += "Note:\t" + layoutNote_ + "\r\n";
  const MsgAnswer a =
      MessageBox("WARNING",
                 "ALL DATA ON DEVICE:\r\n" + device + "\r\nWILL BE DESTROYED.\r\n\r\n" + summary +
                     "\r\nTo Continue with this operation, click OK.\r\nTo quit "
                     "click CANCEL.",
                 MsgButtons::OkCancel, MsgIcon::Warning);
  if (a != MsgAnswer::Ok) {
    FormatStatus = 1;
    Fail("the confirmation was cancelled");
    return false;
  }
  TheUi().SetControlText(kMainWindow, kFormatButton, "Cancel");
  FormatStatus = 0;
  outcome_.ran = true;
  return true;
}

bool FormatJob::WriteLayout() {
  DiskRecord& disk = CurrentDisk();
  const int64_t bps = disk.BytesPerSector;
  const std::string n = std::to_string(disk.DiskNumber);

  // Phase 1: the disk opened and locked (the new MBR sector is composed in phase 3).
  FW_LOGP("FormatThread", "Copy new MBR sector into memory");

  // A mounted partition makes the exclusive open of its disk fail: release the mounts first.
  if (const DriveHandle probe = GetDriveHandle(disk.DiskNumber, "", false, false);
      probe != kInvalidHandle) {
    UnmountDrive(probe);
    CloseHandle(probe);
  }
  hPhysicalDrive_ = GetDriveHandle(disk.DiskNumber, "", true, true);
  if (hPhysicalDrive_ == kInvalidHandle) {
    const std::string reason = ErrnoText(DriveHandleError());
    FormatStatus = 1;
    FW_LOGP("FormatThread", "Phase 1 Error open Disk" + n + " for write&lock: " + reason);
    ShowStatusFor("Error opening the Disk" + n + " for write&lock: " + reason, 2000);
    Fail("cannot open disk " + n + " for writing with exclusive use: " + reason);
    return false;
  }
  FW_LOGP("FormatThread", "Phase 1 Success open Disk" + n + " for write&lock");

  // Phase 2: release the disk's volumes.
  for (uint32_t i = 0; i < disk.PartitionCount && i < 4; ++i) {
    const std::string letter = disk.Partitions[i].DriveLetter;
    if (letter.empty()) continue;
    DriveHandle h = GetDriveHandle(0, letter, false, true);
    if (h == kInvalidHandle) {
      FW_LOGP("FormatThread", "Phase 2 Error open volume " + letter + " for write&lock");
      ShowStatusFor("Error open volume " + letter + " for write&lock", 2000);
      continue;
    }
    FW_LOGP("FormatThread", "Phase 2 Success open volume " + letter + " for write&lock");
    FW_LOGP("FormatThread", "Phase 2 try Unmount volume " + letter);
    UnmountDrive(h);
    FW_LOGP("FormatThread", "Phase 2 try Unlock&Close Handle volume " + letter);
    CloseHandle(h);
  }

  // Phase 3: wipe, new partition table, zeroed partition starts.
  ShowStatus("Create PartitionTable", 0);
  if (ClearMBRGPT(hPhysicalDrive_, bps, disk.DiskSize) == 0) {
    FW_LOGP("FormatThread", "Phase 3 Error ClearMBRGPT Disk#" + n);
  }
  const PartitionTableBytes pt = BuildPartitionTable(disk, s_);
  WriteMbrAndClearPbrs(hPhysicalDrive_, bps, images_.MbrImage, pt, NewSignature());
  // The disk stays held exclusively through the whole job: an automounter must not grab the
  // fresh partition between the table and the format. The log keeps its usual line.
  FW_LOGP("FormatThread", "Finish UnlockClose hPhysicalDrive = " + std::to_string(hPhysicalDrive_));
  Pause(500);

  // Phase 4: take the new layout.
  const int32_t number = disk.DiskNumber;
  GetAllDrives();
  for (const DiskRecord& d : DiskRecords()) {
    if (d.DiskNumber == number) {
      disk = d;
      disk.SelectedPartition = 0;
      break;
    }
  }
  FW_LOGP("FormatThread",
          "Phase 4 FormatThread: CurrentDisk\\DiskNumber = " + std::to_string(disk.DiskNumber));
  FW_LOGP("FormatThread", "Phase 4 FormatThread: CurrentDisk\\SelectedPartition = " +
                              std::to_string(disk.SelectedPartition));
  FW_LOGP("FormatThread", "Phase 4 FormatThread: CurrentDisk DriveLetters = " + disk.DriveLetters);
  FW_LOGP("FormatThread", "Phase 4 FormatThread: CurrentDisk\\BusType$ = " + disk.BusType);

  // Phase 5: the disk is still ours (see above).
  FW_LOGP("FormatThread", "Phase 5 Success open Disk" + n + " for write&lock");

  // Phase 6: partition 1 needs a letter.
  if (disk.Partitions[0].DriveLetter.empty()) {
    const std::string letter =
        AssignDriveLetter("\\device\\harddisk" + std::to_string(disk.DiskNumber) + "\\partition1");
    if (letter.empty()) {
      FW_LOGP("FormatThread", "Phase 6 FormatThread: Error AssignDriveLetter()");
      Fail("no drive letter for the new partition");
      return false;
    }
    disk.DriveLetters = letter;
    disk.Partitions[0].DriveLetter = letter;
    FW_LOGP("FormatThread", "Phase 6 FormatThread: Success AssignDriveLetter=" + letter);
  }
  return true;
}

bool FormatJob::FormatFirstPartition() {
  const DiskRecord& disk = CurrentDisk();
  const std::string L = disk.Partitions[0].DriveLetter;
  hLogicalVolume_ = GetDriveHandle(0, L, true, true);
  if (hLogicalVolume_ == kInvalidHandle) {
    const std::string reason = ErrnoText(DriveHandleError());
    FW_LOGP("FormatThread", "Error open volume " + L + " with lock: " + reason);
    ShowStatusFor("Error open volume " + L + " With lock: " + reason, 2000);
    FormatStatus = 1;
    Fail("cannot open volume " + L + " with exclusive use: " + reason);
    return false;
  }
  FW_LOGP("FormatThread", "Success open volume " + L + " with lock");
  FW_LOGP("FormatThread", "Unmount volume " + L);
  UnmountDrive(hLogicalVolume_);
  FW_LOGP("FormatThread", "Close Handle volume " + L);
  UnlockDrive(hLogicalVolume_);
  CloseHandle(hLogicalVolume_);
  hLogicalVolume_ = kInvalidHandle;

  ShowStatusFor("Formatting Drive " + L.substr(0, 2) + "...", 2000);
  const std::string fs = s_.FileSystem == "FAT32-LBA" ? "FAT32" : s_.FileSystem;
  if (JobFormatDrive(L, fs, s_.VolumeLabel, s_.QuickFormat,
                     static_cast<int>(std::strtol(s_.ClusterSize.c_str(), nullptr, 10))) == 0) {
    FW_LOGP("FormatThread", "Error FormatDrive " + L);
    FormatStatus = 1;
    Fail(CancelMainThread ? "cancelled while formatting" : "formatting " + L + " failed");
    return false;
  }
  JobSetFirstPartitionTypeForFileSystem(hPhysicalDrive_, disk.BytesPerSector, fs);
  if (s_.FileSystem == "FAT32-LBA")
    JobSetFirstPartitionTypeLba(hPhysicalDrive_, disk.BytesPerSector);
  Pause(500);
  FW_LOGP("FormatThread", RereadPartitionTable(hPhysicalDrive_) ? "DISK_UPDATE_PROPERTIES - Success"
                                                                : "DISK_UPDATE_PROPERTIES - Error");
  FW_LOGP("FormatThread", "Remount Volume " + L);
  return true;
}

bool FormatJob::InstallBootRecords() {
  if (images_.PbrSectorCount == 0) return true;
  const DiskRecord& disk = CurrentDisk();
  const std::string L = disk.Partitions[0].DriveLetter;
  hLogicalVolume_ = GetDriveHandle(disk.DiskNumber, L, true, true);
  if (hLogicalVolume_ == kInvalidHandle) {
    const std::string reason = ErrnoText(DriveHandleError());
    FW_LOGP("FormatThread", "Error open volume " + L + " for PBR access: " + reason);
    FormatStatus = 1;
    Fail("cannot open volume " + L + " for the boot record: " + reason);
    return false;
  }
  FW_LOGP("FormatThread", "Success open volume " + L + " for PBR access");
  if (!JobInstallPartitionBootRecord(hLogicalVolume_, disk.BytesPerSector, images_,
                                     s_.FileSystem)) {
    FW_LOGP("FormatThread", "Error write PBR of volume " + L);
  }
  UnlockDrive(hLogicalVolume_);
  CloseHandle(hLogicalVolume_);
  hLogicalVolume_ = kInvalidHandle;
  FW_LOGP("FormatThread", "Remount Volume " + L);
  RemountVolume(L);
  return true;
}

int FormatJob::InstallCloverDataSet() {
  const std::string L = CurrentDisk().Partitions[0].DriveLetter;
  const CloverChoice& clover = TheCloverChoice();
  if (s_.InstallDataSet == "Local") {
    FW_LOGP("FormatThread", "InstallDataSet$=Local");
    FW_LOGP("FormatThread", "FormatThread: File Extension: " + clover.CloverLocalSelectedName);
    const std::string ext = Lower(ExtensionOf(clover.CloverLocalSelectedName));
    const std::string name = FileNamePart(clover.CloverLocalSelectedName);
    if (ext == "zip") {
      if (JobValidate7zZIPFile(clover.CloverLocalSelectedName)) {
        return JobExtractDataZipFile(clover.CloverLocalSelectedName, L) &&
               VerifyDataSet(clover.CloverLocalSelectedName);
      }
      ShowStatusFor("Not ZIP archive file: " + name, 2000);
      return 0;
    }
    // A release archive was made into its zip before the question.
    if (ext == "7z") return JobInstallCloverDataSetZip(L, cloverZip_) && VerifyDataSet(cloverZip_);
    return 0;
  }
  FW_LOGP("FormatThread", "InstallDataSet$=DL");
  FW_LOGP("FormatThread", "CloverDLRev$=" + CloverDLRev());
  return JobInstallCloverDataSetZip(L, cloverZip_) && VerifyDataSet(cloverZip_);
}

// With FormatJobOptions::verifyDataSet, after the data set from zipPath ("" = the FreeDos set)
// was extracted whole: true when every file reads back as the zip holds it. Otherwise the job
// fails with the name of the first file that does not. A cancelled extraction is not checked.
bool FormatJob::VerifyDataSet(const std::string& zipPath) {
  if (!options_.verifyDataSet || FormatStatus != 0) return true;
  const std::string L = CurrentDisk().Partitions[0].DriveLetter;
  std::string failedFile;
  if (JobVerifyDataSet(zipPath, L, &failedFile)) return true;
  const std::string why = failedFile.empty() ? "the data set could not be read back from " + L
                                             : "the data set file " + failedFile +
                                                   " does not read back as the zip holds it";
  FW_LOGP("FormatThread", "FormatThread: Verify: " + why);
  ShowStatusFor("Verify Error: " + why, 2000);
  Fail(why);
  return false;
}

void FormatJob::WriteIndexingMarkers() {
  const DiskRecord& disk = CurrentDisk();
  const std::string R = disk.Partitions[0].DriveLetter;
  if (!JobWriteIndexingMarkers(disk.DiskNumber, R)) {
    FW_LOGP("FormatThread", "FormatThread: Error create " + R + "\\.metadata_never_index");
  }
}

void FormatJob::InstallDataSet() {
  const std::string L = CurrentDisk().Partitions[0].DriveLetter;
  if (s_.Boot_records == "FreeDos") {
    outcome_.dataSetAsked = true;
    const int result = JobInstallFreeDosDataSet(L) != 0 && VerifyDataSet("") && FormatStatus == 0;
    if (result != 0) {
      outcome_.dataSetInstalled = true;
      ShowStatusFor("FreeDos Data set files Installed", 2000);
    } else {
      FW_LOGP("FormatThread", "FormatThread: Result=#False");
      ShowStatusFor("FreeDos Data set files Not Installed", 2000);
      Fail(FormatStatus ? "cancelled while installing the data set"
                        : "the FreeDos data set was not installed");
    }
    return;
  }
  if (installData_ != 1) return;
  if (s_.InstallDataSet != "Local" && s_.InstallDataSet != "DL") {
    FW_LOGP("FormatThread", "InstallDataSet$=" + s_.InstallDataSet);
    return;
  }
  outcome_.dataSetAsked = true;
  // The extraction stops at a cancel and still answers 1; a cancelled copy is no installed
  // data set, so it is reported as not installed.
  const int result = InstallCloverDataSet() != 0 && FormatStatus == 0;
  if (result != 0) {
    outcome_.dataSetInstalled = true;
    WriteIndexingMarkers();
    ShowStatusFor("Clover Data set files Installed", 2000);
  } else {
    FW_LOGP("FormatThread", "FormatThread: Result=#False");
    ShowStatusFor("Clover Data set files Not Installed", 2000);
    Fail(FormatStatus ? "cancelled while installing the data set"
                      : "the Clover data set was not installed");
  }
}

void FormatJob::Body() {
  gadgetIndexSave_ = SelectedDriveListRow();
  TheUi().SetControlEnabled(kMainWindow, kDriveList, false);
  FW_LOGP("FormatThread",
          "FormatThread Save GadgetIndexSave = " + std::to_string(gadgetIndexSave_));
  format_op_in_progress = 1;

  if (!Checks() || !Confirm()) return;
  if (s_.Boot_records != "Not_Format") {
    if (!WriteLayout() || !FormatFirstPartition() || !InstallBootRecords()) return;
    if (images_.PbrSectorCount != 0) {
      ShowStatus(s_.Boot_records + " boot records installed", 0);
      Pause(1000);
    }
  }
  InstallDataSet();
  FW_LOGP("FormatThread", "UnlockClose hPhysicalDrive = " + std::to_string(hPhysicalDrive_));
  if (hPhysicalDrive_ != kInvalidHandle) {
    UnlockDrive(hPhysicalDrive_);
    CloseHandle(hPhysicalDrive_);
    hPhysicalDrive_ = kInvalidHandle;
  }
}

void FormatJob::Finish() {
  if (hLogicalVolume_ != kInvalidHandle) {
    FW_LOGP("FormatThread",
            "Finish UnlockClose hLogicalVolume = " + std::to_string(hLogicalVolume_));
    UnlockDrive(hLogicalVolume_);
    CloseHandle(hLogicalVolume_);
    hLogicalVolume_ = kInvalidHandle;
  }
  if (hPhysicalDrive_ != kInvalidHandle) {
    FW_LOGP("FormatThread",
            "Finish UnlockClose hPhysicalDrive = " + std::to_string(hPhysicalDrive_));
    UnlockDrive(hPhysicalDrive_);
    CloseHandle(hPhysicalDrive_);
    hPhysicalDrive_ = kInvalidHandle;
  }
  if (FormatStatus != 0 && outcome_.failure.empty()) Fail("cancelled");
  outcome_.ok = outcome_.failure.empty();
  if (outcome_.ok) {
    FW_LOGP("FormatThread", "All done");
    ShowStatusFor("All done", 2000);
  } else if (outcome_.failure != "the confirmation was cancelled") {
    // A job that did not do what was asked never ends with "All done".
    FW_LOGP("FormatThread", "FormatThread: Not done: " + outcome_.failure);
    ShowStatusFor("Not done: " + outcome_.failure, 2000);
  }
  TheUi().SetControlText(kMainWindow, kFormatButton, "Format Disk");
  TheUi().SetControlEnabled(kMainWindow, kDriveList, true);
  // The refresh keeps the job's disk selected, wherever its rows now are: a row number saved at
  // the start may by now belong to another disk.
  UpdateAllDrives();
  if (gadgetIndexSave_ > 0) {
    FW_LOGP("FormatThread", "Set GadgetIndexSave = " + std::to_string(SelectedDriveListRow()));
  }
  g_outcome = outcome_;
  FormatStatus = 0;
  format_op_in_progress = 0;
  CancelMainThread = 0;
}

}  // namespace

std::string CloverRevisionOfName(const std::string& path) {
  const std::string name = FileNamePart(path);
  if (name.size() < 8 || Lower(name.substr(0, 7)) != "clover-") return "";
  size_t end = 7;
  while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
  return end == 7 ? "" : name.substr(7, end - 7);
}

int FormatInstallDataArgument(const SettingsRecord& settings) {
  if (settings.Boot_records == "FreeDos") return 1;
  if ((settings.Boot_records == "Clover" || settings.Boot_records == "Not_Format") &&
      settings.InstallDataSet != "Not_Install") {
    return 1;
  }
  return 0;
}

std::string BuildTaskSummary(const SettingsRecord& s, int InstallData, const CloverChoice& clover,
                             const std::string& dlRev) {
  const std::string& br = s.Boot_records;
  std::string t = "Task:\t";
  if (InstallData != 0) {
    t += "Install Full Data";
  } else if (br == "Windows") {
    t += "Windows format only ";
  } else if (br == "FreeDos") {
  } else if (br == "Clover") {
    t += "Clover format only";
  } else {
    t += "Not Format";
  }
  t += "\r\n";
  if (br == "Windows") {
    t += "MBR:\tUSB-HDD+ (UltraISO)\r\nPBR:\tStandart (Windows)\r\n";
  } else if (br == "FreeDos") {
    t += "MBR:\tUSB-HDD+ (UltraISO)\r\nPBR:\tFat32LBA(FreeDos)\r\n";
  } else if (br == "Clover") {
    t += "MBR:\tboot0 (Clover)\r\n";
    if (s.FileSystem == "FAT32-LBA" || s.FileSystem == "FAT32") {
      t += "PBR:\tboot1f32alt (Clover)\r\n";
    } else if (s.FileSystem == "exFAT") {
      t += "PBR:\tboot1xalt (Clover)\r\n";
    }
  }
  if (br != "Not_Format") {
    const std::string& a = s.StartLBASector;
    if (a == "63") {
      t += "Align:\tto cylinder (63 sects)\r\n";
    } else if (a == "2048") {
      t += "Align:\tto flash block (2048 sects)\r\n";
    } else if (a == "4096" || a == "8192") {
      t += "Align:\tto " + a + " (sects)\r\n";
    }
    t += "FS:\t" + s.FileSystem + "\r\n";
  }
  if (br == "Clover" || br == "Not_Format") {
    t += "Clover:\t" + s.InstallDataSet;
    if (s.InstallDataSet == "DL") {
      t += dlRev == "0" ? " Latest Rev." : " r" + dlRev;
    } else if (s.InstallDataSet == "Local") {
      t += " r" + clover.CloverLocalSelectedRev + " from\r\n\t" +
           FileNamePart(clover.CloverLocalSelectedName);
    }
  }
  t += "\r\n";
  return t;
}

std::string BuildDeviceDescription(const DiskRecord& disk) {
  // An image by its full path: two images of the same name must not read alike in the question.
  const std::string& name = disk.ImageFile.empty() ? disk.ProductId : disk.ImageFile;
  std::string d = name + " " + disk.VendorId + " " + FormatSizeText(disk.DiskLength, 0);
  if (!disk.DriveLetters.empty()) d += " (" + disk.DriveLetters + ")";
  return d;
}

const FormatOutcome& LastFormatOutcome() { return g_outcome; }

void FormatThread(int InstallData) { FormatThread(InstallData, FormatJobOptions{}); }

void FormatThread(int InstallData, const FormatJobOptions& options) {
  FormatJob job(InstallData, options);
  job.Run();
}

void StartFormatThread(int InstallData) {
  if (format_op_in_progress != 0) return;
  format_op_in_progress = 1;  // the job sets it again at once; no second start in between
  StartWorker([InstallData] { FormatThread(InstallData); });
}

void RegisterFormatJob() { TheJobs().StartFormat = StartFormatThread; }

}  // namespace fw
