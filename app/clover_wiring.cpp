#include "app/clover_wiring.h"

#include "app/models/jobs.h"
#include "app/startup.h"
#include "datasets/clover_local_distr.h"
#include "net/clover_rev_check.h"

namespace fw {

void WireCloverJobs() {
  Jobs& jobs = TheJobs();
  jobs.CheckCloverLastRev = [](int) { CheckCloverLastRev(); };
  jobs.RefreshCloverLocalDistrList = RefreshCloverLocalDistrList;
  jobs.StartRefreshCloverLocalDistrList = [](int) { StartRefreshCloverLocalDistrList(); };
  jobs.LocalDistrCount = [] { return static_cast<int>(CloverLocalDistrs().size()); };
  jobs.DisplayCloverLocalDistrRev = DisplayCloverLocalDistrRev;
  jobs.KnownCloverRevisions = KnownCloverRevisions;

  StartupHooks& hooks = Hooks();
  hooks.findCloverLocalDistr = StartFindCloverLocalDistr;
  hooks.checkCloverLastRev = CheckCloverLastRev;
  hooks.addKnownCloverRev = AddKnownCloverRevision;
}

}  // namespace fw
