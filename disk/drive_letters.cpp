#include "disk/drive_letters.h"

#include <cctype>
#include <map>
#include <mutex>
#include <set>

#include "app/globals.h"
#include "app/log.h"
#include "disk/disk_record.h"
#include "disk/inventory.h"

namespace fw {

namespace {

struct LetterTable {
  std::mutex mutex;
  std::map<std::string, char> letterOfKey;           // volume key -> 'E'
  std::map<std::string, VolumeLocation> whereOfKey;  // volume key -> window, last inventory
  std::set<std::string> seen;
};

LetterTable& Table() {
  static LetterTable t;
  return t;
}

char SystemLetter() {
  const std::string s = SystemDriveLetter();
  return s.empty() ? 'C' : static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
}

bool LetterTaken(const LetterTable& t, char c) {
  for (const auto& [key, letter] : t.letterOfKey)
    if (letter == c) return true;
  return false;
}

char NormalizeLetter(const std::string& text) {
  if (text.empty()) return 0;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return (c >= 'A' && c <= 'Z') ? c : 0;
}

}  // namespace

std::string VolumeKey(const std::string& diskKey, int64_t startingOffset) {
  return diskKey + "@" + std::to_string(startingOffset);
}

std::string RememberedLetter(const std::string& volumeKey) {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.letterOfKey.find(volumeKey);
  return it == t.letterOfKey.end() ? "" : std::string(1, it->second) + ":";
}

std::string ClaimDriveLetter(const std::string& volumeKey, const std::string& letter) {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.letterOfKey.find(volumeKey);
  const char wanted = NormalizeLetter(letter);
  if (it != t.letterOfKey.end() && (wanted == 0 || it->second == wanted))
    return std::string(1, it->second) + ":";
  if (wanted != 0) {
    // A named claim (the system volume's C:) takes the letter from whoever held it.
    for (auto i = t.letterOfKey.begin(); i != t.letterOfKey.end();) {
      if (i->second == wanted && i->first != volumeKey)
        i = t.letterOfKey.erase(i);
      else
        ++i;
    }
    t.letterOfKey[volumeKey] = wanted;
    return std::string(1, wanted) + ":";
  }
  const char system = SystemLetter();
  for (char c = 'D'; c <= 'Z'; ++c) {
    if (c == system || LetterTaken(t, c)) continue;
    t.letterOfKey[volumeKey] = c;
    return std::string(1, c) + ":";
  }
  return "";
}

void BeginLetterPass() {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.seen.clear();
  t.whereOfKey.clear();
}

void KeepLetter(const std::string& volumeKey, const VolumeLocation& where) {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.seen.insert(volumeKey);
  t.whereOfKey[volumeKey] = where;
}

void EndLetterPass() {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto i = t.letterOfKey.begin(); i != t.letterOfKey.end();) {
    if (!t.seen.count(i->first)) {
      FW_LOG("released " + std::string(1, i->second) + ": of " + i->first);
      i = t.letterOfKey.erase(i);
    } else {
      ++i;
    }
  }
}

bool LookupDriveLetter(const std::string& letter, VolumeLocation* out) {
  const char c = NormalizeLetter(letter);
  if (c == 0) return false;
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (const auto& [key, l] : t.letterOfKey) {
    if (l != c) continue;
    auto w = t.whereOfKey.find(key);
    if (w == t.whereOfKey.end()) return false;
    if (out) *out = w->second;
    return true;
  }
  return false;
}

uint32_t UsedDriveLetterMask() {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  // The system letter is reserved for the system volume even before an inventory has seen it,
  // so the lowest free letter shown here is the one a claim really gets.
  uint32_t mask = 1u << (SystemLetter() - 'A');
  for (const auto& [key, l] : t.letterOfKey) mask |= 1u << (l - 'A');
  return mask;
}

void ResetDriveLetters() {
  LetterTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.letterOfKey.clear();
  t.whereOfKey.clear();
  t.seen.clear();
}

}  // namespace fw
