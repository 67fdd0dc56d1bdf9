#include "datasets/data_zip.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "datasets/dataset_services.h"
#include "datasets/packed_items.h"
#include "datasets/zip_reading.h"

namespace fs = std::filesystem;

namespace fw {
namespace {

constexpr size_t kBlock = 256 * 1024;
// Largest "boot" file TestDataZip copies out to read its revision (the real one is ~0.5 MB).
constexpr int64_t kMaxBootFileSize = 64 * 1024 * 1024;

// Where the entries go: a host folder or a volume's files.
class Destination {
 public:
  virtual ~Destination() = default;
  virtual bool MakeDirectories(const std::string& rel) = 0;
  // Starts a file; the sink writes its bytes and returns false on failure.
  virtual bool Begin(const std::string& rel, uint64_t sizeHint) = 0;
  virtual bool Write(const void* data, size_t length) = 0;
  // Finishes the file; `keep` false removes it (nothing of a file that is wrong stays behind).
  virtual bool End(bool keep) = 0;
  virtual uint64_t FreeBytes() = 0;
  // Writes out what the target keeps in memory; false when that failed.
  virtual bool Finish() { return true; }
};

class FolderDestination final : public Destination {
 public:
  explicit FolderDestination(fs::path root) : root_(std::move(root)) {}
  bool MakeDirectories(const std::string& rel) override {
    if (rel.empty() || made_.count(rel)) return true;
    if (!NoLinksOnTheWay(rel, true)) return false;
    std::error_code ec;
    fs::create_directories(root_ / rel, ec);
    if (!fs::is_directory(root_ / rel, ec)) return false;
    made_.insert(rel);
    return true;
  }
  bool Begin(const std::string& rel, uint64_t) override {
    if (!NoLinksOnTheWay(rel, false)) return false;
    current_ = root_ / rel;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(current_, ec))) return false;
    file_ = std::fopen(current_.c_str(), "wb");
    return file_ != nullptr;
  }
  bool Write(const void* data, size_t length) override {
    return std::fwrite(data, 1, length, file_) == length;
  }
  bool End(bool keep) override {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!keep || !closed) {
      std::error_code ec;
      fs::remove(current_, ec);
    }
    return closed;
  }
  uint64_t FreeBytes() override {
    std::error_code ec;
    const fs::space_info s = fs::space(root_, ec);
    return ec ? UINT64_MAX : s.available;
  }
  ~FolderDestination() override {
    if (file_) std::fclose(file_);
  }

 private:
  // Refuses a path whose existing parts below the root are symbolic links: a link planted in
  // the target could lead the writes out of it.
  bool NoLinksOnTheWay(const std::string& rel, bool includeLast) {
    fs::path p = root_;
    const fs::path relPath(rel);
    auto last = relPath.end();
    if (!includeLast) --last;
    for (auto it = relPath.begin(); it != last; ++it) {
      p /= *it;
      std::error_code ec;
      if (fs::is_symlink(fs::symlink_status(p, ec))) return false;
    }
    return true;
  }
  fs::path root_;
  std::set<std::string> made_;  // folders made (and checked) by this extraction
  fs::path current_;
  std::FILE* file_ = nullptr;
};

class VolumeDestination final : public Destination {
 public:
  VolumeDestination(std::shared_ptr<VolumeFiles> files, std::string base)
      : files_(std::move(files)), base_(std::move(base)) {}
  bool MakeDirectories(const std::string& rel) override {
    const std::string p = Join(rel);
    return p.empty() || files_->MakeDirectories(p);
  }
  bool Begin(const std::string& rel, uint64_t sizeHint) override {
    writer_ = files_->CreateFile(Join(rel), sizeHint);
    return writer_ != nullptr;
  }
  bool Write(const void* data, size_t length) override { return writer_->Write(data, length); }
  bool End(bool keep) override {
    bool ok = true;
    if (keep)
      ok = writer_->Close();
    else
      writer_->Discard();
    writer_.reset();
    return ok;
  }
  uint64_t FreeBytes() override { return files_->FreeBytes(); }
  bool Finish() override { return files_->Flush(); }

 private:
  std::string Join(const std::string& rel) const {
    if (base_.empty()) return rel;
    return rel.empty() ? base_ : base_ + "/" + rel;
  }
  std::shared_ptr<VolumeFiles> files_;
  std::string base_;
  std::unique_ptr<VolumeFileWriter> writer_;
};

