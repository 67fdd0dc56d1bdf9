// Packed items: a zip of stored entries, compressed with raw LZMA1 (properties 0x5D, 16 MiB
// dictionary, no end marker) and preceded by a 12-byte header: unpacked size, packed size (item
// length - 12) and the CRC-32 of the unpacked zip, all little-endian u32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

struct ZipInput {
  std::string name;  // entry name inside the zip, "/" between folders
  std::vector<uint8_t> data;
};

// A zip archive whose entries are all stored (method 0), in the given order.
std::vector<uint8_t> MakeStoredZip(const std::vector<ZipInput>& entries);

// Raw LZMA1 stream (no properties, no size field, no end marker); empty on failure.
std::vector<uint8_t> CompressLzma1(const std::vector<uint8_t>& payload);

// The whole item: header, the five property bytes, the LZMA stream. Empty on failure.
std::vector<uint8_t> MakePackedItem(const std::vector<uint8_t>& payload);

// A C++ source file defining `const unsigned char <symbol>[]` and `<symbol>Length`.
std::string ItemAsCppSource(const std::string& symbol, const std::vector<uint8_t>& item);

}  // namespace fwpack
