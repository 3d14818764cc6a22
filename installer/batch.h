#pragma once
// The run without a window (--batch): the same server choice, engine and log
// as the window's driver, with the user's answers taken from the command
// line and the progress told on standard error.
//
// Exit statuses (batch_exit): 0 done or nothing to do, 1 failed (the alert's
// text went to standard error), 3 consent needed (the licence was not
// accepted, or files the user changed would be replaced), 128 + the signal's
// number when SIGINT or SIGTERM stopped the run (130, 143). A bad command
// line ends the program with 2 before the run starts (util/UTL_cmdline.h).
#include <string>

enum batch_exit { kBatchDone = 0, kBatchFailed = 1, kBatchConsent = 3, kBatchSignalBase = 128 };

// The whole run after start-up (installer_main has read the settings and the
// destination); ends with MACIBM_finishup. Returns the exit status.
int batch_main();

// From now on every alert's text goes to standard error too. installer_main
// calls it before the start-up's own checks, whose alerts (the several-discs
// one) would otherwise end a run without a window with nothing said.
void batch_tell_alerts();

// One progress report of the install. Sizes in kilobytes as the manifest
// counts them (1000 bytes).
struct batch_progress {
  float done_kb = 0.0f;    // installed so far
  float total_kb = 0.0f;   // to install in this run
  float rate_kb_s = 0.0f;  // download rate; 0 while unknown
  float left_s = -1.0f;    // time left; negative while unknown
  std::string file;        // the file being worked on
};
// "42% 12.3 MB of 30.0 MB, 1.2 MB/s, 0:15 left, Airfoils/NACA 2400.afl"
std::string batch_progress_text(const batch_progress& p);
// The text as written to standard error: on a terminal the line is rewritten
// in place ('\r', cut to `columns` - 1 characters, rest of the line erased);
// otherwise a line of its own.
std::string batch_progress_output(const std::string& text, bool terminal, int columns);
