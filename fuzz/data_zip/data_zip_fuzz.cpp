// libFuzzer target: the input is a zip. Extracting it onto a fresh folder and checking the folder
// against it must never crash, hang or write outside the folder.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/clock.h"
#include "datasets/data_zip.h"
#include "datasets/data_zip_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  namespace fs = std::filesystem;
  static const fs::path root = [] {
    const fs::path r = fs::temp_directory_path() / ("fw-fuzz-zip-" + std::to_string(::getpid()));
    fs::create_directories(r);
    fw::SetPausesEnabled(false);  // the extraction's closing pause
    return r;
  }();
  const int fd = ::memfd_create("zip", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  const std::string zip = "/proc/self/fd/" + std::to_string(fd);
  const fs::path target = root / "t";
  fw::ExtractDataZip(nullptr, 0, target.string(), false, zip, false, false);
  fw::DataZipCheck check;
  fw::VerifyDataZip(nullptr, 0, target.string(), false, zip, false, &check);
  // Nothing lands beside the target.
  for (const auto& e : fs::directory_iterator(root))
    if (e.path() != target) std::abort();
  std::error_code ec;
  fs::remove_all(target, ec);
  ::close(fd);
  return 0;
}
