// The scratch folder of the jobs and the folder-creating helpers. Linux file systems have no
// hidden attribute: the names stay as on every platform and the folder is simply not hidden.
#pragma once

#include <string>

namespace fw {

// The current work folder with a trailing "/", or "" when none was made.
std::string& ZorTempWorkDir();
// The system's temporary folder: $TMPDIR, else /tmp.
std::string TempFolder();

// Deletes every "ZORTemp*" folder of the temporary folder (except those that another running copy
// of the program holds as its work folder), then makes a new "ZORTemp" + 1000..9999 and holds it.
int CreateTempWorkDir();
// A non-existing "TEMP" + 1000..9999 path in `folder` (earlier TEMP* files deleted); "" for "".
std::string CreateTempFileName(std::string folder);
// Creates `path` and every missing parent; failures are logged only.
void CreateDirectoryRecursive(std::string path);
// Creates `path` component by component; 1 when it is a folder afterwards.
int CreateDirectoryPath(std::string path);
// Deletes the current work folder with its contents (shutdown) and clears ZorTempWorkDir.
void RemoveTempWorkDir();

}  // namespace fw
