#pragma once
// The installer's entry point and its driver. The driver, APP_update, runs
// once per pump pass: it redraws the whole main screen, reacts to the pass's
// clicks and moves the install forward by one bounded slice.
//
// installer/ is the top layer of the core (order: platform < util < io, net
// < ui < prefs < installer); at start-up it hands the layers below what they
// take from its records (installer_wire_lower_layers, installer/model.h).
#include <string>

// The whole program: start-up, the pump loop, shut-down. Returns the exit code.
int installer_main(int argc, const char* const* argv);

// The driver's steps that a run without a window takes too (installer/batch.cpp),
// with the same log lines.
// Fetches and expands the manifest from the chosen server (another server is
// chosen after a failure); dir_scan 1 once it is there. Returns the poll's
// answer: 0 under way, 1 arrived, 2 the download failed. The disc installer
// takes it from the disc's release folder instead, in one call that returns
// 1 (dir_scan 1, or 2 after an alert when it is unsigned or unreadable).
int manifest_fetch_step();
// Reads the expanded manifest and examines the destination (dir_scan 3 when
// done, 2 when unreadable).
void manifest_read_step();
// Install pressed: folders made, the licence asked by `licence` (1 accepted),
// the choice made (step 1 when accepted and not cancelled, else 0).
void press_install(int (*licence)());
// The 10 ms install slice: the grab engine runs until the slice is used up
// (step 2 when it ended). A pass that installs is not idle: the next pass
// comes at once rather than after the pump's wait for input.
void install_slice();

// One pass of the driver.
void APP_update();
void APP_handlemenu(int item_code);

// The vendor host in use: --vendor_host when given, else the built-in one.
std::string vendor_host();

// What the status line says when there is nothing to install from: no
// servers, or, in the disc installer, no disc.
std::string no_source_text();

// The default destination: "Skyvane 9/" in the folder of kind 2 (the home
// folder on this platform).
std::string default_dest_dir(const std::string& default_apps_folder);

// Status line of the main screen (text and colour) for the current state.
struct status_line {
  std::string text;
  int col;
};
status_line main_status_line(float manifest_percent, int is_a_sim);

// The three message-box lines and their colours for the current state.
struct message_lines {
  std::string s[3];
  int col[3] = {46, 46, 46};
};
