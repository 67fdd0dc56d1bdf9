// The additional download lists end to end: the maker's list fetched from a server on 127.0.0.1
// through the real transport, entries downloaded into the repository, checked against their
// digests, refused when hostile or beside another transfer, and cancelled through "Cancel DL".
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/models/dispatcher.h"
#include "app/models/window_model.h"
#include "app/quiet_ui_test_support.h"
#include "app/settings.h"
#include "net/additional_dl.h"
#include "net/additional_dl_get.h"
#include "net/file_digest.h"
#include "net/http_get.h"
#include "tests/net/download_fixture.h"
#include "tests/net/test_server.h"

namespace fwtest {
namespace {

namespace fs = std::filesystem;
using fw::AdditionalDLEntry;

// Records what the user would see; safe to read while a worker writes.
class ListsUi final : public fw::QuietUi {
 public:
  void ShowStatus(const std::string& text, int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_.push_back(text);
  }
  fw::MsgAnswer MessageBox(const std::string& title, const std::string& text, fw::MsgButtons,
                           fw::MsgIcon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(title + "|" + text);
    return fw::MsgAnswer::Ok;
  }
  void SetControlText(int window, int control, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[{window, control}] = text;
    if (window == fw::kMainWindow && control == fw::main_ctl::kDlCenter) buttons_.push_back(text);
  }
  std::string ControlText(int window, int control) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_[{window, control}];
  }

  std::vector<std::string> Statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }
  bool Saw(const std::string& text) {
    for (const std::string& s : Statuses())
      if (s == text) return true;
    return false;
  }
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> Buttons() {
    std::lock_guard<std::mutex> lock(mutex_);
    return buttons_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> statuses_, boxes_, buttons_;
  std::map<std::pair<int, int>, std::string> texts_;
};

void ServeText(int fd, int status, const std::string& body) {
  const std::string out =
      "HTTP/1.1 " + std::to_string(status) +
      " X\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
      body;
  TestServer::SendAll(fd, out.data(), out.size());
}

std::string PatternDigest(int64_t size, fw::DigestKind kind) {
  std::vector<char> bytes(static_cast<size_t>(size));
  FillPattern(bytes.data(), 0, bytes.size());
  fw::Digest d(kind);
  d.Update(bytes.data(), bytes.size());
  return d.FinalHex();
}

bool HoldsPattern(const fs::path& path, int64_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<char> want(static_cast<size_t>(size));
  FillPattern(want.data(), 0, want.size());
  return got == std::string(want.begin(), want.end());
}

constexpr int64_t kFileSize = 200000;

class DownloadListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fw-lists-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "repo");
    oldCwd_ = fs::current_path();
    fs::current_path(dir_);  // "UserDL.ini" is looked for in the current folder
    fw::SetPausesEnabled(false);
    fw::SetUi(&ui_);
    fw::Settings() = fw::SettingsRecord{};
    fw::Settings().CloverLocalRepository = (dir_ / "repo").string() + "/";
    fw::Settings().ResumeMaxAttemptsNumber = 3;
    fw::ClearAdditionalDL();
    format_op_in_progress = 0;
    CancelMainThread = 0;
    ::setenv("FLASHWRIGHT_SITE_HOST", server_.Url("").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("FLASHWRIGHT_SITE_HOST");
    server_.Stop();
    fw::SetUi(nullptr);
    fw::ClearAdditionalDL();
    format_op_in_progress = 0;
    CancelMainThread = 0;
    fs::current_path(oldCwd_);
    fs::remove_all(dir_);
  }

  // The maker's list, a pattern file at /files/*, a slow one at /slow/*, 404 for the rest.
  void Serve(int fd, const Request& req) {
    if (req.target == "/files/AdditionalDL/DLList.ini" && !makerList_.empty()) {
      ServeText(fd, 200, makerList_);
    } else if (req.target.rfind("/files/", 0) == 0 &&
               req.target.find("DLList") == std::string::npos) {
      Plan p;
      p.size = kFileSize;
      TestServer::ServePlan(fd, req, p, nullptr);
    } else if (req.target.rfind("/slow/", 0) == 0) {
      // About 1 MB/s: progress comes once per 1 MiB chunk, and the file takes seconds.
      Plan p;
      p.size = 8 << 20;
      p.dripMs = 1;
      TestServer::ServePlan(fd, req, p, &server_.stopping());
    } else {
      ServeText(fd, 404, "none");
    }
  }

  AdditionalDLEntry Entry(const std::string& path, const std::string& catalog = "") {
    AdditionalDLEntry e;
    e.IsUser = 1;
    e.Name = "Pattern";
    e.URL = server_.Url(path);
    e.Catalog = catalog;
    return e;
  }

  fs::path dir_, oldCwd_;
  ListsUi ui_;
  std::string makerList_;
  TestServer server_{[this](int fd, const Request& req, int) { Serve(fd, req); }};
};

