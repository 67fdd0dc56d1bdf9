#include "tests/net/download_fixture.h"

namespace fwtest {
namespace {

// A download past 2 GiB (byte counts stay 64-bit) that survives 20 broken connections and ends
// byte-identical.
TEST_F(DownloadTest, ThreeGiBWithTwentyDisconnectsEndsIdentical) {
  constexpr int64_t kSize = 3LL << 30;
  TestServer server(TestServer::Scripted([](const Request&, int index) {
    Plan p;
    p.size = kSize;
    if (index < 20) p.dropAfter = 150LL * 1024 * 1024 + 12345;
    return p;
  }));
  ToFile(server.Url("/big.bin"), 9999, 1024 * 1024);
  ASSERT_EQ(fw::HTTPGetFromWeb(r_), fw::kWebOk);
  EXPECT_EQ(r_.iResumeAttemptsNumber, 20);
  EXPECT_EQ(r_.iTotBytesRead, kSize);
  EXPECT_EQ(r_.AnnouncedFileSize, kSize);
  const auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 21u);
  EXPECT_EQ(reqs[20].Header("range"),
            "bytes=" + std::to_string(20 * (150LL * 1024 * 1024 + 12345)) + "-" +
                std::to_string(kSize - 1));
  EXPECT_TRUE(HoldsPattern(Target(), kSize));
}

}  // namespace
}  // namespace fwtest
