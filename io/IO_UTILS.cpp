#include "io/IO_UTILS.h"

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <string_view>

#include "io/app_path.h"
#include "io/command_list.h"
#include "platform/files.h"
#include "util/report.h"

namespace {
// The sentence for each of the program's own codes; null for any other
// number. There is no default: a code without a text is a -Wswitch warning.
constexpr const char* own_error_text(int32_t code) {
  switch (static_cast<err_code>(code)) {
    case kErrZipOpen:
      return "We were unable to open a zip file. It may be missing or damaged";
    case kErrZipRead:
      return "We were unable to read from a zip file. It may be missing or damaged";
    case kErrZipCreate:
      return "We were unable to create a zip file";
    case kErrZipWrite:
      return "We were unable to write to a zip file. It may be missing or damaged";
    case kErrZipForkTooBig:
      return "We cannot compress a zip file because its source file resource fork is more than 2 GB. The "
             "source "
             "file is probably damaged";
    case kErrOpenRead:
      return "We could not open a file to read from it";
    case kErrNetReconnect:
      return "We were unable to connct to the network due to an internal reconnect error";
    case kErrNetBadState:
      return "We wre unable to connect to the network due to a bad state error";
    case kErrNetAlloc:
      return "We could not allocate a connection to the network";
    case kErrNetWriteDisk:
      return "We could not write the incoming file from the web to disk";
    case kErrNetNoServer:
      return "We could not find the server over the network";
    case kErrZipForkHeader:
      return "Part of the downloaded zip file is corrupted (the resource fork header is bad)";
    case kErrNetSecure:
      return "We could not make a secure connection to the server (its certificate was not accepted)";
  }
  return nullptr;
}
}  // namespace

const error_msg_info kErrMsgs[] = {
    {0, "No error detected"},
    {1, "Operation not permitted. Perhaps you do not have access to a directory or file system"},
    {2, "No such file or directory"},
    {3, "No such process"},
    {4, "Interrupted system call"},
    {5, "Input/output error"},
    {6, "Device not configured"},
    {7, "Argument list too long"},
    {8, "Exec format error"},
    {9, "Bad file descriptor"},
    {10, "No child processes"},
    {11, "Resource temporarily unavailable"},
    {12, "Out of memory"},
    {13, "Permission denied. Perhaps you do not have access to a directory or file system"},
    {14, "Bad address"},
    {16, "Device busy"},
    {17, "File exists"},
    {18, "Cross-device link"},
    {19, "Operation not supported by device"},
    {20, "Not a directory"},
    {21, "Is a directory"},
    {22, "Invalid argument"},
    {23, "Too many open files in system"},
    {24, "Too many open files"},
    {25, "Inappropriate ioctl for device"},
    {26, "Signal error"},
    {27, "File too large"},
    {28, "No space left on device. Perhaps your hard drive is full"},
    {29, "Illegal seek"},
    {30, "The destination file system is read-only"},
    {31, "Too many links"},
    {32, "Broken pipe"},
    {33, "Numerical argument out of domain"},
    {34, "Result too large"},
    {35, "Resource deadlock avoided"},
    {36, "File name too long"},
    {38, "Function not implemented"},
    {39, "Directory not empty"},
    {40, "File Position Error"},
    {77, "No locks available"},
    {88, "Wide character encoding error"},
    {99, "Unknown error"},
    {kErrZipOpen, own_error_text(kErrZipOpen)},
    {kErrZipRead, own_error_text(kErrZipRead)},
    {kErrZipCreate, own_error_text(kErrZipCreate)},
    {kErrZipWrite, own_error_text(kErrZipWrite)},
    {kErrZipForkTooBig, own_error_text(kErrZipForkTooBig)},
    {kErrOpenRead, own_error_text(kErrOpenRead)},
    {kErrNetReconnect, own_error_text(kErrNetReconnect)},
    {kErrNetBadState, own_error_text(kErrNetBadState)},
    {kErrNetAlloc, own_error_text(kErrNetAlloc)},
    {kErrNetWriteDisk, own_error_text(kErrNetWriteDisk)},
    {kErrNetNoServer, own_error_text(kErrNetNoServer)},
    {kErrZipForkHeader, own_error_text(kErrZipForkHeader)},
    {kErrNetSecure, own_error_text(kErrNetSecure)},
    {0, nullptr},
};

thread_local const char* sErrFile = "IO_UTILS";
thread_local int sErrLine = 0;

namespace {
// Records where a call failed and passes its code on.
int fail_at(int code, int line) {
  sErrFile = "IO_UTILS";
  sErrLine = line;
  return code;
}
#define IO_FAIL(code) fail_at((code), __LINE__)

constexpr int kWinExistsCode = 183;  // the existing-entry code of the original platform
constexpr int kLineNotAFolder = 933;

unsigned char lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}
}  // namespace

std::string error_str(int code) {
  if (const char* own = own_error_text(code)) return own;
  if (code == 0) return kErrMsgs[0].msg;
  const std::string system = platform_error_text(code);
  for (const error_msg_info* e = kErrMsgs; e->msg; ++e) {
    if (e->err == code) return std::string_view(e->msg).starts_with(system) ? e->msg : system;
  }
  return system;
}

int delete_file(std::string path) {
  path.insert(0, app_path);
  if (path.empty()) return IO_FAIL(ENOENT);
  int err;
  if (path.back() == '/') {
    path.pop_back();
    err = platform_rmdir(path);
  } else {
    err = platform_unlink(path);
  }
  return err ? IO_FAIL(err) : 0;
}

