#include <lzma.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sstream>

#include "app/log.h"
#include "app/ui.h"
#include "datasets/dataset_services.h"
#include "datasets/packed_items.h"

namespace fw {
namespace {

uint32_t ReadU32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Raw LZMA1 decoding of `in` (properties then stream) into `out`, stopping after out.size()
// bytes; returns the number of bytes decoded.
size_t DecodeLzma1(const unsigned char* in, size_t inLength, unsigned char* out, size_t outSize) {
  if (inLength < 5) return 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, in, 5) != LZMA_OK) return 0;
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  // The size is known: the stream may end with or without an end marker.
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options->ext_size_low = static_cast<uint32_t>(outSize);
  options->ext_size_high = static_cast<uint32_t>(uint64_t(outSize) >> 32);
  lzma_stream stream = LZMA_STREAM_INIT;
  const lzma_ret init = lzma_raw_decoder(&stream, filters);
  free(filters[0].options);
  if (init != LZMA_OK) return 0;
  stream.next_in = in + 5;
  stream.avail_in = inLength - 5;
  stream.next_out = out;
  stream.avail_out = outSize;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK && stream.avail_out > 0) {
    const size_t before = stream.avail_in + stream.avail_out;
    ret = lzma_code(&stream, LZMA_FINISH);
    if (ret == LZMA_OK && stream.avail_in + stream.avail_out == before) break;
  }
  const size_t decoded = outSize - stream.avail_out;
  lzma_end(&stream);
  return decoded;
}

std::string Address(const void* p) {
  std::ostringstream s;
  s << p;
  return s.str();
}

}  // namespace

std::string UnpackInternalMemoryToTempFile(const void* Buffer, int64_t BufferLength) {
  std::string result;
  DataSetServices& services = TheDataSetServices();
  FW_LOG("UnpackInternalMemoryToTempFile: *Buffer=" + Address(Buffer) +
         " BufferSize=" + std::to_string(BufferLength));
  if (Buffer == nullptr || BufferLength < kPackFileHeaderSize + 5) {
    FW_LOG("UnpackInternalMemoryToTempFile: BufferSize too small");
    return result;
  }
  if (services.workFolder().empty() && services.createTempWorkDir() == 0) {
    FW_LOG("UnpackInternalMemoryToTempFile: Can't create TempWorkDir");
    return result;
  }
  const auto* bytes = static_cast<const unsigned char*>(Buffer);
  PackFileHeader header{ReadU32(bytes), ReadU32(bytes + 4), ReadU32(bytes + 8)};
  FW_LOG("UnpackInternalMemoryToTempFile: *PackFileHeader\\UnPackedSize=" +
         std::to_string(header.UnPackedSize));
  if (header.UnPackedSize == 0) {
    FW_LOG("UnpackInternalMemoryToTempFile: UnPackedSize=0");
    return result;
  }
  std::unique_ptr<unsigned char[]> output(new (std::nothrow) unsigned char[header.UnPackedSize]);
  if (!output) {
    FW_LOG("UnpackInternalMemoryToTempFile: *OutputBuffer=0");
    return result;
  }
  const size_t inLength = static_cast<size_t>(BufferLength - kPackFileHeaderSize);
  FW_LOG("UnpackInternalMemoryToTempFile: LzmaUncompress(*OutputBuffer=" + Address(output.get()) +
         ", UnPackedSize=" + std::to_string(header.UnPackedSize) + ", *Input=" +
         Address(bytes + kPackFileHeaderSize) + ", InputSize=" + std::to_string(inLength) + ")");
  const size_t decoded =
      DecodeLzma1(bytes + kPackFileHeaderSize, inLength, output.get(), header.UnPackedSize);
  FW_LOG("UnpackInternalMemoryToTempFile: Decoded=" + std::to_string(decoded));
  if (decoded != header.UnPackedSize) {
    FW_LOG("UnpackInternalMemoryToTempFile: UnPackedSize Dismatch");
    return result;
  }
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, output.get(), header.UnPackedSize);
  if (static_cast<uint32_t>(crc) != header.CRC32) {
    FW_LOG("Error UnpackInternalMemoryToTempFile: CRC32 Error");
    MessageBox("Error", "Error UnpackInternalMemoryToTempFile: CRC32 Error", MsgButtons::Ok,
               MsgIcon::Error);
    return result;
  }
  FW_LOG("UnpackInternalMemoryToTempFile: CRC32 OK");

  const std::string name = services.createTempFileName(services.workFolder());
  if (name.empty()) {
    FW_LOG("UnpackInternalMemoryToTempFile: TempFile$=#NULL$");
    return result;
  }
  std::FILE* file = std::fopen(name.c_str(), "wbx");
  if (file == nullptr) {
    FW_LOG("UnpackInternalMemoryToTempFile: Can't create nTempFile:" + name);
    return result;
  }
  const size_t written = std::fwrite(output.get(), 1, header.UnPackedSize, file);
  const bool closed = std::fclose(file) == 0;
  if (written != header.UnPackedSize || !closed) {
    std::error_code ec;
    std::filesystem::remove(name, ec);
    FW_LOG("Error UnpackInternalMemoryToTempFile: WriteData Error");
    MessageBox("Error", "Error UnpackInternalMemoryToTempFile: WriteData Error", MsgButtons::Ok,
               MsgIcon::Error);
    return result;
  }
  FW_LOG("UnpackInternalMemoryToTempFile: create nTempFile success");
  result = name;
  return result;
}

}  // namespace fw
