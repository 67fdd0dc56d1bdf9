// Throughput of a 1 GiB file download from a local server: the download engine against the curl
// command line over the same loopback, in the same run. Prints both rates, the ratio and the
// peak resident memory of each.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/clock.h"
#include "net/http_get.h"
#include "tests/net/test_server.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t size = argc > 1 ? std::atoll(argv[1]) : (1LL << 30);
  fw::SetPausesEnabled(false);
  fwtest::TestServer server(fwtest::TestServer::Scripted([size](const fwtest::Request&, int) {
    fwtest::Plan p;
    p.size = size;
    return p;
  }));
  const std::string url = server.Url("/bench.bin");
  const std::string out = (std::filesystem::temp_directory_path() / "fw-net-bench.bin").string();

  double curlSec = 0, engineSec = 0;
  for (int round = 0; round < 2; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    const std::string cmd = "curl -s -o '" + out + "' '" + url + "'";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "curl failed\n");
      return 1;
    }
    curlSec += Seconds(std::chrono::steady_clock::now() - t0);
    std::filesystem::remove(out);

    fw::THTTP r;
    r.URL = url;
    r.iDestination = fw::kHttpToFile;
    r.FullFileName = out;
    r.BufferSize = 1024 * 1024;
    t0 = std::chrono::steady_clock::now();
    const int code = fw::HTTPGetFromWeb(r);
    engineSec += Seconds(std::chrono::steady_clock::now() - t0);
    std::filesystem::remove(out);
    if (code != fw::kWebOk) {
      std::fprintf(stderr, "engine failed with code %d\n", code);
      return 1;
    }
  }
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  const double mib = static_cast<double>(size) * 2 / (1 << 20);
  std::printf("curl:   %.1f MiB/s, peak RSS %ld KiB\n", mib / curlSec, children.ru_maxrss);
  std::printf("engine: %.1f MiB/s, peak RSS %ld KiB (process incl. test server)\n", mib / engineSec,
              self.ru_maxrss);
  std::printf("ratio engine/curl: %.3f\n", curlSec / engineSec);
  return 0;
}
