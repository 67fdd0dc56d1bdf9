#include "app/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/text.h"
#include "platform/sysinfo.h"

namespace fw {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(LogTest, LineLayout) {
  EXPECT_EQ(FormatLogLine("14:03:27.512", 3174, "LoadSetting", "Log Date: 01.02.2022"),
            "14:03:27.512 [3174] (LoadSetting) Log Date: 01.02.2022\r\n");
  EXPECT_EQ(FormatLogLine("00:00:00.000", 7, "", "main body"), "00:00:00.000 [7] main body\r\n");
}

TEST(LogTest, FileHasBomDateSystemBlockAndIsReplacedOnReopen) {
  const std::string path = (std::filesystem::temp_directory_path() / "fw_log_test.log").string();
  {
    std::ofstream old(path);
    old << "old run\n";
  }
  ASSERT_TRUE(OpenLog(path));
  EXPECT_TRUE(LogIsOpen());
  FW_LOG("hello");
  const int helloLine = __LINE__ - 1;
  // Every line is on disk before the log closes.
  std::string text = ReadAll(path);
  CloseLog();
  EXPECT_FALSE(LogIsOpen());
  FW_LOG("after close");
  const int afterLine = __LINE__ - 1;
  EXPECT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
  EXPECT_EQ(text.find("old run"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      text, std::regex("^\xEF\xBB\xBF\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[\\d+\\] \\(LoadSetting\\) "
                       "Log Date: \\d\\d\\.\\d\\d\\.\\d{4}\r\n")));
  EXPECT_NE(text.find("(GetSystemLogInfo) " + std::string(66, '-') + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("(GetSystemLogInfo) Application: Flashwright v2.1.029 Beta by Mivo "
                      "23.09.2022\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("(GetSystemLogInfo) Free  RAM\t: "), std::string::npos);
  EXPECT_NE(text.find(" [" + std::to_string(helloLine) + "] (TestBody) hello\r\n"),
            std::string::npos);
  EXPECT_EQ(ReadAll(path).find("after close"), std::string::npos);
  EXPECT_EQ(CurrentStatement().line, afterLine);  // recorded even with the log closed
  std::filesystem::remove(path);
}

TEST(LogTest, SystemTextWithAndWithoutKernel) {
  SystemFacts f;
  f.osName = "Debian GNU/Linux 12 (bookworm)";
  f.is64Bit = true;
  f.kernelVersion = "Linux 6.1.0";
  EXPECT_EQ(SystemLogText(f), "Debian GNU/Linux 12 (bookworm) 64-bit [Linux 6.1.0]");
  f.kernelVersion.clear();
  f.is64Bit = false;
  EXPECT_EQ(SystemLogText(f), "Debian GNU/Linux 12 (bookworm) 32-bit");
}

TEST(TextTest, ErrorTextAndCounter) {
  EXPECT_EQ(GetErrorText(2), "Error: No such file or directory");
  SetErrorTextSource(
      [](int64_t code) -> std::string { return code == 7 ? "Couldn't connect" : ""; });
  EXPECT_EQ(GetErrorText(7), "Error: Couldn't connect");
  EXPECT_EQ(GetErrorText(2), "Error: No such file or directory");
  SetErrorTextSource(nullptr);
  int64_t a = HighResCounter();
  int64_t b = HighResCounter();
  EXPECT_GE(b, a);
  EXPECT_EQ(HighResFrequency(), 1000000000);
}

}  // namespace
}  // namespace fw
