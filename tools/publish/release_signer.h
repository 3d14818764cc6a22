#pragma once
// Signing a release for `skyvane-publish --sign SECRET_KEY_FILE`: minisign
// signatures (https://jedisct1.github.io/minisign/) made with libsodium, in
// the prehashed form ("ED": Ed25519 over BLAKE2b-512 of the file) that
// `minisign -V` and the installer check, with the global signature over the
// trusted comment.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace publish {

struct release_signer {
  std::array<uint8_t, 8> key_id{};
  std::array<uint8_t, 64> sk{};  // libsodium's Ed25519 secret key (seed and public key)
  ~release_signer();             // wipes the secret key
};

// Reads an unencrypted minisign secret key file (`minisign -G -W`). Returns
// an empty string on success, else why not (an encrypted key is refused:
// the publisher runs unattended and asks for no password).
std::string load_secret_key(const std::string& path, release_signer& out);

// The text of a .minisig file for `data` with `trusted_comment`.
std::string sign_bytes(const release_signer& key, std::string_view data, const std::string& trusted_comment);

}  // namespace publish
