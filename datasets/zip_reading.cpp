#include "datasets/zip_reading.h"

namespace fw {

ArchivePtr OpenZip(const std::string& path) {
  ArchivePtr a(archive_read_new(), archive_read_free);
  if (!a) return ArchivePtr(nullptr, archive_read_free);
  archive_read_support_format_zip_seekable(a.get());
  if (archive_read_open_filename(a.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK)
    return ArchivePtr(nullptr, archive_read_free);
  return a;
}

Utf8NamesOnThisThread::Utf8NamesOnThisThread() {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (utf8 != locale_t(0)) previous_ = uselocale(utf8);
}

Utf8NamesOnThisThread::~Utf8NamesOnThisThread() {
  if (previous_ != locale_t(0)) uselocale(previous_);
}

int NextHeader(archive* a, archive_entry** entry) {
  const int rc = archive_read_next_header(a, entry);
  return rc == ARCHIVE_WARN ? ARCHIVE_OK : rc;
}

std::string EntryName(archive_entry* entry) {
  const char* name = archive_entry_pathname_utf8(entry);
  if (name == nullptr) name = archive_entry_pathname(entry);
  return name ? name : "";
}

}  // namespace fw
