#include "datasets/data_zip.h"

#include <gtest/gtest.h>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "datasets/test_support.h"

namespace {

using namespace fwtest;

TEST(Validate7zZIPFile, LooksAtTheFirstTwoBytesOnly) {
  Scratch s;
  WriteFile(s.Path("a.zip"), "PKnot really a zip");
  WriteFile(s.Path("b.7z"), "7z\xBC\xAF");
  WriteFile(s.Path("c.txt"), "hello");
  WriteFile(s.Path("empty"), "");
  EXPECT_EQ(fw::Validate7zZIPFile(s.Path("a.zip").string()), 1);
  EXPECT_EQ(fw::Validate7zZIPFile(s.Path("b.7z").string()), 1);
  EXPECT_EQ(fw::Validate7zZIPFile(s.Path("c.txt").string()), 0);
  EXPECT_EQ(fw::Validate7zZIPFile(s.Path("empty").string()), 0);
  EXPECT_EQ(fw::Validate7zZIPFile(s.Path("missing").string()), 0);
  // Passing the signature test is not being a zip.
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("out").string(), false, s.Path("a.zip").string(),
                               false, false),
            0);
}

TEST(TestDataZip, ReadsTheRevisionOfTheRootBootFile) {
  Scratch s;
  auto revisionOf = [&](const std::vector<ZipItem>& items) {
    WriteFile(s.Path("d.zip"), MakeZip(items));
    return fw::TestDataZip(s.Path("d.zip").string());
  };
  EXPECT_EQ(revisionOf({{"EFI/", "", true},
                        {"boot0", "Clover revision: 1"},
                        {"boot",
                         "\x7F"
                         "ELF\r\nbinary\rClover revision: 5119 and more text\n"}}),
            5119);
  EXPECT_EQ(revisionOf({{"EFI/boot", "Clover revision: 5119\n"}}), 0);
  EXPECT_EQ(revisionOf({{"Boot", "Clover revision: 5119\n"}}), 0);
  EXPECT_EQ(revisionOf({{"boot", "no revision here\n"}}), 0);
  EXPECT_EQ(revisionOf({{"boot", "Clover revision: x12\n"}}), 0);
  EXPECT_EQ(revisionOf({{"boot", "Clover revision: 99999999999\n"}}), 0);
  EXPECT_EQ(fw::TestDataZip(s.Path("missing.zip").string()), 0);
  EXPECT_EQ(fw::TestDataZip(""), 0);
  // Nothing is left in the temporary folder.
  EXPECT_TRUE(s.FilesUnder(s.Path("systemp")).empty());

  WriteFile(s.Path("d.zip"), MakeZip({{"boot", "Clover revision: 4000\n"}}));
  FormatStatus = 1;
  EXPECT_EQ(fw::TestDataZip(s.Path("d.zip").string()), 0);
}

TEST(ExtractDataZip, ExtractsWithProgressAndSameTargetWithOrWithoutSeparator) {
  Scratch s;
  const std::string data(300000, 'x');
  WriteFile(
      s.Path("d.zip"),
      MakeZip({{"EFI/CLOVER/config.plist", "<plist/>"}, {"boot", data}, {"empty/", "", true}}));
  const fs::path target = s.Path("t");
  ASSERT_EQ(
      fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("d.zip").string(), true, false),
      1);
  EXPECT_EQ(ReadFile(target / "EFI/CLOVER/config.plist"), "<plist/>");
  EXPECT_EQ(ReadFile(target / "boot"), data);
  EXPECT_TRUE(fs::is_directory(target / "empty"));
  const std::string shown = target.string() + "/";
  std::vector<std::pair<std::string, int>> expected = {{"", -1},
                                                       {"Extracted (1/3) files to " + shown, 33},
                                                       {"Extracted (2/3) files to " + shown, 66},
                                                       {"Extracted (3/3) files to " + shown, 100},
                                                       {"", -1}};
  EXPECT_EQ(s.ui.statuses, expected);
  EXPECT_TRUE(fs::exists(s.Path("d.zip")));  // kept without DeleteZipAfter

  for (const char* suffix : {"/", "\\"}) {
    s.ui.statuses.clear();
    std::string withSuffix = target.string();
    withSuffix.append(suffix);
    ASSERT_EQ(
        fw::ExtractDataZip(nullptr, 0, withSuffix, false, s.Path("d.zip").string(), true, true), 1);
    EXPECT_EQ(s.ui.statuses[3].first, "Extracted (3/3) files to " + shown);
    EXPECT_EQ(s.FilesUnder(target),
              (std::vector<std::string>{"EFI/", "EFI/CLOVER/", "EFI/CLOVER/config.plist", "boot",
                                        "empty/"}));
    WriteFile(
        s.Path("d.zip"),
        MakeZip({{"EFI/CLOVER/config.plist", "<plist/>"}, {"boot", data}, {"empty/", "", true}}));
  }
}

