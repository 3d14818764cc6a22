#include "io/sig_cache.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "io/md5.h"
#include "platform/system.h"

namespace {

constexpr char kMagic[8] = {'S', 'K', 'Y', 'V', 'S', 'I', 'G', 'S'};
constexpr uint32_t kVersion = 1;
static_assert(sizeof(sig_record) == 56, "records are written as they lie in memory");

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Reads exactly `n` bytes into `to`, adding them to the running CRC.
bool take(std::FILE* f, void* to, size_t n, uLong* crc) {
  if (n > 0 && std::fread(to, 1, n, f) != n) return false;
  *crc = crc32_z(*crc, static_cast<const Bytef*>(to), n);
  return true;
}

bool put(std::FILE* f, const void* from, size_t n, uLong* crc) {
  *crc = crc32_z(*crc, static_cast<const Bytef*>(from), n);
  return n == 0 || std::fwrite(from, 1, n, f) == n;
}

// Bytes before the records.
uint64_t header_bytes(const std::string& dest) {
  return sizeof kMagic + 4 + 4 + dest.size() + 8;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

uint64_t sig_path_hash(std::string_view rel) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : rel) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

bool sig_record_set_md5(sig_record& r, const std::string& sig) {
  if (sig.size() != 32) return false;
  unsigned char md5[16];
  for (size_t k = 0; k < 16; ++k) {
    const int hi = hex_value(sig[2 * k]), lo = hex_value(sig[2 * k + 1]);
    if (hi < 0 || lo < 0) return false;
    md5[k] = static_cast<unsigned char>(hi * 16 + lo);
  }
  std::memcpy(r.md5, md5, sizeof md5);
  return true;
}

uint64_t sig_cache_bound(const std::string& dest, size_t files) {
  return header_bytes(dest) + (static_cast<uint64_t>(files) + 64) * sizeof(sig_record) + 4;
}

std::string sig_cache_file(const std::string& folder, const std::string& dest) {
  return folder + md5_sign_bytes(dest.data(), dest.size()) + ".sigs";
}

std::string sig_cache::load(const std::string& file, const std::string& dest, uint64_t max_bytes) {
  records_.clear();
  platform_file_identity self;
  if (platform_file_identity_of(file, &self) != 0) return "there is none";
  if (self.size > max_bytes) return "it is larger than " + std::to_string(max_bytes) + " bytes";
  file_ptr f(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!f) return "it cannot be read";

  uLong crc = crc32_z(0, nullptr, 0);
  char magic[sizeof kMagic];
  uint32_t version = 0, dest_len = 0;
  if (!take(f.get(), magic, sizeof magic, &crc) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
      !take(f.get(), &version, sizeof version, &crc))
    return "it is not a signature cache";
  if (version != kVersion) return "it is of another version";
  if (!take(f.get(), &dest_len, sizeof dest_len, &crc) || dest_len != dest.size())
    return "it is of another folder";
  std::string stored(dest_len, '\0');
  if (!take(f.get(), stored.data(), dest_len, &crc) || stored != dest) return "it is of another folder";
  uint64_t count = 0;
  if (!take(f.get(), &count, sizeof count, &crc)) return "it is damaged";
  // The header's count must agree with the file's length, so a damaged count
  // never sizes the records.
  if (count > self.size / sizeof(sig_record) ||
      header_bytes(dest) + count * sizeof(sig_record) + 4 != self.size)
    return "it is damaged";
  std::vector<sig_record> records(static_cast<size_t>(count));
  uint32_t stored_crc = 0;
  if (!take(f.get(), records.data(), records.size() * sizeof(sig_record), &crc) ||
      std::fread(&stored_crc, 1, sizeof stored_crc, f.get()) != sizeof stored_crc || stored_crc != crc)
    return "it is damaged";
  const auto by_hash = [](const sig_record& a, const sig_record& b) { return a.path_hash < b.path_hash; };
  if (!std::is_sorted(records.begin(), records.end(), by_hash)) return "it is damaged";
  records_ = std::move(records);
  written_ns_ = self.mtime_ns;
  return std::string();
}

std::string sig_cache::lookup(std::string_view rel, const platform_file_identity& id) const {
  const uint64_t h = sig_path_hash(rel);
  auto it = std::lower_bound(records_.begin(), records_.end(), h,
                             [](const sig_record& r, uint64_t v) { return r.path_hash < v; });
  for (; it != records_.end() && it->path_hash == h; ++it) {
    const platform_file_identity& r = it->id;
    if (r.size == id.size && r.inode == id.inode && r.mtime_ns == id.mtime_ns && r.ctime_ns == id.ctime_ns &&
        r.ctime_ns <= written_ns_ - kSigCacheSettleNs)
      return md5_text(it->md5);
  }
  return std::string();
}

int sig_cache_save(const std::string& file, const std::string& dest, std::vector<sig_record> records) {
  std::sort(records.begin(), records.end(),
            [](const sig_record& a, const sig_record& b) { return a.path_hash < b.path_hash; });
  const size_t slash = file.rfind('/');
  if (slash != std::string::npos) platform_make_folders(file.substr(0, slash + 1));
  const std::string temp = file + ".new";
  errno = 0;
  file_ptr f(std::fopen(temp.c_str(), "wb"), &std::fclose);
  if (!f) return errno ? errno : EIO;
  uLong crc = crc32_z(0, nullptr, 0);
  const uint32_t version = kVersion, dest_len = static_cast<uint32_t>(dest.size());
  const uint64_t count = records.size();
  bool ok = put(f.get(), kMagic, sizeof kMagic, &crc) && put(f.get(), &version, sizeof version, &crc) &&
            put(f.get(), &dest_len, sizeof dest_len, &crc) && put(f.get(), dest.data(), dest.size(), &crc) &&
            put(f.get(), &count, sizeof count, &crc) &&
            put(f.get(), records.data(), records.size() * sizeof(sig_record), &crc);
  const uint32_t crc32 = static_cast<uint32_t>(crc);
  ok = ok && std::fwrite(&crc32, 1, sizeof crc32, f.get()) == sizeof crc32;
  const int close_err = std::fclose(f.release()) == 0 ? 0 : (errno ? errno : EIO);
  int err = !ok ? (errno ? errno : EIO) : close_err;
  if (err == 0 && std::rename(temp.c_str(), file.c_str()) != 0) err = errno ? errno : EIO;
  if (err != 0) std::remove(temp.c_str());
  return err;
}
