// Parts shared by the zip and 7z expanders: member-name safety, the output
// file written under a temporary name, and the module's failure location.
#include "io/archive.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "io/IO_UTILS.h"
#include "io/archive_internal.h"
#include "util/log.h"

namespace archive_detail {

namespace {

// errno of a failed write or flush when it says why (disk full, I/O error),
// else the module's own "not written in full" code.
int write_error() {
  const int e = errno;
  return e > 0 ? e : kErrZipWrite;
}

// A short temporary name in the folder of `path`, for a file whose own name
// leaves no room for the part suffix. Unique within the run; one left by an
// earlier run is stepped over (the file is created exclusively).
std::atomic<unsigned> short_part_count{0};
std::string short_part_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return folder + ".skyvane-" + std::to_string(short_part_count++) + kArchivePartSuffix;
}
}  // namespace

int fail(int code, int line) {
  sErrFile = kErrTag;
  sErrLine = line;
  return code;
}

int last_err_line() {
  return sErrLine;
}

part_file::~part_file() {
  if (f_) std::fclose(f_);
  if (!temp_.empty()) std::remove(temp_.c_str());
}

int part_file::open(const std::string& path) {
  path_ = path;
  temp_ = path + kArchivePartSuffix;
  std::remove(temp_.c_str());  // a stale part from an interrupted run
  errno = 0;
  f_ = std::fopen(temp_.c_str(), "wb");
  // The final name fits but the temporary one does not: a short temporary
  // name in the same folder, so the old file stays whole until the new one
  // is complete and checked.
  for (int tries = 0; !f_ && (errno == ENAMETOOLONG || (tries > 0 && errno == EEXIST)) && tries < 100;
       ++tries) {
    temp_ = short_part_name(path);
    errno = 0;
    f_ = std::fopen(temp_.c_str(), "wbx");
  }
  if (!f_) {
    const int e = errno ? errno : 2;
    temp_.clear();
    return e;
  }
  return 0;
}

void part_file::expect(uint64_t max_bytes, const std::string& md5) {
  max_bytes_ = max_bytes;
  md5_ = md5;
  if (!md5_.empty()) MD5Init(&sum_);
}

int part_file::write(const void* data, size_t n) {
  if (n == 0) return 0;
  if (n > max_bytes_ - written_) {
    xlog() << "The file " << path_ << " is longer than the " << max_bytes_
           << " bytes announced for it; its archive is damaged.\n";
    return kErrZipRead;
  }
  written_ += n;
  if (!md5_.empty()) md5_update_pieces(&sum_, static_cast<const unsigned char*>(data), n, UINT32_MAX);
  errno = 0;
  if (std::fwrite(data, 1, n, f_) != n) return write_error();
  return 0;
}

int part_file::commit(bool executable) {
  errno = 0;
  FILE* f = f_;
  f_ = nullptr;
  if (std::fclose(f) != 0) return write_error();
  if (!md5_.empty()) {
    MD5Final(&sum_);
    const std::string got = md5_text(sum_.digest);
    if (got != md5_) {
      xlog() << "The file " << path_ << " expanded with the signature " << got << ", not the published "
             << md5_ << "; its archive is damaged.\n";
      return kErrZipRead;
    }
  }
  const std::string& written = temp_;
  if (executable) {
    // Programs and plug-ins must stay runnable; read permission decides who
    // may execute, as the umask left it.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::perms p = fs::status(written, ec).permissions();
    if (!ec) {
      fs::perms add = fs::perms::none;
      if ((p & fs::perms::owner_read) != fs::perms::none) add |= fs::perms::owner_exec;
      if ((p & fs::perms::group_read) != fs::perms::none) add |= fs::perms::group_exec;
      if ((p & fs::perms::others_read) != fs::perms::none) add |= fs::perms::others_exec;
      fs::permissions(written, add, fs::perm_options::add, ec);
    }
  }
  errno = 0;
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) return errno ? errno : 5;
  temp_.clear();
  return 0;
}

}  // namespace archive_detail

bool archive_member_name_is_safe(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) return false;
  std::string_view rest(name);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == "..") return false;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return true;
}
