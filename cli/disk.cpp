#include "cli/disk.h"

#include <cstdlib>
#include <filesystem>

#include "app/ui.h"
#include "disk/disk_record.h"
#include "platform/imagedisk/image_disk.h"

namespace fw::cli {

namespace {

// The disk number of the attached image `path`; -1 when the inventory has none.
int32_t ImageDiskNumber(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path wanted = std::filesystem::absolute(path, ec).lexically_normal();
  for (const DiskRecord& d : DiskRecords())
    if (!d.ImageFile.empty() && std::filesystem::path(d.ImageFile).lexically_normal() == wanted)
      return d.DiskNumber;
  return -1;
}

}  // namespace

int AttachCommandImage(const GlobalOptions& options) {
  if (options.image.empty()) return kExitOk;
  std::string why;
  if (!options.create.empty()) {
    const int64_t bytes = ParseImageSize(options.create);
    if (bytes <= 0)
      return Fail(kExitUsage, "--create: bad size " + options.create +
                                  " (bytes, or a number with K, M, G or T)");
    // An existing file is the user's data: it is replaced only on a confirmation, never by a
    // command that only looks.
    std::error_code ec;
    const bool exists = std::filesystem::exists(options.image, ec);
    if (exists && options.query)
      return Fail(kExitUsage, options.image +
                                  " exists: a query does not replace it (leave out "
                                  "--create, or use it with the command that writes)");
    if (exists && std::filesystem::is_regular_file(options.image, ec)) {
      const auto old = std::filesystem::file_size(options.image, ec);
      if (MessageBox("Warning",
                     "The file:\r\n" + options.image + "\r\nalready exists (" +
                         std::to_string(ec ? 0 : old) +
                         " bytes). Replace it with a blank image of " + std::to_string(bytes) +
                         " bytes? All of its data will be lost.",
                     MsgButtons::YesNo, MsgIcon::Warning) != MsgAnswer::Yes)
        return Fail(kExitFailure, options.image + " exists and was not replaced");
    }
    if (!CreateImageFile(options.image, bytes, exists, &why))
      return Fail(kExitFailure, "cannot create " + options.image + ": " + why);
  }
  if (!AttachImageDisk(options.image, options.sectorSize, &why))
    return Fail(kExitFailure, "cannot attach " + options.image + ": " + why);
  return kExitOk;
}

int ChooseCommandDisk(const GlobalOptions& options, const std::string& command,
                      int64_t* diskNumber) {
  if (!options.image.empty() && *diskNumber < 0) {
    *diskNumber = ImageDiskNumber(options.image);
    if (*diskNumber < 0) return Fail(kExitFailure, "the image is not in the disk inventory");
  }
  if (*diskNumber < 0)
    return Fail(kExitUsage,
                command + " needs --disk N or --image FILE (see `flashwright-cli list`)");
  return kExitOk;
}

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace fw::cli
