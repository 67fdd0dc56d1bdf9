#include "platform/disk_backend.h"

#include "platform/imagedisk/image_disk.h"
#include "platform/linux/block_backend.h"

namespace fw {

std::vector<DiskBackend*>& DiskBackends() {
  static std::vector<DiskBackend*> list{&DefaultBlockBackend(), &ImageDiskBackend()};
  return list;
}

void ResetDiskBackends() { DiskBackends() = {&DefaultBlockBackend(), &ImageDiskBackend()}; }

}  // namespace fw
