#include "io/xmap.h"

#include <bit>
#include <climits>
#include <cstring>

#include "io/app_path.h"
#include "platform/files.h"
#include "util/log.h"
#include "util/report.h"

namespace {
// Source tags and lines under which this module's alerts are known.
constexpr const char* kTag = "xmap";
constexpr int kLineNotRelative = 122;
constexpr int kLineOutOfMemory = 197;
constexpr int kLineBadCheckType = 12;
constexpr const char* kLenTag = "hl_string";
constexpr int kLineTooLong = 137;

// Line ends are CR, LF and NUL; blanks are space and tab.
bool is_line_end(unsigned char c) {
  return c == '\r' || c == '\n' || c == '\0';
}
bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t';
}

// Cursor moves over [p, end); none of them ever passes `end`.
void skip_blanks(const unsigned char*& p, const unsigned char* end) {
  while (p < end && is_blank(*p)) ++p;
}
void skip_line_ends_and_blanks(const unsigned char*& p, const unsigned char* end) {
  while (p < end && (is_line_end(*p) || is_blank(*p))) ++p;
}
void skip_rest_of_line(const unsigned char*& p, const unsigned char* end) {
  while (p < end && !is_line_end(*p)) ++p;
}
}  // namespace

xmap_class::xmap_class(const std::string& path) {
  if (!path.empty()) retry(path);
}

xmap_class::~xmap_class() {
  release();
}

void xmap_class::release() {
  if (mBegin) platform_unmap(mBegin, size());
  if (mFile >= 0) platform_close(mFile);
  mBegin = mCrt = mEnd = nullptr;
  mFile = -1;
  mFoundEmpty = false;
}

void xmap_class::check_len(const char* c) {
  if (c && std::strlen(c) >= kMaxPathLen)
    UTL_report(-1, "String too long!", c, "", "", t_exit, kLenTag, kLineTooLong);
}

bool xmap_class::path_fits(const std::string& path) {
  return path.size() < kMaxPathLen;
}

bool xmap_class::refuse_long_path(const std::string& path) {
  if (path_fits(path)) return false;
  UTL_report(-1, "String too long!", path, "", "", t_alert, kLenTag, kLineTooLong);
  return true;
}

const unsigned char* xmap_class::retry(const std::string& rel_path) {
  if (!app_path.empty() && rel_path.find(app_path) != std::string::npos) {
    UTL_report(-1, "retry: We are getting a file string that is not Skyroot relative!",
               "This is illegal! All paths must be Skyroot relative!", "The path in question is:", rel_path,
               t_exit, kTag, kLineNotRelative);
    release();
    return nullptr;
  }
  // "/" is the only separator here; "\" is an ordinary name character.
  const std::string c_path = app_path + rel_path;
  release();
  // Longer than the program's paths may be: said, and read as no file.
  if (refuse_long_path(c_path)) return nullptr;

  uint64_t file_size = 0;
  if (platform_open_read(c_path, &mFile, &file_size) != 0) return nullptr;
  if (file_size == 0) {
    mFoundEmpty = true;
    return nullptr;
  }
  const unsigned char* data = nullptr;
  if (const int err = platform_map_read(mFile, file_size, &data); err != 0) {
    UTL_report(-1, "Xmapped file ran out of memory", "", "", "", t_alert, kTag, kLineOutOfMemory);
    xlog() << "Mem file error.  Err=" << err << ", file=" << c_path << "\n";
    release();
    return nullptr;
  }
  mBegin = data;
  mEnd = data + file_size;
  mCrt = mBegin;
  return mBegin;
}

int xmap_class::check_file(int bin_code, const int* req_version_arr, const char* req_file_str,
                           std::string* out_free_text) {
  if (bin_code != kCheckBinary && bin_code != kCheckText) {
    UTL_report(-1, "Bad check_file type!", crt_path, "", "", t_exit, kTag, kLineBadCheckType);
    return 0;
  }
  if (!mBegin || mBegin == mEnd) return 0;
  const unsigned char* p = mBegin;
  const unsigned char* const end = mEnd;
  int version = 0;

  if (bin_code == kCheckBinary) {
    // "a": written big-endian, "i": little-endian. rev_inf_bin tells later
    // readers whether multi-byte values differ from this machine's order.
    const unsigned char kind = *p++;
    if (kind != 'a' && kind != 'i') return 0;
    const bool big = kind == 'a';
    rev_inf_bin = big == (std::endian::native == std::endian::little) ? 1 : 0;
    if (end - p >= 4) {
      const uint32_t v = big ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                             : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
      version = static_cast<int>(v);
      p += 4;
    } else {
      p = end;
    }
  } else {
    const unsigned char kind = *p;
    skip_rest_of_line(p, end);
    skip_line_ends_and_blanks(p, end);
    if (kind != 'A' && kind != 'I') {
      mCrt = p;
      return 0;
    }
    skip_blanks(p, end);
    // Every character up to a blank or line end counts as a decimal digit,
    // as the files have always been read; a value outside int is no version.
    bool negative = false;
    if (p < end && *p == '-') negative = true, ++p;
    if (p < end && *p == '+') ++p;
    long long value = 0;
    bool overflow = false;
    while (p < end && !is_blank(*p) && !is_line_end(*p)) {
      value = value * 10 + (static_cast<int>(*p) - '0');
      if (value > INT_MAX || value < -static_cast<long long>(INT_MAX)) overflow = true, value = 0;
      ++p;
    }
    version = overflow ? 0 : static_cast<int>(negative ? -value : value);
    skip_blanks(p, end);
    const unsigned char* text = p;
    skip_rest_of_line(p, end);
    if (out_free_text)
      out_free_text->assign(reinterpret_cast<const char*>(text), static_cast<size_t>(p - text));
    skip_line_ends_and_blanks(p, end);
  }
  mCrt = p;

  bool listed = false;
  for (const int* v = req_version_arr; v && *v != 0; ++v) {
    if (*v == version) {
      listed = true;
      break;
    }
  }
  if (!listed || version == 0) return 0;

  if (req_file_str) {
    skip_blanks(p, end);
    mCrt = p;  // where the word should begin; kept there on a mismatch
    const size_t n = std::strlen(req_file_str);
    if (static_cast<size_t>(end - p) < n || std::memcmp(p, req_file_str, n) != 0) return 0;
    p += n;
    // The end of the data counts as the end of the line.
    if (p < end && !is_blank(*p) && !is_line_end(*p)) return 0;
    skip_blanks(p, end);
    skip_rest_of_line(p, end);
    skip_line_ends_and_blanks(p, end);
    mCrt = p;
  }
  return version;
}
