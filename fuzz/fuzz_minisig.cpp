// Fuzzes the release signature reader: the input as a signature file (parsed,
// then checked against a fixed key and fixed bytes) and as a public key file,
// as the installer reads serverlist9.txt.minisig, directory.txt.zip.minisig
// and --release_key=FILE. Checks that what parses stays within the bounds the
// format sets.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "io/minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  minisign_signature s;
  if (minisign_parse(text, s) == minisign_result::kOk) {
    if (size > kMinisigMaxBytes) fuzzsupport::fail("a signature file above the size bound was parsed");
    if (s.trusted_comment.size() > 1024) fuzzsupport::fail("trusted comment above 1024 bytes");
    if (s.trusted_comment.find_first_of(std::string("\n\r\0", 3)) != std::string::npos)
      fuzzsupport::fail("trusted comment holds a line end or NUL");
  }
  minisign_key key;
  key.id = s.key_id;  // a key the signature names, so the checks run to the end
  std::string comment;
  if (minisign_verify({key}, "serverlist", text, &comment) == minisign_result::kOk &&
      comment != s.trusted_comment)
    fuzzsupport::fail("the verified comment is not the parsed one");
  minisign_parse_key(text, key);
  return 0;
}
