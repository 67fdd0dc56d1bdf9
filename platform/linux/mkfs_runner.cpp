#include "platform/mkfs_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/process.h"

namespace fw::fat {
namespace {

constexpr size_t kCopyChunk = 1024 * 1024;

// Runs argv, collecting its output lines; the exit status (or -1).
int RunTool(const std::vector<std::string>& argv, std::vector<std::string>& output) {
  ProcessOptions options;
  options.onLine = [&](std::string_view line) {
    if (!line.empty()) output.emplace_back(line);
  };
  const ProcessResult r = RunProcess(argv, options);
  if (!r.started) output.push_back(DescribeProcessEnd(argv, r));
  return r.exitCode;
}

// A sparse scratch file in the temporary folder, removed again when done.
struct Scratch {
  int fd = -1;
  std::string path;
  ~Scratch() {
    if (fd < 0) return;
    close(fd);
    unlink(path.c_str());
  }
};

// Runs the tool for `r` into a scratch file of `size` bytes with sectors of `S`; false (with the
// reason in out.output) when the scratch cannot be made or the tool refuses.
bool MakeInScratch(const MkfsRequest& r, uint64_t size, uint32_t S, Scratch& scratch,
                   MkfsOutcome& out) {
  const bool ntfs = r.fileSystem == "NTFS";
  const std::string tool = FindProgram(ntfs ? "mkntfs" : "mkudffs");
  if (tool.empty()) {
    out.output.push_back(std::string(ntfs ? "mkntfs" : "mkudffs") + " not found");
    return false;
  }
  const char* tmp = std::getenv("TMPDIR");
  scratch.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/flashwright-mkfs-XXXXXX";
  scratch.fd = mkstemp(scratch.path.data());
  if (scratch.fd < 0) {
    out.output.push_back("cannot create a scratch file");
    return false;
  }
  if (ftruncate(scratch.fd, static_cast<off_t>(size)) != 0) {
    out.output.push_back("cannot size the scratch file");
    return false;
  }
  std::vector<std::string> argv = {tool};
  if (ntfs) {
    argv.insert(argv.end(),
                {"-F", "-s", std::to_string(S), "-p", std::to_string(r.partitionStartSector), "-H",
                 std::to_string(r.heads), "-S", std::to_string(r.sectorsPerTrack)});
    if (r.clusterSize) argv.insert(argv.end(), {"-c", std::to_string(r.clusterSize)});
    if (!r.label.empty()) argv.insert(argv.end(), {"-L", r.label});
    argv.push_back("-Q");  // the scratch file is all zeros already
  } else {
    argv.insert(argv.end(), {"--media-type=hd", "--blocksize=" + std::to_string(S)});
    if (!r.label.empty()) argv.push_back("--label=" + r.label);
  }
  argv.push_back(scratch.path);
  const int status = RunTool(argv, out.output);
  if (status != 0) {
    out.output.push_back(tool + " exit status " + std::to_string(status));
    return false;
  }
  return true;
}

}  // namespace

MkfsOutcome CheckMkfs(const MkfsRequest& request, uint64_t sizeBytes, uint32_t sectorSize) {
  MkfsOutcome out;
  Scratch scratch;
  out.ok = MakeInScratch(request, sizeBytes, sectorSize, scratch, out);
  return out;
}

MkfsOutcome RunMkfs(BlockDevice& volume, const MkfsRequest& r) {
  MkfsOutcome out;
  if (r.progress && !r.progress(0)) return out;
  const uint64_t size = volume.SizeBytes();
  Scratch scratch;
  if (!MakeInScratch(r, size, volume.SectorSize(), scratch, out)) return out;
  const int fd = scratch.fd;
  if (r.progress && !r.progress(50)) return out;

  // Copy the written extents; zero the gaps near both ends (old signatures) and, for a full
  // format, every gap.
  std::vector<uint8_t> buf(kCopyChunk);
  const std::vector<uint8_t> zeros(kCopyChunk, 0);
  auto zeroRange = [&](uint64_t from, uint64_t to) {
    while (from < to) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, to - from));
      if (volume.WriteAt(from, zeros.data(), n) != static_cast<int64_t>(n)) return false;
      from += n;
    }
    return true;
  };
  const uint64_t edge = std::min<uint64_t>(size, kCopyChunk);
  uint64_t pos = 0;
  while (pos < size) {
    off_t data = lseek(fd, static_cast<off_t>(pos), SEEK_DATA);
    uint64_t dataStart = data < 0 ? size : static_cast<uint64_t>(data);
    // Gap [pos, dataStart).
    if (dataStart > pos) {
      bool ok = true;
      if (!r.quick) {
        ok = zeroRange(pos, dataStart);
      } else {
        if (pos < edge) ok = zeroRange(pos, std::min(dataStart, edge));
        const uint64_t tail = size - edge;
        if (ok && dataStart > tail) ok = zeroRange(std::max(pos, tail), dataStart);
      }
      if (!ok) {
        out.error = volume.LastError() ? volume.LastError() : EIO;
        return out;
      }
    }
    if (dataStart >= size) break;
    off_t hole = lseek(fd, static_cast<off_t>(dataStart), SEEK_HOLE);
    const uint64_t dataEnd = hole < 0 ? size : std::min<uint64_t>(size, hole);
    for (uint64_t p = dataStart; p < dataEnd;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, dataEnd - p));
      if (pread(fd, buf.data(), n, static_cast<off_t>(p)) != static_cast<ssize_t>(n)) {
        out.output.push_back("cannot read the scratch file");
        return out;
      }
      if (volume.WriteAt(p, buf.data(), n) != static_cast<int64_t>(n)) {
        out.error = volume.LastError() ? volume.LastError() : EIO;
        return out;
      }
      p += n;
    }
    pos = dataEnd;
    if (r.progress && !r.progress(static_cast<int>(50 + 49 * pos / size))) return out;
  }
  if (!volume.Flush()) {
    out.error = volume.LastError() ? volume.LastError() : EIO;
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace fw::fat
