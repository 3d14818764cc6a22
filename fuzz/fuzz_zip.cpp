// Fuzzes zip_to_file: the input is the archive, expanded into an empty
// folder. Afterwards nothing may exist outside that folder, no symbolic link
// anywhere, and no temporary part file may be left behind (a member may
// itself be named like one).
#include <unzip.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "archive_check.h"
#include "fuzz_support.h"
#include "io/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_expand(
      data, size, "in.zip",
      [](const std::string& archive, const std::string& out) {
        return zip_to_file(archive, out, nullptr, 0);
      },
      [](const std::string& archive) {
        std::set<std::string> names;
        unzFile zf = unzOpen64(archive.c_str());
        if (!zf) return names;
        for (int r = unzGoToFirstFile(zf); r == UNZ_OK; r = unzGoToNextFile(zf)) {
          unz_file_info64 info;
          if (unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
          std::vector<char> name(info.size_filename + 1, '\0');
          unzGetCurrentFileInfo64(zf, &info, name.data(), name.size(), nullptr, 0, nullptr, 0);
          names.insert(std::string(name.data(), info.size_filename));
        }
        unzClose(zf);
        return names;
      });
}
