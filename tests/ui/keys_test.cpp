// Key translation, the key flags of a pass, the command registry, bindings
// and the --cmnds listing. Keys are given as the window layer delivers them
// (no window needed).
#include "ui/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/window.h"
#include "support/test_support.h"
#include "ui/butn.h"
#include "ui/hl_mnw.h"
#include "util/UTL_cmdline.h"

namespace {

plat_key key(int vkey, int ch, int scan = 0, int extended = 0) {
  plat_key k;
  k.vkey = vkey;
  k.ch = ch;
  k.scan = scan;
  k.extended = extended;
  return k;
}

TEST(KeyTranslation, CodesAndCharactersOfTheFrameworkTable) {
  struct row {
    const char* what;
    plat_key in;
    int vkey, ch;
  };
  const row rows[] = {
      {"Return", key(13, 13, 0x1C), 13, 13},
      {"keypad Enter (extended)", key(13, 13, 0x11C, 1), 13, 13},
      {"Escape", key(27, 27, 1), 27, 27},
      {"Backspace", key(8, 8, 0x0E), 8, 8},
      {"Tab", key(9, 9, 0x0F), 9, 9},
      {"Delete gives no character: code is the character", key(46, 0, 0, 1), 46, 46},
      {"Home gives no character: code is the character", key(36, 0, 0, 1), 36, 36},
      {"left arrow", key(37, 0, 0, 1), 37, 28},
      {"up arrow", key(38, 0, 0, 1), 38, 30},
      {"right arrow", key(39, 0, 0, 1), 39, 29},
      {"down arrow", key(40, 0, 0, 1), 40, 31},
      {"keypad 0", key(96, '0'), 96, '0'},
      {"keypad 7", key(103, '7'), 103, '7'},
      {"keypad point", key(110, '.'), 110, '.'},
      {"letter a", key('A', 'a'), 'A', 'a'},
      {"shifted digit 1", key('1', '!'), '1', '!'},
      {"semicolon moves to 181", key(186, ';'), 181, ';'},
      {"equals moves to 176", key(187, '='), 176, '='},
      {"back quote moves to 186", key(192, '`'), 186, '`'},
      {"quote moves to 180", key(222, '\''), 180, '\''},
      {"F1 is kept", key(112, 0), 112, 112},
      {"Windows key has no framework code", key(91, 0, 0, 1), 0, 91},
  };
  for (const row& r : rows) {
    const key_translation t = translate_key(true, r.in);
    EXPECT_FALSE(t.ignored) << r.what;
    EXPECT_FALSE(t.modifier) << r.what;
    EXPECT_EQ(t.vkey, r.vkey) << r.what << ": key code";
    EXPECT_EQ(t.ch, r.ch) << r.what << ": character";
  }
}

TEST(KeyTranslation, VirtualKeyMapKeepsItsCodesAndMovesOnlyPunctuation) {
  int kept = 0;
  for (int c = 0; c < 256; ++c) {
    const int m = vkey_map(c);
    if (m == c && c != 0) ++kept;
    if (m != 0 && m != c) {
      EXPECT_GE(m, 176) << "only punctuation keys move, and only to 176..186 (code " << c << ")";
    }
  }
  // 8 9 12 13 27 (5) + 32..57 (26) + 65..90 (26) + 96..107 (12) + 109..135 (27)
  EXPECT_EQ(kept, 96) << "identity entries of the virtual key map";
  EXPECT_EQ(vkey_map(108), 0) << "keypad separator has no code";
  EXPECT_EQ(vkey_map(160), 0) << "left shift code has no code";
  EXPECT_EQ(vkey_map(223), 186) << "OEM 8 shares the back-quote code";
}

TEST(KeyTranslation, FlagsForModifiersRepeatAndRelease) {
  plat_key a = key('A', 'A');
  a.shift = 1;
  EXPECT_EQ(translate_key(true, a).flags, kf_shift | kf_down) << "Shift held, first key-down";
  a.shift = 0;
  a.ctrl = 1;
  a.alt = 1;
  EXPECT_EQ(translate_key(true, a).flags, kf_ctrl | kf_alt | kf_down) << "Control 4 and Alt 2";
  a.ctrl = a.alt = 0;
  a.repeat = 1;
  EXPECT_EQ(translate_key(true, a).flags, 0) << "an auto-repeat is not a first key-down";
  a.repeat = 0;
  EXPECT_EQ(translate_key(false, a).flags, kf_up) << "key-up";
}

TEST(KeyTranslation, LockKeysIgnoredAndModifiersOnlyToggle) {
  EXPECT_TRUE(translate_key(true, key(20, 0, 0x3A)).ignored) << "Caps Lock";
  EXPECT_TRUE(translate_key(true, key(144, 0, 0x145, 1)).ignored) << "Num Lock";
  EXPECT_TRUE(translate_key(true, key(145, 0, 0x46)).ignored) << "Scroll Lock";
  EXPECT_TRUE(translate_key(true, key(16, 0, 0x2A)).modifier) << "left Shift";
  EXPECT_TRUE(translate_key(true, key(16, 0, 0x36)).modifier) << "right Shift (code 16)";
  EXPECT_TRUE(translate_key(true, key(17, 0, 0x11D, 1)).modifier) << "right Control";
  EXPECT_TRUE(translate_key(true, key(18, 0, 0x38)).modifier) << "Alt";
}

class KeyPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_win_set_headless(true);
    mnw = mnw_class{};
    mnw.x_res_now = 1024;
    mnw.y_res_now = 768;
    MACIBM_startwind(0, 0);
    return_hit = escape_hit = delete_hit = 0;
    keys = keys_class{};
    keys.keys_io(0);
    cmnd = cmnd_class{};
    focus_ring.clear();
    focus_id = 0;
  }
  static void down(const plat_key& k) { keys.handle_key_raw(true, k); }
  static void up(const plat_key& k) { keys.handle_key_raw(false, k); }
};

