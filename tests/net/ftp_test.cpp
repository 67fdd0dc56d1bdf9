// Downloads from a real FTP server on 127.0.0.1 (pyftpdlib): the URL's credentials log in on the
// first request, since FTP has no 401 to answer.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/net/download_fixture.h"

namespace fwtest {
namespace {

class FtpDownloadTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    if (std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "python3-pyftpdlib is not installed";
    std::filesystem::create_directories(dir_ / "root");
    std::vector<char> body(static_cast<size_t>(kSize));
    FillPattern(body.data(), 0, body.size());
    std::ofstream(dir_ / "root" / "file.bin", std::ios::binary)
        .write(body.data(), static_cast<std::streamsize>(body.size()));
    const std::string d = dir_.string();
    const std::string start = "exec /usr/bin/python3 '" FW_NET_TEST_DIR "/ftp_server.py' '" + d +
                              "/root' '" + d + "/port' >'" + d + "/server.log' 2>&1 & echo $! > '" +
                              d + "/pid'";
    ASSERT_EQ(std::system(start.c_str()), 0);
    started_ = true;
    for (int i = 0; i < 200 && port_.empty(); ++i) {
      std::ifstream in(dir_ / "port");
      std::getline(in, port_);
      if (port_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_FALSE(port_.empty()) << "the FTP server did not start";
  }
  void TearDown() override {
    if (started_) std::system(("kill $(cat '" + dir_.string() + "/pid') 2>/dev/null").c_str());
    DownloadTest::TearDown();
  }
  std::string Url(const std::string& credentials) const {
    return "ftp://" + credentials + "127.0.0.1:" + port_ + "/file.bin";
  }

  static constexpr int64_t kSize = 3 * 1000 * 1000 + 17;
  std::string port_;
  bool started_ = false;
};

TEST_F(FtpDownloadTest, CredentialsInTheUrlLogInAndTheFileArrivesWhole) {
  ToFile(Url("fw:secret@"));
  ASSERT_EQ(HTTPGetFromWeb(r_), fw::kWebOk);
  EXPECT_TRUE(HoldsPattern(Target(), kSize));
  EXPECT_EQ(r_.iTotBytesRead, kSize);
}

TEST_F(FtpDownloadTest, RefusedLoginFailsAndLeavesNoFile) {
  for (const char* credentials : {"", "fw:wrong@"}) {
    fw::ClearHTTP(r_);
    ToFile(Url(credentials));
    EXPECT_NE(HTTPGetFromWeb(r_), fw::kWebOk) << credentials;
    EXPECT_FALSE(std::filesystem::exists(Target())) << credentials;
  }
}

}  // namespace
}  // namespace fwtest
