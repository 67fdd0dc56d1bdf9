#include "datasets/data_zip_verify.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/ui.h"
#include "datasets/data_zip.h"
#include "datasets/dataset_services.h"
#include "datasets/packed_items.h"
#include "datasets/zip_reading.h"

namespace fs = std::filesystem;

namespace fw {
namespace {

constexpr const char* kProc = "VerifyDataZip";
constexpr size_t kBlock = 256 * 1024;

struct Expected {
  std::string rel;   // path below the target, "/" between parts
  std::string name;  // the entry's name in the zip, for the log
  uint32_t crc = 0;
  int64_t size = 0;
  bool readable = true;  // the zip reader delivered the whole entry, its CRC-32 checked
};

uint32_t Crc(uint32_t crc, const void* data, size_t length) {
  return static_cast<uint32_t>(
      crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

// The files the extraction writes, in the zip's order; a later entry of the same name replaces an
// earlier one, as its file does on the target. Names are compared without case on a volume.
bool ReadExpected(const std::string& zip, bool volume, std::vector<Expected>* files) {
  const Utf8NamesOnThisThread utf8Names;
  ArchivePtr a = OpenZip(zip);
  if (!a) return false;
  std::map<std::string, size_t> byName;
  std::vector<char> block(kBlock);
  archive_entry* entry = nullptr;
  int rc;
  while ((rc = NextHeader(a.get(), &entry)) == ARCHIVE_OK) {
    if (FormatStatus.load() == 1) return false;
    const std::string name = EntryName(entry);
    const std::string rel = SafeEntryPath(name);
    if (rel.empty() || archive_entry_filetype(entry) != AE_IFREG ||
        archive_entry_hardlink(entry) != nullptr)
      continue;
    Expected e{rel, name, Crc(0, nullptr, 0), 0, true};
    la_ssize_t n;
    while ((n = archive_read_data(a.get(), block.data(), block.size())) > 0) {
      e.crc = Crc(e.crc, block.data(), size_t(n));
      e.size += n;
    }
    if (n < 0 || (archive_entry_size_is_set(entry) && archive_entry_size(entry) != e.size))
      e.readable = false;
    std::string key = rel;
    if (volume)
      for (char& c : key) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    const auto [it, fresh] = byName.emplace(key, files->size());
    if (fresh)
      files->push_back(e);
    else
      (*files)[it->second] = e;
  }
  return rc == ARCHIVE_EOF;
}

// What a file holds: its CRC-32 and size.
struct Summary {
  uint32_t crc = Crc(0, nullptr, 0);
  int64_t size = 0;
  void Add(const void* data, size_t length) {
    crc = Crc(crc, data, length);
    size += static_cast<int64_t>(length);
  }
};
// Reads a file of the target piece by piece into *summary; false when it is missing or cannot be
// read.
using ReadBack = std::function<bool(const std::string& rel, Summary* summary)>;

ReadBack OpenTarget(const std::string& path) {
  if (IsVolumeRoot(path)) {
    const DataSetServices& s = TheDataSetServices();
    const auto& open = s.openVolumeFromStorage ? s.openVolumeFromStorage : s.openVolume;
    std::shared_ptr<VolumeFiles> files = open ? open(path.substr(0, 2)) : nullptr;
    std::string base;
    if (!files || !VolumeFolderOf(path, &base)) return nullptr;
    return [files, base](const std::string& rel, Summary* summary) {
      return files->ReadFileInPieces(base.empty() ? rel : base + "/" + rel,
                                     [summary](const void* data, size_t length) {
                                       summary->Add(data, length);
                                       return true;
                                     });
    };
  }
  const fs::path root(path);
  return [root](const std::string& rel, Summary* summary) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen((root / rel).c_str(), "rb"),
                                                      std::fclose);
    if (!f) return false;
    std::vector<char> block(kBlock);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), f.get())) > 0)
      summary->Add(block.data(), n);
    return std::ferror(f.get()) == 0;
  };
}

}  // namespace

int32_t VerifyDataZip(const void* Buffer, int64_t BufferLength, std::string PathToExtract,
                      bool FromMemory, std::string sZipFileForUnpack, bool ShowProgress,
                      DataZipCheck* check) {
  *check = DataZipCheck{};
  FW_LOGP(kProc, "VerifyDataZip: PathToExtract$=" + PathToExtract +
                     " sZipFileForUnpack=" + sZipFileForUnpack);
  // A packed item is unpacked to a temporary zip of its own, removed again at the end.
  struct RemovedAtTheEnd {
    std::string path;
    ~RemovedAtTheEnd() {
      std::error_code ec;
      if (!path.empty()) fs::remove(path, ec);
    }
  } unpacked;
  if (FromMemory) {
    if (Buffer == nullptr || BufferLength == 0) return 0;
    sZipFileForUnpack = unpacked.path = UnpackInternalMemoryToTempFile(Buffer, BufferLength);
  }
  std::vector<Expected> files;
  const bool volume = IsVolumeRoot(PathToExtract);
  if (sZipFileForUnpack.empty() || !ReadExpected(sZipFileForUnpack, volume, &files)) {
    FW_LOGP(kProc, "VerifyDataZip: Can't read the zip " + sZipFileForUnpack);
    return 0;
  }
  const ReadBack read = OpenTarget(PathToExtract);
  if (!read) {
    FW_LOGP(kProc, "VerifyDataZip: Can't open " + PathToExtract);
    return 0;
  }
  for (const Expected& e : files) {
    if (FormatStatus.load() == 1) {
      FW_LOGP(kProc, "VerifyDataZip: Cancel(FormatStatus=#True)");
      return 0;
    }
    std::string problem;
    Summary got;
    if (!e.readable) {
      problem = "the zip entry cannot be read whole";
    } else if (!read(e.rel, &got)) {
      problem = "missing or unreadable";
    } else if (got.size != e.size) {
      problem = "size " + std::to_string(got.size) + ", the zip's " + std::to_string(e.size);
    } else if (got.crc != e.crc) {
      char text[64];
      std::snprintf(text, sizeof text, "CRC-32 %08X, the zip's %08X", got.crc, e.crc);
      problem = text;
    }
    if (!problem.empty()) {
      check->failedFile = e.rel;
      FW_LOGP(kProc, "VerifyDataZip: " + e.name + ": " + problem);
      return 0;
    }
    ++check->files;
    if (ShowProgress)
      ShowStatus("Verified (" + std::to_string(check->files) + "/" + std::to_string(files.size()) +
                     ") files on " + PathToExtract,
                 static_cast<int>(check->files * 100 / static_cast<int64_t>(files.size())));
  }
  FW_LOGP(kProc, "VerifyDataZip: " + std::to_string(check->files) +
                     " files read back as the zip holds them");
  return 1;
}

}  // namespace fw