TEST_F(DownloadListsTest, AnUpdateListsTheUsersEntriesFirstThenTheMakersFromTheFixedPath) {
  std::ofstream(dir_ / "UserDL.ini") << "[Mine]\r\nURL=http://h/mine.zip\r\nDescription=own\r\n";
  makerList_ = "\xEF\xBB\xBF\r\n[Kexts]\r\n URL = " + server_.Url("/files/k.zip") +
               "\r\nSize=47941\r\nDescription=Audio\r\nCatalog=Drivers/Audio\r\n";
  ASSERT_EQ(fw::CheckAdditionalDownloadsThread(0), 1);
  EXPECT_EQ(fw::AdditionalDLRows(),
            (std::vector<std::string>{" -- User Downloads: ", "Mine: own",
                                      " -- ZOR Additional Downloads: ", "Kexts 46.8 KB: Audio"}));
  const std::vector<Request> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/files/AdditionalDL/DLList.ini");
  EXPECT_EQ(requests[0].Header("user-agent"), "InternetRecovery/1.0");
  EXPECT_TRUE(ui_.Saw("Checking for Updates ... Wait Please"));
  EXPECT_TRUE(ui_.Saw("Download Latest Additional Downloads List ... OK"));

  // Without a user list, the maker's header row comes first.
  fs::remove(dir_ / "UserDL.ini");
  ASSERT_EQ(fw::CheckAdditionalDownloadsThread(0), 1);
  EXPECT_EQ(fw::AdditionalDLRows().front(), " -- ZOR Additional Downloads: ");
}

TEST_F(DownloadListsTest, AFailedListDownloadKeepsTheOldList) {
  fw::SetAdditionalDL(fw::ParseAdditionalDLList("[Old]\nURL=http://h/old.zip\n", 1));
  const std::vector<AdditionalDLEntry> before = fw::AdditionalDL();
  ASSERT_EQ(fw::CheckAdditionalDownloadsThread(0), 0);  // makerList_ empty: 404
  EXPECT_EQ(fw::AdditionalDL(), before);
  EXPECT_TRUE(ui_.Saw("CheckAdditionalDownloadsThread ... Error: Get DlFileList"));
}

TEST_F(DownloadListsTest, AnEntryLandsInItsTwoLevelCatalogAndTheSummaryNamesIt) {
  AdditionalDLEntry e = Entry("/files/pkg/f.bin?v=2", "Drivers/Audio");
  // Digests compare without regard to case.
  std::string sha1 = PatternDigest(kFileSize, fw::DigestKind::Sha1);
  for (char& c : sha1) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  e.MD5Digest = sha1;
  ASSERT_EQ(fw::DLAdditionalDownloadsThread(e), 1);
  const fs::path file = dir_ / "repo" / "Drivers" / "Audio" / "f.bin";
  EXPECT_TRUE(HoldsPattern(file, kFileSize));
  const std::string repo = fw::Settings().CloverLocalRepository;
  EXPECT_EQ(ui_.Boxes(), std::vector<std::string>{
                             "Info|\tSummary Information:\r\n\r\nDL: \"Pattern\" ........... "
                             "Success\r\nSaved in the Directory: \"Drivers/Audio\" ........... "
                             "Success\r\nin the Clover Local Repository: \r\n\"" +
                             repo + "\"\r\n"});
  EXPECT_TRUE(ui_.Saw("f.bin Downloaded"));
  EXPECT_EQ(ui_.Buttons(), (std::vector<std::string>{"Cancel DL", "DL Center"}));
  EXPECT_EQ(format_op_in_progress.load(), 0);
  EXPECT_EQ(flgNetThreadRunning.load(), 0);
}

