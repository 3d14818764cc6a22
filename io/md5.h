#pragma once
// File signatures: the MD5 digest (RFC 1321) of a file's whole contents,
// written as 32 lower-case hexadecimal digits ("%02x" per digest byte, in
// digest order, nothing else). The installer compares these texts with the
// manifest's by exact string equality.
//
// The digest is computed by libcrypto's EVP MD5. MD5_CTX keeps the classic
// Init/Update/Final interface on top of it: the running state lives in the
// EVP context that the object owns, so MD5_CTX is not copyable.
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

struct MD5_CTX {
  MD5_CTX() = default;
  ~MD5_CTX();
  MD5_CTX(const MD5_CTX&) = delete;
  MD5_CTX& operator=(const MD5_CTX&) = delete;

  uint32_t i[2] = {0, 0};         // number of input bits, low word first
  unsigned char digest[16] = {};  // the result after MD5Final
  evp_md_ctx_st* evp = nullptr;   // running state (owned)
};

// Starts a digest: bit count 0, fresh state.
void MD5Init(MD5_CTX* ctx);
// Adds `inLen` bytes (at most 65,535).
void MD5Update(MD5_CTX* ctx, const unsigned char* inBuf, uint16_t inLen);
// Adds `inLenWide` bytes (any 32-bit count).
void MD5UpdateWide(MD5_CTX* ctx, const unsigned char* inBuf, uint32_t inLenWide);
// Pads, appends the bit count and leaves the 16-byte result in ctx->digest.
void MD5Final(MD5_CTX* ctx);

// The 32-character text form of a 16-byte digest.
std::string md5_text(const unsigned char digest[16]);

// Signature text of `len` bytes in memory (any size).
std::string md5_sign_bytes(const void* data, size_t len);

// Signs the file at `inFileName` (a path as xmap_class takes it). Returns 0
// and sets `outSig`; a file that exists but is empty gets the digest of empty
// input. Returns kErrOpenRead when the file cannot be opened or mapped, leaving
// `outSig` unchanged. Shows nothing.
int calc_file_md5(const std::string& inFileName, std::string& outSig);

// Signs `len` bytes of a file mapping into `outSig`. Returns 0, or kErrOpenRead
// (outSig unchanged) when the file was shortened by another program while it
// was read, so that the lost pages could not be read.
int md5_sign_mapped(const unsigned char* data, size_t len, std::string& outSig);

// Signs `len` bytes by MD5UpdateWide calls of at most `piece` bytes each.
// Exposed so that the splitting of inputs wider than 32 bits can be tested
// with small pieces.
void md5_update_pieces(MD5_CTX* ctx, const unsigned char* data, size_t len, uint32_t piece);
