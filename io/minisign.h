#pragma once
// minisign signatures (https://jedisct1.github.io/minisign/), checked with
// libsodium: Ed25519 over the file itself ("Ed", the legacy algorithm) or over
// its BLAKE2b-512 hash ("ED", prehashed), plus the global signature over the
// signature and the trusted comment, so that the comment cannot be swapped.
//
// Signature files come from the network: they are parsed strictly (exactly
// the four lines minisign writes, LF line ends, nothing after them) and
// refused unread beyond kMinisigMaxBytes. Nothing here keeps state; any
// thread may call it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A trusted public key: its 8-byte key number and the Ed25519 key.
struct minisign_key {
  std::array<uint8_t, 8> id{};
  std::array<uint8_t, 32> pk{};
};

// Bytes a signature file may hold: two comment lines of minisign's 1024-byte
// limit and the two base64 lines fit well below it.
constexpr size_t kMinisigMaxBytes = 4096;

// Parses a public key: the text of a minisign .pub file (an "untrusted
// comment:" line, then the base64 line) or the base64 line alone. Returns an
// empty string on success, else why the text is not a key.
std::string minisign_parse_key(std::string_view text, minisign_key& out);

enum class minisign_result : uint8_t {
  kOk,
  kMalformed,          // not a signature file of the documented form, or too large
  kUnknownKey,         // made by a key that is not trusted
  kBadSignature,       // the file's bytes are not what was signed
  kBadTrustedComment,  // the trusted comment is not what was signed
};
// A short text for the log: "the signature file is malformed", ...
const char* minisign_result_text(minisign_result r);

// A signature file taken apart.
struct minisign_signature {
  bool prehashed = false;  // "ED": the signature covers BLAKE2b-512 of the data
  std::array<uint8_t, 8> key_id{};
  std::array<uint8_t, 64> sig{};
  std::string trusted_comment;  // without its "trusted comment: " prefix
  std::array<uint8_t, 64> global_sig{};
};
// kOk or kMalformed.
minisign_result minisign_parse(std::string_view text, minisign_signature& out);

// Checks `data` against the signature file text `sig_text` with the one of
// `keys` whose key number the signature names. On kOk *trusted_comment (when
// given) holds the verified trusted comment.
minisign_result minisign_verify(const std::vector<minisign_key>& keys, std::string_view data,
                                std::string_view sig_text, std::string* trusted_comment);

// The same for files on disk: `data_path` is mapped, `sig_path` is read
// when it holds at most kMinisigMaxBytes (a missing or larger file is
// kMalformed; a missing data file kBadSignature).
minisign_result minisign_verify_file(const std::vector<minisign_key>& keys, const std::string& data_path,
                                     const std::string& sig_path, std::string* trusted_comment);
