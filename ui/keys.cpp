#include "ui/keys.h"

#include <cstdio>
#include <set>

#include "ui/butn.h"
#include "ui/hl_mnw.h"
#include "util/UTL_cmdline.h"

const std::vector<prebuilt_command> prebuilt_commands = {
    {"cmnd_nothing", "sim/operation/none", "Do nothing at all!", 3, 0, 0},
};

cmnd_class cmnd;
keys_class keys;

// ---------------------------------------------------------------------------
// Command registry

cmnd_class::cmnd_class() {
  for (const prebuilt_command& row : prebuilt_commands) {
    cmnd_enums.emplace_back(row.def_cmnd_enums);
    cmnd_names.emplace_back(row.def_cmnd_names);
    cmnd_descs.emplace_back(row.def_cmnd_descs);
    cmnd_type.push_back(row.def_cmnd_type);
    cmnd_down.push_back(0);
  }
}

int cmnd_class::get_cmnd_by_name(const std::string& name) const {
  for (size_t i = 0; i < cmnd_names.size(); ++i)
    if (cmnd_names[i] == name) return static_cast<int>(i);
  return 0;
}

std::string cmnd_class::get_cmnd_name(int n) const {
  return n >= 0 && n < static_cast<int>(cmnd_names.size()) ? cmnd_names[n] : std::string();
}

std::string cmnd_class::get_cmnd_desc(int n) const {
  return n >= 0 && n < static_cast<int>(cmnd_descs.size()) ? cmnd_descs[n] : std::string();
}

void cmnd_class::get_cmds_in_path(const std::string& path, std::vector<std::string>& out) const {
  out.clear();
  std::set<std::string> parts;  // byte order, no duplicates
  for (const std::string& name : cmnd_names) {
    if (name.size() <= path.size() || name.compare(0, path.size(), path) != 0) continue;
    const size_t slash = name.find('/', path.size());
    parts.insert(
        name.substr(path.size(), slash == std::string::npos ? std::string::npos : slash + 1 - path.size()));
  }
  out.assign(parts.begin(), parts.end());
}

// Out-of-range numbers are ignored: a binding may name a command that a
// smaller table does not have.
void cmnd_class::press_one(int n) {
  if (n >= 0 && n < static_cast<int>(cmnd_down.size())) ++cmnd_down[n];
}

void cmnd_class::release_one(int n) {
  if (n >= 0 && n < static_cast<int>(cmnd_down.size()) && cmnd_down[n] > 0) --cmnd_down[n];
}

void cmnd_class::press_always(int) {}

std::string cmnds_listing(const std::string& value) {
  std::string out;
  char line[512];
  if (value == "all") {
    for (size_t i = 0; i < cmnd.cmnd_names.size(); ++i) {
      std::snprintf(line, sizeof line, "%-50s %s\n", cmnd.cmnd_names[i].c_str(), cmnd.cmnd_descs[i].c_str());
      out += line;
    }
    return out;
  }
  std::vector<std::string> parts;
  cmnd.get_cmds_in_path(value, parts);
  for (const std::string& p : parts) out += p + "\n";
  return out;
}

void keys_register_cmnds_printer() {
  cmdline_set_cmnds_printer([](const std::string& value) {
    const std::string text = cmnds_listing(value);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  });
}

// ---------------------------------------------------------------------------
// Key translation

uint8_t vkey_map(int code) {
  if (code < 0 || code > 255) return 0;
  if (code == 8 || code == 9 || code == 12 || code == 13 || code == 27) return static_cast<uint8_t>(code);
  if ((code >= 32 && code <= 57) || (code >= 65 && code <= 90) || (code >= 96 && code <= 107) ||
      (code >= 109 && code <= 135))
    return static_cast<uint8_t>(code);
  switch (code) {
    case 186:
      return 181;
    case 187:
      return 176;
    case 188:
      return 183;
    case 189:
      return 177;
    case 190:
      return 185;
    case 191:
      return 184;
    case 192:
      return 186;
    case 219:
      return 179;
    case 220:
      return 182;
    case 221:
      return 178;
    case 222:
      return 180;
    case 223:
      return 186;
    default:
      return 0;
  }
}

