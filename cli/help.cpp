#include "cli/help.h"

#include <algorithm>
#include <sstream>

namespace fw::cli {
namespace {

std::vector<CommandHelp>& HelpTable() {
  static std::vector<CommandHelp> table;
  return table;
}

struct GlobalOption {
  const char* names;  // as the help shows them
  const char* description;
};

const GlobalOption kGlobalOptions[] = {
    {"--settings FILE", "use FILE as the settings file instead of flashwright.ini"},
    {"-y, --yes", "answer every question with Yes"},
    {"--no-pauses", "skip the pauses that keep a status text readable in the window"},
    {"--image FILE", "attach the disk-image file FILE as a disk for this run"},
    {"--create SIZE", "with --image: create the file first, sparse (512M, 1G, 1.5G, ...)"},
    {"--sector-size 512|4096", "the image's sector size (default 512)"},
    {"-h, --help", "this help; COMMAND --help shows the options of a command"},
    {"--version", "the program's version"},
};

// The option words a global option is given by ("-y", "--yes").
std::vector<std::string> GlobalOptionWords() {
  std::vector<std::string> words;
  for (const GlobalOption& o : kGlobalOptions) {
    std::istringstream in(o.names);
    for (std::string w; in >> w;) {
      if (!w.empty() && w.back() == ',') w.pop_back();
      if (w.rfind("-", 0) == 0) words.push_back(w);
    }
  }
  return words;
}

constexpr size_t kLineWidth = 79;

// `text` broken at blanks into lines of at most kLineWidth characters, every line after the first
// indented by `indent` blanks, the first one starting at column `column`.
std::string Wrap(const std::string& text, size_t indent, size_t column) {
  std::string out;
  std::istringstream words(text);
  size_t at = column;
  bool lineStart = true;
  for (std::string word; words >> word;) {
    if (!lineStart && at + 1 + word.size() > kLineWidth) {
      out += '\n';
      out.append(indent, ' ');
      at = indent;
      lineStart = true;
    }
    if (!lineStart) {
      out += ' ';
      ++at;
    }
    out += word;
    at += word.size();
    lineStart = false;
  }
  return out;
}

// The usage line wrapped between its parts, a bracketed group never broken.
std::string WrapSynopsis(const std::string& head, const std::string& synopsis) {
  std::vector<std::string> parts;
  int depth = 0;
  std::string part;
  for (char c : synopsis) {
    if (c == ' ' && depth == 0) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      continue;
    }
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    part += c;
  }
  if (!part.empty()) parts.push_back(part);
  std::string out = head;
  size_t at = head.size();
  const size_t indent = 7;  // under the text after "usage: "
  for (const std::string& p : parts) {
    if (at + 1 + p.size() > kLineWidth && at > indent) {
      out += '\n';
      out.append(indent, ' ');
      at = indent;
    } else {
      out += ' ';
      ++at;
    }
    out += p;
    at += p.size();
  }
  return out;
}

// Two columns: the left one as wide as its widest entry (up to `limit`); a longer entry gets the
// description on the next line.
void PrintColumns(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& rows,
                  size_t limit) {
  size_t width = 0;
  for (const auto& [left, right] : rows)
    if (left.size() <= limit) width = std::max(width, left.size());
  const size_t indent = 2 + width + 2;
  for (const auto& [left, right] : rows) {
    out << "  " << left;
    if (right.empty()) {
      out << "\n";
    } else if (left.size() > width) {
      out << "\n" << std::string(indent, ' ') << Wrap(right, indent, indent) << "\n";
    } else {
      out << std::string(width - left.size() + 2, ' ') << Wrap(right, indent, indent) << "\n";
    }
  }
}

// "name ARGS  summary" split at its first run of two blanks.
HelpText FromUsage(const Command& command) {
  const std::string usage = command.usage;
  const size_t gap = usage.find("  ");
  HelpText help;
  if (gap != std::string::npos) help.summary = usage.substr(usage.find_first_not_of(' ', gap));
  std::string head = usage.substr(0, gap);
  const std::string name = command.name;
  if (head.rfind(name, 0) == 0) head.erase(0, name.size());
  const size_t start = head.find_first_not_of(' ');
  help.synopsis = start == std::string::npos ? "" : head.substr(start);
  return help;
}

}  // namespace

bool RegisterHelp(const CommandHelp& help) {
  HelpTable().push_back(help);
  return true;
}

HelpText HelpOf(const Command& command) {
  HelpText help = FromUsage(command);
  for (const CommandHelp& h : HelpTable()) {
    if (std::string(h.name) != command.name) continue;
    if (*h.synopsis != '\0') help.synopsis = h.synopsis;
    if (*h.summary != '\0') help.summary = h.summary;
    help.details = h.details;
  }
  return help;
}

void PrintUsage(std::ostream& out) {
  out << "usage: flashwright-cli [GLOBAL OPTIONS] COMMAND [ARGUMENTS]\n"
         "       flashwright-cli COMMAND --help\n"
         "       flashwright-cli --help | --version\n\n"
         "Make USB drives and disk images bootable for the Clover EFI loader, back up and\n"
         "restore partitions, download what the desktop program's Download Center offers.\n\n"
         "Commands:\n";
  std::vector<std::pair<std::string, std::string>> rows;
  for (const Command& c : Commands()) rows.emplace_back(c.name, HelpOf(c).summary);
  PrintColumns(out, rows, 20);
  out << "\nGlobal options (before the command):\n";
  rows.clear();
  for (const GlobalOption& o : kGlobalOptions) rows.emplace_back(o.names, o.description);
  PrintColumns(out, rows, 24);
  out << "\nExit status: 0 done, 1 failed or cancelled, 2 usage error.\n"
         "The manual page flashwright-cli(1) and the HTML manual say more.\n";
}

void PrintCommandHelp(std::ostream& out, const Command& command) {
  const HelpText help = HelpOf(command);
  out << WrapSynopsis("usage: flashwright-cli [GLOBAL OPTIONS] " + std::string(command.name),
                      help.synopsis)
      << "\n\n";
  const std::string& details = help.details;
  const size_t gap = details.find("\n\n");
  const std::string about = details.substr(0, gap);
  out << Wrap(about.empty() ? help.summary : about, 0, 0) << "\n";
  if (gap == std::string::npos) return;
  std::vector<std::pair<std::string, std::string>> rows;
  std::istringstream lines(details.substr(gap + 2));
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    rows.emplace_back(line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1));
  }
  out << "\nOptions:\n";
  PrintColumns(out, rows, 24);
}

std::string MisplacedGlobalOption(const Command& command, const std::vector<std::string>& args) {
  const std::string own = HelpOf(command).details;
  const std::vector<std::string> words = GlobalOptionWords();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (std::find(words.begin(), words.end(), a) == words.end()) continue;
    // The command's own option of that name, if it has one, is no mistake.
    if (own.find("\n" + a + " ") != std::string::npos ||
        own.find("\n" + a + "\t") != std::string::npos)
      continue;
    const bool takesValue =
        a == "--settings" || a == "--image" || a == "--create" || a == "--sector-size";
    const std::string given = takesValue && i + 1 < args.size() ? a + " " + args[i + 1] : a;
    return a + " is a global option: give it before the command (flashwright-cli " + given + " " +
           command.name + " ...)";
  }
  return "";
}

}  // namespace fw::cli
