#include "tests/hfs/hfsplus_writer.h"

#include <algorithm>
#include <cstdint>

namespace fwtest {
namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kNode = 4096;
constexpr uint32_t kRootParent = 1, kRootFolder = 2, kFirstFile = 16;

void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, static_cast<uint16_t>(v >> 16));
  Put16(s, at + 2, static_cast<uint16_t>(v));
}
void Put64(std::string& s, size_t at, uint64_t v) {
  Put32(s, at, static_cast<uint32_t>(v >> 32));
  Put32(s, at + 4, static_cast<uint32_t>(v));
}
void Append16(std::string& s, uint16_t v) {
  s.append(2, '\0');
  Put16(s, s.size() - 2, v);
}
void Append32(std::string& s, uint32_t v) {
  s.append(4, '\0');
  Put32(s, s.size() - 4, v);
}

// Fork data: logical size, clump, total blocks and the first extent.
void PutFork(std::string& s, size_t at, uint64_t size, uint32_t start, uint32_t blocks) {
  Put64(s, at, size);
  Put32(s, at + 8, 0);
  Put32(s, at + 12, blocks);
  Put32(s, at + 16, start);
  Put32(s, at + 20, blocks);
}

std::string UniName(const std::string& name) {
  std::string out;
  Append16(out, static_cast<uint16_t>(name.size()));
  for (char c : name) Append16(out, static_cast<uint8_t>(c));
  return out;
}

std::string CatalogKey(uint32_t parent, const std::string& name) {
  std::string key;
  Append16(key, static_cast<uint16_t>(6 + 2 * name.size()));
  Append32(key, parent);
  return key + UniName(name);
}

std::string FolderRecord(uint32_t id, uint32_t valence) {
  std::string r(88, '\0');
  Put16(r, 0, 1);  // folder
  Put32(r, 4, valence);
  Put32(r, 8, id);
  Put16(r, 32 + 10, 040755);  // BSD mode
  return r;
}

std::string ThreadRecord(uint16_t type, uint32_t parent, const std::string& name) {
  std::string r(8, '\0');
  Put16(r, 0, type);
  Put32(r, 4, parent);
  return r + UniName(name);
}

std::string FileRecord(uint32_t id, uint64_t size, uint32_t start, uint32_t blocks) {
  std::string r(248, '\0');
  Put16(r, 0, 2);  // file
  Put32(r, 8, id);
  Put16(r, 32 + 10, 0100644);
  PutFork(r, 88, size, start, blocks);
  return r;
}

// One B-tree node from its records; the offsets run backwards from the node's end.
std::string Node(int8_t kind, uint8_t height, const std::vector<std::string>& records) {
  std::string node(kNode, '\0');
  node[8] = static_cast<char>(kind);
  node[9] = static_cast<char>(height);
  Put16(node, 10, static_cast<uint16_t>(records.size()));
  size_t at = 14;
  for (size_t i = 0; i < records.size(); ++i) {
    Put16(node, kNode - 2 * (i + 1), static_cast<uint16_t>(at));
    node.replace(at, records[i].size(), records[i]);
    at += (records[i].size() + 1) & ~size_t{1};
  }
  Put16(node, kNode - 2 * (records.size() + 1), static_cast<uint16_t>(at));
  return node;
}

// Header node of a tree with `totalNodes` nodes, whose only leaf (if any) is node 1.
std::string HeaderNode(uint32_t leafRecords, uint32_t totalNodes, uint16_t maxKey,
                       uint8_t compare) {
  std::string header(106, '\0');
  const bool hasLeaf = leafRecords > 0;
  Put16(header, 0, hasLeaf ? 1 : 0);  // depth
  Put32(header, 2, hasLeaf ? 1 : 0);  // root
  Put32(header, 6, leafRecords);
  Put32(header, 10, hasLeaf ? 1 : 0);  // first leaf
  Put32(header, 14, hasLeaf ? 1 : 0);  // last leaf
  Put16(header, 18, kNode);
  Put16(header, 20, maxKey);
  Put32(header, 22, totalNodes);
  Put32(header, 26, 0);  // free nodes
  Put32(header, 32, kNode);
  header[37] = static_cast<char>(compare);
  Put32(header, 38, 6);  // big keys, variable index keys
  std::string map(kNode - 14 - 106 - 128 - 8, '\0');
  map[0] = static_cast<char>(hasLeaf ? 0xC0 : 0x80);  // nodes in use
  return Node(1, 0, {header, std::string(128, '\0'), map});
}

