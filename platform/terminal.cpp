#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace {
volatile sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int signal_number) {
  if (g_stop_signal == 0) g_stop_signal = signal_number;
}
}  // namespace

void platform_catch_stop_signals() {
  struct sigaction sa = {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  // SA_RESETHAND: a second signal of the kind is not caught, so an impatient
  // user can still end a run that is slow to reach its next safe point.
  sa.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int platform_stop_signal() {
  return g_stop_signal;
}

void platform_request_stop(int signal_number) {
  g_stop_signal = signal_number;
}

bool platform_stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

int platform_stderr_columns() {
  struct winsize ws = {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

std::string platform_env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
