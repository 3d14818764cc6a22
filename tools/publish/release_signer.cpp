#include "tools/publish/release_signer.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace publish {

namespace {

// Secret key layout after base64: signature algorithm "Ed", KDF algorithm
// ("Sc" scrypt, or two zero bytes: not encrypted), checksum algorithm "B2",
// KDF salt (32), ops limit (8), memory limit (8), then key number (8),
// secret key (64) and checksum (32), the last three XORed with the KDF's
// output when encrypted.
constexpr size_t kSaltBytes = 32, kLimitBytes = 8;
constexpr size_t kKeynumAt = 6 + kSaltBytes + 2 * kLimitBytes;
constexpr size_t kSecretKeyFileBytes = kKeynumAt + 8 + 64 + 32;

std::string base64(const unsigned char* bytes, size_t n) {
  std::string out(sodium_base64_ENCODED_LEN(n, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), bytes, n, sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

}  // namespace

release_signer::~release_signer() {
  sodium_memzero(sk.data(), sk.size());
}

std::string load_secret_key(const std::string& path, release_signer& out) {
  if (sodium_init() < 0) return "the signature library could not start";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "the secret key " + path + " cannot be read";
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string bad = "the secret key " + path + " is not a minisign secret key";
  if (text.size() > 4096 || text.rfind("untrusted comment: ", 0) != 0) return bad;
  const size_t lf = text.find('\n');
  const size_t end = text.find('\n', lf + 1);
  const std::string line = text.substr(lf + 1, end == std::string::npos ? std::string::npos : end - lf - 1);
  std::vector<unsigned char> raw(kSecretKeyFileBytes + 1);
  size_t len = 0;
  if (sodium_base642bin(raw.data(), raw.size(), line.data(), line.size(), nullptr, &len, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      len != kSecretKeyFileBytes || raw[0] != 'E' || raw[1] != 'd' || raw[4] != 'B' || raw[5] != '2')
    return bad;
  if (raw[2] != 0 || raw[3] != 0)
    return "the secret key " + path +
           " is encrypted with a password; skyvane-publish needs an unencrypted key (make one with "
           "minisign -G -W, or remove the password with minisign -C -W)";
  std::copy_n(raw.begin() + kKeynumAt, 8, out.key_id.begin());
  std::copy_n(raw.begin() + kKeynumAt + 8, 64, out.sk.begin());
  sodium_memzero(raw.data(), raw.size());
  // The key's own public half must verify what it signs: a damaged key file
  // would otherwise publish signatures that no installer accepts.
  const unsigned char probe[] = "skyvane";
  std::array<unsigned char, crypto_sign_BYTES> sig{};
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
  crypto_sign_ed25519_sk_to_pk(pk.data(), out.sk.data());
  crypto_sign_detached(sig.data(), nullptr, probe, sizeof probe, out.sk.data());
  if (crypto_sign_verify_detached(sig.data(), probe, sizeof probe, pk.data()) != 0) return bad + " (damaged)";
  return "";
}

std::string sign_bytes(const release_signer& key, std::string_view data, const std::string& trusted_comment) {
  std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
  crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char*>(data.data()),
                     data.size(), nullptr, 0);
  // "ED", key number, Ed25519 signature of the BLAKE2b-512 hash.
  std::array<unsigned char, 2 + 8 + crypto_sign_BYTES> sig_line{'E', 'D'};
  std::copy(key.key_id.begin(), key.key_id.end(), sig_line.begin() + 2);
  crypto_sign_detached(sig_line.data() + 10, nullptr, hash.data(), hash.size(), key.sk.data());
  // The global signature: the signature followed by the trusted comment.
  std::string global(reinterpret_cast<const char*>(sig_line.data() + 10), crypto_sign_BYTES);
  global += trusted_comment;
  std::array<unsigned char, crypto_sign_BYTES> global_sig{};
  crypto_sign_detached(global_sig.data(), nullptr, reinterpret_cast<const unsigned char*>(global.data()),
                       global.size(), key.sk.data());
  return "untrusted comment: signature from skyvane-publish secret key\n" +
         base64(sig_line.data(), sig_line.size()) + "\ntrusted comment: " + trusted_comment + "\n" +
         base64(global_sig.data(), global_sig.size()) + "\n";
}

}  // namespace publish