TEST_F(KeyPathTest, PassFlagsOnTheMainScreen) {
  down(key(13, 13, 0x1C));
  EXPECT_EQ(return_hit, 1) << "Return sets return_hit";
  EXPECT_EQ(mnw.key_pressed, 13) << "and is the character of the pass";
  down(key(27, 27, 1));
  EXPECT_EQ(escape_hit, 1) << "Escape sets escape_hit";
  down(key(46, 0, 0, 1));
  EXPECT_EQ(delete_hit, 1) << "Delete sets delete_hit";
  delete_hit = 0;
  down(key(8, 8, 0x0E));
  EXPECT_EQ(delete_hit, 1) << "Backspace sets delete_hit too";
  return_hit = 0;
  up(key(13, 13, 0x1C));
  EXPECT_EQ(return_hit, 0) << "a key-up sets no pass flag";
  EXPECT_EQ(keys.global_vkey_hit, 13) << "the last key event's code is kept";
  EXPECT_EQ(keys.global_flag_hit, 0) << "without the down/up bits";
}

TEST_F(KeyPathTest, ModifiersNeverReachTheKeyPath) {
  mnw.key_pressed = 0;
  down(key(16, 0, 0x2A));
  EXPECT_EQ(keys.ShiftToggle, 1) << "Shift down is remembered";
  EXPECT_EQ(mnw.key_pressed, 0) << "Shift alone is no key press";
  EXPECT_EQ(keys.global_vkey_hit, 0) << "nor a key event";
  up(key(16, 0, 0x2A));
  EXPECT_EQ(keys.ShiftToggle, 0) << "Shift up";
  down(key(17, 0, 0x1D));
  EXPECT_EQ(keys.ControlToggle, 1) << "Control down";
  down(key(18, 0, 0x38));
  EXPECT_EQ(keys.OptionKeyToggle, 1) << "Alt down";
  down(key(20, 0, 0x3A));
  EXPECT_EQ(mnw.key_pressed, 0) << "Caps Lock is ignored entirely";
}

TEST_F(KeyPathTest, ReturnClosesTheLicenceWindowButNotTheAlert) {
  MACIBM_startwind(1, 0);
  down(key(13, 13, 0x1C));
  EXPECT_EQ(mnw.top_win_now, 0) << "Return closes the licence sub-window";
  EXPECT_EQ(return_hit, 0) << "and is used up by closing it";

  MACIBM_startwind(995, 0);
  down(key(13, 13, 0x1C));
  EXPECT_EQ(mnw.top_win_now, 995) << "the alert is not closed by the key path";
  EXPECT_EQ(return_hit, 1) << "Return stays set for the alert's button";
}

TEST_F(KeyPathTest, TabWithEmptyFocusRingFallsThrough) {
  down(key(9, 9, 0x0F));
  EXPECT_EQ(mnw.key_pressed, 9) << "with no focusable widget Tab reaches key_pressed";
}

