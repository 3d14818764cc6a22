#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/crash_parts.h"

const unsigned kPlatformOwnerWriteBit = S_IWUSR;

int platform_open_read(const std::string& path, int* fd, uint64_t* size) {
  *fd = -1;
  *size = 0;
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  const int f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (f < 0) return errno;
  struct stat st;
  if (::fstat(f, &st) != 0) {
    const int err = errno;
    ::close(f);
    return err;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(f);
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  *fd = f;
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

void platform_close(int fd) {
  if (fd >= 0) ::close(fd);
}

int platform_read(int fd, void* buf, size_t n, size_t* got) {
  *got = 0;
  while (*got < n) {
    const ssize_t r = ::read(fd, static_cast<char*>(buf) + *got, n - *got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) break;
    *got += static_cast<size_t>(r);
  }
  return 0;
}

int platform_map_read(int fd, uint64_t size, const unsigned char** data) {
  *data = nullptr;
  if (size == 0 || size > SIZE_MAX) return size == 0 ? EINVAL : ENOMEM;
  void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return errno;
  // Readers walk the data front to back: ask for generous read-ahead.
  ::madvise(p, static_cast<size_t>(size), MADV_SEQUENTIAL);
  *data = static_cast<const unsigned char*>(p);
  return 0;
}

void platform_unmap(const unsigned char* data, uint64_t size) {
  if (data) ::munmap(const_cast<unsigned char*>(data), static_cast<size_t>(size));
}

namespace {
// The guarded read running on this thread, if any. SIGBUS from a mapping is
// delivered to the thread that touched it, so each thread has its own.
thread_local sigjmp_buf* t_guard_jump = nullptr;
struct sigaction g_previous_sigbus {};

void on_sigbus(int, siginfo_t* info, void*) {
  if (t_guard_jump) siglongjmp(*t_guard_jump, 1);
  // A fault outside any guard: hand it to the earlier handling (by default
  // the process ends); the faulting access repeats under it. A signal sent
  // by a process repeats nothing, so it is raised again.
  ::sigaction(SIGBUS, &g_previous_sigbus, nullptr);
  if (info && info->si_code <= 0) raise(SIGBUS);
}

std::mutex g_sigbus_lock;

struct sigaction guard_action() {
  struct sigaction mine {};
  mine.sa_sigaction = on_sigbus;
  mine.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&mine.sa_mask);
  return mine;
}

// Installed on first use, and again whenever other code has replaced it
// since (the replaced handling becomes the one faults outside guards go to).
void install_sigbus_handler() {
  std::lock_guard<std::mutex> hold(g_sigbus_lock);
  struct sigaction current {};
  ::sigaction(SIGBUS, nullptr, &current);
  if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == on_sigbus) return;
  const struct sigaction mine = guard_action();
  ::sigaction(SIGBUS, &mine, &g_previous_sigbus);
}
}  // namespace

void platform_chain_sigbus(const struct sigaction& next) {
  std::lock_guard<std::mutex> hold(g_sigbus_lock);
  // The guard stays installed throughout, so a guarded read running on
  // another thread meanwhile is never without it.
  const struct sigaction mine = guard_action();
  ::sigaction(SIGBUS, &mine, nullptr);
  g_previous_sigbus = next;
}

bool platform_guard_mapped_reads(void (*fn)(void* ctx), void* ctx) {
  install_sigbus_handler();
  sigjmp_buf* const outer = t_guard_jump;
  sigjmp_buf jump;
  volatile bool completed = false;
  if (sigsetjmp(jump, 1) == 0) {
    t_guard_jump = &jump;
    fn(ctx);
    completed = true;
  }
  t_guard_jump = outer;
  return completed;
}

int platform_unlink(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int platform_rmdir(const std::string& path) {
  return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

int platform_rename_noreplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS) return err;
  // The file system cannot refuse a replacement atomically. A file is moved
  // by a hard link (which refuses an existing target) and an unlink; a folder
  // by a checked rename.
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
      const int e = errno;
      ::unlink(to.c_str());
      return e;
    }
    return 0;
  }
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

namespace {
int sync_path(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}
}  // namespace

int platform_replace_durably(const std::string& from, const std::string& to) {
  if (const int err = sync_path(from, O_RDONLY)) return err;
  if (::rename(from.c_str(), to.c_str()) != 0) return errno;
  const size_t slash = to.rfind('/');
  // The rename is durable once its folder is; a folder that cannot be synced
  // (some network file systems) still holds the complete file.
  if (slash != std::string::npos) sync_path(slash == 0 ? "/" : to.substr(0, slash), O_RDONLY | O_DIRECTORY);
  return 0;
}

int platform_mkdir(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

int platform_lstat(const std::string& path, platform_file_info* info) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno;
  info->is_dir = S_ISDIR(st.st_mode);
  info->is_link = S_ISLNK(st.st_mode);
  info->mode = st.st_mode & 07777;
  info->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int platform_file_identity_of(const std::string& path, platform_file_identity* id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  constexpr int64_t kNs = 1000000000;
  id->size = static_cast<uint64_t>(st.st_size);
  id->inode = static_cast<uint64_t>(st.st_ino);
  id->mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
  id->ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * kNs + st.st_ctim.tv_nsec;
  return 0;
}

bool platform_is_folder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int platform_chmod(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

int platform_list_folder(const std::string& path, std::vector<platform_dir_entry>* out) {
  out->clear();
  DIR* d = ::opendir(path.c_str());
  if (!d) return errno;
  const int dfd = ::dirfd(d);
  errno = 0;
  while (const dirent* e = ::readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    platform_dir_entry entry;
    entry.name = e->d_name;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      entry.is_dir = ::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    } else {
      entry.is_dir = e->d_type == DT_DIR;
    }
    out->push_back(std::move(entry));
    errno = 0;
  }
  const int err = errno;
  ::closedir(d);
  return err;
}

int platform_free_bytes(const std::string& path, uint64_t* bytes) {
  *bytes = 0;
  struct statvfs vfs;
  if (::statvfs(path.c_str(), &vfs) != 0) return errno;
  *bytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  return 0;
}

std::string platform_error_text(int code) {
  char buf[256];
  // GNU strerror_r: returns the text, which may or may not be in buf.
  const char* text = ::strerror_r(code, buf, sizeof buf);
  return text ? text : "";
}
