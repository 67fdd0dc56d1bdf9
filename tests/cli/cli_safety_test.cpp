// flashwright-cli on image files, FIFOs and device nodes made here: every byte the user did not
// choose to overwrite stays as it was, and the exit status tells what really happened. The
// inventory sees no block device of the machine (FLASHWRIGHT_BLOCK_DEVICES is empty).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int64_t MiB = 1024 * 1024;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

struct CliRun {
  int status = -1;
  std::string output;
};

class CliSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fw-cli-safety-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Command(const std::string& args) const {
    // timeout(1) hands SIGINT on to the program and returns its exit status.
    return "cd '" + dir_.string() +
           "' && exec env FLASHWRIGHT_BLOCK_DEVICES= timeout -s KILL 120 '" + FW_CLI_PATH +
           "' --settings '" + (dir_ / "fw.ini").string() + "' " + args;
  }

  // Runs the CLI with standard input from /dev/null (no terminal: questions are answered No).
  CliRun Cli(const std::string& args) const {
    CliRun r;
    FILE* p = ::popen((Command(args) + " </dev/null 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int rc = ::pclose(p);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return r;
  }

  // A 48 MiB disk image: partition 1 (type 0x0B) from 1 MiB, 40 MiB of random bytes.
  fs::path MakeDisk(const std::string& name) const {
    const fs::path p = dir_ / name;
    std::string bytes(48 * MiB, '\0');
    const std::string part = RandomBytes(40 * MiB, 7);
    std::memcpy(bytes.data() + MiB, part.data(), part.size());
    uint8_t* e = reinterpret_cast<uint8_t*>(bytes.data()) + 0x1BE;
    e[4] = 0x0B;
    const uint32_t first = MiB / 512, count = 40 * MiB / 512;
    std::memcpy(e + 8, &first, 4);
    std::memcpy(e + 12, &count, 4);
    bytes[510] = 0x55;
    bytes[511] = static_cast<char>(0xAA);
    WriteAll(p, bytes);
    return p;
  }

  static bool Has(const CliRun& r, const std::string& text) {
    return r.output.find(text) != std::string::npos;
  }

  fs::path dir_;
};

// --create on an existing file: a query never replaces it, another command only on a confirmation
// (none without --yes and without a terminal), and then the file starts blank. Device nodes and
// FIFOs are never replaced. A new name is created.
TEST_F(CliSafety, CreateReplacesAnExistingFileOnlyWhenConfirmed) {
  const fs::path img = dir_ / "old.img";
  const std::string old = RandomBytes(3000000, 1);
  WriteAll(img, old);
  const std::string opt = "--image '" + img.string() + "' --create 1M ";

  CliRun r = Cli(opt + "list");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(Has(r, "a query does not replace it")) << r.output;
  r = Cli("--yes " + opt + "list");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_EQ(ReadAll(img), old);

  r = Cli(opt + "backup --partition 1 --output '" + (dir_ / "part.bin").string() + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "already exists (3000000 bytes)")) << r.output;
  EXPECT_TRUE(Has(r, "exists and was not replaced")) << r.output;
  EXPECT_EQ(ReadAll(img), old);
  EXPECT_FALSE(fs::exists(dir_ / "part.bin"));

  // Confirmed: a blank image of the new size (the old bytes are gone, not kept under a new end).
  r = Cli("--yes " + opt + "backup --partition 1 --output '" + (dir_ / "part.bin").string() + "'");
  EXPECT_EQ(r.status, 1) << r.output;  // a blank disk has no partition 1
  EXPECT_EQ(ReadAll(img), std::string(MiB, '\0'));

  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  r = Cli("--yes --image '" + fifo.string() + "' --create 1M format");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "cannot create " + fifo.string() + ": not a regular file")) << r.output;
  EXPECT_TRUE(fs::is_fifo(fifo));

  r = Cli("--image '" + (dir_ / "new.img").string() + "' --create 2M list");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(fs::file_size(dir_ / "new.img"), static_cast<uintmax_t>(2 * MiB));

  // The system's reason comes with every refusal.
  r = Cli("--image '" + (dir_ / "no-such-folder/x.img").string() + "' --create 1M list");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "cannot create " + (dir_ / "no-such-folder/x.img").string() +
                         ": No such file or directory"))
      << r.output;
  r = Cli("--image '" + (dir_ / "missing.img").string() + "' list");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "missing.img: No such file or directory")) << r.output;
  r = Cli("--image '" + fifo.string() + "' list");
  EXPECT_TRUE(Has(r, "cannot attach " + fifo.string() + ": not a regular file")) << r.output;
  r = Cli("--image '" + img.string() + "' --create 5Q list");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(Has(r, "--create: bad size 5Q (bytes, or a number with K, M, G or T)")) << r.output;
}

