#include "disk/raw_access.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "disk/disk_record.h"
#include "disk/disk_table.h"
#include "disk/drive_letters.h"

namespace fw {

namespace {

struct OpenDrive {
  NumberedDisk disk;
  std::unique_ptr<BlockDevice> device;   // the whole disk
  std::unique_ptr<WindowDevice> window;  // the volume, when opened by letter
  std::unique_ptr<DiskLock> lock;
  int64_t volumeOffset = -1;
};

std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}
std::map<DriveHandle, std::unique_ptr<OpenDrive>>& Handles() {
  static std::map<DriveHandle, std::unique_ptr<OpenDrive>> h;
  return h;
}
DriveHandle& NextHandle() {
  static DriveHandle next = 1;
  return next;
}

OpenDrive* Find(DriveHandle h) {
  std::lock_guard<std::mutex> lock(TableMutex());
  auto it = Handles().find(h);
  return it == Handles().end() ? nullptr : it->second.get();
}

DriveHandle Store(std::unique_ptr<OpenDrive> d) {
  std::lock_guard<std::mutex> lock(TableMutex());
  const DriveHandle h = NextHandle()++;
  Handles()[h] = std::move(d);
  return h;
}

// The exclusive claim on a disk is the process's, not a handle's: the format job holds the whole
// disk locked while it locks, formats and fills the disk's first volume through further handles.
// Every handle that asks for the lock shares the one backend claim, which is released with the
// last of them; other processes stay shut out all the while.
class SharedDiskLock final : public DiskLock {
 public:
  explicit SharedDiskLock(std::shared_ptr<DiskLock> claim) : claim_(std::move(claim)) {}

 private:
  std::shared_ptr<DiskLock> claim_;
};

std::unique_ptr<DiskLock> ClaimDisk(const NumberedDisk& disk, int* err) {
  static std::mutex m;
  static std::map<std::string, std::weak_ptr<DiskLock>> claims;
  std::lock_guard<std::mutex> lock(m);
  std::weak_ptr<DiskLock>& slot = claims[disk.info.key];
  std::shared_ptr<DiskLock> claim = slot.lock();
  if (!claim) {
    std::unique_ptr<DiskLock> fresh = disk.backend->Lock(disk.info, err);
    if (!fresh) return nullptr;
    claim = std::shared_ptr<DiskLock>(std::move(fresh));
    slot = claim;
  }
  return std::make_unique<SharedDiskLock>(std::move(claim));
}

void RefuseSystemDrive(const std::string& status) {
  ShowStatus(status, 0);
  MessageBox("Error", "Sorry, operation not permitted!\r\nYou selected a System Drive.",
             MsgButtons::Ok, MsgIcon::Warning);
}

bool HoldsSystemLetter(const std::string& letters) {
  const std::string sys = SystemDriveLetter() + ":";
  size_t pos = 0;
  while ((pos = letters.find(sys, pos)) != std::string::npos) {
    if (pos == 0 || letters[pos - 1] == ' ') return true;
    ++pos;
  }
  return false;
}

std::string PhysicalPath(int32_t n) { return "\\\\.\\PHYSICALDRIVE" + std::to_string(n); }

// Byte offset and byte count of a sector range on `dev`; false when the numbers are negative,
// overflow, or the range starts beyond the device's end. A count too large to multiply must not
// wrap around into a small transfer that then reports success.
bool SectorRange(const BlockDevice* dev, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                 uint64_t* offset, uint64_t* count) {
  if (!dev || SectorSize <= 0 || StartSector < 0 || nSectors < 0) return false;
  int64_t off = 0, len = 0;
  if (__builtin_mul_overflow(StartSector, SectorSize, &off) ||
      __builtin_mul_overflow(nSectors, SectorSize, &len))
    return false;
  if (static_cast<uint64_t>(off) > dev->SizeBytes()) return false;
  *offset = static_cast<uint64_t>(off);
  *count = static_cast<uint64_t>(len);
  return true;
}

}  // namespace

namespace {
thread_local int lastHandleError = 0;

DriveHandle Failed(int error) {
  lastHandleError = error ? error : EIO;
  return kInvalidHandle;
}

DriveHandle OpenDriveHandle(int32_t DiskNumber, const std::string& DriveLetter, bool ForWrite,
                            bool Lock);
}  // namespace

