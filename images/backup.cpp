// BackUp: the selected partition, sector for sector, into a partition image file.
#include <filesystem>
#include <memory>
#include <string>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"
#include "images/image_transfer.h"
#include "images/image_verify.h"
#include "platform/image_file.h"

namespace fw {

std::vector<FileFilter> ImageFileFilters() {
  return {{"Binary (*.bin)", "*.bin"},
          {"HFS/HFS+ (*.hfs)", "*.hfs"},
          {"HFS/HFS+/Binary (*.hfs;*.bin)", "*.hfs;*.bin", true},
          {"All files (*.*)", "*.*"}};
}

std::string DefaultImagePath() { return Settings().ZORImageLocalRepo + "PartSave.bin"; }

bool ImagePathAccepted(const std::string& path, const BlockDevice& disk, bool backup) {
  std::string why;
  switch (CheckImagePath(path, disk, backup)) {
    case ImagePathProblem::kNone:
      return true;
    case ImagePathProblem::kNotRegular:
      why = backup ? "is not a regular file: a backup goes into a regular file or a new name."
                   : "is not a regular file.";
      break;
    case ImagePathProblem::kSameStorage:
      why = backup ? "holds the disk being backed up: the backup would destroy what it reads."
                   : "holds the disk being restored: the restore would overwrite what it reads.";
      break;
  }
  FW_LOGP(backup ? "BackUp" : "Recover", "Refused image file " + path + ": " + why);
  TheUi().MessageBox("Error", "The selected file:\n" + path + "\n" + why, MsgButtons::Ok,
                     MsgIcon::Error);
  return false;
}

ImageJobOutcome RunBackUp(const ImageJobOptions& options) {
  static constexpr const char* kProc = "BackUp";
  ImageJobDisk& disk = TheImageJobDisk();
  Ui& ui = TheUi();
  ImageJobOutcome outcome;
  DriveHandle hDevice = kInvalidHandle;
  bool locked = false;
  std::unique_ptr<ImageFile> file;
  std::string path;

  format_op_in_progress = 1;
  ui.SetControlEnabled(0, kDriveList, false);

  // One pass through the preparation; every failure breaks out to the end sequence.
  do {
    if (!disk.SetCurrentDisk()) {
      FW_LOGP(kProc, "BackUp: SetCurrentDisk() Error");
      break;
    }
    const DiskRecord& current = CurrentDisk();
    const int partition = current.SelectedPartition;
    if (partition == 0) {
      FW_LOGP(kProc, "BackUp: Don't Select Full Disk!");
      ShowStatus("For BackUp select Partition only", 0);
      break;
    }
    const PartitionEntry entry = current.Partitions[static_cast<size_t>(partition - 1)];
    const int64_t bytesPerSector = current.BytesPerSector;
    const int64_t sectorCount = entry.PartitionLength / bytesPerSector;
    int64_t startSector = 0;
    if (!entry.DriveLetter.empty()) {
      hDevice = disk.GetDriveHandle(0, entry.DriveLetter, false, true);
      locked = hDevice != kInvalidHandle;
    } else {
      startSector = entry.StartingOffset / bytesPerSector;
      hDevice = disk.GetDriveHandle(current.DiskNumber, "", false, false);
    }
    BlockDevice* source = disk.DeviceForHandle(hDevice);
    if (hDevice == kInvalidHandle || !source) {
      const std::string text = "BackUp: Error open Disk" + std::to_string(current.DiskNumber) +
                               "Part" + std::to_string(partition);
      FW_LOGP(kProc, text);
      ShowStatus(text, 0);
      Pause(1000);
      break;
    }

    path = ui.SaveFileChooser("Save to ZORImage file:", DefaultImagePath(), ImageFileFilters());
    if (path.empty()) break;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) break;
    // The image goes into a regular file or a new name, never onto a device, and never into the
    // file that the disk being read shows (creating it would empty the source before the copy).
    if (!ImagePathAccepted(path, *source, true)) break;
    if (std::filesystem::exists(path, ec)) {
      if (ui.MessageBox("Warning",
                        "The selected file:\n" + path + "\nalready exists. Overwrite it?",
                        MsgButtons::YesNo, MsgIcon::Warning) != MsgAnswer::Yes)
        break;
    } else if (ui.MessageBox("Information", "You have selected following file:\n" + path,
                             MsgButtons::YesNo, MsgIcon::Information) != MsgAnswer::Yes) {
      break;
    }

    int error = 0;
    file = ImageFile::Open(path, ImageFile::Mode::kCreate, &error, source);
    if (!file) {
      FW_LOGP(kProc, "Unable to create file " + path);
      ShowStatus("Unable to create file " + path, 0);
      Pause(1000);
      break;
    }

    ui.SetControlText(0, kBackupButton, "Backup Cancel");
    const int64_t start = startSector * bytesPerSector;
    const int64_t total = sectorCount * bytesPerSector;
    const TransferTimer& timer = TheTransferTimer();
    ProgressThrottle throttle(timer.frequency);
    TransferSides sides;
    sides.read = [&](int64_t offset, void* buffer, size_t length, int* err) {
      const int64_t n = source->StreamReadAt(static_cast<uint64_t>(start + offset), buffer, length);
      *err = n < 0 ? source->LastError() : 0;
      return n;
    };
    sides.write = [&](int64_t, const void* buffer, size_t length, int* err) {
      const int64_t n = file->Write(buffer, length);
      *err = file->LastError();
      return n;
    };
    sides.startWriteBack = [&](int64_t offset, size_t length, int* err) {
      if (file->StartWriteBack(offset, static_cast<int64_t>(length))) return true;
      *err = file->LastError();
      return false;
    };
    sides.waitWriteBack = [&](int64_t offset, size_t length, int* err) {
      if (file->WaitWriteBack(offset, static_cast<int64_t>(length))) return true;
      *err = file->LastError();
      return false;
    };
    sides.chunkDone = [&](const TransferState& st) {
      FW_LOGP(kProc, "TotalRead=" + std::to_string(st.totalRead) +
                         ", TotalWrite=" + std::to_string(st.totalWritten) +
                         ", totalCounter=" + std::to_string(st.elapsedTicks));
      if (throttle.Due(timer.now()))
        ShowStatus(TransferProgressText(st.totalRead, entry.PartitionLength, st.totalRead,
                                        st.totalWritten, st.elapsedTicks, timer.frequency),
                   TransferPercent(st.totalRead, entry.PartitionLength));
    };
    sides.cancelled = [] { return CancelMainThread.load() != 0; };
    const TransferResult copy = RunTransfer(total, sides);

    if (copy.end == TransferEnd::kNoMemory) {
      FW_LOGP(kProc, "Error AllocateMemory for *ReadBuffer");
      break;
    }
    if (copy.end == TransferEnd::kReadError) {
      // The partial file stays as it is, and the user is told it is incomplete.
      FW_LOGP(kProc, "BackUp: ReadFile Error=" + std::to_string(copy.error));
      ShowStatus(
          "ReadFile Error=" + std::to_string(copy.error) + " (incomplete image kept: " + path + ")",
          0);
      break;
    }
    if (copy.end == TransferEnd::kWriteError) {
      FW_LOGP(kProc, "BackUp: WriteFile Error=" + std::to_string(copy.error));
      ShowStatus("WriteFile Error=" + std::to_string(copy.error), 0);
      break;
    }
    if (!file->SetEndOfFile())
      FW_LOGP(kProc, "BackUp: SetEndOfFile Error=" + std::to_string(file->LastError()));
    ShowStatus("Write buffered Data to the Disk", 0);
    if (!file->Flush()) {
      // Data that never reached the storage is a write failure, not a finished backup.
      FW_LOGP(kProc, "BackUp: WriteFile Error=" + std::to_string(file->LastError()));
      ShowStatus("WriteFile Error=" + std::to_string(file->LastError()), 0);
      break;
    }
    const TransferState& st = copy.state;
    ShowStatus(TransferClosingText(st.totalRead, entry.PartitionLength, st.totalRead,
                                   st.totalWritten, st.elapsedTicks, timer.frequency),
               0);
    if (options.verify && copy.end == TransferEnd::kCompleted)
      outcome.verified = VerifyImageCopy(kProc, *source, start, *file, total, CopySide::kImageFile,
                                         st) == VerifyEnd::kSame;
    outcome.result = 1;
    outcome.cancelled = copy.end == TransferEnd::kCancelled;
    outcome.copied = copy.end == TransferEnd::kCompleted;
  } while (false);

  // End sequence: every path leaves through here.
  const int fileHandle = file ? 1 : -1;
  file.reset();
  if (hDevice != kInvalidHandle) {
    if (locked) disk.UnlockDrive(hDevice);
    disk.CloseHandle(hDevice);
  }
  FW_LOGP(kProc, "BackUp: Finish UnlockClose hFileToSave = " + std::to_string(fileHandle));
  FW_LOGP(kProc, "BackUp: Finish UnlockClose hDevice = " + std::to_string(hDevice));
  // A cancel counts only while there is work to stop: once every byte is in the file, a press
  // during the end sequence changes nothing.
  if (CancelMainThread && !outcome.copied) {
    outcome.cancelled = true;
    ShowStatus("Backup Cancelled", 0);
  }
  Pause(5000);
  ui.SetControlText(0, kBackupButton, "Backup");
  ui.SetControlEnabled(0, kDriveList, true);
  CancelMainThread = 0;
  format_op_in_progress = 0;
  disk.UpdateAllDrives();
  return outcome;
}

int BackUp(int) { return RunBackUp().result; }

}  // namespace fw