// A backup never goes into the image it reads, a device node or a FIFO; a restore never reads
// the disk it writes.
TEST_F(CliSafety, BackupAndRestoreNeverCopyADiskOntoItself) {
  const fs::path img = MakeDisk("disk.img");
  const std::string before = ReadAll(img);
  const std::string opt = "--yes --no-pauses --image '" + img.string() + "' ";

  CliRun r = Cli(opt + "backup --partition 1 --output '" + img.string() + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "holds the disk being backed up")) << r.output;
  EXPECT_EQ(ReadAll(img), before);

  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& target : {fifo.string(), std::string("/dev/null")}) {
    r = Cli(opt + "backup --partition 1 --output '" + target + "'");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(Has(r, "is not a regular file")) << r.output;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  r = Cli(opt + "restore --partition 1 --input '" + img.string() + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "holds the disk being restored")) << r.output;
  EXPECT_EQ(ReadAll(img), before);

  // Another file takes the backup.
  r = Cli(opt + "backup --partition 1 --output '" + (dir_ / "part.bin").string() + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadAll(dir_ / "part.bin"), before.substr(MiB, 40 * MiB));
}

// Ctrl-C while the finished restore shows its closing line for two seconds: every byte and the
// entry are written, so the command succeeds.
TEST_F(CliSafety, InterruptDuringTheClosingPauseOfARestoreIsNoCancel) {
  const fs::path img = MakeDisk("disk.img");
  const std::string image = RandomBytes(8 * MiB, 3);
  WriteAll(dir_ / "hfs.img", image);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[0]);
    const std::string cmd =
        Command("--yes --image '" + img.string() + "' restore --partition 1 --input '" +
                (dir_ / "hfs.img").string() + "' </dev/null");
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(out[1]);
  std::string text;
  bool interrupted = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buf[4096];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    if (!interrupted && text.find(" Done") != std::string::npos) {
      ::usleep(200 * 1000);  // well inside the two-second pause
      ::kill(pid, SIGINT);
      interrupted = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
  }
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(interrupted) << text;
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_EQ(text.find("Restore Cancelled"), std::string::npos) << text;
  const std::string after = ReadAll(img);
  EXPECT_EQ(after.substr(MiB, image.size()), image);
  EXPECT_EQ(static_cast<uint8_t>(after[0x1BE + 4]), 0xAF);
}

// `volume` changes a volume of the drive tree only as the format job would: a confirmation first
// (--yes answers it), the disk claimed exclusively (an image another program holds is refused).
// A path of the command line is no volume: the old FILE@OFFSET form writes nothing.
TEST_F(CliSafety, VolumeWritesOnlyWithConfirmationAndTheDiskClaimed) {
  const fs::path img = dir_ / "stick.img";
  CliRun r = Cli("--yes --no-pauses --image '" + img.string() +
                 "' --create 64M format --boot-records Windows --file-system FAT32 "
                 "--multi-partitions 0 --data-set Not_Install");
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("--image '" + img.string() + "' list");
  const size_t at = r.output.find("Partition 1: ");
  ASSERT_NE(at, std::string::npos) << r.output;
  const std::string letter = r.output.substr(r.output.find('\n', at) - 2, 2);
  ASSERT_EQ(letter[1], ':') << r.output;
  WriteAll(dir_ / "local.txt", "new file\n");
  const std::string put = "volume " + letter + " put '" + (dir_ / "local.txt").string() + "' X.TXT";
  const std::string before = ReadAll(img);

  r = Cli("--no-pauses --image '" + img.string() + "' " + put);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "WILL BE CHANGED: put")) << r.output;
  EXPECT_EQ(ReadAll(img), before);

  {
    const int fd = ::open(img.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    r = Cli("--yes --no-pauses --image '" + img.string() + "' " + put);
    ::close(fd);
  }
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "cannot open volume " + letter + " for writing with exclusive use"))
      << r.output;
  EXPECT_EQ(ReadAll(img), before);

  const uint32_t start = [&] {
    uint32_t v = 0;
    std::memcpy(&v, before.data() + 0x1BE + 8, 4);
    return v;
  }();
  r = Cli("--yes volume '" + img.string() + "@" + std::to_string(start * 512) + "' put '" +
          (dir_ / "local.txt").string() + "' X.TXT");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_EQ(ReadAll(img), before);

  r = Cli("--yes --no-pauses --image '" + img.string() + "' " + put);
  EXPECT_EQ(r.status, 0) << r.output;
  r = Cli("--image '" + img.string() + "' volume " + letter + " cat X.TXT");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "new file\n");
  const std::string mtools =
      "mtype -i '" + img.string() + "@@" + std::to_string(start * 512) + "' ::/X.TXT 2>&1";
  FILE* p = ::popen(mtools.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[64] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  ::pclose(p);
  EXPECT_EQ(std::string(buf, n), "new file\n");
}

}  // namespace
