// The crash handler (see crash.h). Everything it does during a crash is a
// plain system call on memory prepared beforehand: writing the trace with
// backtrace_symbols_fd into a file opened with open(2), and removing the
// temporary folder with openat/getdents64/unlinkat (nftw and opendir
// allocate, which a crashed heap may not survive). Giving the display mode
// back needs the window library, which is not safe there: it comes last,
// only when a mode was changed, and under an alarm that ends the process by
// the crash's own signal should it hang.
#include "platform/crash.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/crash_parts.h"

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

std::mutex g_lock;  // installation and the trace file's path
char g_trace_path[PATH_MAX + 1] = "";
std::atomic<bool> g_trace_set{false};
std::atomic<int> g_crashing{0};       // the signal being handled, 0 none
std::atomic<long> g_crash_thread{0};  // the thread handling it
// Room for the handler when the stack itself overflowed (main thread).
alignas(16) char g_alt_stack[64 * 1024];

const char* signal_name(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "signal";
  }
}

void put(int fd, const char* s, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, s, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}

void put(int fd, const char* s) {
  put(fd, s, strlen(s));
}

// Decimal (base 10) or hexadecimal digits of v, at least `width` of them.
void put_number(int fd, unsigned long long v, unsigned base, int width = 1) {
  char buf[32];
  int i = sizeof buf;
  do {
    buf[--i] = "0123456789abcdef"[v % base];
    v /= base;
  } while ((v > 0 || static_cast<int>(sizeof buf) - i < width) && i > 0);
  put(fd, buf + i, sizeof buf - static_cast<size_t>(i));
}

// "YYYY-MM-DD HH:MM:SS UTC" by arithmetic alone (localtime may lock and
// read files).
void put_utc_time(int fd) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  long long secs = ts.tv_sec;
  long long days = secs / 86400;
  long long rem = secs % 86400;
  if (rem < 0) rem += 86400, --days;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2);
  put_number(fd, static_cast<unsigned long long>(year), 10, 4);
  put(fd, "-");
  put_number(fd, static_cast<unsigned long long>(month), 10, 2);
  put(fd, "-");
  put_number(fd, static_cast<unsigned long long>(day), 10, 2);
  put(fd, " ");
  put_number(fd, static_cast<unsigned long long>(rem / 3600), 10, 2);
  put(fd, ":");
  put_number(fd, static_cast<unsigned long long>(rem / 60 % 60), 10, 2);
  put(fd, ":");
  put_number(fd, static_cast<unsigned long long>(rem % 60), 10, 2);
  put(fd, " UTC");
}

// The same layout as the fatal alert's entries: a dated heading line, what
// happened, the frames, an empty line.
void write_trace(int sig, const siginfo_t* info) {
  if (!g_trace_set.load()) return;
  const int fd = open(g_trace_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  put(fd, "---- ");
  put_utc_time(fd);
  put(fd, " ----\nThe program crashed: signal ");
  put_number(fd, static_cast<unsigned>(sig), 10);
  put(fd, " (");
  put(fd, signal_name(sig));
  put(fd, ")");
  if (info && sig != SIGABRT && info->si_code > 0) {
    put(fd, " at address 0x");
    put_number(fd, reinterpret_cast<uintptr_t>(info->si_addr), 16);
  }
  put(fd, "\n");
  void* frames[64];
  const int n = backtrace(frames, 64);
  backtrace_symbols_fd(frames, n, fd);
  put(fd, "\n");
  close(fd);
  put(STDERR_FILENO, "The program crashed (");
  put(STDERR_FILENO, signal_name(sig));
  put(STDERR_FILENO, "); stack trace in ");
  put(STDERR_FILENO, g_trace_path);
  put(STDERR_FILENO, "\n");
}

// Ends the process by `sig` with the system's default action.
[[noreturn]] void end_by(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached: none of the crash signals is ignored by default
}

void on_alarm(int) {
  end_by(g_crashing.load());
}

void on_crash(int sig, siginfo_t* info, void*) {
  const long self = syscall(SYS_gettid);
  int none = 0;
  if (!g_crashing.compare_exchange_strong(none, sig)) {
    // A fault inside this handler ends the process by the first signal;
    // another thread's crash waits for the first one to finish.
    const long owner = g_crash_thread.load();
    if (owner == self || owner == 0) end_by(g_crashing.load());
    for (;;) pause();
  }
  g_crash_thread.store(self);
  write_trace(sig, info);
  platform_remove_temp_folder_in_handler();
  struct sigaction alarm_action {};
  alarm_action.sa_handler = on_alarm;
  sigemptyset(&alarm_action.sa_mask);
  sigaction(SIGALRM, &alarm_action, nullptr);
  alarm(5);
  platform_restore_mode_in_handler();
  alarm(0);
  end_by(sig);
}

}  // namespace

void platform_install_crash_handler() {
  std::lock_guard<std::mutex> hold(g_lock);
  // backtrace loads its unwinder on first use; done here, not in a crash.
  void* warm[2];
  backtrace(warm, 2);
  // An alternate stack of its own for this thread, unless it has one (a
  // sanitizer's), so a stack overflow is handled too.
  stack_t alt{};
  if (sigaltstack(nullptr, &alt) == 0 && (alt.ss_flags & SS_DISABLE)) {
    alt.ss_sp = g_alt_stack;
    alt.ss_size = sizeof g_alt_stack;
    alt.ss_flags = 0;
    sigaltstack(&alt, nullptr);
  }

  struct sigaction crash {};
  crash.sa_sigaction = on_crash;
  crash.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&crash.sa_mask);
  for (int sig : kCrashSignals) {
    if (sig == SIGBUS)
      platform_chain_sigbus(crash);  // under the mapped-file guard
    else
      sigaction(sig, &crash, nullptr);
  }
}

void platform_set_crash_trace_file(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_trace_set.store(false);
  if (path.empty() || path.size() >= sizeof g_trace_path) return;
  memcpy(g_trace_path, path.c_str(), path.size() + 1);
  g_trace_set.store(true);
}
