// The reader of the program's INI texts (the settings file and the download lists): groups of
// key = value pairs in file order. Leading blanks and tabs of a line are skipped, ";" starts a
// comment, "[" starts a group whose name ends at "]", any other line is a key up to the first "="
// (blanks before it removed) and a value from the first character after "=" that is no blank.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fw {

struct IniText {
  struct Group {
    std::string name;       // as written between the brackets
    std::string upperName;  // for the comparisons
    std::vector<std::pair<std::string, std::string>> pairs;
  };
  std::vector<Group> groups;

  // The first group of that name, compared without regard to case.
  const Group* Find(const std::string& name) const;
  // The first value of `key` in group `group` (both without regard to case); null when missing.
  const std::string* Value(const std::string& group, const std::string& key) const;
};

// Any bytes parse; a UTF-8 byte-order mark at the start is skipped.
IniText ParseIni(const std::string& text);

// ASCII upper case, as the reader compares names.
std::string IniUpper(std::string s);

}  // namespace fw
