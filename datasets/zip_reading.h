// Reading zip archives with libarchive the way every data-set routine reads them: the seekable zip
// reader, and entry names in UTF-8 whatever the process's locale.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <memory>
#include <string>

namespace fw {

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;

// Opens a zip file for reading; a null pointer when it cannot be opened.
ArchivePtr OpenZip(const std::string& path);

// Entry names reach the program in UTF-8 whatever the process's locale: the zip reader converts
// names to the character set of the thread's locale, and in the "C" locale a name outside ASCII
// would fail to convert and be lost. The guard switches this thread to C.UTF-8 while it lives.
class Utf8NamesOnThisThread {
 public:
  Utf8NamesOnThisThread();
  ~Utf8NamesOnThisThread();
  Utf8NamesOnThisThread(const Utf8NamesOnThisThread&) = delete;
  Utf8NamesOnThisThread& operator=(const Utf8NamesOnThisThread&) = delete;

 private:
  locale_t previous_ = locale_t(0);
};

// The next entry's header (ARCHIVE_OK, ARCHIVE_EOF or an error). A warning (a name that the locale
// cannot show, for one) still gives a usable entry and counts as ARCHIVE_OK.
int NextHeader(archive* a, archive_entry** entry);

// The entry's name in UTF-8, as the volumes and the log take it; "" when it has none.
std::string EntryName(archive_entry* entry);

}  // namespace fw
