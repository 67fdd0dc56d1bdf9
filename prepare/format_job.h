// The format job: the worker that turns the selected disk into a bootable drive. It checks the
// target, asks for confirmation, wipes the old partition structures, writes a new MBR with one or
// two partitions, formats the first one, puts the chosen boot code into its boot record and
// installs a data set (Clover or FreeDos files) onto it.
//
//   fw::SetCurrentDisk(diskNumber, -1);          // or a click in the drive tree
//   fw::FormatThread(fw::FormatInstallDataArgument(fw::Settings()));
//   fw::LastFormatOutcome().ok ...
//
// Everything the job tells the user goes through the Ui (status line, message boxes) and the
// debug log; the outcome record is for front ends that need an exit status.
#pragma once

#include <string>

#include "app/settings.h"
#include "datasets/clover_local_distr.h"
#include "disk/disk_record.h"

namespace fw {

// The Clover archive chosen in the local repository is TheCloverChoice() of
// datasets/clover_local_distr.h; the revision to download is CloverDLRev() of app/models/jobs.h
// ("0" = the latest).

// The revision text of a data-set or release archive name: "Clover-5151-X64.zip" → "5151";
// "" when the name does not have that shape.
std::string CloverRevisionOfName(const std::string& path);

// The argument the Format button passes: 1 for FreeDos, and for Clover / Not_Format unless
// InstallDataSet is "Not_Install"; 0 otherwise.
int FormatInstallDataArgument(const SettingsRecord& settings);

// The lines of the confirmation box that describe the job (dlRev: the revision to download).
std::string BuildTaskSummary(const SettingsRecord& settings, int InstallData,
                             const CloverChoice& clover, const std::string& dlRev);
// ProductId VendorId size (letters).
std::string BuildDeviceDescription(const DiskRecord& disk);

// How the last job ended.
struct FormatOutcome {
  bool ran = false;               // the job got past the confirmation
  bool ok = false;                // it ended well (and installed the data set when asked)
  bool dataSetAsked = false;      // a data set was to be installed
  bool dataSetInstalled = false;  // and was
  std::string failure;            // why it did not end well ("" when ok)
};
const FormatOutcome& LastFormatOutcome();

// What a front end may ask of one run beyond the settings.
struct FormatJobOptions {
  // Reads every file of the installed data set back through the file-system engine, as the
  // storage holds it, and compares it with the zip's CRC-32 (datasets/data_zip_verify.h); a file
  // that differs fails the job with its name.
  bool verifyDataSet = false;
};

// The worker. InstallData 1 = install a data set after the boot records.
void FormatThread(int InstallData);
void FormatThread(int InstallData, const FormatJobOptions& options);

// Starts FormatThread on a worker of the process (the Format button, app/workers.h). Does nothing
// while a job runs.
void StartFormatThread(int InstallData);
// Fills the Format entry of the window job table (at start-up, before the event loop).
void RegisterFormatJob();

}  // namespace fw
