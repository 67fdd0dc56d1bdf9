// Throughput of a 1 GiB file download from a local server: the download engine against the curl
// command line over the same loopback, in the same run. Rounds alternate which of the two goes
// first; prints the median rate of each, the ratio of the medians, the spread of the per-round
// ratios and the peak resident memory of each.
// Usage: [FW_BENCH_DIR=folder] fw_bench_download [SIZE [ROUNDS [CHUNK]]] (defaults 1 GiB, 5
// rounds, 1 MiB chunks).
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/clock.h"
#include "net/http_get.h"
#include "tests/net/test_server.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
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
  // FW_BENCH_DIR picks the folder of the downloaded file (/dev/shm takes the disk out).
  const char* dir = std::getenv("FW_BENCH_DIR");
  const std::string out =
      ((dir && *dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path()) /
       "fw-net-bench.bin")
          .string();

  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int32_t chunk = argc > 3 ? std::atoi(argv[3]) : 1024 * 1024;
  const double mib = static_cast<double>(size) / (1 << 20);

  auto runCurl = [&]() -> double {
    const auto t0 = std::chrono::steady_clock::now();
    const std::string cmd = "curl -s -o '" + out + "' '" + url + "'";
    if (std::system(cmd.c_str()) != 0) return -1;
    const double s = Seconds(std::chrono::steady_clock::now() - t0);
    std::filesystem::remove(out);
    return s;
  };
  auto runEngine = [&]() -> double {
    fw::THTTP r;
    r.URL = url;
    r.iDestination = fw::kHttpToFile;
    r.FullFileName = out;
    r.BufferSize = chunk;
    const auto t0 = std::chrono::steady_clock::now();
    const int code = fw::HTTPGetFromWeb(r);
    const double s = Seconds(std::chrono::steady_clock::now() - t0);
    std::filesystem::remove(out);
    if (code != fw::kWebOk) std::fprintf(stderr, "engine failed with code %d\n", code);
    return code == fw::kWebOk ? s : -1;
  };

  // The write-back of one run's file must not slow the next run down: flush before every run.
  auto settle = [] { return std::system("sync") == 0; };

  std::vector<double> curlRates, engineRates, ratios;
  for (int round = 0; round < rounds; ++round) {
    double c, e;
    if (round % 2 == 0) {
      c = settle() ? runCurl() : -1;
      e = settle() ? runEngine() : -1;
    } else {
      e = settle() ? runEngine() : -1;
      c = settle() ? runCurl() : -1;
    }
    if (c < 0 || e < 0) {
      std::fprintf(stderr, "a download failed\n");
      return 1;
    }
    curlRates.push_back(mib / c);
    engineRates.push_back(mib / e);
    ratios.push_back(c / e);
    std::printf("round %d: curl %.1f MiB/s, engine %.1f MiB/s, ratio %.3f\n", round + 1, mib / c,
                mib / e, c / e);
  }
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("curl:   median %.1f MiB/s, peak RSS %ld KiB\n", Median(curlRates),
              children.ru_maxrss);
  std::printf("engine: median %.1f MiB/s, peak RSS %ld KiB (process incl. test server)\n",
              Median(engineRates), self.ru_maxrss);
  std::printf("ratio engine/curl: median of rounds %.3f (min %.3f, max %.3f), of medians %.3f\n",
              Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()),
              Median(engineRates) / Median(curlRates));
  return 0;
}
