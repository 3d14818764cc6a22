#pragma once
// The crash handler. On SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT it
// appends a stack trace to the trace file, removes this run's private
// temporary folder, gives the desktop its own display mode back, and then
// ends the process by the same signal, so the exit status still tells the
// crash (and a core is dumped where the system keeps them).
#include <string>

// Installs it (again after other code replaced it). A SIGBUS inside a
// guarded read of a mapped file (platform_guard_mapped_reads) still goes to
// that guard first; every other one reaches the crash handler.
void platform_install_crash_handler();

// The file that receives the stack trace, appended to when a crash happens
// (the path is kept, so nothing is worked out during the crash). Empty: no
// trace is written.
void platform_set_crash_trace_file(const std::string& path);