int DriveHandleError() { return lastHandleError; }

DriveHandle GetDriveHandle(int32_t DiskNumber, const std::string& DriveLetter, bool ForWrite,
                           bool Lock) {
  lastHandleError = 0;
  return OpenDriveHandle(DiskNumber, DriveLetter, ForWrite, Lock);
}

namespace {
DriveHandle OpenDriveHandle(int32_t DiskNumber, const std::string& DriveLetter, bool ForWrite,
                            bool Lock) {
  const DiskRecord& cur = CurrentDisk();
  if (ForWrite && cur.PartitionCount != 0 && HoldsSystemLetter(cur.DriveLetters)) {
    RefuseSystemDrive("WARNING - write access to System Drive disabled!");
    return Failed(EPERM);
  }
  auto drive = std::make_unique<OpenDrive>();
  if (DriveLetter.empty()) {
    const std::string path = PhysicalPath(DiskNumber);
    if (!FindNumberedDisk(DiskNumber, &drive->disk)) return Failed(ENOENT);
    if (ForWrite && drive->disk.info.systemDisk) {
      // The disk holds something the running system uses, whatever CurrentDisk says.
      RefuseSystemDrive("WARNING - write access to System Drive disabled!");
      return Failed(EPERM);
    }
    int err = 0;
    drive->device = drive->disk.backend->Open(drive->disk.info, ForWrite, &err);
    if (!drive->device) {
      FW_LOG("GetDriveHandle: Error " + std::to_string(err) + " could not open drive " + path);
      return Failed(err);
    }
    FW_LOG("GetDriveHandle: Success Open " + path +
           (ForWrite ? " for write access" : " for read access"));
    if (Lock) {
      drive->lock = ClaimDisk(drive->disk, &err);
      if (!drive->lock) {
        FW_LOG("GetDriveHandle: Error " + std::to_string(err) + " LOCK drive " + path);
        return Failed(err);
      }
      FW_LOG("GetDriveHandle: Success LOCK " + path);
    }
    return Store(std::move(drive));
  }

  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(DriveLetter[0])));
  const std::string letter(1, c);
  if (c < 'A' || c > 'Z' || letter == SystemDriveLetter()) {
    FW_LOG("GetDriveHandle: WARNING: Bad DriveLetter$=" + letter + ". Please check the code!");
    RefuseSystemDrive("WARNING - access to Disk " + letter + ": disabled!");
    return Failed(EPERM);
  }
  const std::string path = "\\\\.\\" + letter + ":";
  VolumeLocation where;
  if (!LookupDriveLetter(letter, &where) || !FindNumberedDisk(where.DiskNumber, &drive->disk)) {
    FW_LOG("GetDriveHandle: Error " + std::to_string(ENOENT) + " could not open drive " + path);
    return Failed(ENOENT);
  }
  if (ForWrite && drive->disk.info.systemDisk) {
    RefuseSystemDrive("WARNING - write access to System Drive disabled!");
    return Failed(EPERM);
  }
  int err = 0;
  drive->device = drive->disk.backend->Open(drive->disk.info, ForWrite, &err);
  if (!drive->device || static_cast<uint64_t>(where.StartingOffset) > drive->device->SizeBytes() ||
      static_cast<uint64_t>(where.PartitionLength) >
          drive->device->SizeBytes() - static_cast<uint64_t>(where.StartingOffset)) {
    FW_LOG("GetDriveHandle: Error " + std::to_string(err ? err : EINVAL) +
           " could not open drive " + path);
    return Failed(err ? err : EINVAL);
  }
  drive->window =
      std::make_unique<WindowDevice>(*drive->device, static_cast<uint64_t>(where.StartingOffset),
                                     static_cast<uint64_t>(where.PartitionLength));
  drive->volumeOffset = where.StartingOffset;
  FW_LOG("GetDriveHandle: Success Open " + path +
         (ForWrite ? " for write access" : " for read access"));
  if (Lock) {
    for (int attempt = 1; attempt <= 20; ++attempt) {
      drive->lock = ClaimDisk(drive->disk, &err);
      if (drive->lock) {
        FW_LOG("GetDriveHandle: Success LOCK " + path);
        return Store(std::move(drive));
      }
      FW_LOG("GetDriveHandle: Try #" + std::to_string(attempt) + " Error " + std::to_string(err) +
             " LOCK drive " + path);
      Pause(500);
    }
    return Failed(err);
  }
  return Store(std::move(drive));
}
}  // namespace

