// The services the data-set routines take from the rest of the program: the work folder, the
// system's temporary folder and the opening of a volume's files by drive letter. The program's
// front ends install the real ones (InstallSystemDataSetServices); tests install their own.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/volume_files.h"

namespace fw {

struct DataSetServices {
  // The work folder as ZorTempWorkDir holds it ("" when none was made), with a trailing "/".
  std::function<std::string()> workFolder;
  // Makes the work folder; 1 or 0.
  std::function<int()> createTempWorkDir;
  // A fresh "TEMP" + digits path in the folder, older TEMP* files deleted; "" on failure.
  std::function<std::string(const std::string& folder)> createTempFileName;
  // The system's temporary folder ("" when there is none).
  std::function<std::string()> tempFolder;
  // Opens the files of the volume with this letter ("E:") for writing; nullptr on failure.
  // The volume stays open (and its handle held) as long as the returned pointer lives.
  std::function<std::shared_ptr<VolumeFiles>(const std::string& driveLetter)> openVolume;
  // The same, with what the system keeps cached of the volume written out and let go first, so
  // that what is read comes from the storage (the read-back check after an extraction).
  std::function<std::shared_ptr<VolumeFiles>(const std::string& driveLetter)> openVolumeFromStorage;
};

DataSetServices& TheDataSetServices();

// The files of the volume with this letter ("E:") opened through raw access: for writing with the
// disk claimed exclusively (the system disk is refused), or for reading without a claim. nullptr
// on failure; the handle is held as long as the returned pointer lives. Writing is the openVolume
// service of the running program. fromStorage first writes out and lets go of what the system
// caches of the volume (the openVolumeFromStorage service: reading without a claim).
std::shared_ptr<VolumeFiles> OpenDriveVolume(const std::string& letter, bool forWrite,
                                             bool fromStorage = false);
// Installs the services of the running program (work folder, raw access, FAT32/exFAT engine).
void InstallSystemDataSetServices();

}  // namespace fw
