#include "tests/hfs/xar_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>

namespace fwtest {

std::string MakeXar(const std::vector<std::pair<std::string, std::string>>& files) {
  archive* a = archive_write_new();
  if (archive_write_set_format_xar(a) != ARCHIVE_OK) {
    archive_write_free(a);
    throw std::runtime_error("libarchive has no XAR writer");
  }
  std::string out;
  archive_write_set_bytes_in_last_block(a, 1);
  archive_write_open(
      a, &out, nullptr,
      [](archive*, void* data, const void* buffer, size_t length) -> la_ssize_t {
        static_cast<std::string*>(data)->append(static_cast<const char*>(buffer), length);
        return static_cast<la_ssize_t>(length);
      },
      nullptr);
  for (const auto& [path, contents] : files) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, path.c_str());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, static_cast<la_int64_t>(contents.size()));
    archive_write_header(a, e);
    archive_write_data(a, contents.data(), contents.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

}  // namespace fwtest
