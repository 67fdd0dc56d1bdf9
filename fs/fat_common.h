// Small pieces shared by the FAT32/exFAT formatter and the volume file access: little-endian
// fields, UTF-8/UTF-16 names, the up-case table, time stamps and checksums.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fw::fat {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// UTF-8 to UTF-16 and back; false on malformed input (invalid sequences, lone surrogates).
bool Utf8ToUtf16(const std::string& in, std::u16string& out);
std::string Utf16ToUtf8(const std::u16string& in);

// The built-in up-case mapping (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, Armenian,
// full-width Latin); the same mapping is written as the exFAT up-case table.
char16_t UpCase(char16_t c);
// The up-case table in its compressed on-disk form (identity runs as 0xFFFF, count).
std::vector<uint8_t> CompressedUpCaseTable();
// Expands an on-disk up-case table into 65536 entries; false when it is malformed.
bool ExpandUpCaseTable(const uint8_t* data, size_t bytes, std::vector<char16_t>& table);
// The exFAT table checksum (rotate right by one, add the byte).
uint32_t TableChecksum(const uint8_t* data, size_t bytes);

// The exFAT boot-region checksum over `bytes` bytes, skipping VolumeFlags (106, 107) and
// PercentInUse (112).
uint32_t ExfatBootChecksum(const uint8_t* data, size_t bytes);

// DOS date and time of now (UTC): date in the high 16 bits, time in the low 16 bits.
uint32_t DosTimestampNow();

// A name component valid on both file systems: 1..255 UTF-16 units, none of the reserved
// characters (control characters, " * / : < > ? \ |), not "." or "..", no trailing dot or space.
bool IsValidLongName(const std::u16string& name);

// Splits "a/b/c" into components; empty components (doubled or leading/trailing "/") are dropped.
std::vector<std::string> SplitPath(const std::string& path);

// Default cluster sizes of the common desktop formatters, by volume size in bytes.
uint32_t DefaultFat32ClusterSize(uint64_t volumeBytes);
uint32_t DefaultExfatClusterSize(uint64_t volumeBytes);

}  // namespace fw::fat
