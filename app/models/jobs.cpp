#include "app/models/jobs.h"

namespace fw {

Jobs& TheJobs() {
  static Jobs jobs;
  return jobs;
}

std::string& CloverDLRev() {
  static std::string rev = "0";
  return rev;
}

}  // namespace fw
