// The format job with a Clover release to fetch, on an image disk: a cancel while the release
// downloads ends the job before its question, with the disk untouched and the Format button back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/models/jobs.h"
#include "app/settings.h"
#include "disk/inventory.h"
#include "net/clover_release_download.h"
#include "net/http_get.h"
#include "platform/imagedisk/image_disk.h"
#include "prepare/format_job.h"
#include "tests/clover/clover_fixture.h"
#include "tests/clover/clover_test_support.h"

namespace fwtest {
namespace {

// Cancels (as the Format button does while a job runs) once the download has started.
class CancellingFrontEnd final : public CloverFrontEnd {
 public:
  void ShowStatus(const std::string& text, int percent) override {
    CloverFrontEnd::ShowStatus(text, percent);
    if (text.find("Clover-5151-X64.iso.7z (") != std::string::npos) {
      FormatStatus = 1;
      CancelMainThread = 1;
    }
  }
  void SetControlText(int window, int control, const std::string& text) override {
    CloverFrontEnd::SetControlText(window, control, text);
    if (window == fw::kMainWindow && control == fw::main_ctl::kFormat) buttons.push_back(text);
  }
  std::vector<std::string> buttons;
};

TEST_F(CloverTest, CancelWhileTheReleaseDownloadsLeavesTheDiskUntouched) {
  CancellingFrontEnd ui;
  FakeCodeHost site;
  site.Activate();
  site.SetInlinePage({"5151"});
  CloverIsoOptions iso;
  iso.rev = "5151";
  iso.extra.push_back({"EFI/CLOVER/OEM/big.bin", Noise(3 * 1024 * 1024)});
  site.SetArchive("5151", Slurp(MakeCloverReleaseArchive(root_ / "made", iso)));
  site.SetDownloadDripMs(100);
  ::setenv("FLASHWRIGHT_BLOCK_DEVICES", "", 1);
  const fs::path img = root_ / "disk.img";
  ASSERT_EQ(fw::CreateImageFile(img.string(), 300LL * 1024 * 1024), 1);
  {
    std::fstream mark(img, std::ios::binary | std::ios::in | std::ios::out);
    mark << "FIRST-SECTOR";
  }
  ASSERT_EQ(fw::AttachImageDisk(img.string(), 512), 1);
  fw::UpdateAllDrives();
  bool selected = false;
  for (const fw::DiskRecord& d : fw::DiskRecords())
    if (d.VendorId == "Image") selected = fw::SetCurrentDisk(d.DiskNumber, -1) == 1;
  ASSERT_TRUE(selected);
  fw::SettingsRecord& s = fw::Settings();
  s.Boot_records = "Clover";
  s.InstallDataSet = "DL";
  s.MultiPartitions = 0;

  fw::FormatThread(1);
  fw::JoinGetCloverRevThread();
  fw::DetachAllImageDisks();
  const fw::FormatOutcome& outcome = fw::LastFormatOutcome();
  EXPECT_FALSE(outcome.ok);
  EXPECT_FALSE(outcome.ran);
  EXPECT_EQ(outcome.failure, "cancelled while getting the data set");
  EXPECT_TRUE(ui.Saw("Clover Data set files Not Installed"));
  for (const std::string& box : ui.BoxTexts())
    EXPECT_EQ(box.find("WILL BE DESTROYED"), std::string::npos) << box;
  EXPECT_EQ(ui.buttons, (std::vector<std::string>{"Cancel", "Format Disk", "Format Disk"}));
  std::string first(12, '\0');
  std::ifstream(img, std::ios::binary).read(first.data(), 12);
  EXPECT_EQ(first, "FIRST-SECTOR");
  EXPECT_EQ(fw::LastCloverDownload().code, fw::kWebAborted);
  EXPECT_EQ(CancelMainThread.load(), 0);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

}  // namespace
}  // namespace fwtest
