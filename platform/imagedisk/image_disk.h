// Attached disk-image files: raw images the user chose, offered as disks with bus
// "FileBackedVirtual", vendor "Image" and the file name as product, always shown in the drive
// tree. Sector size 512 unless attached with 4096.
//
//   fw::AttachImageDisk("/tmp/stick.img", 512);   // tests, the CLI's --image
//   fw::UpdateAllDrives();                         // the image is now a DiskRecord
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/disk_backend.h"

namespace fw {

struct AttachedImage {
  std::string path;  // absolute
  uint32_t sectorSize = 512;
  // Kept in the settings file's attached list (attached by the user in the program, or listed
  // there at start); one-off attachments such as the CLI's --image are not.
  bool remembered = false;
};

// Attaches an existing image file (512 or 4096-byte sectors). 1 on success, 0 when the file is
// missing, not a regular file, smaller than one sector, or the sector size is not 512/4096; the
// reason then goes into *why (the system's error text where there is one). Attaching the same
// file again only updates its sector size.
int AttachImageDisk(const std::string& path, uint32_t sectorSize = 512, std::string* why = nullptr);
// 1 when the image was attached and is now detached.
int DetachImageDisk(const std::string& path);
const std::vector<AttachedImage>& AttachedImages();
void DetachAllImageDisks();

// Creates a new sparse image file of `bytes` bytes. An existing file is never touched unless
// `replace` is set: then it must be a regular file, and it starts blank (all zeros) at the new
// size, so no partition table or data of the old image survives. 1, or 0 with the reason in *why
// (the system's error text, "exists" or "not a regular file").
int CreateImageFile(const std::string& path, int64_t bytes, bool replace = false,
                    std::string* why = nullptr);
// Parses a size such as "64M", "2G", "1.5G", "4096", "512K", "3T" (powers of 1024); -1 when bad.
int64_t ParseImageSize(const std::string& text);

// Whether images attached from now on are remembered in the settings file (off at first).
void SetRememberAttachedImages(bool on);

// The attached list in the settings file: group "[Disk Images]", lines "Image1=4096|/path", one
// per remembered image. SaveAttachedImages rewrites only that group of the file at
// SettingsPath() (nothing when the path is empty); LoadAttachedImages attaches the images listed
// there that still exist (as remembered ones) and logs the ones it drops.
void SaveAttachedImages();
void LoadAttachedImages();
// The group's text lines and their parser (used by the two above and by tests).
std::vector<std::string> AttachedImagesGroupLines();
std::vector<AttachedImage> ParseAttachedImagesGroup(const std::string& settingsText);
// Attaches the images listed in `settingsText`'s group, as LoadAttachedImages does.
void AttachImagesFromSettings(const std::string& settingsText);
// Makes SaveSetting write the group and LoadSetting read it back. The GUI and the CLI call this
// before StartUp.
void KeepAttachedImagesInSettings();

// The backend over the attached list.
DiskBackend& ImageDiskBackend();

}  // namespace fw
