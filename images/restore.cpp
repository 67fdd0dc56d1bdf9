// Recover: a partition image file onto the selected partition, then the partition's MBR entry
// rewritten to the image's length and the HFS+ type.
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/text.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "images/image_jobs.h"
#include "images/image_transfer.h"
#include "images/image_verify.h"
#include "platform/image_file.h"

namespace fw {

namespace {

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

ImageJobOutcome RunRecover(const ImageJobOptions& options) {
  static constexpr const char* kProc = "Recover";
  ImageJobDisk& disk = TheImageJobDisk();
  Ui& ui = TheUi();
  ImageJobOutcome outcome;
  DriveHandle hPhysicalDrive = kInvalidHandle;
  DriveHandle hDevice = kInvalidHandle;
  std::unique_ptr<ImageFile> file;
  bool incomplete = false;
  int partition = 0;

  format_op_in_progress = 1;
  ui.SetControlEnabled(0, kDriveList, false);

  do {
    if (!disk.SetCurrentDisk()) {
      FW_LOGP(kProc, "Recover: SetCurrentDisk() Error");
      break;
    }
    const DiskRecord& current = CurrentDisk();
    partition = current.SelectedPartition;
    if (partition == 0) {
      FW_LOGP(kProc, "Recover: Don't Select Full Disk!");
      ShowStatus("For Restore select Partition only", 0);
      break;
    }
    const PartitionEntry entry = current.Partitions[static_cast<size_t>(partition - 1)];
    const int32_t diskNumber = current.DiskNumber;
    const int64_t bytesPerSector = current.BytesPerSector;
    const int64_t sectorCount = entry.PartitionLength / bytesPerSector;
    const auto openFailed = [&] {
      FW_LOGP(kProc, "Recover: Error open Disk" + std::to_string(diskNumber));
      ShowStatus("Error opening the Disk" + std::to_string(diskNumber), 0);
      Pause(1000);
    };
    int64_t startSector = 0;
    hPhysicalDrive = disk.GetDriveHandle(diskNumber, "", true, true);
    if (entry.DriveLetter.empty()) {
      startSector = entry.StartingOffset / bytesPerSector;
      hDevice = hPhysicalDrive;
    } else {
      if (hPhysicalDrive == kInvalidHandle) {
        openFailed();
        break;
      }
      hDevice = disk.GetDriveHandle(0, entry.DriveLetter, true, true);
    }
    BlockDevice* target = disk.DeviceForHandle(hDevice);
    if (hDevice == kInvalidHandle || !target) {
      openFailed();
      break;
    }
    FW_LOGP(kProc, "Recover: Success open Disk" + std::to_string(diskNumber));
    // A file system still mounted on the volume would be corrupted by writes under it.
    if (hDevice != hPhysicalDrive) disk.UnmountDrive(hDevice);

    const std::string path = ui.OpenFileChooser("Select ZORImage file to Restore",
                                                DefaultImagePath(), ImageFileFilters());
    if (path.empty()) break;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      ui.MessageBox("Error", "The selected file:\n" + path + "\nnot found.", MsgButtons::Ok,
                    MsgIcon::Error);
      break;
    }
    if (std::filesystem::is_directory(path, ec)) break;
    // Reading the target disk's own file while writing the disk would overwrite what is read.
    if (!ImagePathAccepted(path, *target, false)) break;
    const auto size = std::filesystem::file_size(path, ec);
    const int64_t length = ec ? -1 : static_cast<int64_t>(size);
    if (length <= 0) break;
    if (length > sectorCount * bytesPerSector) {
      ui.MessageBox("Error", "File too big:\n" + path + "\n" + FormatSizeText(length, 1),
                    MsgButtons::Ok, MsgIcon::Error);
      break;
    }
    if (length % bytesPerSector != 0) {
      // A raw device takes whole sectors only; refuse before anything is written.
      ui.MessageBox("Error",
                    "The selected file:\n" + path + "\nis not a whole number of sectors: " +
                        std::to_string(length % bytesPerSector) + " bytes are left over after " +
                        std::to_string(length / bytesPerSector) + " sectors of " +
                        std::to_string(bytesPerSector) + " bytes.",
                    MsgButtons::Ok, MsgIcon::Error);
      break;
    }
    if (ui.MessageBox(
            "Information",
            "You have selected following file:\n" + path + "\n" + FormatSizeText(length, 0),
            MsgButtons::YesNo, MsgIcon::Information) != MsgAnswer::Yes)
      break;

    int error = 0;
    file = ImageFile::Open(path, ImageFile::Mode::kRead, &error, target);
    if (!file) {
      FW_LOGP(kProc, "Recover: Unable to open file " + path);
      ShowStatus("Unable to open file " + path, 0);
      Pause(1000);
      break;
    }

    ui.SetControlText(0, kRestoreButton, "Restore Cancel");
    const int64_t start = startSector * bytesPerSector;
    const TransferTimer& timer = TheTransferTimer();
    ProgressThrottle throttle(timer.frequency);
    TransferSides sides;
    sides.read = [&](int64_t, void* buffer, size_t n, int* err) {
      const int64_t got = file->Read(buffer, n);
      *err = file->LastError();
      return got;
    };
    sides.write = [&](int64_t offset, const void* buffer, size_t n, int* err) {
      const int64_t put = target->StreamWriteAt(static_cast<uint64_t>(start + offset), buffer, n);
      *err = put < 0 ? target->LastError() : 0;
      return put;
    };
    sides.startWriteBack = [&](int64_t offset, size_t n, int* err) {
      if (target->StartWriteBack(static_cast<uint64_t>(start + offset), n)) return true;
      *err = target->LastError();
      return false;
    };
    sides.waitWriteBack = [&](int64_t offset, size_t n, int* err) {
      if (target->WaitWriteBack(static_cast<uint64_t>(start + offset), n)) return true;
      *err = target->LastError();
      return false;
    };
    sides.chunkDone = [&](const TransferState& st) {
      FW_LOGP(kProc, "TotalRead=" + std::to_string(st.totalRead) +
                         ", TotalWrite=" + std::to_string(st.totalWritten) +
                         ", totalCounter=" + std::to_string(st.elapsedTicks));
      if (throttle.Due(timer.now()))
        ShowStatus(TransferProgressText(st.totalWritten, length, st.totalRead, st.totalWritten,
                                        st.elapsedTicks, timer.frequency),
                   TransferPercent(st.totalWritten, length));
    };
    sides.cancelled = [] { return CancelMainThread.load() != 0; };
    const TransferResult copy = RunTransfer(length, sides);

    if (copy.end == TransferEnd::kNoMemory) {
      FW_LOGP(kProc, "Recover: Error AllocateMemory for *ReadBuffer");
      break;
    }
    if (copy.end == TransferEnd::kReadError) {
      FW_LOGP(kProc, "Recover: ReadFile Error=" + std::to_string(copy.error));
      ShowStatus("ReadFile Error=" + std::to_string(copy.error), 0);
      break;
    }
    if (copy.end == TransferEnd::kWriteError) {
      FW_LOGP(kProc, "Recover: WriteFile Error=" + std::to_string(copy.error));
      ShowStatus("WriteFile Error=" + std::to_string(copy.error), 0);
      break;
    }

    ShowStatus("Write buffered Data to the Disk", 0);
    if (!target->Flush()) {
      FW_LOGP(kProc, "Recover: WriteFile Error=" + std::to_string(target->LastError()));
      ShowStatus("WriteFile Error=" + std::to_string(target->LastError()), 0);
      break;
    }
    bool entryRewritten = false;
    if (copy.end == TransferEnd::kCancelled) {
      // Only part of the image is on the partition: its entry keeps the old length and type.
      incomplete = true;
    } else {
      std::vector<uint8_t> sector(static_cast<size_t>(bytesPerSector));
      if (disk.read_sectors(hPhysicalDrive, bytesPerSector, 0, 1, sector.data()) !=
          bytesPerSector) {
        FW_LOGP(kProc, "Recover: read_sectors boot - Error");
      } else {
        uint8_t* slot = sector.data() + 0x1BE + 16 * (partition - 1);
        FW_LOGP(kProc, "Recover: Correction MBR Partition leight");
        FW_LOGP(kProc,
                "Recover: Old Partition leight = " +
                    std::to_string(static_cast<int64_t>(LoadLe32(slot + 12)) * bytesPerSector));
        const auto newCount = static_cast<uint32_t>(length / bytesPerSector);
        StoreLe32(slot + 12, newCount);
        slot[4] = kHfsPartitionType;
        if (!disk.write_sectors(hPhysicalDrive, bytesPerSector, 0, 1, sector.data())) {
          FW_LOGP(kProc, "Recover: write_sectors boot - Error");
        } else {
          entryRewritten = true;
          FW_LOGP(kProc, "Recover: New Partition leight = " +
                             std::to_string(static_cast<int64_t>(newCount) * bytesPerSector));
        }
      }
    }
    BlockDevice* physical = disk.DeviceForHandle(hPhysicalDrive);
    if (physical && physical != target) physical->Flush();
    const TransferState& st = copy.state;
    ShowStatus(TransferClosingText(st.totalWritten, length, st.totalRead, st.totalWritten,
                                   st.elapsedTicks, timer.frequency),
               0);
    if (options.verify && copy.end == TransferEnd::kCompleted)
      outcome.verified = VerifyImageCopy(kProc, *target, start, *file, length, CopySide::kDevice,
                                         st) == VerifyEnd::kSame;
    Pause(2000);
    if (disk.RereadPartitionTable(hPhysicalDrive))
      FW_LOGP(kProc, "Recover: DISK_UPDATE_PROPERTIES - Success");
    else
      FW_LOGP(kProc, "Recover: DISK_UPDATE_PROPERTIES - Error");
    outcome.result = 1;
    outcome.cancelled = copy.end == TransferEnd::kCancelled;
    outcome.copied = copy.end == TransferEnd::kCompleted && entryRewritten;
  } while (false);

