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

// One pass of the driver.
void APP_update();
void APP_handlemenu(int item_code);

// The vendor host in use: --vendor_host when given, else the built-in one.
std::string vendor_host();

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
