// The local repository: which files it lists, in which order, and the choice it keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/models/ui_event.h"
#include "app/models/window_model.h"
#include "app/settings.h"
#include "datasets/clover_local_distr.h"
#include "datasets/test_support.h"
#include "tests/clover/clover_fixture.h"
#include "tests/clover/clover_test_support.h"

namespace fwtest {
namespace {

using namespace fw::cfg_ctl;
constexpr int W = fw::kConfigWindow;

std::vector<std::string> Listed() {
  std::vector<std::string> out;
  for (const auto& d : fw::CloverLocalDistrs())
    out.push_back(d.FileName + " (Rev." + std::to_string(d.Rev) + ")");
  return out;
}

class CloverRepoTest : public CloverTest {
 protected:
  // The repository of the Part's example: a release archive, a data-set zip, a zip without "boot".
  void FillExampleRepository() {
    WriteFile(repo_ / "Clover-5119-X64.iso.7z", std::string("7z\xBC\xAF\x27\x1C", 6) + "rest");
    WriteDataSetZip(repo_ / "Clover-5070-X64.zip", "5070");
    WriteDataSetZip(repo_ / "other.zip", "");
  }
  void OpenConfigWindow(bool localChosen) {
    ui_.OpenWindow(W);
    ui_.SetChecked(W, localChosen ? kSourceLocal : kSourceDl, true);
  }
  std::string Choice() const { return fw::TheCloverChoice().CloverLocalSelectedName; }
};

TEST_F(CloverRepoTest, ListsUsableFilesHighestFirstAndChoosesTheLowest) {
  FillExampleRepository();
  WriteFile(repo_ / "notes.txt", "not a distribution");
  fs::create_directories(repo_ / "Clover-9999-X64.zip");  // a folder is no file
  fw::FindCloverLocalDistr();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Clover-5119-X64.iso.7z (Rev.5119)",
                                                "Clover-5070-X64.zip (Rev.5070)"}));
  EXPECT_EQ(Choice(), (repo_ / "Clover-5070-X64.zip").string());
  EXPECT_EQ(fw::TheCloverChoice().CloverLocalSelectedRev, "5070");
}

TEST_F(CloverRepoTest, ArchiveNamesWithoutRevisionAndZipsWithoutSignature) {
  WriteFile(repo_ / "clover.7z", std::string("7z\xBC\xAF\x27\x1C", 6));
  // A good data-set zip behind two stray bytes: a zip reader would find it from its end, but a
  // file that does not start with "PK" is never opened as a zip.
  WriteDataSetZip(root_ / "good.zip", "5150");
  WriteFile(repo_ / "Clover-5150-X64.zip", "XX" + Slurp(root_ / "good.zip"));
  WriteFile(repo_ / "Clover-5151-X64.iso.7z", "neither 7-Zip nor zip");
  fw::FindCloverLocalDistr();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"clover.7z (Rev.0)"}));
  EXPECT_EQ(fw::CloverArchiveRevisionOfName("Clover-5119-X64.iso.7z"), 5119);
  EXPECT_EQ(fw::CloverArchiveRevisionOfName("Clover-r5119-X64.iso.7z"), 0);
  EXPECT_EQ(fw::CloverArchiveRevisionOfName("Clover-99999999999-X64.iso.7z"), 0);
}

TEST_F(CloverRepoTest, OpeningTheWindowShowsTheHighestAndMakesItTheChoice) {
  FillExampleRepository();
  fw::FindCloverLocalDistr();  // the start-up scan
  ASSERT_EQ(fw::TheCloverChoice().CloverLocalSelectedRev, "5070");
  OpenConfigWindow(/*localChosen=*/true);
  fw::RefreshCloverLocalDistrList(-65535);
  EXPECT_EQ(ui_.Combo(W, kLocalDistrList),
            (std::vector<std::string>{"Clover-5119-X64.iso.7z", "Clover-5070-X64.zip"}));
  EXPECT_EQ(ui_.Selected(W, kLocalDistrList), "Clover-5119-X64.iso.7z");
  EXPECT_EQ(ui_.Text(W, kLocalDistrRev), "Rev: 5119");
  EXPECT_TRUE(ui_.Enabled(W, kLocalDistrList));
  EXPECT_EQ(Choice(), (repo_ / "Clover-5119-X64.iso.7z").string());
  // Another file shown in the list becomes the choice.
  ui_.SelectComboItem(W, kLocalDistrList, 1);
  fw::DisplayCloverLocalDistrRev();
  EXPECT_EQ(ui_.Text(W, kLocalDistrRev), "Rev: 5070");
  EXPECT_EQ(fw::TheCloverChoice().CloverLocalSelectedRev, "5070");
}

TEST_F(CloverRepoTest, ListIsDisabledUnlessLocalIsChosen) {
  FillExampleRepository();
  OpenConfigWindow(/*localChosen=*/false);
  fw::RefreshCloverLocalDistrList(-65535);
  EXPECT_FALSE(ui_.Enabled(W, kLocalDistrList));
  EXPECT_FALSE(ui_.Enabled(W, kLocalDistrRev));
  EXPECT_EQ(ui_.Text(W, kLocalDistrRev), "Rev: 5119");
}

TEST_F(CloverRepoTest, EmptyRepositorySaysNotFoundAndKeepsTheLastChoice) {
  fw::TheCloverChoice() = {"/old/Clover-5000-X64.zip", "5000"};
  OpenConfigWindow(/*localChosen=*/true);
  fw::RefreshCloverLocalDistrList(-65535);
  EXPECT_EQ(ui_.Text(W, kLocalDistrRev), "Not Found");
  EXPECT_FALSE(ui_.Enabled(W, kLocalDistrList));
  EXPECT_TRUE(ui_.Combo(W, kLocalDistrList).empty());
  EXPECT_EQ(Choice(), "/old/Clover-5000-X64.zip");
  // A repository folder that does not exist lists nothing either.
  fw::Settings().CloverLocalRepository = (root_ / "missing/").string();
  fw::FindCloverLocalDistr();
  EXPECT_TRUE(fw::CloverLocalDistrs().empty());
}

TEST_F(CloverRepoTest, ScansOnTheWorkerAreNotLost) {
  FillExampleRepository();
  OpenConfigWindow(/*localChosen=*/true);
  fw::StartFindCloverLocalDistr();
  fw::StartRefreshCloverLocalDistrList();  // asked while the first may still run
  fw::JoinCloverLocalDistrWorker();
  EXPECT_EQ(ui_.Text(W, kLocalDistrRev), "Rev: 5119");
  EXPECT_EQ(Listed().size(), 2u);
}

}  // namespace
}  // namespace fwtest
