#pragma once
// Keys and commands: key translation from the window layer's key events into
// the framework's key events (character, virtual-key code, flags), the
// per-pass key flags, offering keys to the focused widget, and the command
// registry with its key bindings.
//
// Key flags: 1 Shift held, 2 Alt held, 4 Control held, 8 first key-down (not
// a repeat), 16 key-up.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

enum key_flag { kf_shift = 1, kf_alt = 2, kf_ctrl = 4, kf_down = 8, kf_up = 16 };

// One row of the built-in command table.
struct prebuilt_command {
  const char* def_cmnd_enums;  // symbol
  const char* def_cmnd_names;  // path-like name
  const char* def_cmnd_descs;  // description
  int def_cmnd_type;
  int def_cmnd_vkey;  // default key code
  int def_cmnd_flag;  // default key flags
};
extern const std::vector<prebuilt_command> prebuilt_commands;

// The command registry: parallel vectors indexed by command number, filled
// from the built-in table in table order.
class cmnd_class {
 public:
  cmnd_class();
  std::vector<std::string> cmnd_enums;
  std::vector<std::string> cmnd_names;
  std::vector<std::string> cmnd_descs;
  std::vector<int> cmnd_type;
  std::vector<int> cmnd_down;  // how many holders press the command now

  // Number of the first command named exactly `name`; 0 when none (also the
  // number of the first command).
  int get_cmnd_by_name(const std::string& name) const;
  std::string get_cmnd_name(int n) const;  // empty for an unknown number
  std::string get_cmnd_desc(int n) const;
  // The next name components below `path`, sorted, without duplicates: the
  // text after `path` up to and including the next '/', or to the end.
  void get_cmds_in_path(const std::string& path, std::vector<std::string>& out) const;
  void press_one(int n);
  void release_one(int n);
  void press_always(int n);  // every pass while a bound key is held; inert here
};
extern cmnd_class cmnd;

struct key_binding {
  int vkey = 0;
  int flag = 0;  // modifier bits 1 Shift, 2 Alt, 4 Control
  int cmnd = 0;
  int hold = 0;  // 1 while the bound key is held
};

class keys_class {
 public:
  int global_vkey_hit = 0;  // code of the last key event
  int global_flag_hit = 0;  // its flags without the down/up bits
  std::vector<key_binding> key_bindings;
  int ShiftToggle = 0, ControlToggle = 0, OptionKeyToggle = 0;  // modifier keys held

  // 0: builds the bindings from the built-in table; 1: writes nothing.
  void keys_io(int write);
  // Key translation of one key-down (`down` true) or key-up event.
  void handle_key_raw(bool down, const plat_key& key);
  void execute_key_cmnd(int vkey, int flags);
  void run_repeat_keys();
};
extern keys_class keys;

// A translated key: what handle_key_raw works out before acting on it.
struct key_translation {
  bool ignored = false;   // lock keys: dropped entirely
  bool modifier = false;  // Shift, Control, Alt: only the toggles change
  int ch = 0;             // character
  int vkey = 0;           // framework key code (after the virtual key map)
  int flags = 0;
};
key_translation translate_key(bool down, const plat_key& key);

// The virtual key map: 256 entries, identity for the codes the framework
// uses, 0 for the rest, the punctuation keys moved to 176..186.
uint8_t vkey_map(int code);

// Prints the registry for "--cmnds": "all" lists every command with its
// description ("%-50s %s\n"), any other value the names below that path.
std::string cmnds_listing(const std::string& value);
// Installs cmnds_listing as the command line's "--cmnds" printer.
void keys_register_cmnds_printer();
