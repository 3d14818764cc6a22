// Fuzzes p7z_to_file: the input is the archive, expanded into an empty
// folder. Afterwards nothing may exist outside that folder, no symbolic link
// anywhere, and no temporary part file may be left behind.
#include <cstdint>
#include <string>

#include "archive_check.h"
#include "fuzz_support.h"
#include "io/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_expand(data, size, "in.7z", [](const std::string& archive, const std::string& out) {
    return p7z_to_file(archive, out, nullptr, 0);
  });
}
