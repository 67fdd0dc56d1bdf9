#include "app/ini_text.h"

#include <cctype>

namespace fw {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string IniUpper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

const IniText::Group* IniText::Find(const std::string& name) const {
  const std::string u = IniUpper(name);
  for (const Group& g : groups)
    if (g.upperName == u) return &g;
  return nullptr;
}

const std::string* IniText::Value(const std::string& group, const std::string& key) const {
  const Group* g = Find(group);
  if (!g) return nullptr;
  const std::string u = IniUpper(key);
  for (const auto& [k, v] : g->pairs)
    if (IniUpper(k) == u) return &v;
  return nullptr;
}

IniText ParseIni(const std::string& text) {
  IniText ini;
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  IniText::Group* current = nullptr;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t b = pos, e = end;
    pos = end + 1;
    if (e > b && text[e - 1] == '\r') --e;
    while (b < e && Blank(text[b])) ++b;
    if (b >= e || text[b] == ';') continue;
    if (text[b] == '[') {
      size_t close = text.find(']', b + 1);
      if (close == std::string::npos || close > e) close = e;
      std::string name = text.substr(b + 1, close - b - 1);
      ini.groups.push_back({name, IniUpper(name), {}});
      current = &ini.groups.back();
      continue;
    }
    size_t eq = text.find('=', b);
    if (eq == std::string::npos || eq >= e || !current) continue;
    size_t ke = eq;
    while (ke > b && Blank(text[ke - 1])) --ke;
    size_t vb = eq + 1;
    while (vb < e && Blank(text[vb])) ++vb;
    current->pairs.emplace_back(text.substr(b, ke - b), text.substr(vb, e - vb));
  }
  return ini;
}

}  // namespace fw
