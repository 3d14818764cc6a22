#pragma once
// Reports from the layers below the UI framework (util, io, net): they raise
// an alert through UTL_report without knowing how it is shown. The UI
// framework fills in the handler at start-up (MACIBM_wire_lower_layers puts
// MACIBM_alert there, ui/hl_alert.h), which logs the report, shows it and,
// for a fatal one, ends the program. Without a handler a report is written to
// the log and to stderr, and a fatal one ends the process.
//
// Layer order, lowest first: platform < util < io, net < ui < prefs <
// installer. util/ includes only platform/ and itself.
#include <string>

enum alert_type { t_lang_choice = 0, t_alert = 1, t_exit = 2 };

using report_fn = void (*)(int return_win, const std::string& l1, const std::string& l2,
                           const std::string& l3, const std::string& l4, int type, const char* file,
                           int line);

// Installs the handler; nullptr goes back to the log-only fallback.
void report_set_handler(report_fn fn);

// Raises a report, with the arguments of MACIBM_alert: `file` is the raising
// source file's name without folder or extension, `line` the number the
// report is known by in the log and on screen (each caller names its numbers
// as constants, so moving code leaves them unchanged).
void UTL_report(int return_win, const std::string& l1, const std::string& l2, const std::string& l3,
                const std::string& l4, int type, const char* file, int line);

// Decimal text of `value` into `buf`: '-' when negative, '+' when
// non-negative and `plus` is set, leading zeros up to `min_digits` (<= 10).
void int_to_str(int value, char* buf, int min_digits, int plus);
std::string int_to_str(int value, int min_digits = 1, int plus = 0);
