#pragma once
// Alerts: every message the program shows to the user goes through
// MACIBM_alert. It logs the message, records where it was raised, shows it
// (drawn alert, platform message box, or handed to the main thread), and for a
// fatal alert shuts the program down.
//
// The showing and the ending are replaceable, so the core can run and be
// tested without a window and a fatal alert can be observed without ending
// the test process.
#include <functional>
#include <string>

#include "util/report.h"  // alert_type, int_to_str; the handler MACIBM_alert fills in

// Shows an alert; returns when the user pressed the button (types 0 and 1),
// never for type 2 unless an exit hook returns or throws. `file` is the
// raising source file's name without folder or extension, `line` the number
// the alert is known by in the log and in the location line: a named
// constant where users or the log know it, else __LINE__. Installed as the
// handler of util/report.h, so io/, net/ and util/ reach it through
// UTL_report.
void MACIBM_alert(int return_win, const std::string& l1, const std::string& l2, const std::string& l3,
                  const std::string& l4, int type, const char* file, int line);

// "(" + file + " line " + line + ")"
std::string alert_location(const char* file, int line);

extern int in_alert;    // 1 while an alert is handled; a second one is recursive
extern int ogl_inited;  // 1 once GL is up and a drawn alert is possible

struct alert_record {
  std::string l1, l2, l3, l4;
  int type = 0;
  std::string file;
  int line = 0;
  bool recursive = false;
  bool unattended = false;  // --fps_test, --batch: logged only, never shown
  int return_win = 0;
};

// Observer: when set, it is told every alert handled on the main thread
// (after the alert is logged; --fps_test ones too) and nothing is shown.
// Pass nullptr to remove.
void alert_set_observer(std::function<void(const alert_record&)> fn);

// How a fatal alert ends the process. Default: std::_Exit with the code
// (1 for --fps_test and --batch, 3 for the abnormal end after a shown fatal
// alert).
// A test hook may throw to unwind instead.
void alert_set_exit_hook(std::function<void(int exit_code)> fn);

// The drawn alert, installed by the UI framework once GL is up. It runs the
// alert window's nested loop and returns when the button was pressed.
using drawn_alert_fn = void (*)(int return_win, const std::string lines[4], int type,
                                const std::string& location);
void alert_set_drawn_handler(drawn_alert_fn fn);

// The framework's shut-down (window closed, display restored, log closed),
// run before a fatal alert ends the process. Installed by the UI framework.
void alert_set_shutdown(void (*fn)());

// Folder that receives "stack_crawl.txt" (ends in '/'). Default: the folder
// of the log file (platform_log_file_path). The crash handler writes there
// too.
void alert_set_crash_folder(const std::string& folder);
// The full path of "stack_crawl.txt".
std::string alert_crash_file();

// Joins the four lines with blank lines between them, as the message box
// shows them, cut to at most `max_bytes` bytes (never inside a UTF-8
// character).
std::string alert_box_text(const std::string& l1, const std::string& l2, const std::string& l3,
                           const std::string& l4, size_t max_bytes = 1999);
