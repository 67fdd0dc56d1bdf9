// fw_datasets_bench [WORKDIR]: times ExtractDataZip onto a FAT32 image volume against `7zz x`
// into a folder of WORKDIR (default /dev/shm, a tmpfs) and `mcopy -s` of the extracted tree onto
// a fresh image of the same size, and prints the ratios.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

#include "app/clock.h"
#include "datasets/data_zip.h"
#include "datasets/test_support.h"
#include "platform/block_device.h"

using namespace fwtest;

namespace {

double Seconds(const std::function<bool()>& job, bool& ok) {
  const auto start = std::chrono::steady_clock::now();
  ok = job();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::path("/dev/shm");
  Scratch s;  // zip and images live in the scratch folder; the 7zz target under `base`
  const fs::path tree = base / ("fwbench-tree-" + std::to_string(getpid()));
  std::mt19937 gen(42);
  std::vector<ZipItem> items;
  for (int i = 0; i < 2000; ++i) {
    // Half compressible text, half noise: about 25 KB a file, 50 MB in all.
    std::string data(25000, ' ');
    for (size_t k = 0; k < data.size(); ++k)
      data[k] = k < data.size() / 2 ? char('a' + (k * 7 + i) % 26) : char(gen());
    items.push_back(
        {"EFI/CLOVER/d" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".bin", data});
  }
  const fs::path zip = s.Path("set.zip");
  WriteFile(zip, MakeZip(items));
  const std::string image = s.Path("vol.img").string();
  const std::string image2 = s.Path("vol2.img").string();
  if (!Shell("truncate -s 128M " + image + " " + image2) || !Shell("mkfs.fat -F 32 " + image) ||
      !Shell("mkfs.fat -F 32 " + image2)) {
    std::cerr << "cannot make the images (truncate, mkfs.fat)\n";
    return 1;
  }
  fw::TheDataSetServices().openVolume = [&](const std::string&) {
    struct Holder {
      std::unique_ptr<fw::FdDevice> device;
      std::unique_ptr<fw::VolumeFiles> files;
      ~Holder() { files.reset(); }
    };
    auto h = std::make_shared<Holder>();
    h->device = fw::FdDevice::Open(image, true, 512);
    if (h->device) h->files = fw::OpenVolumeFiles(*h->device);
    if (!h->files) return std::shared_ptr<fw::VolumeFiles>();
    fw::VolumeFiles* f = h->files.get();
    return std::shared_ptr<fw::VolumeFiles>(h, f);
  };

  bool ok1 = false, ok2 = false, ok3 = false;
  const double ours = Seconds(
      [&] { return fw::ExtractDataZip(nullptr, 0, "E:", false, zip.string(), true, false) == 1; },
      ok1);
  ok1 = ok1 && Shell("fsck.fat -n " + image);
  const double sevenZip =
      Seconds([&] { return Shell("7zz x -y -o" + tree.string() + " " + zip.string()); }, ok2);
  const double mcopy = Seconds(
      [&] { return Shell("mcopy -s -i " + image2 + " " + tree.string() + "/EFI ::/"); }, ok3);
  std::error_code ec;
  fs::remove_all(tree, ec);
  std::cout << "2000 files, " << fs::file_size(zip) / 1000 << " kB zip\n"
            << "ExtractDataZip onto FAT32 image: " << ours
            << " s (pause of 1 s excluded: " << (fw::PausesEnabled() ? "no" : "yes") << ")"
            << (ok1 ? "" : "  FAILED") << "\n"
            << "7zz x into " << base << ": " << sevenZip << " s" << (ok2 ? "" : "  FAILED") << "\n"
            << "mcopy -s of the tree: " << mcopy << " s" << (ok3 ? "" : "  FAILED") << "\n"
            << "ratio ours / 7zz: " << ours / sevenZip << "\n"
            << "ratio ours / mcopy: " << ours / mcopy << "\n"
            << "ratio ours / (7zz + mcopy): " << ours / (sevenZip + mcopy) << "\n";
  return ok1 && ok2 && ok3 ? 0 : 1;
}