std::unique_ptr<Destination> OpenDestination(const std::string& path) {
  if (IsVolumeRoot(path)) {
    auto files = TheDataSetServices().openVolume
                     ? TheDataSetServices().openVolume(path.substr(0, 2))
                     : nullptr;
    if (!files) return nullptr;
    std::string base;
    if (!VolumeFolderOf(path, &base)) return nullptr;
    return std::make_unique<VolumeDestination>(files, base);
  }
  std::error_code ec;
  fs::create_directories(path, ec);
  if (!fs::is_directory(path, ec)) return nullptr;
  return std::make_unique<FolderDestination>(fs::path(path));
}

bool CancelRequested() { return FormatStatus.load() == 1; }

}  // namespace

bool IsVolumeRoot(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

bool VolumeFolderOf(const std::string& volumeTarget, std::string* folder) {
  // The folder below the root must itself stay on the volume.
  std::string below = volumeTarget.substr(2);
  while (!below.empty() && (below.front() == '\\' || below.front() == '/')) below.erase(0, 1);
  *folder = SafeEntryPath(below);
  return !folder->empty() || below.empty();
}

std::string SafeEntryPath(const std::string& entryName) {
  std::string name = entryName;
  for (char& c : name)
    if (c == '\\') c = '/';
  if (name.empty() || name[0] == '/') return "";
  std::string out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return "";
    for (unsigned char c : part)
      if (c < 0x20 || c == ':') return "";  // drive letters, streams, control characters
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

int32_t Validate7zZIPFile(const std::string& FileName) {
  std::ifstream in(FileName, std::ios::binary);
  if (!in) return 0;
  unsigned char b[2] = {0, 0};
  in.read(reinterpret_cast<char*>(b), 2);
  if (in.gcount() < 1) return 0;
  const unsigned word = unsigned(b[0]) | unsigned(b[1]) << 8;
  if (word == 0x4B50) {
    FW_LOG("Validate7zZIPFile: Found ZIP archive file: " + FileName);
    return 1;
  }
  if (word == 0x7A37) {
    FW_LOG("Validate7zZIPFile: Found 7z archive file: " + FileName);
    return 1;
  }
  FW_LOG("Validate7zZIPFile: Not valid format for archive file: " + FileName);
  return 0;
}

int32_t TestDataZip(const std::string& FileName) {
  const std::string temp = TheDataSetServices().tempFolder ? TheDataSetServices().tempFolder() : "";
  if (temp.empty()) {
    FW_LOG("TestDataZip: Cant't GetTemporaryDirectory())");
    return 0;
  }
  if (FileName.empty()) {
    FW_LOG("TestDataZip: " + FileName + " absent");
    return 0;
  }
  if (CancelRequested()) {
    FW_LOG("TestDataZip: Cancel(FormatStatus=#True)");
    return 0;
  }
  const Utf8NamesOnThisThread utf8Names;
  ArchivePtr a = OpenZip(FileName);
  if (!a) {
    FW_LOG("TestDataZip: Can't OpenPack zip");
    return 0;
  }
  // "boot" goes into a folder of its own, made fresh: a fixed name in the shared temporary
  // folder could be a link planted by another user.
  fs::path bootFolder;
  int32_t revision = 0;
  archive_entry* entry = nullptr;
  int rc = ARCHIVE_OK;
  bool examined = false;
  while ((rc = NextHeader(a.get(), &entry)) == ARCHIVE_OK) {
    examined = true;
    if (CancelRequested()) {
      FW_LOG("TestDataZip: Cancel(FormatStatus=#True)");
      break;
    }
    const std::string name = EntryName(entry);
    if (name != "boot" || archive_entry_filetype(entry) != AE_IFREG) continue;
    const int64_t size = archive_entry_size(entry);
    std::random_device random;
    for (int i = 0; i < 100 && bootFolder.empty(); ++i) {
      fs::path candidate = fs::path(temp) / ("fwboot" + std::to_string(random() % 1000000));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) bootFolder = candidate;
    }
    const fs::path bootPath = bootFolder / "boot";
    std::string contents;
    int64_t got = 0;
    std::FILE* out = bootFolder.empty() ? nullptr : std::fopen(bootPath.c_str(), "wbx");
    if (out != nullptr) {
      std::vector<char> block(kBlock);
      la_ssize_t n;
      while ((n = archive_read_data(a.get(), block.data(), block.size())) > 0) {
        got += n;
        if (got > kMaxBootFileSize || std::fwrite(block.data(), 1, size_t(n), out) != size_t(n))
          break;
      }
      std::fclose(out);
    }
    if (got != size) {
      FW_LOG("TestDataZip: Error Uncompress file: " + name + ", Size: " + std::to_string(size) +
             " ERROR SIZE");
      break;
    }
    std::ifstream in(bootPath, std::ios::binary);
    if (!in) {
      FW_LOG("TestDataZip: Error open file: " + bootPath.string());
      break;
    }
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start < contents.size()) {
      size_t end = contents.find_first_of("\r\n", start);
      if (end == std::string::npos) end = contents.size();
      const std::string line = contents.substr(start, end - start);
      start = end + 1;
      const size_t at = line.find("Clover revision: ");
      if (at == std::string::npos) continue;
      int64_t value = 0;
      for (size_t i = at + 17; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        value = value * 10 + (line[i] - '0');
        if (value > INT32_MAX) break;
      }
      revision = value > INT32_MAX ? 0 : static_cast<int32_t>(value);
      break;
    }
    break;
  }
  if (rc != ARCHIVE_OK && rc != ARCHIVE_EOF && !examined)
    FW_LOG("TestDataZip: Can't examine the zip pack content");
  a.reset();
  if (!bootFolder.empty()) {
    std::error_code ec;
    fs::remove_all(bootFolder, ec);
  }
  return revision;
}

