#include "cli/console_ui.h"

namespace fw {
namespace {

// In a pipe a progress line is printed once per this many percent.
constexpr int kPipeStepPercent = 5;

// `text` cut to `columns` characters (UTF-8 aware), so that a line rewritten in place never
// wraps onto a second line that "\r" cannot reach.
std::string FitToColumns(const std::string& text, int columns) {
  if (columns <= 1) return text;
  int chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (++chars == columns) return text.substr(0, i);
  }
  return text;
}

MsgAnswer Affirmative(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel:
      return MsgAnswer::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
      return MsgAnswer::Yes;
    case MsgButtons::RetryCancel:
      return MsgAnswer::Retry;
  }
  return MsgAnswer::Ok;
}

}  // namespace

ConsoleUi::ConsoleUi(bool yes, std::FILE* in, std::FILE* out, bool terminal)
    : yes_(yes), in_(in), out_(out), terminal_(terminal) {}

ConsoleUi::~ConsoleUi() { EndLine(); }

void ConsoleUi::EndLine() {
  if (lineOpen_) std::fputs("\n", out_);
  lineOpen_ = false;
  std::fflush(out_);
}

void ConsoleUi::ShowStatus(const std::string& text, int percent) {
  if (percent > 0) {
    ShowProgress(text, percent);
  } else if (!text.empty() && (text != lastText_ || lineOpen_)) {
    // A step: a line of its own, without a percentage it does not carry.
    EndLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    lastPercent_ = -1;
  }
  lastText_ = text;
}

void ConsoleUi::ShowProgress(const std::string& text, int percent) {
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", FitToColumns(text, TerminalColumns(out_)).c_str());
    lineOpen_ = true;
    std::fflush(out_);
    return;
  }
  // A pipe gets the first line of a run of progress, one per few percent, and the last.
  const bool first = lastPercent_ < 0 || percent < lastPercent_;
  const bool step = percent / kPipeStepPercent > lastPercent_ / kPipeStepPercent;
  const bool end = percent >= 100 && (lastPercent_ < 100 || text != lastPrinted_);
  if (!first && !step && !end) return;
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  lastPercent_ = percent;
  lastPrinted_ = text;
}

MsgAnswer ConsoleUi::MessageBox(const std::string& title, const std::string& text,
                                MsgButtons buttons, MsgIcon) {
  EndLine();
  lastText_.clear();
  std::fprintf(out_, "%s: %s\n", title.c_str(), text.c_str());
  if (buttons == MsgButtons::Ok) {
    std::fflush(out_);
    return MsgAnswer::Ok;
  }
  // Every question reads the same: y answers Yes (OK, Retry), anything else No (Cancel).
  if (yes_) {
    std::fputs("[y/N] y (--yes)\n", out_);
    std::fflush(out_);
    return Affirmative(buttons);
  }
  if (!IsTerminal(in_)) {
    std::fputs("[y/N] N (no terminal to ask; pass --yes to answer Yes)\n", out_);
    std::fflush(out_);
    return SafeAnswer(buttons);
  }
  std::fputs("[y/N] ", out_);
  std::fflush(out_);
  char buffer[64];
  if (!std::fgets(buffer, sizeof buffer, in_)) {
    std::fputs("\n", out_);
    return SafeAnswer(buttons);
  }
  std::string answer(buffer);
  while (!answer.empty() &&
         (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' '))
    answer.pop_back();
  for (char& c : answer) c = static_cast<char>(c | 0x20);
  return answer == "y" || answer == "yes" ? Affirmative(buttons) : SafeAnswer(buttons);
}

std::string ConsoleUi::OpenFileChooser(const std::string&, const std::string& defaultPath,
                                       const std::vector<FileFilter>&) {
  return yes_ ? defaultPath : "";
}
std::string ConsoleUi::SaveFileChooser(const std::string&, const std::string& defaultPath,
                                       const std::vector<FileFilter>&) {
  return yes_ ? defaultPath : "";
}
std::string ConsoleUi::FolderChooser(const std::string&, const std::string& initialFolder) {
  return yes_ ? initialFolder : "";
}

}  // namespace fw
