// flashwright-cli [--image FILE] volume E: ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH |
//                                          label [TEXT]
// The files of a FAT32 or exFAT volume of the drive tree (`flashwright-cli list`), read and written
// through the program's engine without mounting it. A write follows the rules of the format job:
// only a volume of a disk the drive tree offers, never the system disk, the disk claimed
// exclusively (a volume that the system has mounted or another program holds is refused), and a
// confirmation that --yes answers.
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/globals.h"
#include "app/ui.h"
#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "datasets/data_zip.h"
#include "datasets/dataset_services.h"
#include "disk/drive_letters.h"
#include "disk/inventory.h"
#include "prepare/format_job.h"

namespace fw::cli {
namespace {

constexpr const char* kUsage =
    "usage: volume E: ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH | label [TEXT]";

// Asks before the volume is changed; false when the user (or the lack of --yes) says no. The
// system disk is refused before anything is asked, as the format job does.
bool ConfirmChange(const std::string& letter, const std::string& change) {
  const DiskRecord& disk = CurrentDisk();
  if (disk.DriveLetters.find(SystemDriveLetter()) != std::string::npos) {
    MessageBox("Error", "Sorry, operation not permitted!\r\nYou selected a System Drive.",
               MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  return MessageBox("WARNING",
                    "VOLUME " + letter + " OF DEVICE:\r\n" + BuildDeviceDescription(disk) +
                        "\r\nWILL BE CHANGED: " + change +
                        "\r\n\r\nTo Continue with this operation, click OK.\r\nTo quit click "
                        "CANCEL.",
                    MsgButtons::OkCancel, MsgIcon::Warning) == MsgAnswer::Ok;
}

int VolumeCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (args.size() < 2 || !IsVolumeRoot(args[0]) || args[0].size() > 3)
    return Fail(kExitUsage, kUsage);
  const std::string letter(1,
                           static_cast<char>(std::toupper(static_cast<unsigned char>(args[0][0]))));
  const std::string drive = letter + ":";
  const std::string& cmd = args[1];
  const size_t n = args.size();
  const bool known = (cmd == "ls" && n <= 3) || (cmd == "cat" && n == 3) ||
                     (cmd == "put" && n == 4) || (cmd == "mkdir" && n == 3) ||
                     (cmd == "label" && n <= 3);
  if (!known) return Fail(kExitUsage, kUsage);
  const bool writes = cmd == "put" || cmd == "mkdir" || (cmd == "label" && n == 3);

  std::string data;  // the local file of a put, read before anything is opened
  if (cmd == "put") {
    std::ifstream in(args[2], std::ios::binary);
    if (!in) return Fail(kExitFailure, "cannot read " + args[2]);
    std::stringstream ss;
    ss << in.rdbuf();
    data = ss.str();
  }

  if (const int status = AttachCommandImage(options)) return status;
  // A write selects the disk as the drive tree offers it; a read keeps standard output to the
  // listing or the file's bytes.
  if (writes)
    UpdateAllDrives();
  else
    GetAllDrives();
  VolumeLocation where;
  if (!LookupDriveLetter(drive, &where))
    return Fail(kExitFailure,
                "no volume " + drive + " in the drive tree (see `flashwright-cli list`)");
  std::shared_ptr<VolumeFiles> v;
  if (writes) {
    if (SetCurrentDisk(where.DiskNumber, where.slot) == 0)
      return Fail(kExitFailure, "volume " + drive +
                                    " is on a disk the drive tree does not offer (fixed disks "
                                    "need EnableFixedDisks)");
    const std::string change = cmd == "put"     ? "put " + args[2] + " as " + args[3]
                               : cmd == "mkdir" ? "mkdir " + args[2]
                                                : "label " + args[2];
    if (!ConfirmChange(drive, change))
      return Fail(kExitFailure, "volume " + drive + " not changed");
    v = OpenDriveVolume(drive, true);
    if (!v)
      return Fail(kExitFailure, "cannot open volume " + drive +
                                    " for writing with exclusive use (a system disk, a volume in "
                                    "use, or no FAT32/exFAT file system)");
  } else {
    v = OpenDriveVolume(drive, false);
    if (!v) return Fail(kExitFailure, "no FAT32 or exFAT volume (or a damaged one) at " + drive);
  }

  const std::string path = n > 2 ? args[2] : "";
  if (cmd == "ls") {
    std::vector<VolumeEntry> entries;
    if (!v->ListDirectory(path, entries)) return Fail(kExitFailure, "no folder " + path);
    for (const auto& e : entries)
      std::cout << (e.isDirectory ? "d" : "-") << (e.hidden ? "h" : "-") << " " << e.size << "\t"
                << e.name << "\n";
    std::cout << v->FileSystemName() << " \"" << v->Label() << "\", " << v->FreeBytes()
              << " bytes free\n";
    return kExitOk;
  }
  if (cmd == "cat") {
    std::string contents;
    if (!v->ReadFile(path, contents)) return Fail(kExitFailure, "cannot read " + path);
    std::cout.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return kExitOk;
  }
  if (cmd == "label" && n == 2) {
    std::cout << v->Label() << "\n";
    return kExitOk;
  }
  bool ok = false;
  if (cmd == "mkdir") {
    ok = v->MakeDirectories(path);
  } else if (cmd == "label") {
    ok = v->SetLabel(path);
  } else {
    auto w = v->CreateFile(args[3], data.size());
    ok = w && w->Write(data.data(), data.size()) && w->Close();
  }
  if (!v->Flush() || !ok) return Fail(kExitFailure, cmd + " failed on " + drive);
  return kExitOk;
}

}  // namespace

FW_CLI_HELP("volume", "E: ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH | label [TEXT]",
            "read and write the files of a FAT32 or exFAT volume without mounting it",
            "Works on the volume with the drive letter E: from list, through the program's own "
            "engine. A change asks first (--yes answers), claims the disk, and is refused on the "
            "system disk or a volume the system has mounted.\n\n"
            "ls [PATH]\tlist a folder, then the file system, label and free bytes\n"
            "cat PATH\twrite a file to standard output\n"
            "put LOCAL PATH\tcopy the local file LOCAL to PATH on the volume\n"
            "mkdir PATH\tmake a folder and the folders above it\n"
            "label [TEXT]\tprint the volume label, or set it to TEXT");
FW_CLI_COMMAND("volume",
               "volume E: ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH | label [TEXT]"
               "  the files of a FAT32/exFAT volume (E: from `list`)",
               VolumeCommand);

}  // namespace fw::cli
