#pragma once
// Shared by the zip and 7z expanders: the output file written under a
// temporary name, and the failure bookkeeping of the file module.
#include <cstdint>
#include <cstdio>
#include <string>

namespace archive_detail {

// Source tag written into failure log lines.
inline constexpr const char* kErrTag = "IO_UTILS";

// Records the failure site (file module's error location) and returns `code`,
// so a failure reads `return fail(code, __LINE__);`.
int fail(int code, int line);
int last_err_line();

// One output file: written to path + kArchivePartSuffix and renamed over
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
  // Writes all `n` bytes. Returns 0, or on a short write the C library's
  // errno when it names the cause (28: disk full), else kErrZipWrite.
  int write(const void* data, size_t n);
  // Closes, adds the execute bits when `executable`, and renames the file
  // into place. Returns 0, the write error as for write() when the data
  // could not be flushed, or errno of the rename.
  int commit(bool executable);

 private:
  std::string path_;
  std::string temp_;
  FILE* f_ = nullptr;
};

}  // namespace archive_detail
