#include "net/recovery_hd_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/log.h"
#include "app/text.h"

namespace fw {
namespace {

// What one dict of the catalog leaves to the dict around it: the matching packages not yet given
// a post date, and (for the "Distributions" dict) its English document.
struct DictResult {
  RecoveryHDList pending;
  std::string english;
};

bool Listed(const RecoveryHDList& list, const RecoveryHDEntry& entry) {
  return std::any_of(list.begin(), list.end(), [&](const RecoveryHDEntry& e) {
    return entry.Digest.empty() ? e.URL == entry.URL : e.Digest == entry.Digest;
  });
}

void WalkValues(const XmlNode& container, const std::string& searchText, RecoveryHDList* list,
                DictResult* out);

// A dict of the catalog. The keys Digest, MetadataURL, Size and URL describe a package when the
// dict is one; a PostDate dates the matching packages found inside (a product's dict), which are
// then added to the list. Packages found inside without a date go up to the enclosing dict.
DictResult WalkDict(const XmlNode& dict, const std::string& searchText, RecoveryHDList* list) {
  RecoveryHDEntry package;
  DictResult result;
  std::string distribution;
  std::string key;
  for (const auto& child : dict.children) {
    const XmlNode& n = *child;
    if (n.name == "key") {
      key = n.text;
      continue;
    }
    if (n.name == "string") {
      if (key == "URL") package.URL = n.text;
      if (key == "MetadataURL") package.MetadataURL = n.text;
      if (key == "Digest") package.Digest = n.text;
      if (key == "English") result.english = n.text;
    } else if (n.name == "integer") {
      if (key == "Size") package.Size = n.text;
    } else if (n.name == "date") {
      if (key == "PostDate") {
        int64_t seconds = 0;
        std::string day;
        if (!ParseCatalogDate(n.text, &seconds, &day)) day.clear();
        for (RecoveryHDEntry& found : result.pending) {
          found.PostDate = seconds;
          found.PostDateText = day;
          found.ProductID = ProductIDFromURL(found.URL);
          if (found.DistributionURL.empty()) found.DistributionURL = distribution;
          if (Listed(*list, found)) continue;
          FW_LOGP("ExtractXMLProductInfo", "ExtractXMLProductInfo: Added: " + found.URL);
          list->push_back(found);
        }
        result.pending.clear();
      }
    } else if (n.name == "dict" || n.name == "array") {
      DictResult inner;
      if (n.name == "dict") {
        inner = WalkDict(n, searchText, list);
      } else {
        WalkValues(n, searchText, list, &inner);
      }
      if (key == "Distributions") distribution = inner.english;
      result.pending.insert(result.pending.end(), inner.pending.begin(), inner.pending.end());
    }
    key.clear();
  }
  // Distribution documents listed before the packages belong to the same product.
  for (RecoveryHDEntry& found : result.pending)
    if (found.DistributionURL.empty()) found.DistributionURL = distribution;
  if (!package.URL.empty() && package.URL.find(searchText) != std::string::npos)
    result.pending.push_back(package);
  return result;
}

// The elements of an array, or of any other container: the dicts inside are walked.
void WalkValues(const XmlNode& container, const std::string& searchText, RecoveryHDList* list,
                DictResult* out) {
  for (const auto& child : container.children) {
    DictResult inner;
    if (child->name == "dict") {
      inner = WalkDict(*child, searchText, list);
    } else {
      WalkValues(*child, searchText, list, &inner);
    }
    out->pending.insert(out->pending.end(), inner.pending.begin(), inner.pending.end());
  }
}

std::string PathPart(const std::string& url) {
  const size_t slash = url.rfind('/');
  return slash == std::string::npos ? "" : url.substr(0, slash + 1);
}

std::string FileStem(const std::string& url) {
  const size_t slash = url.rfind('/');
  std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

// The Darwin major number of a build: its leading digits, at most two ("9L30" gives "9").
std::string DarwinMajor(const std::string& build) {
  size_t n = 0;
  while (n < 2 && n < build.size() && build[n] >= '0' && build[n] <= '9') ++n;
  return build.substr(0, n);
}

}  // namespace

void ExtractXMLProductInfo(const XmlNode& node, const std::string& searchText,
                           RecoveryHDList* list) {
  DictResult top;
  if (node.name == "dict") {
    top = WalkDict(node, searchText, list);
  } else {
    WalkValues(node, searchText, list, &top);
  }
  // Packages of a product without a post date are not listed.
  for (const RecoveryHDEntry& e : top.pending)
    FW_LOG("ExtractXMLProductInfo: no PostDate for " + e.URL);
}

std::string ProductIDFromURL(const std::string& url) {
  size_t start = 0;
  while (start <= url.size()) {
    size_t end = url.find('/', start);
    if (end == std::string::npos) end = url.size();
    const std::string part = url.substr(start, end - start);
    const size_t dash = part.find('-');
    if (dash != std::string::npos) {
      const size_t second = part.find('-', dash + 1);
      return second == std::string::npos ? part : part.substr(0, second);
    }
    start = end + 1;
  }
  return "";
}

bool ParseCatalogDate(const std::string& text, int64_t* seconds, std::string* dayText) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  char t = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &m, &d, &t, &hh, &mm, &ss) != 7 ||
      t != 'T' || m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60 || y < 1970 ||
      hh < 0 || mm < 0 || ss < 0)
    return false;
  // Days since 1970-01-01 of a proleptic Gregorian date.
  const int yy = y - (m <= 2);
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = int64_t{era} * 146097 + doe - 719468;
  *seconds = days * 86400 + hh * 3600 + mm * 60 + ss;
  char day[48];
  std::snprintf(day, sizeof day, "%04d-%02d-%02d", y, m, d);
  *dayText = day;
  return true;
}

