#include "app/job_wiring.h"

#include <string>
#include <vector>

#include "app/clover_wiring.h"
#include "app/models/download_center.h"
#include "app/models/jobs.h"
#include "app/ui.h"
#include "datasets/dataset_services.h"
#include "datasets/hfs_support.h"
#include "datasets/mac_image_jobs.h"
#include "disk/inventory.h"
#include "disk/safe_removal.h"
#include "images/image_jobs.h"
#include "platform/imagedisk/image_disk.h"
#include "prepare/format_job.h"

namespace fw {

void WireJobs() {
  InstallSystemDataSetServices();
  RegisterFormatJob();
  RegisterImageJobs();
  RegisterMacImageJobs();
  WireCloverJobs();
  RegisterDownloadCenter();
  Jobs& jobs = TheJobs();
  jobs.UpdateAllDrives = [] { UpdateAllDrives(); };
  jobs.DriveTreeRows = [] {
    int selected = -1;
    std::vector<DriveTreeRow> rows;
    for (const DriveListRow& r : DriveListRowsNow(&selected)) {
      rows.push_back({r.text, r.level == 1, static_cast<int>(rows.size()) == selected});
    }
    return rows;
  };
  jobs.SetCurrentDisk = [](int row) {
    SelectDriveListRow(row);
    SetCurrentDisk();
  };
  jobs.RemoveSelectedDrive = [] { RemoveDriveByLetter(); };
  jobs.InstallHFSDrivers = [] { InstallHFSDrivers(); };
  jobs.UnInstallHFSDrivers = [] { UnInstallHFSDrivers(); };
  jobs.HFSDriversInstalled = [] { return CheckIfExistHFSDrivers() == 1; };
  // Images the user attaches here come back at the next start.
  SetRememberAttachedImages(true);
  KeepAttachedImagesInSettings();
  jobs.AttachDiskImage = [](const std::string& path) {
    std::string why;
    if (AttachImageDisk(path, 512, &why)) return 1;
    MessageBox("Error", "Can't attach disk image:\r\n" + path + "\r\n" + why, MsgButtons::Ok,
               MsgIcon::Error);
    return 0;
  };
  jobs.CreateDiskImage = [](const std::string& path, int64_t bytes) {
    // The chooser has asked before replacing a file. A replaced image starts blank: resizing the
    // old file alone would keep its partition table and data. Only plain files are replaced.
    std::string why;
    if (CreateImageFile(path, bytes, true, &why) && AttachImageDisk(path, 512, &why)) return 1;
    MessageBox("Error", "Can't create disk image:\r\n" + path + "\r\n" + why, MsgButtons::Ok,
               MsgIcon::Error);
    return 0;
  };
}

}  // namespace fw
