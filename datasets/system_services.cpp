// The data-set services of the running program: the work folder of app/work_folder.h and the
// volumes of the current disk opened through raw access and the FAT32/exFAT engine.
#include "app/work_folder.h"
#include "datasets/dataset_services.h"
#include "disk/disk_record.h"
#include "disk/raw_access.h"

namespace fw {
namespace {
#ifdef FW_HAVE_RAW_ACCESS

struct OpenVolume {
  DriveHandle handle = kInvalidHandle;
  std::unique_ptr<VolumeFiles> files;
  ~OpenVolume() {
    files.reset();
    if (handle != kInvalidHandle) {
      UnlockDrive(handle);
      CloseHandle(handle);
    }
  }
};

std::shared_ptr<VolumeFiles> OpenSystemVolume(const std::string& letter) {
  auto opened = std::make_shared<OpenVolume>();
  // The files are written past any file system driver: the disk is claimed first, so a volume
  // that the system has mounted (or another program holds) is refused rather than changed behind
  // its back. A job that already holds the disk shares its claim.
  opened->handle = GetDriveHandle(CurrentDisk().DiskNumber, letter, true, true);
  if (opened->handle == kInvalidHandle) return nullptr;
  BlockDevice* device = DeviceForHandle(opened->handle);
  if (device == nullptr) return nullptr;
  opened->files = OpenVolumeFiles(*device);
  if (!opened->files) return nullptr;
  VolumeFiles* files = opened->files.get();
  return std::shared_ptr<VolumeFiles>(std::move(opened), files);
}
#endif

}  // namespace

void InstallSystemDataSetServices() {
  DataSetServices& s = TheDataSetServices();
  s.workFolder = [] { return ZorTempWorkDir(); };
  s.createTempWorkDir = [] { return CreateTempWorkDir(); };
  s.createTempFileName = [](const std::string& folder) { return CreateTempFileName(folder); };
  s.tempFolder = [] { return TempFolder(); };
#ifdef FW_HAVE_RAW_ACCESS
  s.openVolume = OpenSystemVolume;
#else
  s.openVolume = nullptr;  // raw access is not part of this build: volume roots fail to open
#endif
}

}  // namespace fw
