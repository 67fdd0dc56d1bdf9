#include "datasets/hfs_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/models/fake_front_end_test.h"
#include "app/scratch_folder_test_support.h"
#include "platform/linux/kernel_modules.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

// A kernel whose hfsplus module may be missing, loaded, in use or built in.
class FakeModules final : public KernelModules {
 public:
  explicit FakeModules(std::string folder) : folder_(std::move(folder)) {}
  std::string ModulesLoadFolder() override { return folder_; }
  bool IsLoaded(const std::string&) override { return loaded; }
  ModuleLoad Load(const std::string& module, std::string* reason) override {
    calls.push_back("load " + module);
    if (!present) {
      *reason = "modprobe: FATAL: Module hfsplus not found in directory /lib/modules/6.1";
      return ModuleLoad::kNoSuchModule;
    }
    loaded = true;
    return ModuleLoad::kLoaded;
  }
  bool Unload(const std::string& module, std::string* reason) override {
    calls.push_back("unload " + module);
    if (inUse) {
      *reason = "modprobe: FATAL: Module hfsplus is in use.";
      return false;
    }
    loaded = false;
    return true;
  }
  bool present = true, loaded = false, inUse = false;
  std::vector<std::string> calls;

 private:
  std::string folder_;
};

class AnsweringFrontEnd final : public testing::FakeFrontEnd {
 public:
  MsgAnswer MessageBox(const std::string& title, const std::string& text, MsgButtons buttons,
                       MsgIcon icon) override {
    FakeFrontEnd::MessageBox(title, text, buttons, icon);
    return buttons == MsgButtons::OkCancel ? answer : MsgAnswer::Ok;
  }
  MsgAnswer answer = MsgAnswer::Ok;
};

class HfsSupport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    conf = dir / "flashwright-hfsplus.conf";
  }
  std::string Conf() const {
    std::ifstream in(conf);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool InstallEnabled() { return ui.menuEnabled[menu_item::kInstallHfs]; }
  bool UnInstallEnabled() { return ui.menuEnabled[menu_item::kUnInstallHfs]; }
  std::string LastBox() const { return ui.boxes.back().title + "|" + ui.boxes.back().text; }

  ScratchFolder scratch{"fw-hfs"};
  fs::path dir = scratch.path(), conf;
  AnsweringFrontEnd ui;
};

