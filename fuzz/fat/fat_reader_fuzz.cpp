// libFuzzer target: the input is a volume image. Opening, listing, reading and a small write
// must never crash, hang or touch bytes outside the image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fs/fat_format.h"
#include "fs/fat_volume.h"
#include "fs/memory_device.h"

namespace {

// A small volume made by the engine, with a few folders and files, as the base of the mutations.
const fw::fat::MemoryDevice& BaseVolume(bool exfat) {
  static fw::fat::MemoryDevice* base[2] = {nullptr, nullptr};
  fw::fat::MemoryDevice*& d = base[exfat ? 1 : 0];
  if (!d) {
    d = new fw::fat::MemoryDevice(exfat ? (4u << 20) : (34u << 20), 512);
    fw::fat::FormatOptions o;
    o.kind = exfat ? fw::fat::FsKind::Exfat : fw::fat::FsKind::Fat32;
    o.label = "FUZZ";
    o.volumeSerial = 1;
    fw::fat::FormatVolume(*d, o);
    auto v = fw::fat::OpenVolume(*d);
    v->MakeDirectories("EFI/CLOVER/drivers");
    for (const char* name :
         {"EFI/CLOVER/config.plist", "EFI/CLOVER/drivers/a long name.efi", "README.TXT"}) {
      auto w = v->CreateFile(name, 0);
      std::string body(5000, 'x');
      w->Write(body.data(), body.size());
      w->Close();
    }
    v->Flush();
  }
  return *d;
}

}  // namespace

// Input: byte 0 selects the mode. Bit 1 clear: the rest is a list of 4-byte mutations
// (24-bit offset into the volume's first 2.25 MiB, new byte) applied to an engine-made volume,
// which reaches the folder and chain code quickly. Bit 1 set: the rest is a raw volume image.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (4u << 20)) return 0;
  const bool exfat = data[0] & 1;
  std::unique_ptr<fw::fat::MemoryDevice> mem;
  if (!(data[0] & 2)) {
    mem = std::make_unique<fw::fat::MemoryDevice>(BaseVolume(exfat));
    for (size_t i = 1; i + 4 <= size; i += 4) {
      const uint64_t off =
          (uint64_t{data[i]} | (uint64_t{data[i + 1]} << 8) | (uint64_t{data[i + 2]} << 16)) %
          (mem->SizeBytes() < (2304u << 10) ? mem->SizeBytes() : (2304u << 10));
      mem->WriteAt(off, &data[i + 3], 1);
    }
  } else {
    const uint32_t sector = (data[0] & 4) ? 4096 : 512;
    const uint64_t deviceSize = (std::max<uint64_t>(size, 64 * 1024) / sector + 32) * sector;
    mem = std::make_unique<fw::fat::MemoryDevice>(deviceSize, sector);
    mem->WriteAt(0, data + 1, size - 1);
  }
  fw::fat::FaultDevice dev(*mem);
  auto v = fw::fat::OpenVolume(dev);
  if (!v) return 0;
  v->Label();
  v->FreeBytes();
  int budget = 200;
  std::function<void(const std::string&, int)> walk = [&](const std::string& dir, int depth) {
    std::vector<fw::VolumeEntry> entries;
    if (depth > 6 || !v->ListDirectory(dir, entries)) return;
    for (const auto& e : entries) {
      if (--budget < 0) return;
      const std::string path = dir.empty() ? e.name : dir + "/" + e.name;
      if (e.isDirectory) {
        walk(path, depth + 1);
      } else {
        std::string contents;
        v->ReadFile(path, contents);
      }
    }
  };
  walk("", 0);
  if (v->MakeDirectories("EFI/BOOT")) {
    if (auto w = v->CreateFile("EFI/BOOT/fuzz.bin", 3000)) {
      std::string payload(3000, 'f');
      w->Write(payload.data(), payload.size());
      w->Close();
    }
  }
  v->SetLabel("FUZZ");
  v->Flush();
  if (dev.leftRange) __builtin_trap();
  return 0;
}
