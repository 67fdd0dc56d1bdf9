// The items packed into the program at build time (see tools/packer): each is a 12-byte
// PackFileHeader, the five LZMA1 property bytes and a raw LZMA1 stream whose payload is a zip of
// stored entries. Only the FreeDOS boot set is built on Linux: the archiver is the system's 7zz,
// and the Windows HFS+ drivers have no use here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern const unsigned char PackedFreeDosDataSet[];
extern const std::size_t PackedFreeDosDataSetLength;

namespace fw {

struct PackFileHeader {
  uint32_t UnPackedSize;
  uint32_t PackedSize;
  uint32_t CRC32;
};
inline constexpr int64_t kPackFileHeaderSize = 12;

// Decodes the item at Buffer (BufferLength bytes, header included), checks its size and CRC-32
// and writes the zip to a new "TEMP" file of the work folder (made first when there is none).
// Returns the file's full path, or "" on any failure (a CRC mismatch and a short write are also
// shown in a message box).
std::string UnpackInternalMemoryToTempFile(const void* Buffer, int64_t BufferLength);

}  // namespace fw
