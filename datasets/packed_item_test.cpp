#include <gtest/gtest.h>
#include <lzma.h>

#include <random>

#include "app/log.h"
#include "datasets/data_zip.h"
#include "datasets/packed_items.h"
#include "datasets/test_support.h"
#include "packer_core.h"

namespace {

using namespace fwtest;

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen() % 7 == 0 ? gen() : 'a' + gen() % 4);
  return v;
}

std::vector<uint8_t> SampleItem(std::vector<uint8_t>* zipOut = nullptr) {
  std::vector<fwpack::ZipInput> in = {{"KERNEL.SYS", RandomBytes(70000, 1)},
                                      {"freedos/autoexec.bat", {'@', 'e', 'c', 'h', 'o'}}};
  std::vector<uint8_t> zip = fwpack::MakeStoredZip(in);
  if (zipOut) *zipOut = zip;
  return fwpack::MakePackedItem(zip);
}

uint32_t U32(const std::vector<uint8_t>& v, size_t at) {
  return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 |
         uint32_t(v[at + 3]) << 24;
}

TEST(PackedItem, LayoutAndRoundTrip) {
  Scratch s;
  std::vector<uint8_t> zip;
  const std::vector<uint8_t> item = SampleItem(&zip);
  ASSERT_GT(item.size(), 17u);
  EXPECT_EQ(U32(item, 0), zip.size());
  EXPECT_EQ(U32(item, 4), item.size() - 12);
  EXPECT_EQ(item[12], 0x5D);
  EXPECT_EQ(U32(item, 13), 0x01000000u);

  // No work folder yet: the first unpacking makes one.
  ASSERT_TRUE(s.workFolder.empty());
  const std::string path = fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size()));
  ASSERT_FALSE(path.empty());
  EXPECT_FALSE(s.workFolder.empty());
  EXPECT_EQ(fs::path(path).parent_path(), s.work);
  EXPECT_EQ(fs::path(path).filename().string().rfind("TEMP", 0), 0u);
  const std::string got = ReadFile(path);
  EXPECT_EQ(got, std::string(zip.begin(), zip.end()));
  EXPECT_TRUE(s.ui.boxes.empty());
}

// Decodes the item's stream with the size known and no end marker allowed; true when that
// decoder ends exactly at the end of the item (a trailing end marker would be left over).
bool DecodesWithoutEndMarker(const unsigned char* item, size_t length, std::vector<uint8_t>* out) {
  const uint32_t size = uint32_t(item[0]) | uint32_t(item[1]) << 8 | uint32_t(item[2]) << 16 |
                        uint32_t(item[3]) << 24;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, item + 12, 5) != LZMA_OK) return false;
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  const bool propsOk =
      options->lc == 3 && options->lp == 0 && options->pb == 2 && options->dict_size == 0x01000000u;
  options->ext_flags = 0;
  options->ext_size_low = size;
  options->ext_size_high = 0;
  lzma_stream stream = LZMA_STREAM_INIT;
  const lzma_ret init = lzma_raw_decoder(&stream, filters);
  free(filters[0].options);
  if (init != LZMA_OK || !propsOk) return false;
  out->assign(size, 0);
  stream.next_in = item + 17;
  stream.avail_in = length - 17;
  stream.next_out = out->data();
  stream.avail_out = out->size();
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) ret = lzma_code(&stream, LZMA_FINISH);
  const bool ok = ret == LZMA_STREAM_END && stream.avail_in == 0 && stream.avail_out == 0;
  lzma_end(&stream);
  return ok;
}

TEST(PackedItem, StreamHasNoEndMarkerAndTheEmbeddedZipIsStored) {
  const std::vector<uint8_t> item = SampleItem();
  std::vector<uint8_t> payload;
  EXPECT_TRUE(DecodesWithoutEndMarker(item.data(), item.size(), &payload));

  ASSERT_GT(PackedFreeDosDataSetLength, 17u);
  ASSERT_TRUE(DecodesWithoutEndMarker(PackedFreeDosDataSet, PackedFreeDosDataSetLength, &payload));
  EXPECT_EQ(U32(std::vector<uint8_t>(PackedFreeDosDataSet, PackedFreeDosDataSet + 12), 4),
            PackedFreeDosDataSetLength - 12);
  // Every local header of the payload says "stored", with equal packed and unpacked sizes.
  int entries = 0;
  for (size_t at = 0; at + 30 <= payload.size() && U32(payload, at) == 0x04034B50u; ++entries) {
    EXPECT_EQ(payload[at + 8] | payload[at + 9] << 8, 0) << "entry " << entries;
    EXPECT_EQ(U32(payload, at + 18), U32(payload, at + 22));
    at += 30 + (payload[at + 26] | payload[at + 27] << 8) +
          (payload[at + 28] | payload[at + 29] << 8) + U32(payload, at + 18);
  }
  EXPECT_GE(entries, 1);
}