// Records every pause asked of the one clock.
class RecordingClock : public fw::Clock {
 public:
  std::vector<int64_t> pauses;
  void Pause(int64_t milliseconds) override { pauses.push_back(milliseconds); }
  int64_t NowMs() const override { return 0; }
};

// Sets the format job's cancel request when the status line reports `atText`.
class CancellingUi : public RecordingUi {
 public:
  std::string atText;
  void ShowStatus(const std::string& text, int percent) override {
    RecordingUi::ShowStatus(text, percent);
    if (text == atText) FormatStatus = 1;
  }
};

TEST(ExtractDataZip, CancelInsideTheWalkEndsItWithSuccessAndWaitsOneSecond) {
  Scratch s;
  CancellingUi ui;
  fw::SetUi(&ui);
  RecordingClock clock;
  fw::SetClockForTesting(&clock);
  const std::string logPath = s.Path("debug.log").string();
  ASSERT_TRUE(fw::OpenLog(logPath));
  WriteFile(s.Path("d.zip"), MakeZip({{"one", "1"}, {"two", "2"}, {"three", "3"}}));
  const fs::path target = s.Path("t");
  ui.atText = "Extracted (1/3) files to " + target.string() + "/";
  const int32_t result =
      fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("d.zip").string(), true, true);
  fw::CloseLog();
  fw::SetClockForTesting(nullptr);
  fw::SetUi(&s.ui);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(s.FilesUnder(target), std::vector<std::string>{"one"});
  EXPECT_EQ(ui.statuses.size(), 3u);  // cleared, 1/3, cleared at the end
  EXPECT_EQ(clock.pauses, std::vector<int64_t>{1000});
  EXPECT_FALSE(fs::exists(s.Path("d.zip")));
  const std::string log = ReadFile(logPath);
  for (const std::string& line : std::vector<std::string>{
           "ExtractDataZip: PathToExtract$=" + target.string() +
               " sZipFileForUnpack=" + s.Path("d.zip").string(),
           "ExtractDataZip: Cancel(FormatStatus=#True)", "ExtractDataZip: ExtractDataZipSuccess=1",
           "ExtractDataZip: Deleted " + s.Path("d.zip").string()})
    EXPECT_NE(log.find(line), std::string::npos) << line;

  // Refused before the archive is opened: no wait.
  clock.pauses.clear();
  fw::SetClockForTesting(&clock);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, "", true, false), 0);
  fw::SetClockForTesting(nullptr);
  EXPECT_TRUE(clock.pauses.empty());
}

TEST(ExtractDataZip, NamesOutsideAsciiAreKept) {
  Scratch s;
  // A zip made by 7zz marks its names as UTF-8; this process runs in the "C" locale.
  const std::string name =
      "EFI/CLOVER/\xC3\x9C"
      "bersicht \xC3\xB1.txt";
  fs::create_directories(s.Path("src/EFI/CLOVER"));
  WriteFile(s.Path("src") / name, "inhalt");
  WriteFile(s.Path("src/boot"), "Clover revision: 5120\n");
  ASSERT_EQ(
      std::system(("cd '" + s.Path("src").string() + "' && 7zz a -tzip ../u.zip . >/dev/null 2>&1")
                      .c_str()),
      0);
  EXPECT_EQ(fw::TestDataZip(s.Path("u.zip").string()), 5120);
  ASSERT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("t").string(), false, s.Path("u.zip").string(),
                               false, false),
            1);
  EXPECT_EQ(ReadFile(s.Path("t") / name), "inhalt");
}

TEST(ExtractDataZip, RefusesBeforeStarting) {
  Scratch s;
  WriteFile(s.Path("d.zip"), MakeZip({{"a", "1"}}));
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, "", false, s.Path("d.zip").string(), false, false), 0);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("t").string(), false, "", false, false), 0);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("t").string(), true, "", false, false), 0);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("t").string(), false,
                               s.Path("missing.zip").string(), false, false),
            0);
  // A cancel request before the call: nothing extracted, no temporary zip made, yet the zip to
  // delete afterwards is still deleted.
  FormatStatus = 1;
  const unsigned char item[32] = {1};
  EXPECT_EQ(fw::ExtractDataZip(item, sizeof item, s.Path("t").string(), true, "", false, false), 0);
  EXPECT_TRUE(s.workFolder.empty());
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, s.Path("t").string(), false, s.Path("d.zip").string(),
                               false, true),
            0);
  EXPECT_FALSE(fs::exists(s.Path("t/a")));
  EXPECT_FALSE(fs::exists(s.Path("d.zip")));
  // A volume that cannot be opened.
  FormatStatus = 0;
  WriteFile(s.Path("d.zip"), MakeZip({{"a", "1"}}));
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, "E:", false, s.Path("d.zip").string(), false, false), 0);
}

