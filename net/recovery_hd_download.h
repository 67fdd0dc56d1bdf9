// The download of one Recovery HD package into the work folder as "RecoveryHD.pkg", checked
// against the catalog's size and SHA-1 digest (the entry's own, else the cache beside the
// settings): a package of another length or digest is a failed download and is removed.
#pragma once

#include <cstdint>
#include <string>

#include "net/recovery_hd_list.h"

namespace fw {

inline constexpr const char* kRecoveryHDPackageName = "RecoveryHD.pkg";

// The entry's size and digest, completed from the cache when the entry lacks them.
RecoveryHDEntry WithCachedFacts(RecoveryHDEntry entry);

enum class PackageCheck { Ok, SizeMismatch, DigestMismatch, Unreadable };
// Checks a downloaded file. A size of "" or "0" is not checked; the digest only when it is 40
// hexadecimal digits (SHA-1). `text` gets what to show for a digest mismatch or unreadable file.
PackageCheck CheckDownloadedPackage(const std::string& path, const std::string& size,
                                    const std::string& digest, std::string* text);

// Worker body: the caller took the download engine (TryStartNetTransfer); this releases it.
// Returns the engine's result code; kWebSizeMismatch also for a package that fails the check.
int GetRecoveryHDThread(const RecoveryHDEntry& entry);

}  // namespace fw
