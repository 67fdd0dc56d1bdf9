// The data-set routines against the real system: a file-size limit that cuts the unpacked item
// short, and flashwright-cli extracting onto the volume of an attached disk image (read back with
// mtools, checked with fsck.fat), refused while another program holds the image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "datasets/packed_items.h"
#include "datasets/test_support.h"

namespace {

using namespace fwtest;

int Shell(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST(UnpackInternalMemory, ShortWriteShowsTheBoxAndLeavesNoFile) {
  Scratch s;
  s.ui.boxes.clear();
  const uint32_t size = uint32_t(PackedFreeDosDataSet[0]) | uint32_t(PackedFreeDosDataSet[1]) << 8 |
                        uint32_t(PackedFreeDosDataSet[2]) << 16;
  ASSERT_GT(size, 200u);
  // In a child, with files limited to half the payload: the write comes up short.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{size / 2, size / 2};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    const std::string name = fw::UnpackInternalMemoryToTempFile(
        PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength));
    if (!name.empty()) _exit(11);
    if (s.ui.boxes !=
        std::vector<std::string>{"Error: Error UnpackInternalMemoryToTempFile: WriteData Error"})
      _exit(12);
    if (!s.FilesUnder(s.work).empty()) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setrlimit, 11 a name came back, 12 boxes, 13 file left";
}

class CliOnImage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "attaching a disk image needs root";
    if (!fs::exists(FW_CLI_PATH)) GTEST_SKIP() << "flashwright-cli not built";
    image = s.Path("usb.img").string();
    // One FAT32 partition from sector 2048, made by the system's tools.
    ASSERT_EQ(Shell("truncate -s 96M " + image), 0);
    ASSERT_EQ(Shell("echo 'start=2048, type=c' | sfdisk " + image), 0);
    ASSERT_EQ(Shell("mkfs.fat -F 32 --offset 2048 " + image + " " +
                    std::to_string((96 * 2048 - 2048) / 2)),
              0);
    volume = image + "@@" + std::to_string(2048 * 512);
  }

  int Cli(const std::string& args) {
    const std::string cmd = "cd '" + s.root.string() + "' && TMPDIR='" + s.root.string() +
                            "/systemp' '" FW_CLI_PATH "' --no-pauses --settings '" +
                            s.Path("fw.ini").string() + "' --image '" + image + "' " + args +
                            " >out.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // The letter the drive tree gives the image's partition.
  std::string Letter() {
    Cli("list");
    std::smatch m;
    const std::string listing = ReadFile(s.Path("out.txt"));
    const std::regex row("Partition 1: .* FAT32 .*([D-Z]:)");
    return std::regex_search(listing, m, row) ? m[1].str() : "";
  }

  bool Clean() {
    const std::string part = s.Path("part.img").string();
    return Shell("dd if=" + image + " of=" + part + " bs=512 skip=2048 status=none") == 0 &&
           Shell("fsck.fat -n " + part) == 0;
  }

  Scratch s;
  std::string image;
  std::string volume;  // the partition as mtools addresses it
};

TEST_F(CliOnImage, ExtractsOntoTheVolumeLetter) {
  const std::string letter = Letter();
  ASSERT_FALSE(letter.empty()) << ReadFile(s.Path("out.txt"));
  WriteFile(s.Path("Clover-5119-X64.zip"), MakeZip({{"boot", "Clover revision: 5119\n"},
                                                    {"EFI/CLOVER/config.plist", "<plist/>"},
                                                    {"../../escape", "x"}}));
  // The refused entry makes the command fail, and says so.
  ASSERT_EQ(
      Cli("extract-data-zip '" + s.Path("Clover-5119-X64.zip").string() + "' '" + letter + "\\'"),
      1)
      << ReadFile(s.Path("out.txt"));
  EXPECT_NE(ReadFile(s.Path("out.txt")).find("Extracted (3/3) files to " + letter + "\\"),
            std::string::npos);
  EXPECT_NE(ReadFile(s.Path("out.txt"))
                .find("extract-data-zip: 1 of 3 entries not written (1 refused, 0 failed)"),
            std::string::npos)
      << ReadFile(s.Path("out.txt"));
  WriteFile(s.Path("Clover-5119-X64.zip"), MakeZip({{"boot", "Clover revision: 5119\n"},
                                                    {"EFI/CLOVER/config.plist", "<plist/>"}}));
  EXPECT_EQ(Output("mtype -i " + volume + " ::/EFI/CLOVER/config.plist"), "<plist/>");
  EXPECT_EQ(Output("mtype -i " + volume + " ::/boot"), "Clover revision: 5119\n");
  EXPECT_EQ(Output("mdir -b -i " + volume + " ::/").find("escape"), std::string::npos);
  EXPECT_TRUE(Clean());

  // Into a folder of the volume, and the carried FreeDOS set onto the root.
  ASSERT_EQ(Cli("extract-data-zip '" + s.Path("Clover-5119-X64.zip").string() + "' '" + letter +
                "\\Saved'"),
            0);
  EXPECT_EQ(Output("mtype -i " + volume + " ::/Saved/EFI/CLOVER/config.plist"), "<plist/>");
  ASSERT_EQ(Cli("install-freedos " + letter), 0) << ReadFile(s.Path("out.txt"));
  EXPECT_EQ(Shell("mdir -i " + volume + " ::/KERNEL.SYS"), 0);
  EXPECT_TRUE(Clean());
}

TEST_F(CliOnImage, RefusedWhileAnotherProgramHoldsTheDisk) {
  const std::string letter = Letter();
  ASSERT_FALSE(letter.empty());
  WriteFile(s.Path("d.zip"), MakeZip({{"file", "data"}}));
  const int fd = open(image.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Cli("extract-data-zip '" + s.Path("d.zip").string() + "' " + letter), 1);
  close(fd);
  EXPECT_NE(Shell("mdir -i " + volume + " ::/file"), 0);
  EXPECT_EQ(Cli("extract-data-zip '" + s.Path("d.zip").string() + "' " + letter), 0);
  EXPECT_EQ(Output("mtype -i " + volume + " ::/file"), "data");
}

}  // namespace
