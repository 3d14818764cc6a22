#pragma once
// Shared by the zip and 7z expanders: the output file written under a
// temporary name, and the failure bookkeeping of the file module.
#include <cstdint>
#include <cstdio>
#include <string>

#include "io/md5.h"

namespace archive_detail {

// Source tag written into failure log lines.
inline constexpr const char* kErrTag = "IO_UTILS";

// Records the failure site (file module's error location) and returns `code`,
// so a failure reads `return fail(code, __LINE__);`.
int fail(int code, int line);
int last_err_line();

// One output file: written to path + kArchivePartSuffix (or, when that name
// is too long, to a short temporary name in the same folder) and renamed over
// `path` by commit(). Destroying an uncommitted file removes the partial
// file, so a failed member never replaces what was there.
class part_file {
 public:
  part_file() = default;
  ~part_file();
  part_file(const part_file&) = delete;
  part_file& operator=(const part_file&) = delete;

  // Creates the temporary file. Returns 0 or errno.
  int open(const std::string& path);
  // Checks the bytes as they are written, without reading them again: more
  // than `max_bytes` makes write() fail, and a signature other than `md5`
  // (when not empty) makes commit() fail, both with kErrZipRead (the file
  // is damaged) before anything is renamed.
  void expect(uint64_t max_bytes, const std::string& md5);
  // Writes all `n` bytes. Returns 0, or on a short write the C library's
  // errno when it names the cause (28: disk full), else kErrZipWrite.
  int write(const void* data, size_t n);
  // Closes, checks the signature when one is expected, adds the execute
  // bits when `executable`, and renames the file into place. Returns 0, the
  // write error as for write() when the data could not be flushed,
  // kErrZipRead for a wrong signature, or errno of the rename.
  int commit(bool executable);

 private:
  std::string path_;
  std::string temp_;
  FILE* f_ = nullptr;
  uint64_t written_ = 0;
  uint64_t max_bytes_ = UINT64_MAX;
  std::string md5_;  // the expected signature; empty: none
  MD5_CTX sum_;      // running over the bytes written, when md5_ is set
};

}  // namespace archive_detail
