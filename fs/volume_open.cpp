// The FAT32/exFAT engine, opening: the boot sector or boot region, and OpenVolume.
#include <cstring>
#include <vector>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

// ---------------------------------------------------------------- opening

OpenError Engine::Open() {
  const uint32_t devS = dev_.SectorSize();
  if (devS < 512 || dev_.SizeBytes() < 512) return OpenError::NoFileSystem;
  std::vector<uint8_t> b(devS < 4096 ? 4096 : devS, 0);
  if (!ReadBytes(0, b.data(), devS)) return OpenError::IoError;
  if (b[510] != 0x55 || b[511] != 0xAA) return OpenError::NoFileSystem;
  if (std::memcmp(b.data() + 3, "EXFAT   ", 8) == 0) {
    const unsigned shift = b[108];
    if (shift < 9 || shift > 12) return OpenError::Damaged;
    const size_t S = size_t{1} << shift;
    if (dev_.SizeBytes() < 24 * S) return OpenError::Damaged;
    std::vector<uint8_t> region(12 * S);
    if (!ReadBytes(0, region.data(), region.size())) return OpenError::IoError;
    return ParseExfat(region.data(), region);
  }
  if (Get16(b.data() + 22) != 0 || Get16(b.data() + 17) != 0) return OpenError::NoFileSystem;
  return ParseFat32(b.data());
}

OpenError Engine::ParseFat32(const uint8_t* b) {
  const uint32_t bps = Get16(b + 11);
  const uint32_t spc = b[13];
  const uint32_t reserved = Get16(b + 14);
  const uint32_t nfats = b[16];
  const uint64_t total = Get16(b + 19) ? Get16(b + 19) : Get32(b + 32);
  const uint64_t fatsz = Get32(b + 36);
  if (bps < 512 || bps > 4096 || (bps & (bps - 1))) return OpenError::NoFileSystem;
  if (spc == 0 || (spc & (spc - 1)) || reserved == 0 || nfats == 0 || nfats > 2 || fatsz == 0)
    return OpenError::Damaged;
  if (total * bps > dev_.SizeBytes()) return OpenError::Damaged;
  const uint64_t dataStart = reserved + nfats * fatsz;
  if (dataStart >= total) return OpenError::Damaged;
  const uint64_t clusters = (total - dataStart) / spc;
  if (clusters == 0 || clusters > 0x0FFFFFF4 || fatsz * bps / 4 < clusters + 2)
    return OpenError::Damaged;
  S_ = bps;
  clusterBytes_ = bps * spc;
  fatOffset_ = uint64_t{reserved} * bps;
  fatBytes_ = fatsz * bps;
  numFats_ = nfats;
  heapOffset_ = dataStart * bps;
  clusterCount_ = static_cast<uint32_t>(clusters);
  rootCluster_ = Get32(b + 44);
  if (!ValidCluster(rootCluster_)) return OpenError::Damaged;
  fsInfoSector_ = Get16(b + 48);
  backupBoot_ = Get16(b + 50);
  if (fsInfoSector_ == 0 || fsInfoSector_ >= reserved) fsInfoSector_ = 0;
  if (backupBoot_ == 0 || backupBoot_ >= reserved) backupBoot_ = 0;
  // Free count: FSInfo when it is plausible, else counted.
  bool counted = false;
  if (fsInfoSector_) {
    std::vector<uint8_t> info(S_);
    if (!ReadBytes(fsInfoSector_ * S_, info.data(), S_)) return OpenError::IoError;
    if (Get32(info.data()) == 0x41615252 && Get32(info.data() + 484) == 0x61417272) {
      const uint32_t fc = Get32(info.data() + 488);
      const uint32_t nf = Get32(info.data() + 492);
      if (fc <= clusterCount_) {
        freeCount_ = fc;
        counted = true;
      }
      if (ValidCluster(nf)) nextFree_ = nf;
    }
  }
  if (!counted) {
    freeCount_ = 0;
    for (uint32_t c = 2; c < clusterCount_ + 2; ++c) {
      uint32_t v;
      if (!GetFat(c, v)) return OpenError::IoError;
      if (v == 0) ++freeCount_;
    }
  }
  Dir* root = Root();
  if (!root) return ioError_ ? OpenError::IoError : OpenError::Damaged;
  if (label_.empty()) {
    std::string l(reinterpret_cast<const char*>(b + 71), 11);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    if (b[66] == 0x29 && l != "NO NAME") {
      std::u16string u;
      for (char c : l) u.push_back(static_cast<unsigned char>(c));
      label_ = Utf16ToUtf8(u);
    }
  }
  return OpenError::None;
}

OpenError Engine::ParseExfat(const uint8_t* b, const std::vector<uint8_t>& region) {
  for (int i = 11; i < 64; ++i)
    if (b[i] != 0) return OpenError::Damaged;
  const uint32_t S = 1u << b[108];
  const uint32_t spcShift = b[109];
  if (b[108] + spcShift > 25) return OpenError::Damaged;
  const uint32_t sum = ExfatBootChecksum(region.data(), 11 * S);
  for (uint32_t i = 0; i < S / 4; ++i)
    if (Get32(region.data() + 11 * S + 4 * i) != sum) return OpenError::Damaged;
  const uint64_t volLen = Get64(b + 72);
  const uint64_t fatOff = Get32(b + 80), fatLen = Get32(b + 84);
  const uint64_t heapOff = Get32(b + 88);
  const uint64_t clusters = Get32(b + 92);
  const uint32_t nfats = b[110];
  if (nfats < 1 || nfats > 2 || fatOff < 24 || fatLen == 0) return OpenError::Damaged;
  if (volLen > dev_.SizeBytes() / S) return OpenError::Damaged;
  if (fatOff + fatLen * nfats > heapOff || heapOff >= volLen) return OpenError::Damaged;
  if (clusters == 0 || clusters > 0xFFFFFFF5ull || fatLen * S / 4 < clusters + 2)
    return OpenError::Damaged;
  if (heapOff + (clusters << spcShift) > volLen) return OpenError::Damaged;
  exfat_ = true;
  S_ = S;
  clusterBytes_ = S << spcShift;
  activeFat_ = (Get16(b + 106) & 1) && nfats == 2 ? 1 : 0;
  fatOffset_ = (fatOff + activeFat_ * fatLen) * S;
  fatBytes_ = fatLen * S;
  numFats_ = 1;
  heapOffset_ = heapOff * S;
  clusterCount_ = static_cast<uint32_t>(clusters);
  rootCluster_ = Get32(b + 96);
  if (!ValidCluster(rootCluster_)) return OpenError::Damaged;
  Dir* root = Root();
  if (!root) return ioError_ ? OpenError::IoError : OpenError::Damaged;
  if (bitmap_.empty() || upcase_.empty()) return OpenError::Damaged;
  freeCount_ = 0;
  for (uint32_t c = 0; c < clusterCount_; ++c)
    if (!(bitmap_[c / 8] & (1u << (c % 8)))) ++freeCount_;
  return OpenError::None;
}

}  // namespace fw::fat::engine

namespace fw::fat {

std::unique_ptr<VolumeFiles> OpenVolume(BlockDevice& volume, OpenError* error) {
  auto engine = std::make_unique<engine::Engine>(volume);
  const OpenError r = engine->Open();
  if (error) *error = r;
  if (r != OpenError::None) return nullptr;
  engine->SetOpened();
  return engine;
}

}  // namespace fw::fat

namespace fw {

std::unique_ptr<VolumeFiles> OpenVolumeFiles(BlockDevice& volume) {
  return fat::OpenVolume(volume);
}

}  // namespace fw
