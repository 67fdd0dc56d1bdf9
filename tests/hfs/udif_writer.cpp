#include "tests/hfs/udif_writer.h"

#include <lzma.h>
#include <zlib.h>

#include <stdexcept>

namespace fwtest {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kChunkEnd = 0xFFFFFFFF;
constexpr uint32_t kChecksumCrc32 = 2;

void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}
void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v >> 32));
  Put32(out, static_cast<uint32_t>(v));
}
// A checksum record: type, bit count, 128 bytes of which the first word holds the CRC.
void PutCrc(std::string& out, uint32_t crc) {
  Put32(out, kChecksumCrc32);
  Put32(out, 32);
  Put32(out, crc);
  out.append(124, '\0');
}

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Base64(const std::string& in) {
  static const char* const kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
  }
  if (i < in.size()) {
    uint32_t v = uint8_t(in[i]) << 16;
    if (i + 1 < in.size()) v |= uint8_t(in[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string Deflate(const std::string& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(in.size()),
                9) != Z_OK)
    throw std::runtime_error("zlib");
  out.resize(size);
  return out;
}

std::string Xz(const std::string& in) {
  std::string out(lzma_stream_buffer_bound(in.size()), '\0');
  size_t pos = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC32, nullptr,
                              reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                              reinterpret_cast<uint8_t*>(out.data()), &pos, out.size()) != LZMA_OK)
    throw std::runtime_error("xz");
  out.resize(pos);
  return out;
}

// Apple Data Compression: literal runs (0x80 | length-1) and, for a repeated byte, two-byte
// copies of the byte just written (length 3..18, distance 1).
std::string Adc(const std::string& in) {
  std::string out;
  std::string literal;
  auto flush = [&] {
    for (size_t i = 0; i < literal.size(); i += 128) {
      const size_t n = std::min<size_t>(128, literal.size() - i);
      out.push_back(static_cast<char>(0x80 | (n - 1)));
      out.append(literal, i, n);
    }
    literal.clear();
  };
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i] && run < 1 + 18) ++run;
    if (run >= 4) {
      literal.push_back(in[i]);
      flush();
      const size_t copy = run - 1;  // 3..18
      out.push_back(static_cast<char>(((copy - 3) << 2) | 0));
      out.push_back('\0');  // distance - 1
      i += run;
    } else {
      literal.push_back(in[i]);
      ++i;
    }
  }
  flush();
  return out;
}

std::string Encode(UdifChunk method, const std::string& in) {
  switch (method) {
    case UdifChunk::Zero:
    case UdifChunk::Raw:
      return method == UdifChunk::Raw ? in : std::string();
    case UdifChunk::Adc:
      return Adc(in);
    case UdifChunk::Zlib:
      return Deflate(in);
    case UdifChunk::Xz:
      return Xz(in);
  }
  return in;
}

struct Chunk {
  uint32_t type;
  uint64_t sector, sectors, offset, length;
};

std::string Mish(uint64_t firstSector, uint64_t sectors, uint32_t crc,
                 const std::vector<Chunk>& chunks) {
  std::string m = "mish";
  Put32(m, 1);
  Put64(m, firstSector);
  Put64(m, sectors);
  Put64(m, 0);  // data offset
  Put32(m, 0);  // buffers needed
  Put32(m, 0);  // block descriptors
  m.append(24, '\0');
  PutCrc(m, crc);
  Put32(m, static_cast<uint32_t>(chunks.size()));  // at 0xC8
  for (const Chunk& c : chunks) {
    Put32(m, c.type);
    Put32(m, 0);
    Put64(m, c.sector);
    Put64(m, c.sectors);
    Put64(m, c.offset);
    Put64(m, c.length);
  }
  return m;
}

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

std::string GptDmg(const std::string& volume, const char* kind, const UdifOptions& options) {
  std::string mbr(kSector, '\0');
  mbr[510] = '\x55';
  mbr[511] = '\xAA';
  std::string header(kSector, '\0');
  header.replace(0, 8, "EFI PART");
  const std::string table(32 * kSector, '\0');
  const std::string name = std::string("disk image (") + kind + " : 4)";
  return MakeUdif({{"Protective Master Boot Record (MBR : 0)", mbr, {UdifChunk::Raw}},
                   {"GPT Header (Primary GPT Header : 1)", header, {UdifChunk::Raw}},
                   {"GPT Partition Data (Primary GPT Table : 2)", table, {UdifChunk::Zlib}},
                   {"  (Apple_Free : 3)", std::string(6 * kSector, '\0'), {UdifChunk::Zero}},
                   {name, volume},
                   {"GPT Partition Data (Backup GPT Table : 5)", table, {UdifChunk::Zlib}},
                   {"GPT Header (Backup GPT Header : 6)", header, {UdifChunk::Raw}}},
                  options);
}

}  // namespace