TEST(SafeEntryPath, KeepsInsideNamesOnly) {
  EXPECT_EQ(fw::SafeEntryPath("EFI/CLOVER/config.plist"), "EFI/CLOVER/config.plist");
  EXPECT_EQ(fw::SafeEntryPath("EFI\\BOOT\\BOOTX64.efi"), "EFI/BOOT/BOOTX64.efi");
  EXPECT_EQ(fw::SafeEntryPath("./a//b/"), "a/b");
  EXPECT_EQ(fw::SafeEntryPath("a..b/..c"), "a..b/..c");
  for (const char* bad : {"../x", "a/../../x", "a/..", "/etc/x", "\\x", "..\\..\\x", "C:x", "C:\\x",
                          "a/b:stream", "a/\x01", "", "./", "//"})
    EXPECT_EQ(fw::SafeEntryPath(bad), "") << bad;
}

TEST(ExtractDataZip, HostileNamesAndLinksNeverLeaveTheTarget) {
  Scratch s;
  const fs::path target = s.Path("box/t");
  fs::create_directories(target);
  fs::create_directories(s.Path("outside"));
  fs::create_symlink(s.Path("outside"), target / "planted");
  WriteFile(s.Path("h.zip"), MakeZip({{"../escape1", "x"},
                                      {"a/../../escape2", "x"},
                                      {(s.Path("outside") / "abs").string(), "x"},
                                      {"..\\escape3", "x"},
                                      {"C:escape4", "x"},
                                      {"link", "", false, s.Path("outside").string()},
                                      {"link/through", "x"},
                                      {"planted/through", "x"},
                                      {"planted", "x"},
                                      {"good/file", "ok"}}));
  fw::ExtractTally tally;
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("h.zip").string(), false,
                               false, &tally),
            1);
  // Refused: the five names and the link; failed: the two ways through the planted link.
  EXPECT_EQ(tally.total, 10);
  EXPECT_EQ(tally.refused, 6);
  EXPECT_EQ(tally.failed, 2);
  EXPECT_EQ(tally.written, 2);
  EXPECT_EQ(fw::NotWrittenText(tally), "8 of 10 entries not written (6 refused, 2 failed)");
  EXPECT_TRUE(s.FilesUnder(s.Path("outside")).empty());
  EXPECT_FALSE(fs::exists(s.Path("box/escape1")));
  EXPECT_FALSE(fs::exists(s.Path("escape2")));
  EXPECT_EQ(ReadFile(target / "good/file"), "ok");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(target / "link")));
  EXPECT_EQ(ReadFile(target / "link/through"), "x");  // an ordinary folder, made by the entry
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(target / "planted")));
}

// Patches the sizes recorded for the first entry (central directory and local header).
void PatchSizes(std::string& zip, uint32_t compressed, uint32_t uncompressed) {
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) zip[at + i] = char((v >> (8 * i)) & 0xFF);
  };
  const size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  if (compressed) put(central + 20, compressed);
  put(central + 24, uncompressed);
  if (compressed) put(18, compressed);
  put(22, uncompressed);
}

TEST(ExtractDataZip, LyingSizesAndBombsEndAsSizeErrors) {
  Scratch s;
  const fs::path target = s.Path("t");
  // An entry claiming nearly 4 GiB with ten bytes behind it.
  std::string claim = MakeZip({{"huge", "0123456789"}, {"after", "fine"}}, true);
  PatchSizes(claim, 0, 0xFFFFFFF0u);
  WriteFile(s.Path("claim.zip"), claim);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("claim.zip").string(),
                               false, false),
            1);
  EXPECT_FALSE(fs::exists(target / "huge"));

  // 64 MiB of zeros claiming to be 1000 bytes: extraction stops at the claim.
  std::string bomb = MakeZip({{"bomb", std::string(64 << 20, '\0')}, {"after", "fine"}});
  ASSERT_LT(bomb.size(), 1u << 20);
  PatchSizes(bomb, 0, 1000);
  WriteFile(s.Path("bomb.zip"), bomb);
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("bomb.zip").string(),
                               false, false),
            1);
  EXPECT_FALSE(fs::exists(target / "bomb"));
  EXPECT_EQ(ReadFile(target / "after"), "fine");
}

