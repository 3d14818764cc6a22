// Fuzzes the header check shared by every data file (xmap_class::check_file)
// in both modes and with each file kind's accepted versions and type word. The
// input is handed over as an exact heap copy instead of a mapping, so a read
// one byte past the end is seen by AddressSanitizer.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/xmap.h"

namespace {

struct kind {
  int mode;
  int versions[3];
  const char* word;
};
constexpr kind kKinds[] = {
    {kCheckText, {820, 0, 0}, "SERVERS"}, {kCheckText, {840, 900, 0}, "INSTALLER"},
    {kCheckText, {900, 0, 0}, "DVD"},     {kCheckText, {9002, 0, 0}, nullptr},
    {kCheckBinary, {900, 0, 0}, nullptr}, {kCheckBinary, {820, 0, 0}, "SERVERS"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  const std::vector<unsigned char> exact(data, data + size);
  for (const kind& k : kKinds) {
    xmap_class m;
    m.mBegin = exact.empty() ? nullptr : exact.data();
    m.mEnd = m.mBegin ? m.mBegin + exact.size() : nullptr;
    m.mCrt = m.mBegin;
    std::string free_text;
    const int v = m.check_file(k.mode, k.versions, k.word, &free_text);
    if (m.mBegin) {
      if (m.mCrt < m.mBegin || m.mCrt > m.mEnd) fuzzsupport::fail("cursor outside the data");
      if (v != 0 && v != k.versions[0] && v != k.versions[1])
        fuzzsupport::fail("accepted an unlisted version");
      if (v != 0 && k.mode == kCheckText && exact[0] != 'A' && exact[0] != 'I')
        fuzzsupport::fail("accepted a text file with a foreign first byte");
    } else if (v != 0) {
      fuzzsupport::fail("accepted an empty file");
    }
    if (free_text.size() > exact.size()) fuzzsupport::fail("free text longer than the file");
    // Not mapped: the object must not unmap the copy.
    m.mBegin = m.mCrt = m.mEnd = nullptr;
  }
  return 0;
}