TEST_F(DownloadListsTest, TheDigestDecidesAndAnEntryWithoutAUsableOneIsNotChecked) {
  AdditionalDLEntry md5 = Entry("/files/a.bin");
  md5.MD5Digest = PatternDigest(kFileSize, fw::DigestKind::Md5);
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(md5), 1);
  EXPECT_TRUE(fs::exists(dir_ / "repo" / "a.bin"));

  AdditionalDLEntry wrong = Entry("/files/b.bin");
  wrong.MD5Digest = std::string(32, '0');
  const size_t boxesBefore = ui_.Boxes().size();
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(wrong), 0);
  EXPECT_FALSE(fs::exists(dir_ / "repo" / "b.bin"));
  const std::vector<std::string> boxes = ui_.Boxes();
  ASSERT_EQ(boxes.size(), boxesBefore + 1);
  EXPECT_EQ(boxes.back().rfind("Error!|DL: \"Pattern\" ........... Error", 0), 0u) << boxes.back();
  EXPECT_NE(boxes.back().find("does not match the MD5 digest"), std::string::npos);

  AdditionalDLEntry odd = Entry("/files/c.bin");
  odd.MD5Digest = "452e6704";  // neither MD5 nor SHA-1
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(odd), 1);
  EXPECT_TRUE(fs::exists(dir_ / "repo" / "c.bin"));
}

// An earlier file of the same name survives a download that fails or does not match its digest,
// and gives way to one that matches.
TEST_F(DownloadListsTest, AnEarlierFileIsReplacedOnlyByADownloadThatMatches) {
  const fs::path file = dir_ / "repo" / "keep.bin";
  auto earlier = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::ofstream(file) << "good old copy";
  AdditionalDLEntry bad = Entry("/files/keep.bin");
  bad.MD5Digest = std::string(40, 'a');
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(bad), 0);
  EXPECT_EQ(earlier(), "good old copy");
  AdditionalDLEntry missing = Entry("/missing/keep.bin");
  missing.MD5Digest = PatternDigest(kFileSize, fw::DigestKind::Md5);
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(missing), 0);
  EXPECT_EQ(earlier(), "good old copy");
  AdditionalDLEntry good = Entry("/files/keep.bin");
  good.MD5Digest = PatternDigest(kFileSize, fw::DigestKind::Md5);
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(good), 1);
  EXPECT_TRUE(HoldsPattern(file, kFileSize));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "repo"), fs::directory_iterator()), 1);
}

TEST_F(DownloadListsTest, HostileOrBusyDownloadsAreRefusedBeforeAnyRequest) {
  const std::string log = (dir_ / "ZORDebug.log").string();
  ASSERT_TRUE(fw::OpenLog(log));
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(Entry("/files/x.bin", "../escape")), 0);
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(Entry("/files/", "")), 0);
  fw::CloseLog();
  EXPECT_FALSE(fs::exists(dir_ / "escape"));
  EXPECT_TRUE(
      ui_.Saw("Can't download Pattern: its Catalog \"../escape\" leads out of the Clover "
              "Local Repository"));
  std::ifstream in(log);
  const std::string logText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(logText.find("refused Pattern: its URL"), std::string::npos);

  ASSERT_TRUE(fw::TryStartNetTransfer());
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(Entry("/files/y.bin")), 0);
  fw::EndNetTransfer();
  EXPECT_TRUE(ui_.Saw(fw::kTransferBusyText));
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(format_op_in_progress.load(), 0);
}

TEST_F(DownloadListsTest, AFailedDownloadShowsTheEnginesTextAndNoSummary) {
  EXPECT_EQ(fw::DLAdditionalDownloadsThread(Entry("/missing/m.bin")), 0);
  EXPECT_TRUE(ui_.Saw("HTTP status code = 404"));
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_FALSE(fs::exists(dir_ / "repo" / "m.bin"));
}

