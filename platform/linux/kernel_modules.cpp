#include "platform/linux/kernel_modules.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/process.h"

namespace fw {
namespace {

std::string OneLine(const std::string& output) {
  std::string text = output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text)
    if (c == '\n') c = ' ';
  return text;
}

class LinuxKernelModules final : public KernelModules {
 public:
  explicit LinuxKernelModules(LinuxKernelModulesConfig config) : config_(std::move(config)) {
    if (config_.root.empty() || config_.root.back() != '/') config_.root += '/';
  }

  std::string ModulesLoadFolder() override { return config_.modulesLoadFolder; }

  bool IsLoaded(const std::string& module) override {
    if (access((config_.root + "sys/module/" + module).c_str(), F_OK) == 0) return true;
    // A file system built into the kernel has no module folder but is listed here.
    std::ifstream in(config_.root + "proc/filesystems");
    for (std::string line; std::getline(in, line);) {
      const size_t tab = line.rfind('\t');
      if (line.substr(tab == std::string::npos ? 0 : tab + 1) == module) return true;
    }
    return false;
  }

  ModuleLoad Load(const std::string& module, std::string* reason) override {
    const ProcessResult r = RunProcess({config_.modprobe, module});
    if (r.started && r.exitCode == 0) return ModuleLoad::kLoaded;
    if (reason)
      *reason = r.output.empty() ? DescribeProcessEnd({config_.modprobe}, r) : OneLine(r.output);
    // kmod's words for a module that this kernel does not have.
    if (r.started && r.output.find("not found") != std::string::npos)
      return ModuleLoad::kNoSuchModule;
    return ModuleLoad::kFailed;
  }

  bool Unload(const std::string& module, std::string* reason) override {
    const ProcessResult r = RunProcess({config_.modprobe, "-r", module});
    if (r.started && r.exitCode == 0) return true;
    if (reason)
      *reason = r.output.empty() ? DescribeProcessEnd({config_.modprobe}, r) : OneLine(r.output);
    return false;
  }

 private:
  LinuxKernelModulesConfig config_;
};

}  // namespace

LinuxKernelModulesConfig SystemKernelModulesConfig() {
  LinuxKernelModulesConfig config;
  if (const char* folder = std::getenv("FLASHWRIGHT_MODULES_LOAD_DIR"); folder && *folder)
    config.modulesLoadFolder = folder;
  if (const char* loader = std::getenv("FLASHWRIGHT_MODPROBE"); loader && *loader)
    config.modprobe = loader;
  return config;
}

std::unique_ptr<KernelModules> MakeLinuxKernelModules(const LinuxKernelModulesConfig& config) {
  return std::make_unique<LinuxKernelModules>(config);
}

KernelModules& SystemKernelModules() {
  static std::unique_ptr<KernelModules> modules =
      MakeLinuxKernelModules(SystemKernelModulesConfig());
  return *modules;
}

}  // namespace fw
