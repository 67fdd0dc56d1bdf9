#include "net/file_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fw {
namespace {

TEST(FileDigest, KnownVectorsWholeAndInPieces) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  Digest md5(DigestKind::Md5);
  md5.Update(text.data(), 10);
  md5.Update(text.data() + 10, text.size() - 10);
  EXPECT_EQ(md5.FinalHex(), "9e107d9d372bb6826bd81d3542a419d6");

  const auto path = std::filesystem::temp_directory_path() / "fw_digest_test.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  EXPECT_EQ(FileDigestHex(path.string(), DigestKind::Sha1),
            "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12");
  std::filesystem::remove(path);

  std::string error;
  EXPECT_EQ(FileDigestHex(path.string(), DigestKind::Sha1, &error), "");
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(FileDigest, KindOfHexTakesOnlyMd5AndSha1Lengths) {
  DigestKind kind = DigestKind::Md5;
  EXPECT_TRUE(DigestKindOfHex("2FD4E1C67A2D28FCED849EE1BB76E7391B93EB12", &kind));
  EXPECT_EQ(kind, DigestKind::Sha1);
  EXPECT_TRUE(DigestKindOfHex("9e107d9d372bb6826bd81d3542a419d6", &kind));
  EXPECT_EQ(kind, DigestKind::Md5);
  EXPECT_FALSE(DigestKindOfHex("9e107d9d372bb6826bd81d3542a419d", &kind));
  EXPECT_FALSE(DigestKindOfHex("9e107d9d372bb6826bd81d3542a419dg", &kind));
  EXPECT_FALSE(DigestKindOfHex("", &kind));
  EXPECT_TRUE(SameDigest("ABCdef", "abcDEF"));
  EXPECT_FALSE(SameDigest("abc", "abd"));
}

}  // namespace
}  // namespace fw