// The main window's button reads "Cancel DL" while the file comes in; pressing it stops the
// transfer, removes the partial file and gives the button back.
TEST_F(DownloadListsTest, CancelDlStopsTheDownloadAndRemovesThePartialFile) {
  std::atomic<int> result{-1};
  std::thread worker([&] { result = fw::DLAdditionalDownloadsThread(Entry("/slow/s.bin")); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto receiving = [&] {
    for (const std::string& s : ui_.Statuses())
      if (s.find("s.bin (") != std::string::npos) return true;
    return false;
  };
  while (!receiving() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string button = ui_.ControlText(fw::kMainWindow, fw::main_ctl::kDlCenter);
  fw::Dispatcher dispatcher;
  dispatcher.Handle({fw::kMainWindow, fw::UiEventKind::Control, fw::main_ctl::kDlCenter});
  worker.join();
  EXPECT_TRUE(receiving());
  EXPECT_EQ(button, "Cancel DL");
  EXPECT_EQ(result.load(), 0);
  EXPECT_TRUE(ui_.Saw("Download aborted"));
  EXPECT_FALSE(fs::exists(dir_ / "repo" / "s.bin"));
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(ui_.ControlText(fw::kMainWindow, fw::main_ctl::kDlCenter), "DL Center");
  EXPECT_EQ(CancelMainThread.load(), 0);
}

// The command line: dl-list shows list 32's rows numbered from 1 (the maker's after --update),
// dl-get fetches the maker's list only for an entry the user's list lacks, exit 0 only on success.
TEST_F(DownloadListsTest, CliListsAndGetsEntries) {
  const std::string cli = FW_CLI_PATH;
  std::ofstream(dir_ / "UserDL.ini")
      << "[Mine]\nURL=" << server_.Url("/files/mine.bin") << "\nDescription=own\n";
  makerList_ = "[Kexts]\nURL=" + server_.Url("/files/k.bin") +
               "\nSize=200000\nCatalog=Drivers\n[Bad]\nURL=" + server_.Url("/files/b.bin") +
               "\nCatalog=/etc\n";
  std::ofstream(dir_ / "fw.ini") << "[Data Settings]\nCloverLocalRepository = "
                                 << (dir_ / "repo").string() << "/\n";
  auto run = [&](const std::string& args, std::string* output) {
    output->clear();
    return RunCapture("'" + cli + "' --settings fw.ini --no-pauses " + args + " 2>&1", output);
  };
  std::string out;
  EXPECT_EQ(run("dl-list", &out), 0);
  EXPECT_EQ(out, "1.  -- User Downloads: \n2. Mine: own\n");
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(run("dl-list --update", &out), 0);
  EXPECT_NE(out.find("2. Mine: own\n3.  -- ZOR Additional Downloads: \n4. Kexts 195.3 KB: \n"
                     "5. Bad: \n"),
            std::string::npos)
      << out;

  EXPECT_EQ(run("dl-get Mine", &out), 0) << out;  // from the user's list alone
  EXPECT_EQ(server_.Requests().size(), 2u);
  EXPECT_TRUE(HoldsPattern(dir_ / "repo" / "mine.bin", kFileSize));
  EXPECT_NE(out.find("Summary Information"), std::string::npos) << out;
  EXPECT_EQ(run("dl-get 4", &out), 0) << out;  // row 4 is in the maker's list
  EXPECT_TRUE(HoldsPattern(dir_ / "repo" / "Drivers" / "k.bin", kFileSize));
  EXPECT_EQ(run("dl-get Bad", &out), 1);
  EXPECT_NE(out.find("Can't download Bad: its Catalog \"/etc\""), std::string::npos) << out;
  EXPECT_EQ(run("dl-get 3", &out), 1);
  EXPECT_NE(out.find("is a list heading"), std::string::npos) << out;
  EXPECT_EQ(run("dl-get Nothing", &out), 1);
  EXPECT_NE(out.find("no download Nothing in the lists"), std::string::npos) << out;
  makerList_.clear();  // the maker's site answers 404 now
  EXPECT_EQ(run("dl-list --update", &out), 1);
  EXPECT_NE(out.find("2. Mine: own\n"), std::string::npos) << out;
  EXPECT_NE(out.find("could not be fetched"), std::string::npos) << out;
}

}  // namespace
}  // namespace fwtest