TEST_F(KeyPathTest, NoKeyEverPressesTheInstallersCommand) {
  ASSERT_EQ(keys.key_bindings.size(), 1u) << "one binding per built-in command";
  EXPECT_EQ(keys.key_bindings[0].vkey, 0) << "the only binding has key code 0";
  for (int v = 1; v < 256; ++v) {
    down(key(v, 0));
    up(key(v, 0));
    return_hit = 0;
    MACIBM_startwind(0, 0);
  }
  EXPECT_EQ(cmnd.cmnd_down[0], 0) << "no key presses the do-nothing command";
}

TEST_F(KeyPathTest, BindingPressesOnFirstDownAndReleasesOnUp) {
  keys.key_bindings = {{'A', kf_ctrl, 0, 0}};
  plat_key a = key('A', 1);
  a.ctrl = 1;
  down(a);
  EXPECT_EQ(cmnd.cmnd_down[0], 1) << "Control+A presses the bound command";
  a.repeat = 1;
  down(a);
  EXPECT_EQ(cmnd.cmnd_down[0], 1) << "an auto-repeat does not press again";
  keys.run_repeat_keys();
  a.repeat = 0;
  up(a);
  EXPECT_EQ(cmnd.cmnd_down[0], 0) << "release lets go";
  EXPECT_EQ(keys.key_bindings[0].hold, 0) << "and the binding is no longer held";
  down(key('A', 'a'));
  EXPECT_EQ(cmnd.cmnd_down[0], 0) << "without Control the binding does not fire";
}

TEST(CommandRegistry, LookupAndPaths) {
  cmnd_class c;
  EXPECT_EQ(c.get_cmnd_by_name("sim/operation/none"), 0) << "the one command is number 0";
  EXPECT_EQ(c.get_cmnd_by_name("sim/operation/quit"), 0) << "an unknown name also gives 0";
  EXPECT_EQ(c.get_cmnd_desc(0), "Do nothing at all!");
  EXPECT_EQ(c.get_cmnd_name(5), "") << "an unknown number gives nothing";
  std::vector<std::string> out = {"stale"};
  c.get_cmds_in_path("", out);
  EXPECT_EQ(out, std::vector<std::string>{"sim/"}) << "top level";
  c.get_cmds_in_path("sim/", out);
  EXPECT_EQ(out, std::vector<std::string>{"operation/"}) << "one level down";
  c.get_cmds_in_path("sim/operation/", out);
  EXPECT_EQ(out, std::vector<std::string>{"none"}) << "the leaf";
  c.get_cmds_in_path("sim/operation/none", out);
  EXPECT_TRUE(out.empty()) << "a whole name is not longer than itself";
  c.get_cmds_in_path("sim/op", out);
  EXPECT_EQ(out, std::vector<std::string>{"eration/"}) << "byte prefix, not component prefix";

  c.cmnd_names = {"b/x", "a/y", "a/z", "a/y/q"};
  c.get_cmds_in_path("a/", out);
  EXPECT_EQ(out, (std::vector<std::string>{"y", "y/", "z"})) << "sorted in byte order, duplicates removed";
}

TEST(CommandRegistry, CmndsListing) {
  EXPECT_EQ(cmnds_listing("all"),
            std::string("sim/operation/none") + std::string(50 - 18, ' ') + " Do nothing at all!\n")
      << "name padded to 50, a space, the description";
  EXPECT_EQ(cmnds_listing("sim/"), "operation/\n") << "names below a path, one per line";
  EXPECT_EQ(cmnds_listing("nothing/"), "") << "nothing below an unknown path";
}

TEST(CommandRegistry, CmndsOptionPrintsAndEnds) {
  keys_register_cmnds_printer();
  cmdline_set_exit_hook([](int code) { throw testsupport::fatal_alert_exit(code); });
  const char* argv[] = {"skyvane-installer", "--cmnds=sim/"};
  ::testing::internal::CaptureStdout();
  int code = -1;
  try {
    cmdline.init_args(2, argv);
  } catch (const testsupport::fatal_alert_exit& e) {
    code = e.code;
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  cmdline_set_exit_hook(nullptr);
  cmdline.clear();
  EXPECT_EQ(code, 0) << "--cmnds ends the program with exit code 0";
  EXPECT_EQ(out, "operation/\n") << "and prints the registry below the path";
}

}  // namespace
