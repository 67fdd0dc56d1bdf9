// flashwright-cli eject and hfs-support as a user runs them. The eject works on a loop device
// over a file of the test's own folder (root; skipped otherwise), with the inventory restricted
// to it; hfs-support writes into the test's folder through a loader of the test's own, and meets
// this machine's modprobe only where the kernel has no hfsplus module.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/scratch_folder_test_support.h"
#include "platform/process.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class CliSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir / "flashwright.ini") << "[Data Settings]\nEnableFixedDisks = 1\n";
  }
  void TearDown() override {
    for (const std::string& loop : loops) {
      if (RunProcess({"losetup", "-n", "-O", "BACK-FILE", loop}).output.find(dir.string()) !=
          std::string::npos)
        RunProcess({"losetup", "-d", loop});
    }
    unsetenv("FLASHWRIGHT_BLOCK_DEVICES");
    unsetenv("FLASHWRIGHT_MODULES_LOAD_DIR");
    unsetenv("FLASHWRIGHT_MODPROBE");
  }
  ProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {FW_CLI_PATH, "--settings", (dir / "flashwright.ini").string()});
    ProcessOptions options;
    options.workingDir = dir.string();
    return RunProcess(args, options);
  }
  // A loop device over a 64 MiB file; with `fat32`, partition 1 holds a FAT32 volume.
  std::string AttachLoop(const std::string& name, bool fat32) {
    if (geteuid() != 0) return "";
    const std::string file = (dir / name).string();
    std::ofstream{file};
    fs::resize_file(file, 64 << 20);
    if (fat32) {
      std::ofstream(dir / "layout") << "label: dos\nstart=2048, size=98304, type=c\n";
      EXPECT_EQ(RunProcess({"sh", "-c", "sfdisk -q " + file + " < " + (dir / "layout").string()})
                    .exitCode,
                0);
      EXPECT_EQ(RunProcess({"mkfs.fat", "-F", "32", "-s", "1", "--offset", "2048", file, "49152"})
                    .exitCode,
                0);
    }
    const ProcessResult r = RunProcess({"losetup", "-f", "--show", file});
    if (r.exitCode != 0) return "";
    loops.push_back(r.output.substr(0, r.output.find('\n')));
    return loops.back();
  }
  // Whether a loop device still shows the file `name` (other programs may take a freed loop
  // device at once, so devices are told by their files).
  bool Backed(const std::string& name) {
    return RunProcess({"losetup", "-a"}).output.find((dir / name).string()) != std::string::npos;
  }

  ScratchFolder scratch{"fw-cli-system"};
  fs::path dir = scratch.path();
  std::vector<std::string> loops;
};

TEST_F(CliSystem, EjectDetachesALoopDeviceWithAVolumeAndRefusesOneWithout) {
  const std::string stick = AttachLoop("stick.img", true);
  if (stick.empty()) GTEST_SKIP() << "loop devices need root";
  setenv("FLASHWRIGHT_BLOCK_DEVICES", fs::path(stick).filename().c_str(), 1);
  ASSERT_NE(Cli({"list"}).output.find("FAT32"), std::string::npos);
  ProcessResult r = Cli({"eject", "--disk", "0"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Disk 0 can be unplugged safely"), std::string::npos) << r.output;
  EXPECT_FALSE(Backed("stick.img"));
  EXPECT_EQ(Cli({"list"}).output.find("stick.img"), std::string::npos);

  const std::string blank = AttachLoop("blank.img", false);
  ASSERT_FALSE(blank.empty());
  setenv("FLASHWRIGHT_BLOCK_DEVICES", fs::path(blank).filename().c_str(), 1);
  r = Cli({"eject", "--disk", "0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("has no drive letter"), std::string::npos) << r.output;
  EXPECT_TRUE(Backed("blank.img"));
  EXPECT_EQ(Cli({"eject", "--disk", "50"}).exitCode, 2);
}

TEST_F(CliSystem, HfsSupportInstallsAndRemovesTheModulesLoadFile) {
  std::ofstream(dir / "modprobe") << "#!/bin/sh\necho \"$@\" >> " << (dir / "calls").string()
                                  << "\n";
  fs::permissions(dir / "modprobe", fs::perms::owner_all);
  setenv("FLASHWRIGHT_MODULES_LOAD_DIR", dir.c_str(), 1);
  setenv("FLASHWRIGHT_MODPROBE", (dir / "modprobe").c_str(), 1);
  const fs::path conf = dir / "flashwright-hfsplus.conf";

  EXPECT_NE(Cli({"hfs-support", "status"}).output.find("not installed"), std::string::npos);
  ProcessResult r = Cli({"hfs-support", "install"});  // no terminal, no --yes: Cancel
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(fs::exists(conf));
  r = Cli({"--yes", "hfs-support", "install"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(fs::exists(conf));
  EXPECT_EQ(Cli({"hfs-support", "status"}).output.rfind("installed: " + conf.string(), 0), 0u);
  EXPECT_EQ(Cli({"hfs-support", "remove"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(conf));
  r = Cli({"hfs-support", "remove"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Error: Failed to remove HFS+ drivers."), std::string::npos);
  EXPECT_EQ(Cli({"hfs-support", "mount"}).exitCode, 2);
  // The module was loaded once; the fake kernel never reports it loaded, so nothing to unload.
  std::ifstream calls(dir / "calls");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(calls)), {}), "hfsplus\n");
  // A query: the settings file is not saved, no example download list is left behind.
  EXPECT_FALSE(fs::exists(dir / "UserDL.ini"));
}

TEST_F(CliSystem, AKernelWithoutHfsplusGetsAClearMessageAndNoFile) {
  const ProcessResult dryRun = RunProcess({"modprobe", "-n", "hfsplus"});
  if (!dryRun.started || dryRun.exitCode == 0)
    GTEST_SKIP() << "this kernel has an hfsplus module (or there is no modprobe): not loaded here";
  setenv("FLASHWRIGHT_MODULES_LOAD_DIR", dir.c_str(), 1);
  const ProcessResult r = Cli({"--yes", "hfs-support", "install"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Error: Failed to install HFS+ drivers.\r\nThis kernel has no HFS+ "
                          "driver (the hfsplus module): modprobe: FATAL: Module hfsplus not found"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(dir / "flashwright-hfsplus.conf"));
}

}  // namespace
}  // namespace fw