std::string MetadataDocumentURL(const RecoveryHDEntry& entry) {
  if (!entry.MetadataURL.empty()) return entry.MetadataURL;
  return PathPart(entry.URL) + FileStem(entry.URL) + ".pkm";
}

std::string DistributionDocumentURL(const RecoveryHDEntry& entry) {
  if (!entry.DistributionURL.empty()) return entry.DistributionURL;
  return PathPart(entry.URL) + entry.ProductID + ".English.dist";
}

std::string BuildFromMetadata(const XmlNode& root) {
  const std::string identifier = root.Attribute("identifier");
  const size_t dot = identifier.rfind('.');
  const std::string build = dot == std::string::npos ? identifier : identifier.substr(dot + 1);
  if (std::atoi(build.substr(0, 2).c_str()) <= 8) return "";
  return build;
}

std::string BuildFromDistribution(const XmlNode& root) {
  // Depth-first over the document; inside "auxinfo", the string after the key "BUILD".
  std::vector<std::pair<const XmlNode*, bool>> stack = {{&root, false}};
  while (!stack.empty()) {
    const auto [node, inAux] = stack.back();
    stack.pop_back();
    const bool aux = inAux || node->name == "auxinfo";
    bool buildKey = false;
    for (const auto& child : node->children) {
      if (aux && buildKey && child->name == "string") return child->text;
      buildKey = aux && child->name == "key" && child->text == "BUILD";
    }
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
      stack.push_back({it->get(), aux});
  }
  return "";
}

std::string MacOSNameOfBuild(const std::string& build) {
  static const char* const kNames[][2] = {
      {"9", "Leopard"},      {"10", "Snow Leopard"}, {"11", "Lion"},       {"12", "Mountain Lion"},
      {"13", "Mavericks"},   {"14", "Yosemite"},     {"15", "El Capitan"}, {"16", "Sierra"},
      {"17", "High Sierra"}, {"18", "Mojave"},       {"19", "Catalina"},   {"20", "macOS "},
  };
  const std::string major = DarwinMajor(build);
  for (const auto& row : kNames)
    if (major == row[0]) return row[1];
  return "macOS";
}

std::string RecoveryHDName(const RecoveryHDEntry& entry) {
  std::string name = "(" + entry.Build + ") " + MacOSNameOfBuild(entry.Build);
  if (!entry.PostDateText.empty()) name += " " + entry.PostDateText;
  const int64_t size = std::atoll(entry.Size.c_str());
  if (size > 0) name += " " + FormatSizeText(size, 0);
  return name;
}

void ReduceRecoveryHDList(RecoveryHDList* list, bool onlyNewest) {
  auto newestFirst = [](const RecoveryHDEntry& a, const RecoveryHDEntry& b) {
    return a.PostDate > b.PostDate;
  };
  auto byBuild = [](const RecoveryHDEntry& a, const RecoveryHDEntry& b) {
    return a.Build < b.Build;
  };
  // Keeps the newest entry of each group that `same` puts together.
  auto keepNewest = [&](auto same) {
    std::stable_sort(list->begin(), list->end(), newestFirst);
    RecoveryHDList kept;
    for (const RecoveryHDEntry& e : *list)
      if (std::none_of(kept.begin(), kept.end(), [&](const auto& k) { return same(k, e); }))
        kept.push_back(e);
    std::stable_sort(kept.begin(), kept.end(), byBuild);
    *list = std::move(kept);
  };
  keepNewest([](const RecoveryHDEntry& a, const RecoveryHDEntry& b) { return a.Build == b.Build; });
  if (onlyNewest) {
    keepNewest([](const RecoveryHDEntry& a, const RecoveryHDEntry& b) {
      return a.Build.substr(0, 2) == b.Build.substr(0, 2);
    });
  }
  std::stable_sort(
      list->begin(), list->end(),
      [](const RecoveryHDEntry& a, const RecoveryHDEntry& b) { return a.Name < b.Name; });
}

}  // namespace fw
