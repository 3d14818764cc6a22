// p7z_to_file: expands a 7z archive into a folder with libarchive's 7z
// reader. The archive is read from its file as a stream (with seeks), and
// each item is decoded in pieces straight into its output file, so neither the
// archive nor a whole item is ever held in memory.
#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "io/archive_internal.h"
#include "util/log.h"

using archive_detail::fail;
using archive_detail::kErrTag;

namespace {

constexpr size_t kBlockSize = 1 << 16;  // read size from the archive file
constexpr size_t kCopySize = 1 << 18;   // decoded bytes per write

struct archive_deleter {
  void operator()(archive* a) const { archive_read_free(a); }
};

std::string entry_name(archive_entry* e) {
  // Names are stored as UTF-16; ask for UTF-8 so the result does not depend
  // on the locale the program runs in.
  const char* n = archive_entry_pathname_utf8(e);
  if (!n) n = archive_entry_pathname(e);
  return n ? n : "";
}

void log_failure(int code, const std::string& zip_file, const std::string& out_directory, archive* a) {
  xlog() << "7z to file failed with error err = " << code << ". file = " << kErrTag
         << " line = " << archive_detail::last_err_line() << ". zip_file=" << zip_file
         << ", out_directory=" << out_directory << ".";
  if (a && archive_error_string(a)) xlog() << " Reader says: " << archive_error_string(a);
  xlog() << "\n";
  xlog().flush();
}

// Decodes the current item into `out`. Returns 0 or a result code.
int decode_item(archive* a, archive_detail::part_file& out, std::string& buf) {
  for (;;) {
    const la_ssize_t n = archive_read_data(a, buf.data(), buf.size());
    if (n == 0) return 0;
    if (n < 0) return fail(kErrZipRead, __LINE__);  // damaged data or checksum mismatch
    const int code = out.write(buf.data(), static_cast<size_t>(n));
    if (code != 0) return fail(code, __LINE__);
  }
}

// Decodes the current item into `out_path`. Returns 0 or a result code.
int write_item(archive* a, archive_entry* e, const std::string& out_path, std::string& buf) {
  archive_detail::part_file out;
  int code = out.open(out_path);
  if (code != 0) return fail(code, __LINE__);
  code = decode_item(a, out, buf);
  if (code != 0) return code;
  code = out.commit((archive_entry_perm(e) & 0111) != 0);
  if (code != 0) return fail(code, __LINE__);
  return 0;
}

// Opens `zip_file` as a 7z archive into `a`. Returns 0 or the result code, logged.
int open_7z(const std::string& zip_file, const std::string& out_directory,
            std::unique_ptr<archive, archive_deleter>& a) {
  {
    // A missing or unreadable archive is reported by the C library's own code.
    errno = 0;
    FILE* probe = std::fopen(zip_file.c_str(), "rb");
    if (!probe) {
      const int code = fail(errno ? errno : 2, __LINE__);
      log_failure(code, zip_file, out_directory, nullptr);
      return code;
    }
    std::fclose(probe);
  }
  a.reset(archive_read_new());
  if (!a) return fail(12, __LINE__);
  archive_read_support_format_7zip(a.get());
  if (archive_read_open_filename(a.get(), zip_file.c_str(), kBlockSize) != ARCHIVE_OK) {
    const int code = fail(kErrZipOpen, __LINE__);
    log_failure(code, zip_file, out_directory, a.get());
    return code;
  }
  return 0;
}

void log_not_one_file(const std::string& what, const std::string& zip_file) {
  xlog() << "7z refused an archive that " << what << ": zip_file=" << zip_file << ".\n";
}

// The open archive of one product file: exactly one item, an ordinary file
// named want.name, decoded into its part file, which is renamed into place
// only once the archive is known to hold nothing else.
int expand_one_item(archive* a, const std::string& zip_file, const std::string& out_path,
                    const archive_one_file& want) {
  archive_entry* e = nullptr;
  int r = archive_read_next_header(a, &e);
  if (r == ARCHIVE_EOF) {
    log_not_one_file("holds no item", zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return fail(kErrZipOpen, __LINE__);
  const std::string name = entry_name(e);
  if (name != want.name || archive_entry_filetype(e) != AE_IFREG) {
    log_not_one_file("holds \"" + name + "\" (not the file " + want.name + ")", zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  if (archive_entry_size_is_set(e) && static_cast<uint64_t>(archive_entry_size(e)) > want.max_bytes) {
    log_not_one_file("holds " + std::to_string(archive_entry_size(e)) +
                         " bytes for a file announced as at most " + std::to_string(want.max_bytes),
                     zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  const bool executable = (archive_entry_perm(e) & 0111) != 0;
  archive_detail::part_file out;
  out.expect(want.max_bytes, want.md5);
  int code = out.open(out_path);
  if (code != 0) return fail(code, __LINE__);
  std::string buf(kCopySize, '\0');
  code = decode_item(a, out, buf);
  if (code != 0) return code;
  r = archive_read_next_header(a, &e);
  if (r != ARCHIVE_EOF) {
    log_not_one_file("holds more than the file " + want.name, zip_file);
    return fail(kErrZipRead, __LINE__);
  }
  code = out.commit(executable);
  if (code != 0) return fail(code, __LINE__);
  return 0;
}

}  // namespace

int p7z_to_file(const std::string& zip_file, const std::string& out_directory, std::string* out_file,
                int force_name) {
  std::unique_ptr<archive, archive_deleter> a;
  if (const int code = open_7z(zip_file, out_directory, a); code != 0) return code;

  // The forced name is taken once: out_file is overwritten by the reports.
  const std::string forced = force_name && out_file ? *out_file : std::string();
  std::string buf(kCopySize, '\0');
  bool first = true;
  int code = 0;
  for (;;) {
    archive_entry* e = nullptr;
    const int r = archive_read_next_header(a.get(), &e);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      // The first header failing means this is no 7z archive we can read.
      code = fail(first ? kErrZipOpen : kErrZipRead, __LINE__);
      break;
    }
    first = false;
    const std::string name = entry_name(e);
    const std::string& rel = force_name && out_file ? forced : name;
    if (!archive_member_name_is_safe(name) || !archive_member_name_is_safe(rel)) {
      xlog() << "7z refused an item whose name leaves the destination folder: \"" << name
             << "\" in zip_file=" << zip_file << ".\n";
      code = fail(kErrZipRead, __LINE__);
      break;
    }
    const auto type = archive_entry_filetype(e);
    if (type == AE_IFDIR) continue;  // folders come from the manifest, never from here
    if (type != AE_IFREG) continue;  // symbolic links and special items: written as nothing
    const std::string out_path = out_directory + rel;
    if (out_file) *out_file = out_path;
    code = write_item(a.get(), e, out_path, buf);
    if (code != 0) break;
  }
  if (code != 0) log_failure(code, zip_file, out_directory, a.get());
  return code;
}

int p7z_to_one_file(const std::string& zip_file, const std::string& out_path, const archive_one_file& want) {
  std::unique_ptr<archive, archive_deleter> a;
  if (const int code = open_7z(zip_file, out_path, a); code != 0) return code;
  const int code = expand_one_item(a.get(), zip_file, out_path, want);
  if (code != 0) log_failure(code, zip_file, out_path, a.get());
  return code;
}
