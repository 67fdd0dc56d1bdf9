#include "net/file_digest.h"

#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fw {

bool DigestKindOfHex(std::string_view hex, DigestKind* kind) {
  for (const char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  if (hex.size() == 32) {
    *kind = DigestKind::Md5;
    return true;
  }
  if (hex.size() == 40) {
    *kind = DigestKind::Sha1;
    return true;
  }
  return false;
}

struct Digest::State {
  EVP_MD_CTX* ctx = nullptr;
  ~State() { EVP_MD_CTX_free(ctx); }
};

Digest::Digest(DigestKind kind) : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(state_->ctx, kind == DigestKind::Md5 ? EVP_md5() : EVP_sha1(), nullptr);
}

Digest::~Digest() = default;

void Digest::Update(const void* data, std::size_t size) {
  EVP_DigestUpdate(state_->ctx, data, size);
}

std::string Digest::FinalHex() {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(state_->ctx, md, &len);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(len * 2);
  for (unsigned int i = 0; i < len; ++i) {
    out.push_back(kHex[md[i] >> 4]);
    out.push_back(kHex[md[i] & 15]);
  }
  return out;
}

std::string FileDigestHex(const std::string& path, DigestKind kind, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (error != nullptr) *error = path + ": " + std::strerror(errno);
    return "";
  }
  Digest digest(kind);
  std::vector<unsigned char> buffer(1 << 20);
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) digest.Update(buffer.data(), n);
  const bool failed = std::ferror(f) != 0;
  const int readErrno = errno;
  std::fclose(f);
  if (failed) {
    if (error != nullptr) *error = path + ": " + std::strerror(readErrno);
    return "";
  }
  return digest.FinalHex();
}

bool SameDigest(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace fw