int unlock_file(const std::string& path) {
  platform_file_info info;
  if (const int err = platform_lstat(path, &info)) return IO_FAIL(err);
  if (info.is_link || (info.mode & kPlatformOwnerWriteBit)) return 0;
  if (const int err = platform_chmod(path, info.mode | kPlatformOwnerWriteBit)) return IO_FAIL(err);
  return 0;
}

int rename_file(const std::string& folder, const std::string& old_name, const std::string& new_name) {
  const int err = platform_rename_noreplace(folder + old_name, folder + new_name);
  return err ? IO_FAIL(err) : 0;
}

int make_folder(const std::string& inFolder) {
  std::string path = inFolder;
  if (!path.empty() && path.back() == '/') path.pop_back();
  int err = platform_mkdir(path);
  // A file (or anything else) of that name is in the way: that is no folder
  // the caller can use, so it must not pass for an existing one.
  if (err == EEXIST && !platform_is_folder(path)) err = ENOTDIR;
  return err ? IO_FAIL(err) : 0;
}

int show_del_err(int) {
  return 0;
}

int show_make_dir_err(int code) {
  return (code == 0 || code == kWinExistsCode || code == EEXIST) ? 0 : 1;
}

bool opensave_name_less(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t k = 0; k < n; ++k) {
    const unsigned char ca = lower(static_cast<unsigned char>(a[k]));
    const unsigned char cb = lower(static_cast<unsigned char>(b[k]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

int opensave_takeit(const std::string&, const std::string& in_file_name, int req_file_type,
                    int32_t* io_file_type) {
  struct ending {
    const char* text;
    int32_t code;
  };
  static constexpr ending kEndings[] = {
      {".BMP", 2},  {".PNG", 2},  {".ACF", 3},  {".AFL", 4},  {".WPN", 5},  {".WAV", 6},
      {".OBJ", 7},  {".FDR", 8},  {".SIT", 9},  {".SMO", 10}, {".FMS", 11}, {".TRA", 13},
      {".CAR", 14}, {".SPA", 15}, {".REG", 16}, {".DSF", 17}, {".HGT", 18}, {".TXT", 19},
  };
  if (in_file_name.size() >= 4) {
    char last4[5] = {};
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(in_file_name[in_file_name.size() - 4 + k]);
      last4[k] = static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
    }
    for (const ending& e : kEndings) {
      if (std::string_view(last4, 4) == e.text) {
        *io_file_type = e.code;
        break;
      }
    }
  }
  if (in_file_name.empty() || in_file_name[0] == '.') return 0;
  const int32_t t = *io_file_type;
  return (t == 1 || t == req_file_type || req_file_type == 0 || (req_file_type == 12 && t == 2)) ? 1 : 0;
}

int opensave_getitems(const std::string& wrk_path, int file_type, std::vector<std::string>& out_files,
                      std::vector<int32_t>& out_file_types) {
  out_files.clear();
  out_file_types.clear();
  if (file_type == 20) return 0;
  if (file_type == 21) {
    // The command registry viewed as folders: "a/" is a folder of commands.
    opensave_list_commands(wrk_path, out_files);
    for (std::string& name : out_files) {
      const bool folder = !name.empty() && name.back() == '/';
      if (folder) name.pop_back();
      out_file_types.push_back(folder ? 1 : 0);
    }
    return static_cast<int>(out_files.size());
  }

  const std::string folder = app_path + wrk_path;
  if (folder.size() >= 4 && folder.back() != '/' && folder.back() != '\\') {
    UTL_report(-1, "Working path does not appear to be a directory!",
               "This is not consistent with my labelling practices!",
               "I need to end all paths with the directory indicator!", folder, t_exit, "IO_UTILS",
               kLineNotAFolder);
    return 0;
  }

  std::vector<platform_dir_entry> entries;
  platform_list_folder(folder.empty() ? std::string(".") : folder,
                       &entries);  // a missing folder lists nothing
  std::vector<std::string> names;
  std::vector<int32_t> types;
  for (platform_dir_entry& e : entries) {
    int32_t type = e.is_dir ? 1 : 0;
    if (!opensave_takeit(folder, e.name, file_type, &type)) continue;
    names.push_back(std::move(e.name));
    types.push_back(type);
  }

  std::vector<size_t> order(names.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return opensave_name_less(names[a], names[b]); });
  out_files.reserve(order.size());
  out_file_types.reserve(order.size());
  for (size_t k : order) {
    out_files.push_back(std::move(names[k]));
    out_file_types.push_back(types[k]);
  }
  return static_cast<int>(out_files.size());
}

int disk_free_bytes(const std::string& path, uint64_t* bytes) {
  *bytes = 0;
  std::string p = path.empty() ? std::string(".") : path;
  for (;;) {
    const int err = platform_free_bytes(p, bytes);
    if (err != ENOENT && err != ENOTDIR) return err ? IO_FAIL(err) : 0;
    // Not made yet: measure the folder it will be made in.
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) {
      if (p == ".") return IO_FAIL(err);
      p = ".";
    } else if (slash == 0) {
      if (p == "/") return IO_FAIL(err);
      p = "/";
    } else {
      p.resize(slash);
    }
  }
}

float disk_free_kb(const std::string& path) {
  uint64_t bytes = 0;
  if (disk_free_bytes(path, &bytes) != 0) return -1.0f;
  return static_cast<float>(static_cast<double>(bytes) / 1000.0);
}
