#include "app/text.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(FormatSizeText, UnitsAndDecimals) {
  EXPECT_EQ(FormatSizeText(0, 2), "0 B");
  EXPECT_EQ(FormatSizeText(512, 0), "512 B");
  EXPECT_EQ(FormatSizeText(512, 3), "512 B");
  EXPECT_EQ(FormatSizeText(1536, 1), "1.5 KB");
  EXPECT_EQ(FormatSizeText(1048576, 0), "1 MB");
  // GB and TB carry two more decimals than asked.
  EXPECT_EQ(FormatSizeText(8589934592LL, 0), "8.00 GB");
  EXPECT_EQ(FormatSizeText(2199023255552LL, 1), "2.000 TB");
}

TEST(FormatSizeText, ThresholdsInThousandsDivisionsInPowersOfTwo) {
  // 1000 KB is past the KB threshold but divides by 1024.
  EXPECT_EQ(FormatSizeText(1000 * 1024, 2), "0.98 MB");
  EXPECT_EQ(FormatSizeText(999 * 1024, 0), "999 KB");
}

TEST(FormatDurationText, Layout) {
  EXPECT_EQ(FormatDurationText(0), "");
  EXPECT_EQ(FormatDurationText(7), "7 s ");
  EXPECT_EQ(FormatDurationText(65), "1 m 05 s ");
  EXPECT_EQ(FormatDurationText(3600 + 5 * 60 + 9), "1 h 05 m 09 s ");
  EXPECT_EQ(FormatDurationText(691200), "1 w 1 d 00 h 00 m 00 s ");
  EXPECT_EQ(FormatDurationText(86400 + 61), "1 d 00 h 01 m 01 s ");
  EXPECT_EQ(FormatShownDurationText(0), "0 s ");
  EXPECT_EQ(FormatShownDurationText(65), "1 m 05 s ");
}

TEST(CutToCharacters, WholeCharactersWithinTheUnits) {
  EXPECT_EQ(CutToCharacters("ABCDEFGHIJKLM", 11), "ABCDEFGHIJK");
  EXPECT_EQ(CutToCharacters("ФЛЕШКА", 11), "ФЛЕШКА");  // 12 bytes, 6 characters
  EXPECT_EQ(CutToCharacters("ЖЖЖЖЖЖЖЖЖЖЖЖ", 11), "ЖЖЖЖЖЖЖЖЖЖЖ");
  EXPECT_EQ(CutToCharacters("0123456789\xF0\x9F\x98\x80", 11), "0123456789");  // no half pair
  EXPECT_EQ(CutToCharacters("AB\xD0", 11), "AB");  // a cut-off sequence is dropped
  EXPECT_EQ(CutToCharacters("", 11), "");
}

}  // namespace
}  // namespace fw
