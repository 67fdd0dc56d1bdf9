// Message digests of downloaded files and of streams: MD5 and SHA-1, as the catalogs and the
// download lists state them (lower-case hexadecimal).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace fw {

enum class DigestKind { Md5, Sha1 };

// The kind whose hexadecimal form has this many digits (32: MD5, 40: SHA-1); false for any other
// text, so that a digest field of another length or with a non-hex character is not checked.
bool DigestKindOfHex(std::string_view hex, DigestKind* kind);

// A running digest fed in pieces.
class Digest {
 public:
  explicit Digest(DigestKind kind);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void Update(const void* data, std::size_t size);
  // The lower-case hexadecimal digest of everything fed so far; the digest ends with it.
  std::string FinalHex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of a whole file, or "" when it cannot be read (error text in *error).
std::string FileDigestHex(const std::string& path, DigestKind kind, std::string* error = nullptr);

// Case-insensitive comparison of two hexadecimal digests.
bool SameDigest(std::string_view a, std::string_view b);

}  // namespace fw
