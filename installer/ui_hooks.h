#pragma once
// The installer core's few drawn or interactive moments, behind replaceable
// functions so that the scan, the choice and the destination logic run and
// are tested without a window. By default the panel and the question are
// drawn in the program's window (they draw nothing, and the question answers
// "cancel", while no GL window is up); the folder chooser and the browser are
// the platform's (GetFilePathFromUser type 2, the desktop's URL opener).
// Tests install their own; passing nullptr makes the panel draw nothing, the
// question answer "cancel" and the chooser and browser the platform's.
#include <string>

// Scan progress panel: the bar is filled at 0.04 + 0.96 * (d - d1) / (d2 - d1)
// (0.52 when d2 equals d1); call_type 0 while reading the manifest, 1 while
// examining the disk.
using dir_progress_bar_fn = void (*)(float d1, float d, float d2, int call_type, const std::string& message1,
                                     const std::string& rel_path_exp);
// Modified-file question; returns 1 overwrite/delete, 2 keep, 3 cancel the
// installation (or the window was closed), 4 overwrite/delete every old file
// in this folder, 5 keep every old file in this folder.
using select_alert_fn = int (*)(const std::string& dest_path_exp, int is_gone);
// Folder chooser: returns 1 and the chosen folder ('/'-separated, ending in
// '/') in `out`, or 0 when cancelled.
using choose_folder_fn = int (*)(const std::string& prompt, const std::string& start_folder,
                                 std::string& out);
// Opens a web address in the desktop's browser.
using open_url_fn = bool (*)(const std::string& url);

void set_dir_progress_bar_handler(dir_progress_bar_fn fn);
void set_select_alert_handler(select_alert_fn fn);
void set_choose_folder_handler(choose_folder_fn fn);
void set_open_url_handler(open_url_fn fn);

// The calls the core makes.
void dir_progress_bar(float d1, float d, float d2, int call_type, const std::string& message1,
                      const std::string& rel_path_exp);
int select_alert(const std::string& dest_path_exp, int is_gone);
int choose_folder(const std::string& prompt, const std::string& start_folder, std::string& out);
bool choose_folder_installed();
bool go_to_url(const std::string& url);

// The drawn forms, the defaults above (installer/utils_draw.cpp).
void draw_dir_progress_bar(float d1, float d, float d2, int call_type, const std::string& message1,
                           const std::string& rel_path_exp);
int draw_select_alert(const std::string& dest_path_exp, int is_gone);

// Filled fraction of the scan progress bar, 0.04..1.0 (0.52 when d2 == d1).
float dir_progress_fraction(float d1, float d, float d2);
