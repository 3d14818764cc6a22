#pragma once
// What the crash handler (crash.cpp) needs from the other parts of the
// platform layer. Each runs inside a signal handler: system calls only, no
// allocation, no locks.
#include <signal.h>

// system.cpp: removes this run's private temporary folder and everything in
// it, when this process made it (a forked child leaves its parent's alone).
void platform_remove_temp_folder_in_handler();

// files.cpp: installs the guard handler of mapped reads for SIGBUS, with
// `next` as the handling of every SIGBUS outside a guarded read.
void platform_chain_sigbus(const struct sigaction& next);

// window.cpp: back to the desktop's own display mode when a full-screen mode
// was set (the one step that calls the window library; see crash.cpp).
void platform_restore_mode_in_handler();