TEST_F(HfsSupport, InstallLoadsTheModuleAndNamesItForEveryStart) {
  FakeModules modules(dir.string());
  EXPECT_EQ(CheckIfExistHFSDrivers(modules), 0);
  EXPECT_TRUE(InstallEnabled());
  EXPECT_FALSE(UnInstallEnabled());

  InstallHFSDrivers(modules);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].title, "Boot Camp HFS+ ReadOnly drivers");
  EXPECT_EQ(modules.calls, std::vector<std::string>{"load hfsplus"});
  EXPECT_NE(Conf().find("\nhfsplus\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "flashwright-hfsplus.conf.tmp"));
  EXPECT_EQ(LastBox(),
            "WARNING|The HFS+ driver (hfsplus) is loaded: HFS+ partitions can be read now, and it "
            "will be loaded at every start.");
  EXPECT_FALSE(InstallEnabled());
  EXPECT_TRUE(UnInstallEnabled());
  EXPECT_EQ(CheckIfExistHFSDrivers(modules), 1);
}

TEST_F(HfsSupport, AnAlreadyLoadedModuleIsOnlyNamedAndTheMessageSaysSo) {
  FakeModules modules(dir.string());
  modules.loaded = true;
  InstallHFSDrivers(modules);
  EXPECT_TRUE(modules.calls.empty());
  EXPECT_TRUE(fs::exists(conf));
  EXPECT_NE(LastBox().find("was already loaded"), std::string::npos);
}

TEST_F(HfsSupport, CancelChangesNothingAndShowsNoError) {
  FakeModules modules(dir.string());
  ui.answer = MsgAnswer::Cancel;
  InstallHFSDrivers(modules);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_TRUE(modules.calls.empty());
  EXPECT_FALSE(fs::exists(conf));
  EXPECT_TRUE(InstallEnabled());
}

TEST_F(HfsSupport, AKernelWithoutTheModuleGetsAClearMessageAndNoFile) {
  FakeModules modules(dir.string());
  modules.present = false;
  InstallHFSDrivers(modules);
  EXPECT_FALSE(fs::exists(conf));
  EXPECT_EQ(ui.boxes.back().icon, MsgIcon::Error);
  EXPECT_EQ(LastBox(),
            "Error|Failed to install HFS+ drivers.\r\nThis kernel has no HFS+ driver (the hfsplus "
            "module): modprobe: FATAL: Module hfsplus not found in directory /lib/modules/6.1");
  EXPECT_TRUE(InstallEnabled());
}

TEST_F(HfsSupport, AnUnwritableFolderFailsTheInstallWithoutAFile) {
  FakeModules modules((dir / "missing").string());
  InstallHFSDrivers(modules);
  EXPECT_EQ(ui.boxes.back().title, "Error");
  EXPECT_NE(ui.boxes.back().text.find("Failed to install HFS+ drivers.\r\ncannot write"),
            std::string::npos);
  EXPECT_TRUE(InstallEnabled());
}

TEST_F(HfsSupport, RemoveDeletesTheFileAndUnloadsTheModuleWhenNothingUsesIt) {
  FakeModules modules(dir.string());
  InstallHFSDrivers(modules);
  UnInstallHFSDrivers(modules);
  EXPECT_FALSE(fs::exists(conf));
  EXPECT_EQ(modules.calls.back(), "unload hfsplus");
  EXPECT_EQ(LastBox(), "WARNING|The HFS+ driver (hfsplus) is removed and unloaded.");
  EXPECT_TRUE(InstallEnabled());
  EXPECT_FALSE(UnInstallEnabled());

  // In use: the file goes, the module stays until the restart.
  InstallHFSDrivers(modules);
  modules.inUse = true;
  UnInstallHFSDrivers(modules);
  EXPECT_FALSE(fs::exists(conf));
  EXPECT_EQ(LastBox(),
            "WARNING|To complete the remove HFS drivers, you need to restart the computer.");

  // Nothing installed: nothing to remove.
  UnInstallHFSDrivers(modules);
  EXPECT_EQ(LastBox(), "Error|Failed to remove HFS+ drivers.");
}

// The Linux modules over a fake root and a fake modprobe.
class LinuxModules : public HfsSupport {
 protected:
  std::unique_ptr<KernelModules> Make(const std::string& script) {
    const fs::path modprobe = dir / "modprobe";
    std::ofstream(modprobe) << "#!/bin/sh\necho \"$@\" >> " << (dir / "calls").string() << "\n"
                            << script << "\n";
    fs::permissions(modprobe, fs::perms::owner_all);
    LinuxKernelModulesConfig config;
    config.modulesLoadFolder = dir.string();
    config.modprobe = modprobe.string();
    config.root = (dir / "root").string();
    fs::create_directories(dir / "root/proc");
    return MakeLinuxKernelModules(config);
  }
  std::string Calls() const {
    std::ifstream in(dir / "calls");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(LinuxModules, LoadedMeansAModuleFolderOrABuiltInFileSystem) {
  auto modules = Make("exit 0");
  std::ofstream(dir / "root/proc/filesystems") << "nodev\tsysfs\n\text4\n";
  EXPECT_FALSE(modules->IsLoaded("hfsplus"));
  std::ofstream(dir / "root/proc/filesystems") << "nodev\tsysfs\n\thfsplus\n";
  EXPECT_TRUE(modules->IsLoaded("hfsplus"));
  fs::remove(dir / "root/proc/filesystems");
  fs::create_directories(dir / "root/sys/module/hfsplus");
  EXPECT_TRUE(modules->IsLoaded("hfsplus"));
  EXPECT_EQ(modules->ModulesLoadFolder(), dir.string());
}

TEST_F(LinuxModules, TheLoadersWordsTellAMissingModuleFromOtherFailures) {
  std::string reason;
  auto missing =
      Make("echo 'modprobe: FATAL: Module hfsplus not found in directory /lib/x' >&2; exit 1");
  EXPECT_EQ(missing->Load("hfsplus", &reason), ModuleLoad::kNoSuchModule);
  EXPECT_EQ(reason, "modprobe: FATAL: Module hfsplus not found in directory /lib/x");
  auto refused =
      Make("echo 'modprobe: ERROR: could not insert: Operation not permitted' >&2; exit 1");
  EXPECT_EQ(refused->Load("hfsplus", &reason), ModuleLoad::kFailed);
  EXPECT_FALSE(refused->Unload("hfsplus", &reason));
  auto fine = Make("exit 0");
  EXPECT_EQ(fine->Load("hfsplus", &reason), ModuleLoad::kLoaded);
  EXPECT_TRUE(fine->Unload("hfsplus", &reason));
  EXPECT_EQ(Calls(), "hfsplus\nhfsplus\n-r hfsplus\nhfsplus\n-r hfsplus\n");

  LinuxKernelModulesConfig none;
  none.modprobe = (dir / "no-such-modprobe").string();
  EXPECT_EQ(MakeLinuxKernelModules(none)->Load("hfsplus", &reason), ModuleLoad::kFailed);
  EXPECT_NE(reason.find("cannot run"), std::string::npos);
}

}  // namespace
}  // namespace fw
