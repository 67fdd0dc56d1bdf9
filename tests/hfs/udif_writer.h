// Test fixtures for the HFS image jobs: Apple disk images (UDIF, the ".dmg" format) written from
// scratch, since no DMG writer exists on Debian. A partition is any bytes; the writer stores it as
// chunks (zero-fill, raw, zlib, ADC, XZ), lists it in the XML property list's blkx array and closes
// the file with the 512-byte "koly" trailer, checksums included, so the archiver accepts it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtest {

enum class UdifChunk : uint32_t {
  Zero = 0x00000000,
  Raw = 0x00000001,
  Adc = 0x80000004,
  Zlib = 0x80000005,
  Xz = 0x80000008,
};

struct UdifPartition {
  std::string name;   // "disk image (Apple_HFS : 1)", "GPT Header (Primary GPT Header : 1)", ...
  std::string bytes;  // padded with zeros to whole sectors
  // Methods used for the chunks in turn (an all-zero chunk is always stored as zero-fill).
  std::vector<UdifChunk> methods = {UdifChunk::Zlib, UdifChunk::Raw, UdifChunk::Adc, UdifChunk::Xz};
};

struct UdifOptions {
  uint32_t chunkSectors = 64;  // sectors per chunk (the last one of a partition may be shorter)
  // Bytes in front of the data fork (a XAR header, say); the trailer's offsets count them.
  std::string prefix;
};

// The whole image file.
std::string MakeUdif(const std::vector<UdifPartition>& partitions, const UdifOptions& options = {});

// A partition of `sectors` sectors holding an HFS+ volume signature ("H+" at byte 1024) and a
// pattern seeded by `seed` elsewhere, with long zero runs so that every chunk method is used.
std::string HfsPartitionBytes(uint32_t sectors, uint32_t seed);

// A typical one-volume image: protective MBR, GPT header and table, the Apple_HFS partition,
// the backup GPT; `hfs` is the partition's bytes.
std::string MakeHfsDmg(const std::string& hfs, const UdifOptions& options = {});
// The same layout with an Apple_APFS partition instead: the archiver finds no HFS image in it.
std::string MakeApfsDmg(const std::string& apfs, const UdifOptions& options = {});

}  // namespace fwtest
