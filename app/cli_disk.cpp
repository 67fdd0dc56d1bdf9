#include "app/cli_disk.h"

#include <filesystem>

#include "disk/disk_record.h"
#include "platform/imagedisk/image_disk.h"

namespace fw::cli {

namespace {

// The disk number of the attached image `path`; -1 when the inventory has none, -2 when two
// attached images have that file name.
int32_t ImageDiskNumber(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  int32_t found = -1;
  for (const DiskRecord& d : DiskRecords()) {
    if (d.BusType == "FileBackedVirtual" && d.VendorId == "Image" && d.ProductId == name) {
      if (found >= 0) return -2;
      found = d.DiskNumber;
    }
  }
  return found;
}

}  // namespace

int AttachCommandImage(const GlobalOptions& options) {
  if (options.image.empty()) return kExitOk;
  if (!options.create.empty()) {
    const int64_t bytes = ParseImageSize(options.create);
    if (bytes <= 0) return Fail(kExitUsage, "--create: bad size " + options.create);
    if (!CreateImageFile(options.image, bytes))
      return Fail(kExitFailure, "cannot create " + options.image);
  }
  if (!AttachImageDisk(options.image, options.sectorSize))
    return Fail(kExitFailure, "cannot attach " + options.image);
  return kExitOk;
}

int ChooseCommandDisk(const GlobalOptions& options, const std::string& command,
                      int64_t* diskNumber) {
  if (!options.image.empty() && *diskNumber < 0) {
    *diskNumber = ImageDiskNumber(options.image);
    if (*diskNumber == -2)
      return Fail(kExitUsage, "two attached images have that file name: give --disk N");
    if (*diskNumber < 0) return Fail(kExitFailure, "the image is not in the disk inventory");
  }
  if (*diskNumber < 0)
    return Fail(kExitUsage,
                command + " needs --disk N or --image FILE (see `flashwright-cli list`)");
  return kExitOk;
}

}  // namespace fw::cli