std::string NotWrittenText(const ExtractTally& tally) {
  if (tally.NotWritten() == 0) return "";
  return std::to_string(tally.NotWritten()) + " of " + std::to_string(tally.total) +
         " entries not written (" + std::to_string(tally.refused) + " refused, " +
         std::to_string(tally.failed) + " failed)";
}

int32_t ExtractDataZip(const void* Buffer, int64_t BufferLength, std::string PathToExtract,
                       bool FromMemory, std::string sZipFileForUnpack, bool ShowProgress,
                       bool DeleteZipAfter, ExtractTally* tally) {
  if (tally) *tally = ExtractTally{};
  int32_t result = 0;
  FW_LOGP("ExtractDataZip", "ExtractDataZip: PathToExtract$=" + PathToExtract +
                                " sZipFileForUnpack=" + sZipFileForUnpack);
  const bool volume = IsVolumeRoot(PathToExtract);
  const char separator = volume ? '\\' : '/';
  [&] {
    if (CancelRequested()) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Cancel(FormatStatus=#True)");
      return;
    }
    if (PathToExtract.empty()) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: PathToExtract$ is absent");
      return;
    }
    // Either separator may end the path; it gets exactly one of its own kind.
    while (PathToExtract.size() > (volume ? 3u : 1u) &&
           (PathToExtract.back() == '\\' || PathToExtract.back() == '/'))
      PathToExtract.pop_back();
    if (PathToExtract.back() == '\\' || PathToExtract.back() == '/') PathToExtract.pop_back();
    PathToExtract += separator;
    if (FromMemory) {
      if (Buffer == nullptr || BufferLength == 0) {
        FW_LOGP("ExtractDataZip", "ExtractDataZip: Input args: *Buffer Or BufferLength Error");
        return;
      }
      sZipFileForUnpack = UnpackInternalMemoryToTempFile(Buffer, BufferLength);
    }
    if (sZipFileForUnpack.empty()) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: sZipFileForUnpack absent");
      return;
    }
    const Utf8NamesOnThisThread utf8Names;
    ArchivePtr a = OpenZip(sZipFileForUnpack);
    if (!a) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't OpenPack zip");
      return;
    }
    int64_t total = 0;
    archive_entry* entry = nullptr;
    int rc;
    while ((rc = NextHeader(a.get(), &entry)) == ARCHIVE_OK) ++total;
    if (rc != ARCHIVE_EOF) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't examine the zip pack content");
      return;
    }
    a.reset();
    if (ShowProgress) ShowStatus("", -1);
    a = OpenZip(sZipFileForUnpack);
    if (!a) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't examine the zip pack content");
      return;
    }
    std::unique_ptr<Destination> dest = OpenDestination(PathToExtract);
    if (!dest) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't open " + PathToExtract);
      return;
    }
    std::vector<char> block(kBlock);
    int64_t done = 0;
    ExtractTally counts;
    counts.total = total;
    while ((rc = NextHeader(a.get(), &entry)) == ARCHIVE_OK) {
      ++done;
      if (CancelRequested()) {
        FW_LOGP("ExtractDataZip", "ExtractDataZip: Cancel(FormatStatus=#True)");
        break;
      }
      const std::string name = EntryName(entry);
      const std::string rel = SafeEntryPath(name);
      const auto type = archive_entry_filetype(entry);
      const int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
      if (rel.empty() || (type != AE_IFREG && type != AE_IFDIR) ||
          archive_entry_hardlink(entry) != nullptr) {
        FW_LOGP("ExtractDataZip", "ExtractDataZip: Refused entry: " + name);
        ++counts.refused;
      } else if (type == AE_IFDIR) {
        if (dest->MakeDirectories(rel)) {
          ++counts.written;
        } else {
          FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't create folder " + rel);
          ++counts.failed;
        }
      } else {
        const size_t slash = rel.rfind('/');
        const uint64_t room = size == 0 ? 0 : dest->FreeBytes();
        if (size >= 0 && uint64_t(size) > room) {
          FW_LOGP("ExtractDataZip", "ExtractDataZip: No room for entry: " + name +
                                        ", Size: " + std::to_string(size) +
                                        " exceeds the free space " + std::to_string(room));
          ++counts.failed;
        } else if (!dest->MakeDirectories(slash == std::string::npos ? "" : rel.substr(0, slash)) ||
                   !dest->Begin(rel, size > 0 ? uint64_t(size) : 0)) {
          FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't create file " + rel);
          ++counts.failed;
        } else {
          // Never more than the entry claims, nor than the free space: a lying or bombing entry
          // ends as a size error instead of filling the target.
          const uint64_t limit = size >= 0 ? uint64_t(size) : room;
          uint64_t written = 0;
          bool failed = false;
          la_ssize_t n;
          while ((n = archive_read_data(a.get(), block.data(), block.size())) > 0) {
            if (written + uint64_t(n) > limit || !dest->Write(block.data(), size_t(n))) {
              failed = true;
              break;
            }
            written += uint64_t(n);
          }
          // A negative count is also how a wrong CRC shows, after the last bytes.
          if (n < 0) failed = true;
          const bool whole = !failed && (size < 0 || written == uint64_t(size));
          if (!whole) dest->End(false);
          if (whole && dest->End(true)) {
            ++counts.written;
          } else {
            FW_LOGP("ExtractDataZip",
                    "Proceed file: " + name + ", Size: " + std::to_string(size) + " ERROR SIZE");
            ++counts.failed;
          }
        }
      }
      if (ShowProgress) {
        ShowStatus("Extracted (" + std::to_string(done) + "/" + std::to_string(total) +
                       ") files to " + PathToExtract,
                   total > 0 ? static_cast<int>(done * 100 / total) : 100);
      }
    }
    if (rc != ARCHIVE_OK && rc != ARCHIVE_EOF)
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't examine the zip pack content");
    if (!dest->Finish()) {
      // The volume's tables did not reach it: nothing written can be counted on.
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Can't write the tables of " + PathToExtract);
      counts.failed += counts.written;
      counts.written = 0;
    }
    if (counts.NotWritten() > 0) {
      FW_LOGP("ExtractDataZip", "ExtractDataZip: " + NotWrittenText(counts));
      if (ShowProgress)
        ShowStatus("Extracted (" + std::to_string(counts.written) + "/" + std::to_string(total) +
                       ") files to " + PathToExtract + "; " + NotWrittenText(counts),
                   100);
    }
    if (tally) *tally = counts;
    result = 1;
    Pause(1000);
  }();
  FW_LOGP("ExtractDataZip", "ExtractDataZip: ExtractDataZipSuccess=" + std::to_string(result));
  std::error_code ec;
  if (DeleteZipAfter && !sZipFileForUnpack.empty() && fs::exists(sZipFileForUnpack, ec)) {
    fs::permissions(sZipFileForUnpack, fs::perms::owner_write, fs::perm_options::add, ec);
    if (fs::remove(sZipFileForUnpack, ec))
      FW_LOGP("ExtractDataZip", "ExtractDataZip: Deleted " + sZipFileForUnpack);
  }
  if (ShowProgress && TheUi().HasMainWindow()) ShowStatus("", -1);
  return result;
}

}  // namespace fw