bool KeyLess(const std::pair<uint32_t, std::string>& a, const std::pair<uint32_t, std::string>& b) {
  if (a.first != b.first) return a.first < b.first;
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return std::tolower(c); });
    return s;
  };
  return lower(a.second) < lower(b.second);
}

}  // namespace

std::string MakeHfsPlusVolume(const std::string& volumeName,
                              const std::vector<std::pair<std::string, std::string>>& files) {
  // Blocks: 0 volume header, 1 allocation file, 2 extents tree, 3-4 catalog tree, then the files,
  // then one block for the alternate volume header.
  const uint32_t firstData = 5;
  std::vector<uint32_t> starts;
  uint32_t next = firstData;
  for (const auto& f : files) {
    starts.push_back(next);
    next += static_cast<uint32_t>((f.second.size() + kBlock - 1) / kBlock);
  }
  const uint32_t totalBlocks = next + 1;

  // Catalog leaf: records sorted by (parent, name).
  std::vector<std::pair<std::pair<uint32_t, std::string>, std::string>> records;
  records.push_back({{kRootParent, volumeName},
                     CatalogKey(kRootParent, volumeName) +
                         FolderRecord(kRootFolder, static_cast<uint32_t>(files.size()))});
  records.push_back(
      {{kRootFolder, ""}, CatalogKey(kRootFolder, "") + ThreadRecord(3, kRootParent, volumeName)});
  for (size_t i = 0; i < files.size(); ++i) {
    const uint32_t id = kFirstFile + static_cast<uint32_t>(i);
    const uint32_t blocks = static_cast<uint32_t>((files[i].second.size() + kBlock - 1) / kBlock);
    records.push_back({{kRootFolder, files[i].first},
                       CatalogKey(kRootFolder, files[i].first) +
                           FileRecord(id, files[i].second.size(), starts[i], blocks)});
    records.push_back(
        {{id, ""}, CatalogKey(id, "") + ThreadRecord(4, kRootFolder, files[i].first)});
  }
  std::sort(records.begin(), records.end(),
            [](const auto& a, const auto& b) { return KeyLess(a.first, b.first); });
  std::vector<std::string> leaf;
  for (const auto& r : records) leaf.push_back(r.second);

  std::string volume(size_t{totalBlocks} * kBlock, '\0');
  std::string allocation(kBlock, '\0');
  for (uint32_t b = 0; b < totalBlocks; ++b)
    allocation[b / 8] |= static_cast<char>(0x80 >> (b % 8));
  volume.replace(1 * kBlock, kBlock, allocation);
  volume.replace(2 * kBlock, kNode, HeaderNode(0, 1, 10, 0));
  volume.replace(3 * kBlock, kNode, HeaderNode(static_cast<uint32_t>(leaf.size()), 2, 516, 0xCF));
  volume.replace(4 * kBlock, kNode, Node(-1, 1, leaf));
  for (size_t i = 0; i < files.size(); ++i)
    volume.replace(size_t{starts[i]} * kBlock, files[i].second.size(), files[i].second);

  std::string vh(512, '\0');
  vh.replace(0, 2, "H+");
  Put16(vh, 2, 4);
  Put32(vh, 4, 0x100);  // cleanly unmounted
  vh.replace(8, 4, "10.0");
  Put32(vh, 32, static_cast<uint32_t>(files.size()));
  Put32(vh, 40, kBlock);
  Put32(vh, 44, totalBlocks);
  Put32(vh, 64, kFirstFile + static_cast<uint32_t>(files.size()));
  PutFork(vh, 112, kBlock, 1, 1);
  PutFork(vh, 192, kNode, 2, 1);
  PutFork(vh, 272, 2 * kNode, 3, 2);
  volume.replace(1024, 512, vh);
  volume.replace(volume.size() - 1024, 512, vh);
  return volume;
}

}  // namespace fwtest