// A file whose CRC proves wrong is removed like one of the wrong size; the counts say so, in the
// tally and in the last status text.
TEST(ExtractDataZip, WrongCrcLeavesNoFileAndIsCounted) {
  Scratch s;
  const fs::path target = s.Path("t");
  WriteFile(s.Path("c.zip"), ZipWithBadCrc());
  fw::ExtractTally tally;
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("c.zip").string(), true,
                               false, &tally),
            1);
  EXPECT_FALSE(fs::exists(target / "bad.bin"));
  EXPECT_EQ(ReadFile(target / "good.txt"), "fine");
  EXPECT_EQ(ReadFile(target / "after.txt"), "after");
  EXPECT_EQ(tally.failed, 1);
  EXPECT_EQ(tally.refused, 0);
  EXPECT_EQ(tally.written, 2);
  EXPECT_EQ(s.ui.statuses.back().first, "");
  EXPECT_EQ(s.ui.statuses[s.ui.statuses.size() - 2].first,
            "Extracted (2/3) files to " + target.string() +
                "/; 1 of 3 entries not written (0 refused, 1 failed)");
}

TEST(ExtractDataZip, ManyEmptyEntries) {
  Scratch s;
  std::vector<ZipItem> items;
  items.reserve(100000);
  for (int i = 0; i < 100000; ++i) {
    ZipItem item;
    item.name = "d";
    // 1,000 distinct names over and over: file creation on the host would dominate otherwise.
    item.name.append(std::to_string(i % 10)).append("/").append(std::to_string(i % 1000));
    items.push_back(std::move(item));
  }
  WriteFile(s.Path("many.zip"), MakeZip(items, true));
  const fs::path target = s.Path("t");
  EXPECT_EQ(fw::ExtractDataZip(nullptr, 0, target.string(), false, s.Path("many.zip").string(),
                               true, false),
            1);
  EXPECT_EQ(s.ui.statuses.size(), 100002u);
  EXPECT_EQ(s.ui.statuses[100000].second, 100);
  EXPECT_EQ(s.FilesUnder(target).size(), 1010u);
  EXPECT_EQ(fs::file_size(target / "d7/307"), 0u);
}

}  // namespace

namespace {

TEST(DataSetCli, InstallFreeDosExtractAndTest) {
#ifdef FW_CLI_PATH
  const std::string cli = FW_CLI_PATH;
#else
  const std::string cli = "flashwright-cli";
#endif
  if (!fs::exists(cli)) GTEST_SKIP() << "flashwright-cli not built at " << cli;
  Scratch s;
  // Own temporary folder and settings: the CLI's work folder must not touch anyone else's.
  auto run = [&](const std::string& args) {
    const std::string cmd = "cd '" + s.root.string() + "' && TMPDIR='" + s.root.string() +
                            "/systemp' '" + cli + "' --no-pauses --settings '" +
                            s.Path("fw.ini").string() + "' " + args + " >out.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  EXPECT_EQ(run("install-freedos '" + s.Path("drive").string() + "'"), 0);
  EXPECT_TRUE(fs::exists(s.Path("drive/KERNEL.SYS")));

  WriteFile(s.Path("Clover-5119-X64.zip"),
            MakeZip({{"boot", "Clover revision: 5119\n"}, {"EFI/CLOVER/config.plist", "<p/>"}}));
  EXPECT_EQ(run("test-data-zip '" + s.Path("Clover-5119-X64.zip").string() + "'"), 0);
  EXPECT_EQ(ReadFile(s.Path("out.txt")), "5119\n");
  EXPECT_EQ(run("extract-data-zip '" + s.Path("Clover-5119-X64.zip").string() + "' '" +
                s.Path("drive").string() + "' --delete"),
            0);
  EXPECT_EQ(ReadFile(s.Path("drive/EFI/CLOVER/config.plist")), "<p/>");
  EXPECT_FALSE(fs::exists(s.Path("Clover-5119-X64.zip")));
  // An entry that is not written makes the command fail and say how many.
  WriteFile(s.Path("h.zip"), MakeZip({{"ok", "1"}, {"../escape", "x"}}));
  EXPECT_EQ(
      run("extract-data-zip '" + s.Path("h.zip").string() + "' '" + s.Path("drive").string() + "'"),
      1);
  EXPECT_NE(ReadFile(s.Path("out.txt"))
                .find("extract-data-zip: 1 of 2 entries not written (1 refused, 0 failed)"),
            std::string::npos)
      << ReadFile(s.Path("out.txt"));
  EXPECT_EQ(ReadFile(s.Path("drive/ok")), "1");
  WriteFile(s.Path("not.zip"), "PK but no archive");
  EXPECT_EQ(run("extract-data-zip '" + s.Path("not.zip").string() + "' '" +
                s.Path("drive").string() + "'"),
            1);
  EXPECT_EQ(run("extract-data-zip"), 2);
}

}  // namespace
