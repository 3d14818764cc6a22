#include "tools/publish/archive_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "io/md5.h"

namespace publish {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr int kZipLevel = 6;
constexpr unsigned kMadeByUnix = 3 << 8 | 20;  // Unix attributes, zip 2.0
constexpr unsigned kRegularFile = 0100000;
// 2020-01-01 00:00:00: every archive carries the same time stamp.
constexpr time_t kFixedTime = 1577836800;

struct file_closer {
  void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

std::string errno_text(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Reads the source in chunks, signing each and handing it to `sink`.
template <typename Sink>
std::string stream_source(const std::string& source, MD5_CTX& md5, uint64_t& bytes, Sink sink) {
  file_ptr in(std::fopen(source.c_str(), "rb"));
  if (!in) return errno_text("cannot read", source);
  std::vector<unsigned char> buf(kChunk);
  bytes = 0;
  for (;;) {
    const size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
    if (n > 0) {
      MD5UpdateWide(&md5, buf.data(), static_cast<uint32_t>(n));
      bytes += n;
      if (std::string why = sink(buf.data(), n); !why.empty()) return why;
    }
    if (n < buf.size()) {
      if (std::ferror(in.get())) return errno_text("cannot read", source);
      break;
    }
  }
  return "";
}

struct zip_closer {
  void operator()(void* z) const { zipClose(z, nullptr); }
};

std::string zip_stream(
    const std::string& archive_path, const std::string& member_name, bool executable, uint64_t size_hint,
    const std::function<std::string(std::function<std::string(const unsigned char*, size_t)>)>& feed) {
  std::unique_ptr<void, zip_closer> zf(zipOpen64(archive_path.c_str(), APPEND_STATUS_CREATE));
  if (!zf) return errno_text("cannot create", archive_path);
  zip_fileinfo zi{};
  zi.tmz_date = {0, 0, 0, 1, 0, 2020};  // 2020-01-01, as the 7z archives
  zi.external_fa = static_cast<uLong>(kRegularFile | (executable ? 0755 : 0644)) << 16;
  const int zip64 = size_hint >= 0xffffffffull ? 1 : 0;
  if (zipOpenNewFileInZip4_64(zf.get(), member_name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              kZipLevel, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                              kMadeByUnix, 0, zip64) != ZIP_OK)
    return "cannot start the zip member in " + archive_path;
  std::string why = feed([&](const unsigned char* p, size_t n) -> std::string {
    if (zipWriteInFileInZip(zf.get(), p, static_cast<unsigned>(n)) != ZIP_OK)
      return errno_text("cannot write", archive_path);
    return "";
  });
  if (!why.empty()) return why;
  if (zipCloseFileInZip(zf.get()) != ZIP_OK) return errno_text("cannot write", archive_path);
  void* z = zf.release();
  if (zipClose(z, nullptr) != ZIP_OK) return errno_text("cannot finish", archive_path);
  return "";
}

struct archive_writer_deleter {
  void operator()(archive* a) const { archive_write_free(a); }
};

std::string seven_zip_stream(
    const std::string& archive_path, const std::string& member_name, bool executable, uint64_t size,
    const std::function<std::string(std::function<std::string(const unsigned char*, size_t)>)>& feed) {
  std::unique_ptr<archive, archive_writer_deleter> a(archive_write_new());
  if (!a || archive_write_set_format_7zip(a.get()) != ARCHIVE_OK ||
      archive_write_set_format_option(a.get(), "7zip", "compression", "lzma2") != ARCHIVE_OK)
    return "this libarchive cannot write 7z archives with LZMA2";
  if (archive_write_open_filename(a.get(), archive_path.c_str()) != ARCHIVE_OK)
    return "cannot create " + archive_path + ": " + archive_error_string(a.get());
  std::unique_ptr<archive_entry, decltype(&archive_entry_free)> e(archive_entry_new(), archive_entry_free);
  archive_entry_set_pathname_utf8(e.get(), member_name.c_str());
  archive_entry_set_filetype(e.get(), AE_IFREG);
  archive_entry_set_perm(e.get(), executable ? 0755 : 0644);
  archive_entry_set_size(e.get(), static_cast<la_int64_t>(size));
  archive_entry_set_mtime(e.get(), kFixedTime, 0);
  if (archive_write_header(a.get(), e.get()) != ARCHIVE_OK)
    return "cannot write " + archive_path + ": " + archive_error_string(a.get());
  std::string why = feed([&](const unsigned char* p, size_t n) -> std::string {
    if (archive_write_data(a.get(), p, n) != static_cast<la_ssize_t>(n))
      return "cannot write " + archive_path + ": " + archive_error_string(a.get());
    return "";
  });
  if (!why.empty()) return why;
  if (archive_write_close(a.get()) != ARCHIVE_OK)
    return "cannot finish " + archive_path + ": " + archive_error_string(a.get());
  return "";
}

uint64_t size_of(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(n);
}

}  // namespace

const char* seven_zip_method() {
  return "LZMA2 via libarchive's 7z writer";
}

std::string pack_file(const std::string& source, const std::string& member_name, bool executable,
                      archive_kind kind, const std::string& archive_path, packed_file& out) {
  // The size is needed up front (7z entries and zip64 are declared before the
  // data); a file that changes while it is read fails rather than publishing
  // a size that does not match.
  const uint64_t expected = size_of(source);
  MD5_CTX md5;
  MD5Init(&md5);
  uint64_t bytes = 0;
  auto feed = [&](std::function<std::string(const unsigned char*, size_t)> sink) {
    return stream_source(source, md5, bytes, sink);
  };
  std::string why = kind == archive_kind::zip
                        ? zip_stream(archive_path, member_name, executable, expected, feed)
                        : seven_zip_stream(archive_path, member_name, executable, expected, feed);
  if (why.empty() && bytes != expected) why = source + " changed while it was published";
  if (!why.empty()) {
    std::remove(archive_path.c_str());
    return why;
  }
  MD5Final(&md5);
  out.sig = md5_text(md5.digest);
  out.file_bytes = bytes;
  out.archive_bytes = size_of(archive_path);
  return "";
}

std::string sign_file(const std::string& source, std::string& sig, uint64_t& bytes) {
  MD5_CTX md5;
  MD5Init(&md5);
  std::string why =
      stream_source(source, md5, bytes, [](const unsigned char*, size_t) { return std::string(); });
  if (!why.empty()) return why;
  MD5Final(&md5);
  sig = md5_text(md5.digest);
  return "";
}

std::string write_zip_bytes(const std::string& archive_path, const std::string& member_name,
                            const std::string& bytes) {
  return zip_stream(archive_path, member_name, false, bytes.size(), [&](auto sink) {
    return sink(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  });
}

}  // namespace publish
