// The registry store. The file holds one key per "[key]" line (the key text as the program spells
// it, root name in upper case) followed by "name<TAB>type<TAB>value" lines with the value in its
// text encoding (decimal for REG_DWORD, hex pairs for REG_BINARY). Keys compare without case, as
// Windows keys do; every operation reads the file and writes it back whole.
#include "app/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/sysinfo.h"

namespace fw {
namespace {

std::string storePath;

struct Value {
  std::string name;
  int type = REG_SZ;
  std::string data;  // text encoding of the value
};
struct Key {
  std::string text;  // as first created
  std::vector<Value> values;
};
// Keyed by the upper-cased key text.
using Store = std::map<std::string, Key>;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                              "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// "root\sub\key" with the root upper-cased and trailing "\" removed; "" for an unknown root.
std::string Normalize(const std::string& key) {
  size_t slash = key.find('\\');
  std::string root = Upper(key.substr(0, slash));
  if (std::find_if(std::begin(kRoots), std::end(kRoots),
                   [&](const char* r) { return root == r; }) == std::end(kRoots))
    return "";
  std::string sub = slash == std::string::npos ? "" : key.substr(slash + 1);
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  return sub.empty() ? root : root + "\\" + sub;
}

Store Load() {
  Store store;
  std::ifstream in(RegistryStorePath(), std::ios::binary);
  std::string line;
  Key* current = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Key texts hold no tab, value lines always two: a value whose name or data looks like
    // "[...]" stays a value.
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']' &&
        line.find('\t') == std::string::npos) {
      std::string text = line.substr(1, line.size() - 2);
      current = &store[Upper(text)];
      current->text = text;
    } else if (current) {
      size_t t1 = line.find('\t');
      size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
      if (t2 == std::string::npos) continue;
      Value v{line.substr(0, t1), std::atoi(line.substr(t1 + 1, t2 - t1 - 1).c_str()),
              line.substr(t2 + 1)};
      current->values.push_back(v);
    }
  }
  return store;
}

bool Save(const Store& store) {
  std::string path = RegistryStorePath();
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string folder = path.substr(0, slash);
    // Create the parent folders of the store one by one.
    for (size_t p = folder.find('/', 1);; p = folder.find('/', p + 1)) {
      std::string part = p == std::string::npos ? folder : folder.substr(0, p);
      MakeFolder(part);
      if (p == std::string::npos) break;
    }
  }
  std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const auto& [upper, key] : store) {
      out << "[" << key.text << "]\n";
      for (const Value& v : key.values) out << v.name << "\t" << v.type << "\t" << v.data << "\n";
    }
    if (!out.flush()) return false;
  }
  return RenameFile(tmp, path);
}

bool Local(const std::string& computer) { return computer == "."; }

// Key texts are single lines without tabs in the store file.
bool StorableKey(const std::string& key) {
  return key.find_first_of("\t\r\n") == std::string::npos;
}

bool IsSubKeyOf(const std::string& upperKey, const std::string& upperParent) {
  return upperKey.size() > upperParent.size() + 1 &&
         upperKey.compare(0, upperParent.size(), upperParent) == 0 &&
         upperKey[upperParent.size()] == '\\';
}

Value* FindValue(Key& key, const std::string& name) {
  for (Value& v : key.values)
    if (Upper(v.name) == Upper(name)) return &v;
  return nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The text a value holds after a write of `text` with `type`.
std::string Encode(const std::string& text, int type) {
  if (type == REG_DWORD) {
    // The decimal text becomes a 32-bit number, as the registry stores it.
    int64_t n = 0;
    size_t i = 0;
    bool negative = false;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
      n = (n * 10 + (text[i] - '0')) & 0xFFFFFFFFLL;
    uint32_t dword = static_cast<uint32_t>(negative ? -n : n);
    return std::to_string(dword);
  }
  if (type == REG_BINARY) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
      int byte = HexDigit(text[i]) * 16 + HexDigit(text[i + 1]);
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
    return out;
  }
  return text;
}

}  // namespace

