#include "net/content_range.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(RangeContinuesAt, OnlyThePartThatStartsWhereTheFileEndsOfTheSameWhole) {
  EXPECT_TRUE(RangeContinuesAt("bytes 700000-999999/1000000", 700000, 1000000));
  EXPECT_TRUE(RangeContinuesAt("Bytes  700000-999999/1000000", 700000, 1000000));
  EXPECT_TRUE(RangeContinuesAt("bytes 5-9/*", 5, 0));  // total not known yet
  EXPECT_TRUE(RangeContinuesAt("bytes 5-9/10", 5, 0));
  for (const char* bad : {"", "bytes", "bytes 0-299999/1000000", "bytes 700000-999999/2000000",
                          "bytes 700000-999999/*", "bytes 700000-699999/1000000",
                          "bytes 700000-1000000/1000000", "bytes 700000-999999", "700000-999999/1",
                          "bytes 700000-999999/1000000x", "bytes -700000-999999/1000000",
                          "items 700000-999999/1000000", "bytes 99999999999999999999-1/2"})
    EXPECT_FALSE(RangeContinuesAt(bad, 700000, 1000000)) << bad;
}

}  // namespace
}  // namespace fw
