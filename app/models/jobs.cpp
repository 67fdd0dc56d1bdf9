#include "app/models/jobs.h"

#include "app/ui.h"

namespace fw {

Jobs& TheJobs() {
  static Jobs jobs;
  return jobs;
}

void UpdateAllDrivesFromWorker() {
  Jobs& jobs = TheJobs();
  if (!jobs.UpdateAllDrives) return;
  jobs.UpdateAllDrives();
  TheUi().DriveListChanged();
}

std::string& CloverDLRev() {
  static std::string rev = "0";
  return rev;
}

}  // namespace fw
