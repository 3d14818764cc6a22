#include "io/minisign.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "io/xmap.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
// minisign's own limits on a comment line.
constexpr size_t kMaxUntrustedComment = 1024;
constexpr size_t kMaxTrustedComment = 1024;

bool sodium_ready() {
  // sodium_init is safe to call again and from several threads: 0 first
  // time, 1 afterwards, -1 when the library cannot start.
  static const bool ok = sodium_init() >= 0;
  return ok;
}

// Decodes one whole line of standard base64 into exactly out.size() bytes.
template <size_t N>
bool decode_exact(std::string_view line, std::array<uint8_t, N>& out, std::array<uint8_t, 2>* alg = nullptr) {
  std::array<uint8_t, N + 2> buf{};
  size_t len = 0;
  const char* end = nullptr;
  const size_t want = alg ? N + 2 : N;
  if (sodium_base642bin(buf.data(), buf.size(), line.data(), line.size(), nullptr, &len, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  if (len != want || end != line.data() + line.size()) return false;
  if (alg) {
    (*alg)[0] = buf[0];
    (*alg)[1] = buf[1];
    std::copy(buf.begin() + 2, buf.begin() + 2 + N, out.begin());
  } else {
    std::copy(buf.begin(), buf.begin() + N, out.begin());
  }
  return true;
}

// Takes the next line (without its LF) off `text`; false when there is no LF.
bool take_line(std::string_view& text, std::string_view& line) {
  const size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return false;
  line = text.substr(0, lf);
  text.remove_prefix(lf + 1);
  return true;
}

bool has_control_bytes(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\0'; });
}

bool read_small_file(const std::string& path, size_t limit, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad() && out.size() <= limit;
}

}  // namespace

std::string minisign_parse_key(std::string_view text, minisign_key& out) {
  if (!sodium_ready()) return "the signature library could not start";
  if (text.size() > kMinisigMaxBytes) return "the key file is too large";
  std::string_view line;
  std::string_view rest = text;
  if (text.substr(0, kUntrustedPrefix.size()) == kUntrustedPrefix) {
    if (!take_line(rest, line)) return "the key file has no key line";
  }
  // The key line, with or without its line end, and nothing after it.
  if (!take_line(rest, line)) {
    line = rest;
    rest = {};
  }
  if (!rest.empty()) return "the key file holds more than a comment and a key line";
  std::array<uint8_t, 2> alg{};
  std::array<uint8_t, 40> raw{};
  if (!decode_exact(line, raw, &alg)) return "the key line is not a base64 minisign public key";
  if (alg[0] != 'E' || alg[1] != 'd') return "the key is not an Ed25519 minisign key";
  std::copy(raw.begin(), raw.begin() + 8, out.id.begin());
  std::copy(raw.begin() + 8, raw.end(), out.pk.begin());
  return "";
}

const char* minisign_result_text(minisign_result r) {
  switch (r) {
    case minisign_result::kOk:
      return "the signature is good";
    case minisign_result::kMalformed:
      return "the signature file is malformed";
    case minisign_result::kUnknownKey:
      return "the signature was made by a key this installer does not trust";
    case minisign_result::kBadSignature:
      return "the signature does not match the file";
    case minisign_result::kBadTrustedComment:
      return "the trusted comment does not match its signature";
  }
  return "the signature could not be checked";
}

minisign_result minisign_parse(std::string_view text, minisign_signature& out) {
  if (!sodium_ready() || text.size() > kMinisigMaxBytes) return minisign_result::kMalformed;
  std::string_view untrusted, sig_line, trusted, global_line;
  if (!take_line(text, untrusted) || untrusted.substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix ||
      untrusted.size() > kUntrustedPrefix.size() + kMaxUntrustedComment || has_control_bytes(untrusted))
    return minisign_result::kMalformed;
  if (!take_line(text, sig_line)) return minisign_result::kMalformed;
  if (!take_line(text, trusted) || trusted.substr(0, kTrustedPrefix.size()) != kTrustedPrefix ||
      trusted.size() > kTrustedPrefix.size() + kMaxTrustedComment || has_control_bytes(trusted))
    return minisign_result::kMalformed;
  // The last line may lack its line end; nothing may follow it.
  if (!take_line(text, global_line)) {
    global_line = text;
    text = {};
  }
  if (!text.empty()) return minisign_result::kMalformed;

  std::array<uint8_t, 2> alg{};
  std::array<uint8_t, 72> body{};
  if (!decode_exact(sig_line, body, &alg)) return minisign_result::kMalformed;
  if (alg[0] == 'E' && alg[1] == 'd') {
    out.prehashed = false;
  } else if (alg[0] == 'E' && alg[1] == 'D') {
    out.prehashed = true;
  } else {
    return minisign_result::kMalformed;
  }
  std::copy(body.begin(), body.begin() + 8, out.key_id.begin());
  std::copy(body.begin() + 8, body.end(), out.sig.begin());
  if (!decode_exact(global_line, out.global_sig)) return minisign_result::kMalformed;
  out.trusted_comment.assign(trusted.substr(kTrustedPrefix.size()));
  return minisign_result::kOk;
}

minisign_result minisign_verify(const std::vector<minisign_key>& keys, std::string_view data,
                                std::string_view sig_text, std::string* trusted_comment) {
  minisign_signature s;
  if (minisign_parse(sig_text, s) != minisign_result::kOk) return minisign_result::kMalformed;
  const auto key =
      std::find_if(keys.begin(), keys.end(), [&](const minisign_key& k) { return k.id == s.key_id; });
  if (key == keys.end()) return minisign_result::kUnknownKey;

  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  int bad = 0;
  if (s.prehashed) {
    std::array<uint8_t, crypto_generichash_BYTES_MAX> hash{};
    static_assert(crypto_generichash_BYTES_MAX == 64, "minisign prehashes with BLAKE2b-512");
    if (crypto_generichash(hash.data(), hash.size(), bytes, data.size(), nullptr, 0) != 0)
      return minisign_result::kBadSignature;
    bad = crypto_sign_verify_detached(s.sig.data(), hash.data(), hash.size(), key->pk.data());
  } else {
    bad = crypto_sign_verify_detached(s.sig.data(), bytes, data.size(), key->pk.data());
  }
  if (bad != 0) return minisign_result::kBadSignature;

  // The global signature covers the file's signature followed by the trusted
  // comment.
  std::string signed_comment(reinterpret_cast<const char*>(s.sig.data()), s.sig.size());
  signed_comment += s.trusted_comment;
  if (crypto_sign_verify_detached(s.global_sig.data(),
                                  reinterpret_cast<const unsigned char*>(signed_comment.data()),
                                  signed_comment.size(), key->pk.data()) != 0)
    return minisign_result::kBadTrustedComment;
  if (trusted_comment) *trusted_comment = std::move(s.trusted_comment);
  return minisign_result::kOk;
}

minisign_result minisign_verify_file(const std::vector<minisign_key>& keys, const std::string& data_path,
                                     const std::string& sig_path, std::string* trusted_comment) {
  std::string sig_text;
  if (!read_small_file(sig_path, kMinisigMaxBytes, sig_text)) return minisign_result::kMalformed;
  xmap_class m(data_path);
  if (m.mBegin != nullptr) {
    const std::string_view data(reinterpret_cast<const char*>(m.mBegin),
                                static_cast<size_t>(m.mEnd - m.mBegin));
    return minisign_verify(keys, data, sig_text, trusted_comment);
  }
  // An empty file cannot be mapped but may still be what was signed.
  std::string data;
  if (!read_small_file(data_path, 0, data)) return minisign_result::kBadSignature;
  return minisign_verify(keys, data, sig_text, trusted_comment);
}
