// "volume": the FAT32/exFAT engine on an image file or device, without mounting it.
//   volume FILE[@OFFSET[:LENGTH]] mkfs FAT32|exFAT [--label L] [--cluster BYTES] [--full]
//                                 [--start-sector N]
//   volume FILE[@...] ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH | label [TEXT]
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/cli.h"
#include "platform/block_device.h"
#include "platform/fat/fat_format.h"
#include "platform/fat/fat_volume.h"

namespace fw::cli {
namespace {

bool ParseU64(const std::string& s, uint64_t& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtoull(s.c_str(), &end, 0);
  return end && *end == '\0';
}

int VolumeCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail(kExitUsage, "volume FILE[@OFFSET[:LENGTH]] COMMAND ...");
  std::string target = args[0];
  uint64_t offset = 0, length = 0;
  const size_t at = target.rfind('@');
  if (at != std::string::npos) {
    std::string range = target.substr(at + 1);
    target.resize(at);
    const size_t colon = range.find(':');
    if (!ParseU64(range.substr(0, colon), offset) ||
        (colon != std::string::npos && !ParseU64(range.substr(colon + 1), length)))
      return Fail(kExitUsage, "bad range " + range);
  }
  const std::string& cmd = args[1];
  const bool writes =
      cmd == "mkfs" || cmd == "put" || cmd == "mkdir" || (cmd == "label" && args.size() > 2);
  auto base = FdDevice::Open(target, writes, options.sectorSize);
  if (!base) return Fail(kExitFailure, "cannot open " + target);
  if (offset > base->SizeBytes()) return Fail(kExitUsage, "offset past the end of " + target);
  if (length == 0 || length > base->SizeBytes() - offset) length = base->SizeBytes() - offset;
  WindowDevice window(*base, offset, length);

  if (cmd == "mkfs") {
    if (args.size() < 3 || (args[2] != "FAT32" && args[2] != "exFAT"))
      return Fail(kExitUsage, "mkfs FAT32|exFAT");
    fat::FormatOptions o;
    o.kind = args[2] == "FAT32" ? fat::FsKind::Fat32 : fat::FsKind::Exfat;
    o.partitionStartSector = offset / base->SectorSize();
    for (size_t i = 3; i < args.size(); ++i) {
      uint64_t v = 0;
      if (args[i] == "--full") {
        o.quick = false;
      } else if (args[i] == "--label" && i + 1 < args.size()) {
        o.label = args[++i];
      } else if (args[i] == "--cluster" && i + 1 < args.size() && ParseU64(args[i + 1], v)) {
        o.clusterSize = static_cast<uint32_t>(v);
        ++i;
      } else if (args[i] == "--start-sector" && i + 1 < args.size() && ParseU64(args[i + 1], v)) {
        o.partitionStartSector = v;
        ++i;
      } else {
        return Fail(kExitUsage, "unknown mkfs option " + args[i]);
      }
    }
    const fat::FormatOutcome r = fat::FormatVolume(window, o);
    static const char* kTexts[] = {
        "done",      "volume is too small", "volume is too big", "unsupported cluster size",
        "bad label", "I/O error",           "cancelled"};
    if (r.result != fat::FormatResult::Ok)
      return Fail(kExitFailure, std::string("mkfs: ") + kTexts[static_cast<int>(r.result)]);
    std::cout << args[2] << ": " << r.clusterCount << " clusters of " << r.clusterSize
              << " bytes\n";
    return kExitOk;
  }

  fat::OpenError err = fat::OpenError::None;
  auto v = fat::OpenVolume(window, &err);
  if (!v) return Fail(kExitFailure, "no FAT32 or exFAT volume (or a damaged one) in " + args[0]);
  const std::string path = args.size() > 2 ? args[2] : "";
  if (cmd == "ls") {
    std::vector<VolumeEntry> entries;
    if (!v->ListDirectory(path, entries)) return Fail(kExitFailure, "no folder " + path);
    for (const auto& e : entries)
      std::cout << (e.isDirectory ? "d" : "-") << (e.hidden ? "h" : "-") << " " << e.size << "\t"
                << e.name << "\n";
    std::cout << v->FileSystemName() << " \"" << v->Label() << "\", " << v->FreeBytes()
              << " bytes free\n";
    return kExitOk;
  }
  if (cmd == "cat") {
    std::string data;
    if (!v->ReadFile(path, data)) return Fail(kExitFailure, "cannot read " + path);
    std::cout.write(data.data(), static_cast<std::streamsize>(data.size()));
    return kExitOk;
  }
  if (cmd == "mkdir") {
    if (!v->MakeDirectories(path) || !v->Flush()) return Fail(kExitFailure, "mkdir failed");
    return kExitOk;
  }
  if (cmd == "label") {
    if (args.size() < 3) {
      std::cout << v->Label() << "\n";
      return kExitOk;
    }
    if (!v->SetLabel(args[2]) || !v->Flush()) return Fail(kExitFailure, "bad label");
    return kExitOk;
  }
  if (cmd == "put") {
    if (args.size() < 4) return Fail(kExitUsage, "put LOCAL PATH");
    std::ifstream in(args[2], std::ios::binary);
    if (!in) return Fail(kExitFailure, "cannot read " + args[2]);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string data = ss.str();
    auto w = v->CreateFile(args[3], data.size());
    if (!w || !w->Write(data.data(), data.size()) || !w->Close() || !v->Flush())
      return Fail(kExitFailure, "cannot write " + args[3]);
    return kExitOk;
  }
  return Fail(kExitUsage, "unknown volume command " + cmd);
}

}  // namespace

FW_CLI_COMMAND("volume",
               "volume FILE[@OFFSET[:LENGTH]] mkfs FAT32|exFAT [--label L] [--cluster N] [--full]"
               " | ls [PATH] | cat PATH | put LOCAL PATH | mkdir PATH | label [TEXT]",
               VolumeCommand);

}  // namespace fw::cli
