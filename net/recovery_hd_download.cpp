#include "net/recovery_hd_download.h"

#include <filesystem>

#include "app/log.h"
#include "app/settings.h"
#include "app/ui.h"
#include "app/work_folder.h"
#include "net/file_digest.h"
#include "net/http_get.h"
#include "net/recovery_hd_cache.h"

namespace fw {

RecoveryHDEntry WithCachedFacts(RecoveryHDEntry entry) {
  if (!entry.Size.empty() && !entry.Digest.empty()) return entry;
  const PackageFacts facts = CachedPackageFacts(entry.URL);
  if (entry.Size.empty()) entry.Size = facts.Size;
  if (entry.Digest.empty()) entry.Digest = facts.Digest;
  return entry;
}

PackageCheck CheckDownloadedPackage(const std::string& path, const std::string& size,
                                    const std::string& digest, std::string* text) {
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  if (ec) {
    *text = "Cannot read " + path;
    return PackageCheck::Unreadable;
  }
  const int64_t expected = std::atoll(size.c_str());
  if (expected > 0 && static_cast<int64_t>(length) != expected) {
    FW_LOG("Catalog Size = " + size + " <> downloaded " + std::to_string(length));
    return PackageCheck::SizeMismatch;
  }
  DigestKind kind;
  if (!DigestKindOfHex(digest, &kind) || kind != DigestKind::Sha1) return PackageCheck::Ok;
  std::string error;
  const std::string actual = FileDigestHex(path, DigestKind::Sha1, &error);
  if (actual.empty()) {
    *text = "Cannot read " + path + ": " + error;
    return PackageCheck::Unreadable;
  }
  if (SameDigest(actual, digest)) return PackageCheck::Ok;
  FW_LOG("Catalog Digest = " + digest + " <> SHA-1 " + actual);
  *text = "The SHA-1 digest of " + std::filesystem::path(path).filename().string() +
          " does not match the catalog";
  return PackageCheck::DigestMismatch;
}

int GetRecoveryHDThread(const RecoveryHDEntry& chosen) {
  const RecoveryHDEntry entry = WithCachedFacts(chosen);
  THTTP& r = TheHTTP();
  ClearHTTP(r);
  r.URL = entry.URL;
  r.iDestination = kHttpToFile;
  r.BufferSize = 1024 * 1024;
  r.iResumeAttemptsNumber = 0;
  r.iResumeMaxAttemptsNumber = static_cast<int32_t>(Settings().ResumeMaxAttemptsNumber);
  r.CallStart = MyCallStart;
  r.CallWorking = MyCallWorking;
  r.FullFileName = ZorTempWorkDir() + kRecoveryHDPackageName;
  // A complete transfer is checked before the end callback reports it, so that a package that
  // fails the check is reported as the failure it is.
  PackageCheck check = PackageCheck::Ok;
  std::string problem;
  r.CallEnd = [&](THTTP& record, int code, int64_t received, int64_t total, int64_t seconds) {
    if (code == kWebOk)
      check = CheckDownloadedPackage(record.FullFileName, entry.Size, entry.Digest, &problem);
    // A length other than the catalog's is what the engine calls a size mismatch: its own text.
    MyCallEnd(record, check == PackageCheck::SizeMismatch ? kWebSizeMismatch : code, received,
              total, seconds);
    if (!problem.empty()) ShowStatusFor(problem, 2000);
  };
  int code = HTTPGetFromWeb(r);
  if (code == kWebOk && check != PackageCheck::Ok) {
    std::error_code ec;
    std::filesystem::remove(r.FullFileName, ec);
    code = kWebSizeMismatch;
    r.iHTTPRetVal = code;
  }
  EndNetTransfer();
  FW_LOG("GetRecoveryHDThread: iHTTPRetVal = " + std::to_string(code));
  return code;
}

}  // namespace fw
