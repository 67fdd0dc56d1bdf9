// fw-packer OUTPUT.cpp SYMBOL (--dir FOLDER | NAME=FILE ...)
// Packs the files (every file of FOLDER with its relative path, or each FILE under entry NAME)
// into one packed item and writes it as a C++ source file defining SYMBOL and SYMBOLLength.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "packer_core.h"

namespace fs = std::filesystem;

namespace {

bool ReadWhole(const fs::path& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: fw-packer OUTPUT.cpp SYMBOL (--dir FOLDER | NAME=FILE ...)\n";
    return 2;
  }
  const fs::path output = argv[1];
  const std::string symbol = argv[2];
  std::vector<fwpack::ZipInput> entries;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      const fs::path root = argv[++i];
      std::vector<fs::path> files;
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
           it.increment(ec)) {
        if (it->is_regular_file()) files.push_back(it->path());
      }
      if (ec) {
        std::cerr << "fw-packer: cannot list " << root << ": " << ec.message() << "\n";
        return 1;
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& f : files) {
        fwpack::ZipInput e;
        e.name = fs::relative(f, root).generic_string();
        if (!ReadWhole(f, e.data)) {
          std::cerr << "fw-packer: cannot read " << f << "\n";
          return 1;
        }
        entries.push_back(std::move(e));
      }
      continue;
    }
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "fw-packer: bad argument " << arg << "\n";
      return 2;
    }
    fwpack::ZipInput e;
    e.name = arg.substr(0, eq);
    if (!ReadWhole(arg.substr(eq + 1), e.data)) {
      std::cerr << "fw-packer: cannot read " << arg.substr(eq + 1) << "\n";
      return 1;
    }
    entries.push_back(std::move(e));
  }
  if (entries.empty()) {
    std::cerr << "fw-packer: nothing to pack\n";
    return 1;
  }
  const std::vector<uint8_t> item = fwpack::MakePackedItem(fwpack::MakeStoredZip(entries));
  if (item.empty()) {
    std::cerr << "fw-packer: compression failed\n";
    return 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << fwpack::ItemAsCppSource(symbol, item);
  if (!out.flush()) {
    std::cerr << "fw-packer: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