key_translation translate_key(bool down, const plat_key& key) {
  key_translation t;
  const int scan = key.scan & 0x1FF;
  const int low = scan & 0xFF;
  if (scan == 0x145 || low == 0x3A || low == 0x46 || key.vkey == 20 || key.vkey == 144 || key.vkey == 145) {
    t.ignored = true;  // Caps Lock, Num Lock, Scroll Lock
    return t;
  }
  if (low == 0x2A || low == 0x36 || low == 0x1D || low == 0x38 || key.vkey == 16 || key.vkey == 17 ||
      key.vkey == 18) {
    t.modifier = true;
    return t;
  }
  // A key with a character keeps its key code; a key without one reports
  // its key code as the character too.
  int code = key.vkey & 0xFF;
  int ch = key.ch != 0 ? key.ch : code;
  t.flags = (key.shift ? kf_shift : 0) | (key.ctrl ? kf_ctrl : 0) | (key.alt ? kf_alt : 0);
  if (down && !key.repeat) t.flags |= kf_down;
  if (!down) t.flags |= kf_up;
  code = vkey_map(code);
  switch (code) {
    case 8:
    case 9:
    case 13:
    case 27:
      ch = code;
      break;
    case 37:
      ch = 28;
      break;
    case 38:
      ch = 30;
      break;
    case 39:
      ch = 29;
      break;
    case 40:
      ch = 31;
      break;
    case 110:
      ch = '.';
      break;
    default:
      if (code >= 96 && code <= 105) ch = '0' + (code - 96);
      break;
  }
  t.ch = ch;
  t.vkey = code;
  return t;
}

void keys_class::handle_key_raw(bool down, const plat_key& key) {
  const key_translation t = translate_key(down, key);
  if (t.ignored) return;
  if (t.modifier) {
    const int low = key.scan & 0xFF;
    const int v = down ? 1 : 0;
    if (low == 0x2A || low == 0x36 || key.vkey == 16)
      ShiftToggle = v;
    else if (low == 0x1D || key.vkey == 17)
      ControlToggle = v;
    else
      OptionKeyToggle = v;
    return;
  }
  if (t.flags == 0 && t.ch == 0 && t.vkey == 0) return;
  if (BTN_dispatch_to_focus(t.ch, t.vkey, t.flags)) return;

  if (down) {
    if (t.vkey == 13) return_hit = 1;
    if (t.vkey == 27) escape_hit = 1;
    if (t.vkey == 46 || t.vkey == 8) delete_hit = 1;
    if (mnw.top_win_now != 0 && return_hit) {
      // Return closes a sub-window; under the alert it only stays set.
      MACIBM_handleclick(1);
      return;
    }
    if (t.ch != 0) mnw.key_pressed = t.ch;
  }
  global_vkey_hit = t.vkey;
  global_flag_hit = t.flags & ~(kf_down | kf_up);
  if (mnw.top_win_now != 999 && (t.vkey == 13 || (mnw.typing_message == 0 && t.vkey != 0)))
    execute_key_cmnd(t.vkey, t.flags);
}

// ---------------------------------------------------------------------------
// Bindings

void keys_class::keys_io(int write) {
  if (write) return;  // the installer keeps no binding file
  key_bindings.clear();
  for (const prebuilt_command& row : prebuilt_commands) {
    key_binding b;
    b.vkey = row.def_cmnd_vkey;
    b.flag = row.def_cmnd_flag;
    b.cmnd = cmnd.get_cmnd_by_name(row.def_cmnd_names);
    key_bindings.push_back(b);
  }
}

void keys_class::execute_key_cmnd(int vkey, int flags) {
  for (key_binding& b : key_bindings) {
    if (b.vkey != vkey) continue;
    if ((flags & 7) == b.flag && (flags & kf_down)) {
      cmnd.press_one(b.cmnd);
      b.hold = 1;
    }
    if (b.hold && (flags & kf_up)) {
      cmnd.release_one(b.cmnd);
      b.hold = 0;
    }
  }
}

void keys_class::run_repeat_keys() {
  for (const key_binding& b : key_bindings)
    if (b.hold) cmnd.press_always(b.cmnd);
}