  const int fileHandle = file ? 1 : -1;
  file.reset();
  if (hDevice != kInvalidHandle) {
    disk.UnlockDrive(hDevice);
    disk.CloseHandle(hDevice);
  }
  if (hPhysicalDrive != kInvalidHandle && hPhysicalDrive != hDevice) {
    disk.UnlockDrive(hPhysicalDrive);
    disk.CloseHandle(hPhysicalDrive);
  }
  FW_LOGP(kProc, "Recover: Finish UnlockClose hFileToRecover = " + std::to_string(fileHandle));
  FW_LOGP(kProc, "Recover: Finish UnlockClose hDevice = " + std::to_string(hDevice));
  FW_LOGP(kProc, "Recover: Finish UnlockClose hPhysicalDrive = " + std::to_string(hPhysicalDrive));
  // A cancel counts only while there is work to stop: once every byte and the entry are written,
  // a press during the closing pause changes nothing.
  const bool cancelled = CancelMainThread != 0 && !outcome.copied;
  CancelMainThread = 0;
  format_op_in_progress = 0;
  disk.UpdateAllDrives();
  if (cancelled) {
    // After the refresh, whose own status line would otherwise replace it at once.
    outcome.cancelled = true;
    ShowStatus(incomplete ? "Restore Cancelled: partition " + std::to_string(partition) +
                                " holds an incomplete image, its entry is unchanged"
                          : "Restore Cancelled",
               0);
  }
  ui.SetControlEnabled(0, kDriveList, true);
  ui.SetControlText(0, kRestoreButton, "Restore");
  return outcome;
}

int Recover(int) { return RunRecover().result; }

}  // namespace fw
