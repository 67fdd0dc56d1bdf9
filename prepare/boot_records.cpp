#include "prepare/boot_records.h"

#include <cstring>

#include "app/log.h"

namespace fw {

bool MergePartitionBootRecord(const std::vector<uint8_t>& formatterSectors,
                              const std::vector<uint8_t>& image, const std::string& fileSystem,
                              std::vector<uint8_t>* merged, std::string* why) {
  const bool exfat = fileSystem == "exFAT";
  const bool fat32 = fileSystem == "FAT32" || fileSystem == "FAT32-LBA";
  const size_t n = exfat ? 2 : 1;
  if (!exfat && !fat32) {
    *why = "No partition boot record exists for file system " + fileSystem;
    return false;
  }
  if (image.size() < n * 512 || formatterSectors.size() < 512) {
    *why = "The boot sector of the new volume could not be read";
    return false;
  }
  const uint8_t* f = formatterSectors.data();
  const bool signed55 = f[510] == 0x55 && f[511] == 0xAA;
  const bool holds = exfat ? std::memcmp(f + 3, "EXFAT   ", 8) == 0
                           : std::memcmp(f + 82, "FAT32   ", 8) == 0 && (f[11] | f[12] << 8) != 0;
  if (!signed55 || !holds) {
    *why = "The boot sector of the new volume holds no " + std::string(exfat ? "exFAT" : "FAT32") +
           " file system; the boot record was not written";
    FW_LOG(*why);
    return false;
  }
  merged->assign(image.begin(), image.begin() + static_cast<long>(n * 512));
  if (exfat)
    std::memcpy(merged->data(), f, 120);
  else
    std::memcpy(merged->data() + 3, f + 3, 87);
  return true;
}

}  // namespace fw
