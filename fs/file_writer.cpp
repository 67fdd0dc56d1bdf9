// The FAT32/exFAT engine, the file writer: data in batches, clusters reserved from the size hint,
// roll-back on failure.
#include <algorithm>

#include "fs/volume_engine.h"

namespace fw::fat::engine {

// ---------------------------------------------------------------- file writer

FileWriter::FileWriter(Engine& engine, uint32_t dirFirst, size_t slot, uint64_t sizeHint)
    : e_(engine), dirFirst_(dirFirst), slot_(slot) {
  const uint64_t need = sizeHint / e_.clusterBytes_ + (sizeHint % e_.clusterBytes_ != 0);
  if (need > 1 && need <= 0xFFFFFFFFull) {
    uint32_t start;
    if (e_.FindRun(static_cast<uint32_t>(need), start)) {
      for (uint32_t i = 0; i < need; ++i) e_.MarkUsed(start + i);
      resNext_ = start;
      resLeft_ = static_cast<uint32_t>(need);
    }
  }
}

FileWriter::~FileWriter() {
  if (!closed_) Rollback();
}

void FileWriter::Rollback() {
  closed_ = true;
  for (uint32_t i = 0; i < resLeft_; ++i) e_.MarkFree(resNext_ + i);
  resLeft_ = 0;
  for (uint32_t c : clusters_) {
    if (e_.exfat_) e_.SetFat(c, 0);
    e_.MarkFree(c);
  }
  clusters_.clear();
  auto it = e_.dirs_.find(dirFirst_);
  if (it == e_.dirs_.end()) return;
  Dir& d = *it->second;
  for (auto& en : d.entries) {
    if (en.slot == slot_) {
      const Entry copy = en;
      e_.DeleteEntry(d, copy);
      break;
    }
  }
}

uint32_t FileWriter::NextCluster() {
  if (resLeft_) {
    --resLeft_;
    return resNext_++;
  }
  uint32_t c = 0;
  if (!clusters_.empty() && e_.ValidCluster(uint64_t{clusters_.back()} + 1) &&
      e_.IsFree(clusters_.back() + 1))
    c = clusters_.back() + 1;
  else
    c = e_.FindFree(e_.nextFree_);
  if (c == 0 || !e_.MarkUsed(c)) return 0;
  return c;
}

bool FileWriter::FlushPending(bool final) {
  const uint32_t cb = e_.clusterBytes_;
  size_t n = final ? (pending_.size() + cb - 1) / cb : pending_.size() / cb;
  if (n == 0) return true;
  const size_t first = clusters_.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = NextCluster();
    if (c == 0) return false;
    if (!e_.exfat_ && !clusters_.empty() && !e_.SetFat(clusters_.back(), c)) return false;
    clusters_.push_back(c);
  }
  const size_t bytes = n * cb;
  if (pending_.size() < bytes) pending_.resize(bytes, 0);
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    while (j < n && clusters_[first + j] == clusters_[first + j - 1] + 1) ++j;
    if (!e_.WriteBytes(e_.ClusterOffset(clusters_[first + i]), pending_.data() + i * cb,
                       (j - i) * cb))
      return false;
    i = j;
  }
  pending_.erase(pending_.begin(),
                 pending_.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, pending_.size())));
  return true;
}

bool FileWriter::Write(const void* data, size_t length) {
  if (failed_ || closed_) return false;
  if (!e_.exfat_ && size_ + length > 0xFFFFFFFFull) {
    failed_ = true;
    return false;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const size_t batch = std::max<size_t>(kWriteBatch, e_.clusterBytes_);
    const size_t room = pending_.size() < batch ? batch - pending_.size() : 0;
    const size_t n = std::min(room, length);
    pending_.insert(pending_.end(), p, p + n);
    p += n;
    length -= n;
    size_ += n;
    if (pending_.size() >= batch && !FlushPending(false)) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

bool FileWriter::Close() {
  if (closed_) return false;
  if (failed_ || !FlushPending(true)) {
    Rollback();
    return false;
  }
  for (uint32_t i = 0; i < resLeft_; ++i) e_.MarkFree(resNext_ + i);
  resLeft_ = 0;
  bool contiguous = true;
  for (size_t i = 1; i < clusters_.size(); ++i)
    if (clusters_[i] != clusters_[i - 1] + 1) contiguous = false;
  if (e_.exfat_ && !contiguous) {
    for (size_t i = 0; i < clusters_.size(); ++i)
      e_.SetFat(clusters_[i], i + 1 < clusters_.size() ? clusters_[i + 1] : kExfatEoc);
  }
  auto it = e_.dirs_.find(dirFirst_);
  if (it == e_.dirs_.end()) {
    Rollback();
    return false;
  }
  Dir& d = *it->second;
  for (auto& en : d.entries) {
    if (en.slot != slot_) continue;
    en.first = clusters_.empty() ? 0 : clusters_.front();
    en.size = en.validSize = size_;
    en.noFatChain = e_.exfat_ && contiguous && !clusters_.empty();
    e_.UpdateEntry(d, en);
    closed_ = true;
    return true;
  }
  Rollback();
  return false;
}

}  // namespace fw::fat::engine