TEST(PackedItem, LogsItsSteps) {
  Scratch s;
  const std::string logPath = s.Path("debug.log").string();
  ASSERT_TRUE(fw::OpenLog(logPath));
  std::vector<uint8_t> item = SampleItem();
  EXPECT_FALSE(fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size())).empty());
  item[9] ^= 0x40;
  EXPECT_TRUE(fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size())).empty());
  fw::CloseLog();
  const std::string log = ReadFile(logPath);
  for (const std::string& line :
       std::vector<std::string>{"UnpackInternalMemoryToTempFile: *Buffer=",
                                "UnpackInternalMemoryToTempFile: *PackFileHeader\\UnPackedSize=" +
                                    std::to_string(U32(item, 0)),
                                "UnpackInternalMemoryToTempFile: CRC32 OK",
                                "UnpackInternalMemoryToTempFile: create nTempFile success",
                                "Error UnpackInternalMemoryToTempFile: CRC32 Error"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST(PackedItem, UnpackingTwiceLeavesOnlyTheSecondFile) {
  Scratch s;
  const std::vector<uint8_t> item = SampleItem();
  const std::string first = fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size()));
  const std::string second = fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size()));
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(s.FilesUnder(s.work), std::vector<std::string>{fs::path(second).filename().string()});
}

TEST(PackedItem, DamagedItemsGiveNothing) {
  Scratch s;
  std::vector<uint8_t> item = SampleItem();

  std::vector<uint8_t> badCrc = item;
  badCrc[8] ^= 0x01;
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(badCrc.data(), int64_t(badCrc.size())), "");
  ASSERT_EQ(s.ui.boxes.size(), 1u);
  EXPECT_EQ(s.ui.boxes[0], "Error: Error UnpackInternalMemoryToTempFile: CRC32 Error");

  // A truncated stream decodes short: logged only, no message box.
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(item.data(), int64_t(item.size() / 2)), "");
  // A size claiming more than the stream holds.
  std::vector<uint8_t> bigger = item;
  bigger[2] ^= 0x10;
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(bigger.data(), int64_t(bigger.size())), "");
  std::vector<uint8_t> zero = item;
  zero[0] = zero[1] = zero[2] = zero[3] = 0;
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(zero.data(), int64_t(zero.size())), "");
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(item.data(), 10), "");
  EXPECT_EQ(fw::UnpackInternalMemoryToTempFile(nullptr, 0), "");

  EXPECT_EQ(s.ui.boxes.size(), 1u);
  EXPECT_TRUE(s.FilesUnder(s.work).empty());
}

TEST(PackedItem, EmbeddedFreeDosSetExtracts) {
  Scratch s;
  const fs::path target = s.Path("drive");
  ASSERT_EQ(fw::ExtractDataZip(PackedFreeDosDataSet, int64_t(PackedFreeDosDataSetLength),
                               target.string(), true, "", false, true),
            1);
  const std::string kernel = ReadFile(target / "KERNEL.SYS");
  ASSERT_GT(kernel.size(), 16u);
  if (fs::exists(target / "README.TXT")) {  // the notice set of a build without FreeDOS
    EXPECT_NE(kernel.find("FreeDOS is not bundled"), std::string::npos);
    // It starts with a far jump to 0060:xxxx.
    EXPECT_EQ(static_cast<unsigned char>(kernel[0]), 0xEA);
    EXPECT_EQ(kernel.substr(3, 2), std::string("\x60\x00", 2));
  }
  // Deleted after use.
  EXPECT_TRUE(s.FilesUnder(s.work).empty());
}

}  // namespace
