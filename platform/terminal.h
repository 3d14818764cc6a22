#pragma once
// What a run without a window needs of the process and its terminal: a stop
// request from SIGINT or SIGTERM seen as a flag, and whether standard error
// is a terminal (and how wide) for the progress line.
#include <string>

// Catches SIGINT and SIGTERM from now on: the first one only records itself
// (the run ends at its next safe point); a second one of the same kind ends
// the process at once, as without this call.
void platform_catch_stop_signals();
// The signal number of the first stop request caught, or 0.
int platform_stop_signal();
// Records a stop request as if `signal_number` had arrived (tests).
void platform_request_stop(int signal_number);

// True when standard error is a terminal.
bool platform_stderr_is_terminal();
// Columns of the terminal on standard error; 80 when unknown.
int platform_stderr_columns();

// The value of an environment variable; empty when unset.
std::string platform_env(const char* name);
