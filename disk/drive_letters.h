// The virtual drive-letter table. Linux has no drive letters, so the program keeps its own: the
// volume holding "/" is C: (the system drive letter); every other volume with a file system the
// program knows (FAT, FAT32, exFAT, NTFS, UDF) gets the lowest free letter from D: on, the first
// time an inventory sees it. A volume keeps its letter for the life of the process while it stays
// where it is (same disk, same start), so letters are stable across inventories.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// Where a lettered volume lives: a window of a whole disk.
struct VolumeLocation {
  int32_t DiskNumber = -1;
  int slot = -1;               // MBR slot 0..3
  int64_t StartingOffset = 0;  // bytes from the start of the disk
  int64_t PartitionLength = 0;
};

// Looks a letter up ("E:", "e", "E:\"): true and *out filled when the last inventory has a
// volume with that letter. This is how GetDriveHandle(n, "E:", ...) finds its window.
bool LookupDriveLetter(const std::string& letter, VolumeLocation* out);

// Gives the volume in slot `slot` of disk `DiskNumber` (as the last inventory recorded it) a
// letter when it has none, and records it in DiskRecords() and CurrentDisk() when they hold that
// disk. Returns the volume's letter ("F:"), or "" when there is no such slot or no free letter.
std::string AssignDriveLetter(int32_t DiskNumber, int slot);

// Letters in use as a bit mask (bit 0 = A:), the counterpart of the system's logical-drive mask.
// The system letter is always in it.
uint32_t UsedDriveLetterMask();

// Forgets every letter (tests).
void ResetDriveLetters();

// --- used by the inventory ---
// The key of a volume: its disk's backend key and its start offset.
std::string VolumeKey(const std::string& diskKey, int64_t startingOffset);
// The letter remembered for a volume key, or "" (never assigns).
std::string RememberedLetter(const std::string& volumeKey);
// Gives `volumeKey` the letter `letter` ("C:") or, with letter empty, the lowest free one from D:.
// Returns the letter, "" when none is free.
std::string ClaimDriveLetter(const std::string& volumeKey, const std::string& letter);
// Marks which keys the current inventory still sees; letters of vanished volumes are released.
void BeginLetterPass();
void KeepLetter(const std::string& volumeKey, const VolumeLocation& where);
void EndLetterPass();

}  // namespace fw