void SetRegistryStorePath(const std::string& path) { storePath = path; }

std::string RegistryStorePath() {
  if (!storePath.empty()) return storePath;
  std::string config = UserConfigFolder();
  if (config.empty()) config = "/tmp";
  return config + "/flashwright/registry.txt";
}

namespace Registry {

int KeyExists(const std::string& key, const std::string& computer) {
  if (!Local(computer)) return 0;
  std::string k = Normalize(key);
  if (k.empty()) return 0;
  if (k.find('\\') == std::string::npos) return 1;  // a root always exists
  return Load().count(Upper(k)) ? 1 : 0;
}

int CreateKey(const std::string& key, const std::string& computer) {
  if (!Local(computer)) return 0;
  std::string k = Normalize(key);
  if (k.empty() || !StorableKey(k)) return 0;
  Store store = Load();
  bool changed = false;
  // Intermediate keys are created as needed.
  for (size_t p = k.find('\\'); p != std::string::npos || !k.empty();) {
    std::string part = p == std::string::npos ? k : k.substr(0, p);
    if (part.find('\\') != std::string::npos && !store.count(Upper(part))) {
      store[Upper(part)].text = part;
      changed = true;
    }
    if (p == std::string::npos) break;
    p = k.find('\\', p + 1);
  }
  if (changed && !Save(store)) return 0;
  return 1;
}

int DeleteKey(const std::string& key, const std::string& computer) {
  if (!Local(computer)) return 0;
  std::string k = Upper(Normalize(key));
  if (k.empty() || k.find('\\') == std::string::npos) return 0;
  Store store = Load();
  if (!store.count(k)) return 0;
  for (auto it = store.begin(); it != store.end();) {
    if (it->first == k || IsSubKeyOf(it->first, k))
      it = store.erase(it);
    else
      ++it;
  }
  return Save(store) ? 1 : 0;
}

int ValueExists(const std::string& key, const std::string& name, const std::string& computer) {
  if (!Local(computer)) return 0;
  Store store = Load();
  auto it = store.find(Upper(Normalize(key)));
  if (it == store.end()) return 0;
  return FindValue(it->second, name) ? 1 : 0;
}

std::string ReadValue(const std::string& key, const std::string& name,
                      const std::string& computer) {
  if (!Local(computer)) return "";
  Store store = Load();
  auto it = store.find(Upper(Normalize(key)));
  if (it == store.end()) return "";
  Value* v = FindValue(it->second, name);
  if (!v) return "";
  switch (v->type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_BINARY:
      return v->data;
    case REG_DWORD:
      return v->data.empty() ? "0" : v->data;
    default:
      return "";
  }
}

int WriteValue(const std::string& key, const std::string& name, const std::string& value, int type,
               const std::string& computer) {
  if (!Local(computer)) return 0;
  std::string k = Upper(Normalize(key));
  Store store = Load();
  auto it = store.find(k);
  if (it == store.end()) return 0;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_DWORD && type != REG_BINARY) return 1;
  // Names and data are single lines in the store file.
  if (name.find_first_of("\t\r\n") != std::string::npos) return 1;
  std::string data = Encode(value, type);
  if (data.find_first_of("\r\n") != std::string::npos) return 1;
  Value* v = FindValue(it->second, name);
  if (!v) {
    it->second.values.push_back(Value{name, type, data});
  } else {
    v->type = type;
    v->data = data;
  }
  Save(store);
  return 1;
}

int CreateKeyAndWriteValue(const std::string& key, const std::string& name,
                           const std::string& value, int type, const std::string& computer) {
  if (!CreateKey(key, computer)) return 0;
  return WriteValue(key, name, value, type, computer);
}

int IsWow64() { return 0; }

}  // namespace Registry
}  // namespace fw
