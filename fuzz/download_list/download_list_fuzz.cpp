// The download-list reader under libFuzzer: any bytes load into the header entry plus one entry per
// group, every row can be drawn, and no entry is ever placed outside the repository or under a
// name that is no plain file name.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/additional_dl.h"
#include "net/additional_dl_get.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<fw::AdditionalDLEntry> list = fw::ParseAdditionalDLList(text, 1);
  if (list.empty() || list[0].Name != fw::kUserDLHeader) std::abort();
  const std::string repository = "/repo/";
  for (const fw::AdditionalDLEntry& e : list) {
    if (fw::AdditionalDLRow(e).find(": ") == std::string::npos) std::abort();
    fw::AdditionalDLPlace place;
    std::string why;
    if (!fw::PlanAdditionalDL(e, repository, &place, &why)) {
      if (why.empty()) std::abort();
      continue;
    }
    const std::string& name = place.fileName;
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
      std::abort();
    const std::string normal = std::filesystem::path(place.Path()).lexically_normal().string();
    if (normal.rfind(repository, 0) != 0 || normal.size() <= repository.size()) std::abort();
    if (place.folder.find(std::string(1, '\0')) != std::string::npos) std::abort();
  }
  return 0;
}