int UnmountDrive(DriveHandle handle) {
  OpenDrive* d = Find(handle);
  int err = 0;
  if (d && d->disk.backend->Dismount(d->disk.info, d->volumeOffset, &err)) {
    FW_LOG("Success unmount drive");
    return 1;
  }
  FW_LOG("Error unmount drive");
  return 0;
}

int UnlockDrive(DriveHandle handle) {
  OpenDrive* d = Find(handle);
  if (d && d->lock) {
    d->lock.reset();
    FW_LOG("Success unlock drive");
    return 1;
  }
  FW_LOG("Error unlock drive");
  return 0;
}

void CloseHandle(DriveHandle handle) {
  std::unique_ptr<OpenDrive> d;
  {
    std::lock_guard<std::mutex> lock(TableMutex());
    auto it = Handles().find(handle);
    if (it == Handles().end()) return;
    d = std::move(it->second);
    Handles().erase(it);
  }
  if (d->device) d->device->Flush();
}

BlockDevice* DeviceForHandle(DriveHandle handle) {
  OpenDrive* d = Find(handle);
  if (!d) return nullptr;
  return d->window ? static_cast<BlockDevice*>(d->window.get()) : d->device.get();
}

int64_t read_sectors(DriveHandle handle, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                     void* Buffer) {
  BlockDevice* dev = DeviceForHandle(handle);
  const std::string what = "StartSector:" + std::to_string(StartSector) +
                           ", nSectors:" + std::to_string(nSectors) +
                           ", SectorSize:" + std::to_string(SectorSize);
  uint64_t offset = 0, want = 0;
  if (!SectorRange(dev, SectorSize, StartSector, nSectors, &offset, &want)) {
    FW_LOG("read_sectors: Could not access sector " + std::to_string(StartSector));
    return 0;
  }
  // A read reaching past the end moves what there is, as a file read would.
  const uint64_t avail = dev->SizeBytes() - offset;
  const size_t len = static_cast<size_t>(want < avail ? want : avail);
  int64_t got = len ? dev->ReadAt(offset, Buffer, len) : 0;
  if (got < 0) got = 0;
  if (static_cast<uint64_t>(got) == want)
    FW_LOG("read_sectors: Success " + what);
  else
    FW_LOG("read_sectors: Error " + what);
  return got;
}

int64_t write_sectors(DriveHandle handle, int64_t SectorSize, int64_t StartSector, int64_t nSectors,
                      const void* Buffer) {
  BlockDevice* dev = DeviceForHandle(handle);
  const std::string what = " StartSector:" + std::to_string(StartSector) +
                           ", nSectors:" + std::to_string(nSectors) +
                           ", SectorSize:" + std::to_string(SectorSize);
  uint64_t offset = 0, want = 0;
  if (!SectorRange(dev, SectorSize, StartSector, nSectors, &offset, &want)) {
    FW_LOG("write_sectors: Could not access sector " + std::to_string(StartSector));
    return 0;
  }
  // A range reaching past the end writes nothing: WriteAt refuses it whole.
  const int64_t put = dev->WriteAt(offset, Buffer, static_cast<size_t>(want));
  if (put >= 0 && static_cast<uint64_t>(put) == want) return put;
  FW_LOG("write_sectors: " + std::string(std::strerror(dev->LastError() ? dev->LastError() : EIO)) +
         what);
  return 0;
}

int RereadPartitionTable(DriveHandle handle) {
  OpenDrive* d = Find(handle);
  if (!d || !d->device) return 0;
  return d->disk.backend->RereadPartitions(d->disk.info, *d->device) ? 1 : 0;
}

int OpenHandleCount() {
  std::lock_guard<std::mutex> lock(TableMutex());
  return static_cast<int>(Handles().size());
}

}  // namespace fw