std::string MakeUdif(const std::vector<UdifPartition>& partitions, const UdifOptions& options) {
  std::string fork;
  std::string blkx;
  std::string masterCrcs;
  uint64_t firstSector = 0;
  int id = -1;
  for (const UdifPartition& p : partitions) {
    std::string bytes = p.bytes;
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, '\0');
    const uint64_t sectors = bytes.size() / kSector;
    std::vector<Chunk> chunks;
    size_t turn = 0;
    for (uint64_t s = 0; s < sectors; s += options.chunkSectors) {
      const uint64_t n = std::min<uint64_t>(options.chunkSectors, sectors - s);
      const std::string piece = bytes.substr(s * kSector, n * kSector);
      UdifChunk method = p.methods.empty() ? UdifChunk::Raw : p.methods[turn++ % p.methods.size()];
      if (piece.find_first_not_of('\0') == std::string::npos) method = UdifChunk::Zero;
      const std::string stored = Encode(method, piece);
      // Chunk offsets count from the start of the data fork.
      chunks.push_back({static_cast<uint32_t>(method), s, n, fork.size(), stored.size()});
      fork += stored;
    }
    chunks.push_back({kChunkEnd, sectors, 0, fork.size(), 0});
    const uint32_t crc = Crc32(bytes);
    Put32(masterCrcs, crc);
    blkx += "\t\t\t<dict>\n\t\t\t\t<key>Attributes</key>\n\t\t\t\t<string>0x0050</string>\n";
    blkx += "\t\t\t\t<key>Data</key>\n\t\t\t\t<data>" +
            Base64(Mish(firstSector, sectors, crc, chunks)) + "</data>\n";
    blkx += "\t\t\t\t<key>ID</key>\n\t\t\t\t<string>" + std::to_string(id++) + "</string>\n";
    blkx += "\t\t\t\t<key>Name</key>\n\t\t\t\t<string>" + p.name + "</string>\n\t\t\t</dict>\n";
    firstSector += sectors;
  }
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>resource-fork</key>\n\t<dict>\n"
      "\t\t<key>blkx</key>\n\t\t<array>\n" +
      blkx + "\t\t</array>\n\t</dict>\n</dict>\n</plist>\n";

  std::string koly = "koly";
  Put32(koly, 4);    // version
  Put32(koly, 512);  // header size
  Put32(koly, 1);    // flags: flattened
  Put64(koly, 0);    // running data fork offset
  Put64(koly, options.prefix.size());
  Put64(koly, fork.size());
  Put64(koly, 0);  // resource fork offset and length
  Put64(koly, 0);
  Put32(koly, 1);  // segment number and count
  Put32(koly, 1);
  koly.append(16, '\x5A');  // segment id
  PutCrc(koly, Crc32(fork));
  Put64(koly, options.prefix.size() + fork.size());  // XML offset
  Put64(koly, xml.size());
  koly.append(120, '\0');
  PutCrc(koly, Crc32(masterCrcs));
  Put32(koly, 1);  // image variant
  Put64(koly, firstSector);
  koly.append(12, '\0');
  return options.prefix + fork + xml + koly;
}

std::string HfsPartitionBytes(uint32_t sectors, uint32_t seed) {
  std::string bytes = Pattern(size_t{sectors} * kSector, seed);
  // Zero runs (a quarter of the volume) and a run of one repeated byte, as real volumes have.
  for (size_t at = 4096; at + 20000 < bytes.size(); at += 65536)
    bytes.replace(at, 16384, 16384, '\0');
  if (bytes.size() > 3000) bytes.replace(2048, 700, 700, '\xE5');
  bytes.replace(1024, 2, "H+");
  bytes[1026] = 0;
  bytes[1027] = 4;  // version 4
  return bytes;
}

std::string MakeHfsDmg(const std::string& hfs, const UdifOptions& options) {
  return GptDmg(hfs, "Apple_HFS", options);
}

std::string MakeApfsDmg(const std::string& apfs, const UdifOptions& options) {
  return GptDmg(apfs, "Apple_APFS", options);
}

}  // namespace fwtest
