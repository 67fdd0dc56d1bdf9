// The data-set services of the running program: the work folder of app/work_folder.h and the
// volumes of the current disk opened through raw access and the FAT32/exFAT engine.
#include "app/work_folder.h"
#include "datasets/dataset_services.h"
#include "disk/disk_record.h"
#include "disk/raw_access.h"

namespace fw {

#ifdef FW_HAVE_RAW_ACCESS
namespace {

struct OpenVolume {
  DriveHandle handle = kInvalidHandle;
  std::unique_ptr<VolumeFiles> files;
  ~OpenVolume() {
    files.reset();  // the engine writes out through the handle's device
    if (handle != kInvalidHandle) {
      UnlockDrive(handle);
      CloseHandle(handle);
    }
  }
};

}  // namespace

std::shared_ptr<VolumeFiles> OpenDriveVolume(const std::string& letter, bool forWrite,
                                             bool fromStorage) {
  auto opened = std::make_shared<OpenVolume>();
  // The files are written past any file system driver: the disk is claimed first, so a volume
  // that the system has mounted (or another program holds) is refused rather than changed behind
  // its back. A job that already holds the disk shares its claim. Reading needs no claim.
  opened->handle = GetDriveHandle(CurrentDisk().DiskNumber, letter, forWrite, forWrite);
  if (opened->handle == kInvalidHandle) return nullptr;
  BlockDevice* device = DeviceForHandle(opened->handle);
  if (device == nullptr) return nullptr;
  if (fromStorage && !device->DropCached(0, device->SizeBytes())) return nullptr;
  opened->files = OpenVolumeFiles(*device);
  if (!opened->files) return nullptr;
  VolumeFiles* files = opened->files.get();
  return std::shared_ptr<VolumeFiles>(std::move(opened), files);
}
#else
std::shared_ptr<VolumeFiles> OpenDriveVolume(const std::string&, bool, bool) {
  return nullptr;  // raw access is not part of this build: volume roots fail to open
}
#endif

void InstallSystemDataSetServices() {
  DataSetServices& s = TheDataSetServices();
  s.workFolder = [] { return ZorTempWorkDir(); };
  s.createTempWorkDir = [] { return CreateTempWorkDir(); };
  s.createTempFileName = [](const std::string& folder) { return CreateTempFileName(folder); };
  s.tempFolder = [] { return TempFolder(); };
  s.openVolume = [](const std::string& letter) { return OpenDriveVolume(letter, true); };
  s.openVolumeFromStorage = [](const std::string& letter) {
    return OpenDriveVolume(letter, /*forWrite=*/false, /*fromStorage=*/true);
  };
}

}  // namespace fw
