// Fuzzes p7z_to_file: the input is the archive, expanded into an empty
// folder. Afterwards nothing may exist outside that folder, no symbolic link
// anywhere, and no temporary part file may be left behind (a member may
// itself be named like one).
#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <set>
#include <string>

#include "archive_check.h"
#include "fuzz_support.h"
#include "io/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_expand(
      data, size, "in.7z",
      [](const std::string& archive, const std::string& out) {
        return p7z_to_file(archive, out, nullptr, 0);
      },
      [](const std::string& archive) {
        std::set<std::string> names;
        struct archive* a = archive_read_new();
        archive_read_support_format_7zip(a);
        if (archive_read_open_filename(a, archive.c_str(), 1 << 16) == ARCHIVE_OK) {
          archive_entry* e = nullptr;
          for (int r = archive_read_next_header(a, &e); r == ARCHIVE_OK || r == ARCHIVE_WARN;
               r = archive_read_next_header(a, &e)) {
            const char* n = archive_entry_pathname_utf8(e);
            if (!n) n = archive_entry_pathname(e);
            if (n) names.insert(n);
          }
        }
        archive_read_free(a);
        return names;
      });
}
