// A program that crashes on purpose, for the crash handler's test
// (tests/platform/crash_test.cpp): a fresh process with its own temporary
// folder, which the handler must remove.
//   crash_child SIGNAL TRACE_FILE OUTSIDE_FILE REPORT_FILE
// SIGNAL is segv, bus, ill, fpe or abrt, each caused the way a real fault
// causes it; overflow, a SIGSEGV from a stack overflow; or bus-sent, a
// SIGBUS sent with kill(2). Before crashing it writes the temporary
// folder's path to REPORT_FILE. Exit status 2: wrong use; 3: the set-up
// failed.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/crash.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

volatile char* g_mapped = nullptr;
volatile char g_sink = 0;

void touch_mapping(void*) {
  g_sink = g_mapped[0];
}

// Recurses until the stack is gone (each level keeps its frame in use).
volatile int g_never = -1;
int overflow(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth == g_never) return 0;
  return overflow(depth + 1) + frame[0];
}

// The two faults the undefined-behaviour sanitizer would report (and end
// the process with its own status) before the processor raises the signal.
__attribute__((no_sanitize("undefined"))) void store_through_null() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

__attribute__((no_sanitize("undefined"))) void divide_by_zero() {
#if defined(__x86_64__) || defined(__i386__)
  volatile int one = 1, zero = 0;  // both unknown, so a real division
  g_sink = static_cast<char>(one / zero);
#else
  raise(SIGFPE);  // integer division does not trap here
#endif
}

bool put(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string what = argv[1];
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);  // the test looks at the status, not at a core

  platform_install_crash_handler();
  platform_set_crash_trace_file(argv[2]);

  // The temporary folder with what an install leaves in it: a file, nested
  // folders, and a link to a file outside that must outlive the removal.
  std::string temp;
  get_OS_abs_path(3, temp);
  if (temp.empty() || !put(temp + "archive.zip", "part") || !platform_make_folders(temp + "a/b/") ||
      !put(temp + "a/b/file.skyvane-part", "x") || symlink(argv[3], (temp + "a/link").c_str()) != 0 ||
      !put(argv[4], temp))
    return 3;

  if (what == "segv") {
    store_through_null();
  } else if (what == "overflow") {
    g_sink = static_cast<char>(overflow(0));
  } else if (what == "bus") {
    // A mapping past the end of its (empty) file: the guard of mapped reads
    // takes the fault inside it; outside it the crash handler does.
    const std::string path = temp + "mapped";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    void* m = fd >= 0 ? mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (m == MAP_FAILED) return 3;
    g_mapped = static_cast<volatile char*>(m);
    if (platform_guard_mapped_reads(touch_mapping, nullptr)) return 3;  // the guard missed the fault
    touch_mapping(nullptr);
  } else if (what == "bus-sent") {
    // Sent by another process, after a guarded read left the guard installed.
    static const volatile char byte = 1;
    g_mapped = const_cast<volatile char*>(&byte);
    if (!platform_guard_mapped_reads(touch_mapping, nullptr)) return 3;
    kill(getpid(), SIGBUS);
  } else if (what == "ill") {
    __builtin_trap();
  } else if (what == "fpe") {
    divide_by_zero();
  } else if (what == "abrt") {
    std::abort();
  } else {
    return 2;
  }
  return 3;
}
