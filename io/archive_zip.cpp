// zip_to_file: expands a zip archive into a folder through minizip's unzip
// calls. Each member is inflated in pieces into a temporary file next to its
// final place, checked against its stored CRC, and only then renamed into
// place, so a damaged member leaves no file and memory stays bounded however
// large a member is (or claims to be).
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "io/archive_internal.h"
#include "util/log.h"

using archive_detail::fail;
using archive_detail::kErrTag;

namespace {

constexpr int kErrNoMemory = 12;
constexpr unsigned long kUnixSymlinkBits = 0xA000;
constexpr unsigned long kMadeByUnix = 3;

// Inflated bytes per read and write: memory used per member, whatever its size.
constexpr size_t kReadPiece = 1u << 18;

void log_unzip_failure(int code, int line, const std::string& path) {
  xlog() << "Zip to file failed with error " << code << ". file = " << kErrTag << " line = " << line
         << ". inFile=" << path << ".\n";
  xlog().flush();
}

bool has_exec_bits(const unz_file_info64& info) {
  return (info.version >> 8) == kMadeByUnix && ((info.external_fa >> 16) & 0111) != 0;
}

// One member, already selected: inflated in pieces straight into its part
// file, then verified. The stored CRC is checked when the member is closed,
// after the last piece; on a mismatch the part file is discarded, so a damaged
// member still leaves no file, and memory stays at one piece whatever size the
// member's header claims.
int unzip_file(unzFile zf, const std::string& out_path, const unz_file_info64& info) {
  int code = unzOpenCurrentFile(zf);
  if (code != UNZ_OK) {
    code = fail(code, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
    return code;
  }
  std::unique_ptr<char[]> buf;
  try {
    buf = std::make_unique_for_overwrite<char[]>(kReadPiece);
  } catch (const std::bad_alloc&) {
    unzCloseCurrentFile(zf);
    code = fail(kErrNoMemory, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
    return code;
  }
  archive_detail::part_file out;
  code = out.open(out_path);
  if (code != 0) {
    unzCloseCurrentFile(zf);
    code = fail(code, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
    return code;
  }
  ZPOS64_T got = 0;
  for (;;) {
    const int n = unzReadCurrentFile(zf, buf.get(), static_cast<unsigned>(kReadPiece));
    if (n <= 0) break;
    got += static_cast<ZPOS64_T>(n);
    code = out.write(buf.get(), static_cast<size_t>(n));
    if (code != 0) {
      unzCloseCurrentFile(zf);
      code = fail(code, __LINE__);
      log_unzip_failure(code, archive_detail::last_err_line(), out_path);
      return code;  // the part file is removed with `out`
    }
  }
  if (got != info.uncompressed_size) {
    unzCloseCurrentFile(zf);
    code = fail(kErrZipRead, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
    return code;
  }
  code = unzCloseCurrentFile(zf);  // UNZ_CRCERROR when the data does not match its checksum
  if (code == UNZ_OK) code = out.commit(has_exec_bits(info));
  if (code != 0) {
    code = fail(code, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
  }
  return code;
}

// Compressed bytes read from the archive per call.
constexpr size_t kInputPiece = 1u << 20;

// Inflates or copies the member's `info.compressed_size` bytes, which start
// at `pos` in `in`, into `out`. 0 or a result code.
int copy_member_data(std::FILE* in, ZPOS64_T pos, int method, const unz_file_info64& info,
                     archive_detail::part_file& out, uLong* crc) {
  if (fseeko(in, static_cast<off_t>(pos), SEEK_SET) != 0) return kErrZipRead;
  const bool deflated = method == Z_DEFLATED;
  std::unique_ptr<unsigned char[]> inbuf, outbuf;
  try {
    inbuf = std::make_unique_for_overwrite<unsigned char[]>(kInputPiece);
    if (deflated) outbuf = std::make_unique_for_overwrite<unsigned char[]>(kReadPiece);
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  z_stream z{};
  if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) return kErrNoMemory;
  struct ender {
    z_stream* z;
    ~ender() {
      if (z) inflateEnd(z);
    }
  } end_inflate{deflated ? &z : nullptr};

  ZPOS64_T left = info.compressed_size, produced = 0;
  bool ended = !deflated;  // stored data ends with its last byte
  while (left > 0 && !(deflated && ended)) {
    const size_t want = static_cast<size_t>(std::min<ZPOS64_T>(left, kInputPiece));
    const size_t n = std::fread(inbuf.get(), 1, want, in);
    if (n != want) return kErrZipRead;  // the archive ends early
    left -= n;
    if (!deflated) {
      if (crc) *crc = crc32_z(*crc, inbuf.get(), n);
      produced += n;
      if (const int c = out.write(inbuf.get(), n); c != 0) return c;
      continue;
    }
    z.next_in = inbuf.get();
    z.avail_in = static_cast<uInt>(n);
    // Until the piece is used up and no output is pending (a full output
    // buffer may leave some): Z_BUF_ERROR then only asks for more input.
    for (;;) {
      z.next_out = outbuf.get();
      z.avail_out = static_cast<uInt>(kReadPiece);
      const int r = inflate(&z, Z_NO_FLUSH);
      ended = r == Z_STREAM_END;
      if (!ended && r != Z_OK && !(r == Z_BUF_ERROR && z.avail_in == 0)) return kErrZipRead;
      const size_t got = kReadPiece - z.avail_out;
      if (crc) *crc = crc32_z(*crc, outbuf.get(), got);
      produced += got;
      if (const int c = out.write(outbuf.get(), got); c != 0) return c;
      if (ended || (z.avail_in == 0 && z.avail_out != 0)) break;
    }
  }
  // Deflate data must end within the member; either kind must give exactly
  // the size the archive states.
  return ended && produced == info.uncompressed_size ? 0 : kErrZipRead;
}

// The selected member of a product file's archive, expanded to its part
// file. Its bytes are read in large pieces and inflated here rather than
// through unzReadCurrentFile: the file's published signature proves them, so
// the zip checksum is only computed when no signature is given.
int unzip_one_file(unzFile zf, const std::string& zip_file, const std::string& out_path,
                   const unz_file_info64& info, const archive_one_file& want) {
  constexpr unsigned long kEncrypted = 1;
  int method = 0, level = 0;
  int code = (info.flag & kEncrypted) != 0 ? kErrZipRead : unzOpenCurrentFile2(zf, &method, &level, 1);
  ZPOS64_T pos = 0;
  if (code == UNZ_OK) {
    pos = unzGetCurrentFileZStreamPos64(zf);
    unzCloseCurrentFile(zf);
    if (method != 0 && method != Z_DEFLATED) code = kErrZipRead;  // no other kind is published
    if (method == 0 && info.compressed_size != info.uncompressed_size) code = kErrZipRead;
  }
  archive_detail::part_file out;
  out.expect(want.max_bytes, want.md5);
  if (code == UNZ_OK) code = out.open(out_path);
  if (code == 0) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(zip_file.c_str(), "rb"), &std::fclose);
    uLong crc = crc32_z(0, nullptr, 0);
    code = in ? copy_member_data(in.get(), pos, method, info, out, want.md5.empty() ? &crc : nullptr)
              : kErrZipRead;
    if (code == 0 && want.md5.empty() && crc != info.crc) code = UNZ_CRCERROR;
    if (code == 0) code = out.commit(has_exec_bits(info));
  }
  if (code != 0) {
    code = fail(code, __LINE__);
    log_unzip_failure(code, archive_detail::last_err_line(), out_path);
  }
  return code;
}

// Symbolic links are not created on this platform: the member writes nothing.
int unzip_symlink(unzFile, const std::string&, const unz_file_info64&) {
  return 0;
}

// Mac resource forks ("__MACOSX/..." members) have no place here: nothing.
int unzip_resource_fork(unzFile, const std::string&, const unz_file_info64&) {
  return 0;
}

bool starts_with_macosx(const std::string& name) {
  return name.rfind("__MACOSX", 0) == 0;
}

void log_not_one_file(const std::string& what, const std::string& zip_file) {
  xlog() << "UNZIP refused an archive that " << what << ": zip_file=" << zip_file << ".\n";
}

void log_unsafe_name(const std::string& name, const std::string& zip_file) {
  xlog() << "UNZIP refused a member whose name leaves the destination folder: \"" << name
         << "\" in zip_file=" << zip_file << ".\n";
}

// The information and whole stored name of the selected member (however
// long: a cut name would write elsewhere). UNZ_OK or the failure, logged.
int current_member(unzFile zf, unz_file_info64* info, std::string* name) {
  int code = unzGetCurrentFileInfo64(zf, info, nullptr, 0, nullptr, 0, nullptr, 0);
  std::vector<char> name_buf;
  if (code == UNZ_OK) {
    name_buf.assign(info->size_filename + 1, '\0');
    code = unzGetCurrentFileInfo64(zf, info, name_buf.data(), name_buf.size(), nullptr, 0, nullptr, 0);
  }
  if (code != UNZ_OK) {
    xlog() << "unzGetCurrentFileInfo err != UNZ_OK! err=" << code << "\n";
    return fail(code, __LINE__);
  }
  name->assign(name_buf.data(), info->size_filename);
  return UNZ_OK;
}

// Walks every member of the open archive; returns the first failure.
int expand_members(unzFile zf, const std::string& zip_file, const std::string& out_directory,
                   std::string* out_file, int force_name) {
  bool reported = false;
  // The forced name is taken once: out_file is overwritten by the report.
  const std::string forced = force_name && out_file ? *out_file : std::string();
  int code = unzGoToFirstFile(zf);
  if (code != UNZ_OK) return fail(code == UNZ_END_OF_LIST_OF_FILE ? 0 : code, __LINE__);
  for (;;) {
    unz_file_info64 info;
    std::string name;
    code = current_member(zf, &info, &name);
    if (code != UNZ_OK) return code;
    const std::string& rel = force_name && out_file ? forced : name;
    const std::string out_path = out_directory + rel;
    if (out_file && !reported) {
      *out_file = name;
      reported = true;
    }

    int member = 0;
    if (!archive_member_name_is_safe(name) || !archive_member_name_is_safe(rel)) {
      log_unsafe_name(name, zip_file);
      member = fail(kErrZipRead, __LINE__);
    } else if (!name.empty() && name.back() == '/') {
      if (!starts_with_macosx(name)) {
        member = make_folder(out_directory + name);
        if (show_make_dir_err(member) == 0) member = 0;  // an existing folder is fine
        if (member != 0) member = fail(member, __LINE__);
      }
    } else if (starts_with_macosx(name)) {
      member = unzip_resource_fork(zf, out_directory + name.substr(name.size() > 9 ? 9 : name.size()), info);
    } else if (((info.external_fa >> 16) & kUnixSymlinkBits) == kUnixSymlinkBits) {
      member = unzip_symlink(zf, out_path, info);
    } else {
      member = unzip_file(zf, out_path, info);
    }
    if (member != 0) {
      xlog() << "UNZIP zip_to_file failed with err=" << member << "\n";
      return member;
    }
    code = unzGoToNextFile(zf);
    if (code == UNZ_END_OF_LIST_OF_FILE) return 0;
    if (code != UNZ_OK) return fail(code, __LINE__);
  }
}

// A member that is an ordinary file: not a folder (by name or DOS attribute),
// a link, a device or any other special kind of Unix entry.
bool is_plain_file(const std::string& name, const unz_file_info64& info) {
  constexpr unsigned long kDosFolder = 0x10, kUnixTypeBits = 0xF000, kUnixFile = 0x8000;
  if (name.empty() || name.back() == '/' || (info.external_fa & kDosFolder) != 0) return false;
  const unsigned long type = (info.external_fa >> 16) & kUnixTypeBits;
  return type == 0 || type == kUnixFile;
}

// The open archive of one product file: exactly one member, an ordinary file
// named want.name, expanded to `out_path`. Anything else is a damaged archive.
int expand_one_member(unzFile zf, const std::string& zip_file, const std::string& out_path,
                      const archive_one_file& want) {
  int code = unzGoToFirstFile(zf);
  if (code == UNZ_END_OF_LIST_OF_FILE) {
    log_not_one_file("holds no member", zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  if (code != UNZ_OK) return fail(code, __LINE__);
  unz_file_info64 info;
  std::string name;
  code = current_member(zf, &info, &name);
  if (code != UNZ_OK) return code;
  if (name != want.name || !is_plain_file(name, info)) {
    log_not_one_file("holds \"" + name + "\" (not the file " + want.name + ")", zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  if (info.uncompressed_size > want.max_bytes) {
    log_not_one_file("holds " + std::to_string(info.uncompressed_size) +
                         " bytes for a file announced as at most " + std::to_string(want.max_bytes),
                     zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  // Every other member is refused before anything is written.
  code = unzGoToNextFile(zf);
  if (code == UNZ_OK) {
    log_not_one_file("holds more than the file " + want.name, zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  if (code != UNZ_END_OF_LIST_OF_FILE) return fail(code, __LINE__);
  code = unzGoToFirstFile(zf);
  if (code != UNZ_OK) return fail(code, __LINE__);
  return unzip_one_file(zf, zip_file, out_path, info, want);
}

struct unz_closer {
  void operator()(void* zf) const { unzClose(zf); }
};

}  // namespace

namespace {

void log_open_failure(const std::string& zip_file) {
  xlog() << "OK I am about to report that I could not open a zip file for extraction!\n"
         << "That incoming file is " << zip_file << "\n"
         << "In c-form, it is " << zip_file << "\n"
         << "The size is " << zip_file.size() << "\n";
}

void log_zip_failure(int code, const std::string& zip_file, const std::string& out_directory) {
  xlog() << "Zip to file failed with error err = " << code << ". file = " << kErrTag
         << " line = " << archive_detail::last_err_line() << ". zip_file=" << zip_file
         << ", out_directory=" << out_directory << ".\n";
  xlog().flush();
}

}  // namespace

namespace {
// Opens `zip_file`, runs `expand` on it and logs a failure against `out`.
template <typename Expand>
int with_zip(const std::string& zip_file, const std::string& out, Expand expand) {
  int code = 0;
  std::unique_ptr<void, unz_closer> zf(unzOpen64(zip_file.c_str()));
  if (!zf) {
    log_open_failure(zip_file);
    code = fail(kErrZipOpen, __LINE__);
  } else {
    code = expand(zf.get());
  }
  if (code != 0) log_zip_failure(code, zip_file, out);
  return code;
}
}  // namespace

int zip_to_file(const std::string& zip_file, const std::string& out_directory, std::string* out_file,
                int force_name) {
  return with_zip(zip_file, out_directory, [&](void* zf) {
    return expand_members(zf, zip_file, out_directory, out_file, force_name);
  });
}

int zip_to_one_file(const std::string& zip_file, const std::string& out_path, const archive_one_file& want) {
  return with_zip(zip_file, out_path,
                  [&](void* zf) { return expand_one_member(zf, zip_file, out_path, want); });
}
