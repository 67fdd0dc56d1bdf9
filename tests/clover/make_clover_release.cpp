// Makes a Clover release archive for the shell tests and the benchmark:
//
//   fw_make_clover_release OUTDIR REV [--boot6 FILE] [--bulk-mb N]
//
// writes OUTDIR/Clover-REV-X64.iso.7z (the ISO with its El Torito image, packed with 7zz). boot6
// is FILE's bytes (the line "Clover revision: REV" is appended). --bulk-mb adds N MiB of files
// shaped like a boot loader's tree: half random bytes (drivers that do not compress), half
// repetitive text (plists), in a few large and many small files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/clover/clover_fixture.h"

namespace {

void AddBulk(fwtest::CloverIsoOptions* iso, size_t bytes) {
  uint64_t seed = 1;
  auto random = [&](size_t n) { return fwtest::Noise(n, ++seed); };
  const std::string text = "<key>Boot</key><dict><key>Timeout</key><integer>5</integer></dict>\n";
  auto repeated = [&](size_t n) {
    std::string s;
    while (s.size() < n) s += text;
    s.resize(n);
    return s;
  };
  iso->extra.push_back({"EFI/CLOVER/OEM/recovery.img", random(bytes / 4)});
  iso->extra.push_back({"EFI/CLOVER/tools/Shell64U.efi", repeated(bytes / 4)});
  // About as many files as a release carries (a few hundred), in a handful of folders.
  const size_t small = 64 * 1024;
  const char* folders[] = {"drivers/BIOS", "drivers/UEFI",    "drivers/off", "kexts/Other",
                           "tools",        "themes/embedded", "ACPI/origin", "doc"};
  for (size_t used = 0, i = 0; used + small <= bytes / 2; used += small, ++i) {
    const std::string name = std::string("EFI/CLOVER/") + folders[i % 8] + "/file" +
                             std::to_string(i) + (i % 2 ? ".efi" : ".plist");
    iso->extra.push_back({name, i % 2 ? random(small) : repeated(small)});
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR REV [--boot6 FILE] [--bulk-mb N]\n", argv[0]);
    return 2;
  }
  fwtest::CloverIsoOptions iso;
  iso.rev = argv[2];
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--boot6") {
      iso.boot6 = fwtest::Slurp(argv[i + 1]);
    } else if (option == "--bulk-mb") {
      AddBulk(&iso, static_cast<size_t>(std::atof(argv[i + 1]) * 1024 * 1024));
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  std::filesystem::create_directories(argv[1]);
  const auto made = fwtest::MakeCloverReleaseArchive(argv[1], iso);
  if (made.empty()) return 1;
  std::printf("%s\n", made.c_str());
  return 0;
}
