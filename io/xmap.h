#pragma once
// xmap_class: read-only access to a whole file as one block of bytes, mapped
// into memory, with a read cursor and the header test shared by the product's
// data files. A missing, empty or unreadable file gives a null mBegin; readers
// test that pointer and need no error codes.
//
// Paths: relative, or absolute starting with "/"; "/" is the only separator
// ("\" is an ordinary name character), and a path of 500 characters or more
// is refused with the alert "String too long!" naming it (the program goes
// on; the file reads as missing). `app_path` is put in front of every path
// (it is empty in the installer).
//
// The object owns the descriptor and the mapping; it is neither copied nor
// moved. The mapped bytes stay valid until the next retry or destruction.
//
// io/ sits above util/ and platform/ and beside net/ (order: platform < util
// < io, net < ui < prefs < installer): the server list, manifest, DVD marker
// and settings readers above use this reader; it reports through util/report.h.
#include <cstdint>
#include <string>

// Header kinds for check_file.
constexpr int kCheckBinary = 10000;
constexpr int kCheckText = 10001;

class xmap_class {
 public:
  // Maps `path` at once when it is not empty.
  explicit xmap_class(const std::string& path = std::string());
  ~xmap_class();
  xmap_class(const xmap_class&) = delete;
  xmap_class& operator=(const xmap_class&) = delete;

  // Releases any earlier file, then maps `rel_path`. Returns the new mBegin:
  // null when the file is missing, empty, not a regular file or unreadable.
  const unsigned char* retry(const std::string& rel_path);

  // Tests the header of the mapped file from its first byte. `bin_code` is
  // kCheckBinary or kCheckText (anything else is fatal); `req_version_arr` the
  // accepted versions, ended by 0; `req_file_str` the type word or null for
  // none; `out_free_text` (may be null) receives the rest of the version line
  // in text mode. Returns the matched version, or 0 when the header is not
  // accepted. On success mCrt points at the first byte of the body.
  int check_file(int bin_code, const int* req_version_arr, const char* req_file_str,
                 std::string* out_free_text = nullptr);

  // The longest path is one byte shorter.
  static constexpr size_t kMaxPathLen = 500;
  // Fatal alert "String too long!" when `c` is 500 characters or longer.
  static void check_len(const char* c);
  // True when `path` is short enough to be used (no alert).
  static bool path_fits(const std::string& path);
  // When `path` is too long: the alert "String too long!" naming it (kind 1,
  // the program goes on) and true; else false.
  static bool refuse_long_path(const std::string& path);

  // Bytes mapped (0 when nothing is mapped).
  uint64_t size() const { return static_cast<uint64_t>(mEnd - mBegin); }
  // True when the last retry found a regular file of 0 bytes (mBegin is then
  // null, as for a missing file, but the file exists and is readable).
  bool found_empty_file() const { return mFoundEmpty; }

  int rev_inf_bin = 0;                    // 1: binary data is in the other byte order
  std::string crt_path;                   // empty; kept for the alert texts
  int io_opr = 0;                         // operation code, unused here
  const unsigned char* mBegin = nullptr;  // first byte, null when nothing is mapped
  const unsigned char* mCrt = nullptr;    // read cursor, mBegin..mEnd; owned by the parser
  const unsigned char* mEnd = nullptr;    // one past the last byte
  int mFile = -1;                         // open descriptor, -1 when none

 private:
  void release();
  bool mFoundEmpty = false;
};
