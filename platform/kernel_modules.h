// Kernel modules: loading one now (modprobe) and at every start (a file in the modules-load
// folder). The HFS+ read support (datasets/hfs_support.h) is their one user.
#pragma once

#include <string>

namespace fw {

enum class ModuleLoad { kLoaded, kNoSuchModule, kFailed };

class KernelModules {
 public:
  virtual ~KernelModules() = default;
  // The folder whose "*.conf" files name the modules loaded at every start
  // ("/etc/modules-load.d").
  virtual std::string ModulesLoadFolder() = 0;
  // True when the running kernel has the module loaded (or built in).
  virtual bool IsLoaded(const std::string& module) = 0;
  // Loads the module now. kNoSuchModule when this kernel has no such module; *reason holds the
  // loader's own words otherwise.
  virtual ModuleLoad Load(const std::string& module, std::string* reason) = 0;
  // Unloads the module; false with *reason when it is in use or built in.
  virtual bool Unload(const std::string& module, std::string* reason) = 0;
};

// The running system's modules (modprobe, /etc/modules-load.d).
KernelModules& SystemKernelModules();

}  // namespace fw
