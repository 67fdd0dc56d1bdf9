// flashwright-cli format: the format job on the attached image or a disk of the inventory.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/models/jobs.h"
#include "app/settings.h"
#include "cli/cli.h"
#include "cli/disk.h"
#include "cli/help.h"
#include "datasets/dataset_services.h"
#include "disk/inventory.h"
#include "prepare/format_job.h"

namespace fw::cli {

namespace {

bool IsOneOf(const std::string& v, std::initializer_list<const char*> allowed) {
  for (const char* a : allowed)
    if (v == a) return true;
  return false;
}

// The options go into the settings the job reads, for this run only: on every way out (a usage
// error, no such disk, the job's end) the settings return to what the file had, so the exit's
// save never writes them. What the job itself changed stays: the revision check's results, and
// the file system FreeDos forces, unless an option chose the boot records or the file system.
class RunOnlySettings {
 public:
  RunOnlySettings() : saved_(Settings()) {}
  ~RunOnlySettings() {
    SettingsRecord& s = Settings();
    const SettingsRecord ran = s;
    s = saved_;
    s.CloverLastRev = ran.CloverLastRev;
    s.CloverLastRevCheckDate = ran.CloverLastRevCheckDate;
    if (jobRan && !bootRecordsGiven && !fileSystemGiven) s.FileSystem = ran.FileSystem;
  }
  RunOnlySettings(const RunOnlySettings&) = delete;
  RunOnlySettings& operator=(const RunOnlySettings&) = delete;
  bool bootRecordsGiven = false;
  bool fileSystemGiven = false;
  bool jobRan = false;

 private:
  const SettingsRecord saved_;
};

int FormatCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  SettingsRecord& s = Settings();
  RunOnlySettings runOnly;
  CloverChoice& clover = TheCloverChoice();
  int64_t diskNumber = -1;
  FormatJobOptions jobOptions;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--verify") {
      jobOptions.verifyDataSet = true;
      continue;
    }
    if (i + 1 >= args.size()) return Fail(kExitUsage, a + " needs a value (see --help)");
    const std::string& v = args[++i];
    int64_t n = 0;
    if (a == "--disk") {
      if (!ParseInt(v, 0, 49, &diskNumber)) return Fail(kExitUsage, "--disk takes 0..49");
    } else if (a == "--boot-records") {
      if (!IsOneOf(v, {"Clover", "Windows", "FreeDos", "Not_Format"}))
        return Fail(kExitUsage, "--boot-records takes Clover, Windows, FreeDos or Not_Format");
      s.Boot_records = v;
      runOnly.bootRecordsGiven = true;
    } else if (a == "--file-system") {
      if (!IsOneOf(v, {"FAT32", "FAT32-LBA", "exFAT", "NTFS", "UDF"}))
        return Fail(kExitUsage, "--file-system takes FAT32, FAT32-LBA, exFAT, NTFS or UDF");
      s.FileSystem = v;
      runOnly.fileSystemGiven = true;
    } else if (a == "--align") {
      if (!IsOneOf(v, {"63", "2048", "4096", "8192"}))
        return Fail(kExitUsage, "--align takes 63, 2048, 4096 or 8192");
      s.StartLBASector = v;
    } else if (a == "--multi-partitions") {
      if (!ParseInt(v, 0, 1, &n)) return Fail(kExitUsage, "--multi-partitions takes 0 or 1");
      s.MultiPartitions = static_cast<int>(n);
    } else if (a == "--boot-size") {
      if (!ParseInt(v, 32, 2000000, &n))
        return Fail(kExitUsage, "--boot-size takes 32..2000000 MB");
      s.BootPartitionSize = n;
    } else if (a == "--label") {
      s.VolumeLabel = v;
    } else if (a == "--quick-format") {
      if (!ParseInt(v, 0, 1, &n)) return Fail(kExitUsage, "--quick-format takes 0 or 1");
      s.QuickFormat = static_cast<int>(n);
    } else if (a == "--data-set") {
      if (!IsOneOf(v, {"Local", "DL", "Not_Install"}))
        return Fail(kExitUsage, "--data-set takes Local, DL or Not_Install");
      s.InstallDataSet = v;
    } else if (a == "--clover-rev") {
      if (!ParseInt(v, 1, 99999999, &n)) return Fail(kExitUsage, "--clover-rev takes a revision");
      CloverDLRev() = std::to_string(n);
    } else if (a == "--local-distr") {
      std::error_code ec;
      clover.CloverLocalSelectedName = std::filesystem::absolute(v, ec).string();
      clover.CloverLocalSelectedRev = CloverRevisionOfName(v);
    } else {
      return Fail(kExitUsage, "format: unknown option " + a);
    }
  }

  if (const int status = AttachCommandImage(options)) return status;
  InstallSystemDataSetServices();
  UpdateAllDrives();
  if (const int status = ChooseCommandDisk(options, "format", &diskNumber)) return status;
  if (SetCurrentDisk(static_cast<int32_t>(diskNumber), -1) == 0)
    return Fail(kExitFailure, "no disk " + std::to_string(diskNumber) + " is offered");

  FormatThread(FormatInstallDataArgument(s), jobOptions);
  runOnly.jobRan = true;

  const FormatOutcome& outcome = LastFormatOutcome();
  if (!outcome.ok) return Fail(kExitFailure, "format: " + outcome.failure);
  return kExitOk;
}

}  // namespace

FW_CLI_HELP("format", "", "wipe a disk or image and make it bootable (the Format button)",
            "Wipes the disk and makes it bootable: a new partition table, the first partition "
            "formatted, the program's boot code, the data set. It shows the task and asks first "
            "(--yes answers). The options hold for this run only; the rest comes from the "
            "settings.\n\n"
            "--disk N\tthe disk number that list shows (not needed with --image)\n"
            "--boot-records Clover|Windows|FreeDos|Not_Format\tthe boot code and data set; "
            "Not_Format keeps the disk's layout and only installs the data set\n"
            "--file-system FAT32|FAT32-LBA|exFAT|NTFS|UDF\tthe first partition's file system "
            "(NTFS needs mkntfs, UDF mkudffs)\n"
            "--align 63|2048|4096|8192\tthe sector the first partition starts at\n"
            "--multi-partitions 0|1\t1: a boot partition of --boot-size MB and a second one over "
            "the rest\n"
            "--boot-size MB\tthe boot partition's size, 32 to 2000000\n"
            "--label TEXT\tthe volume label (at most 11 characters)\n"
            "--quick-format 0|1\t0 zeroes the partition before the file system is made\n"
            "--data-set Local|DL|Not_Install\tthe Clover data set: from the local repository, "
            "the release downloaded from the Clover project, or none\n"
            "--clover-rev N\twith --data-set DL: this Clover revision instead of the latest\n"
            "--local-distr FILE\twith --data-set Local: a data-set zip or a release archive "
            "(Clover-N-X64.iso.7z)\n"
            "--verify\tread every file of the data set back from the volume and compare it with "
            "the zip");
FW_CLI_COMMAND("format",
               "format [--disk N] [--boot-records Clover|Windows|FreeDos|Not_Format] "
               "[--file-system FAT32|FAT32-LBA|exFAT|NTFS|UDF] [--align 63|2048|4096|8192] "
               "[--multi-partitions 0|1] [--boot-size MB] [--label TEXT] [--quick-format 0|1] "
               "[--data-set Local|DL|Not_Install] [--clover-rev N] [--local-distr FILE] "
               "[--verify]",
               FormatCommand);

}  // namespace fw::cli
