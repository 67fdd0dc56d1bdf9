// The console's status line and questions, on files and on a pseudo-terminal.
#include "cli/console_ui.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace fw {
namespace {

// A file the Ui writes to, read back whole.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ConsoleUi, InAPipeStepsAreLinesAndProgressALinePerFewPercent) {
  Capture out;
  {
    ConsoleUi ui(false, stdin, out.get(), false);
    ui.ShowPrompt("Select the USB Flash Drive, please");
    ui.ShowStatus("Create PartitionTable", 0);
    ui.ShowStatus("Create PartitionTable", 0);
    for (int p = 1; p <= 100; ++p) ui.ShowStatus("Formatting: " + std::to_string(p) + " %", p);
    ui.ShowStatus("Creating file system completed", 100);
    ui.ShowStatus("All done", -1);
  }
  const std::string text = out.Text();
  EXPECT_EQ(text.find("Select the USB"), std::string::npos) << text;
  EXPECT_EQ(text.find("%]"), std::string::npos) << text;
  EXPECT_EQ(Count(text, "Create PartitionTable\n"), 1) << text;
  // The first, every fifth percent, and the end: 21 lines, not 100.
  EXPECT_EQ(Count(text, "Formatting: "), 21) << text;
  EXPECT_NE(text.find("Formatting: 1 %\nFormatting: 5 %\nFormatting: 10 %\n"), std::string::npos);
  EXPECT_NE(text.find("Formatting: 100 %\nCreating file system completed\nAll done\n"),
            std::string::npos)
      << text;
}

TEST(ConsoleUi, OnATerminalProgressIsOneLineRewrittenInPlace) {
  Capture out;
  {
    ConsoleUi ui(false, stdin, out.get(), true);
    ui.ShowStatus("Copying", 0);
    ui.ShowStatus("10% 1 MB/10 MB 5.0 MB/s  Remain: 2 s ", 10);
    ui.ShowStatus("20% 2 MB/10 MB 5.0 MB/s  Remain: 2 s ", 20);
    ui.ShowStatus("10 MB/10 MB 5.0 MB/s  Total: 2 s  Done", 0);
  }
  EXPECT_EQ(out.Text(),
            "Copying\n\r\033[K10% 1 MB/10 MB 5.0 MB/s  Remain: 2 s \r\033[K20% 2 MB/10 MB 5.0 "
            "MB/s  Remain: 2 s \n10 MB/10 MB 5.0 MB/s  Total: 2 s  Done\n");
}

TEST(ConsoleUi, WithoutATerminalAQuestionIsAnsweredNoAtOnce) {
  Capture out;
  Capture in;  // a file, not a terminal: nothing is read from it
  std::fputs("y\n", in.get());
  std::rewind(in.get());
  ConsoleUi ui(false, in.get(), out.get(), false);
  EXPECT_EQ(ui.MessageBox("WARNING", "ALL DATA WILL BE DESTROYED.", MsgButtons::OkCancel,
                          MsgIcon::Warning),
            MsgAnswer::Cancel);
  EXPECT_EQ(ui.MessageBox("Information", "Go on?", MsgButtons::YesNo, MsgIcon::Question),
            MsgAnswer::No);
  EXPECT_EQ(std::ftell(in.get()), 0);
  const std::string text = out.Text();
  EXPECT_NE(text.find("WARNING: ALL DATA WILL BE DESTROYED.\n[y/N] N (no terminal to ask; pass "
                      "--yes to answer Yes)\n"),
            std::string::npos)
      << text;

  ConsoleUi yes(true, in.get(), out.get(), false);
  EXPECT_EQ(yes.MessageBox("W", "Go on?", MsgButtons::OkCancel, MsgIcon::Warning), MsgAnswer::Ok);
  EXPECT_EQ(yes.MessageBox("W", "Go on?", MsgButtons::YesNo, MsgIcon::Warning), MsgAnswer::Yes);
  EXPECT_NE(out.Text().find("[y/N] y (--yes)\n"), std::string::npos);
}

TEST(ConsoleUi, AtATerminalYesMustBeTypedAndEnterMeansNo) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  std::FILE* in = fdopen(slave, "r");
  ASSERT_NE(in, nullptr);
  Capture out;
  ConsoleUi ui(false, in, out.get(), false);
  const struct {
    const char* typed;
    MsgButtons buttons;
    MsgAnswer answer;
  } cases[] = {
      {"y\n", MsgButtons::YesNo, MsgAnswer::Yes},
      {"YES\n", MsgButtons::OkCancel, MsgAnswer::Ok},
      {"\n", MsgButtons::YesNo, MsgAnswer::No},
      {"\n", MsgButtons::OkCancel, MsgAnswer::Cancel},
      {"ok\n", MsgButtons::OkCancel, MsgAnswer::Cancel},
      {"y\n", MsgButtons::RetryCancel, MsgAnswer::Retry},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(write(master, c.typed, std::char_traits<char>::length(c.typed)),
              static_cast<ssize_t>(std::char_traits<char>::length(c.typed)));
    EXPECT_EQ(ui.MessageBox("Q", "Go on?", c.buttons, MsgIcon::Question), c.answer) << c.typed;
  }
  EXPECT_EQ(Count(out.Text(), "Q: Go on?\n[y/N] "), 6) << out.Text();
  std::fclose(in);
  close(master);
}

}  // namespace
}  // namespace fw
