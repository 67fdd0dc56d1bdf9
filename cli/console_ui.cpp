#include "cli/console_ui.h"

namespace fw {

ConsoleUi::ConsoleUi(bool yes, std::FILE* in, std::FILE* out, bool terminal)
    : yes_(yes), in_(in), out_(out), terminal_(terminal) {}

ConsoleUi::~ConsoleUi() { EndLine(); }

void ConsoleUi::EndLine() {
  if (lineOpen_) std::fputs("\n", out_);
  lineOpen_ = false;
  std::fflush(out_);
}

void ConsoleUi::ShowStatus(const std::string& text, int percent) {
  std::string line = text;
  if (percent >= 0) line += " [" + std::to_string(percent) + "%]";
  if (terminal_) {
    // Redraw the one status line in place.
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
    std::fflush(out_);
  } else if (line != lastPlain_) {
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
  }
  lastPlain_ = line;
}

static MsgAnswer Affirmative(MsgButtons b) {
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

MsgAnswer ConsoleUi::MessageBox(const std::string& title, const std::string& text,
                                MsgButtons buttons, MsgIcon) {
  EndLine();
  std::fprintf(out_, "%s: %s\n", title.c_str(), text.c_str());
  if (buttons == MsgButtons::Ok) {
    std::fflush(out_);
    return MsgAnswer::Ok;
  }
  if (yes_) {
    std::fprintf(out_, "(answered by --yes)\n");
    std::fflush(out_);
    return Affirmative(buttons);
  }
  if (!IsTerminal(in_)) {
    std::fprintf(out_, "(no terminal to ask: answered Cancel; pass --yes to confirm)\n");
    std::fflush(out_);
    return SafeAnswer(buttons);
  }
  const char* prompt = buttons == MsgButtons::OkCancel      ? "[o]k / [c]ancel? "
                       : buttons == MsgButtons::RetryCancel ? "[r]etry / [c]ancel? "
                       : buttons == MsgButtons::YesNo       ? "[y]es / [n]o? "
                                                            : "[y]es / [n]o / [c]ancel? ";
  for (;;) {
    std::fputs(prompt, out_);
    std::fflush(out_);
    char buffer[64];
    if (!std::fgets(buffer, sizeof buffer, in_)) return SafeAnswer(buttons);
    char c = buffer[0] | 0x20;
    if (c == 'y' && (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel))
      return MsgAnswer::Yes;
    if (c == 'n' && (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel))
      return MsgAnswer::No;
    if (c == 'o' && buttons == MsgButtons::OkCancel) return MsgAnswer::Ok;
    if (c == 'r' && buttons == MsgButtons::RetryCancel) return MsgAnswer::Retry;
    if (c == 'c' && buttons != MsgButtons::YesNo) return MsgAnswer::Cancel;
  }
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
