// The real window under X (Xvfb in CI): start-up and shut-down, the window's
// placement and style, real SDL and X input through the pump, and the drawn
// alert's nested loop.
#include <GL/gl.h>
#include <gtest/gtest.h>
// X11 (through SDL_syswm.h) defines macros that clash with GoogleTest.
#include <SDL.h>
#include <SDL_syswm.h>
#undef None
#undef Bool
#undef Status

#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/window.h"
#include "prefs/pref.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"
#include "ui/hl_mnw.h"
#include "ui/keys.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

struct pass_seen {
  int clicked, ret, esc;
  float mx, my;
};
std::vector<pass_seen> g_seen;
void record_pass() {
  g_seen.push_back({mnw.mouse_clicked, return_hit, escape_hit, mnw.mx, mnw.my});
}

Uint32 window_id() {
  return SDL_GetWindowID(SDL_GL_GetCurrentWindow());
}

void push_key(SDL_Keycode sym, Uint16 mod = KMOD_NONE, bool down = true, bool repeat = false) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.windowID = window_id();
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat ? 1 : 0;
  e.key.keysym.sym = sym;
  e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
  e.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void push_click(int x, int y) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = window_id();
  e.motion.x = x;
  e.motion.y = y;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  e = SDL_Event{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.windowID = window_id();
  e.button.button = SDL_BUTTON_LEFT;
  e.button.state = SDL_PRESSED;
  e.button.clicks = 1;
  e.button.x = x;
  e.button.y = y;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  e.type = SDL_MOUSEBUTTONUP;
  e.button.state = SDL_RELEASED;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

// Drains the queue as the pump does (SDL hands back events pushed after a
// drain began only on the next drain) and keeps the last key-down.
bool last_key_down(plat_event* out) {
  bool got = false;
  plat_event ev;
  while (plat_win_poll(&ev)) {
    if (ev.type == pev_key_down) {
      *out = ev;
      got = true;
    }
  }
  return got;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  void TearDown() override {
    MACIBM_set_app_update(nullptr);
    if (!finished_) MACIBM_finishup(0);
    MACIBM_set_log_file("");
    cmdline.clear();
  }
  void start(std::vector<const char*> options) {
    plat_win_set_headless(false);
    std::vector<const char*> argv = {"skyvane-installer"};
    argv.insert(argv.end(), options.begin(), options.end());
    app_done = 0;
    win_started = 0;
    mnw = mnw_class{};
    stls.text[602] = "OK";
    MACIBM_reset_display_state();
    MACIBM_set_log_file(log_dir_ / "Log.txt");
    MACIBM_init(static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(plat_win_exists()) << "the window must open (run under xvfb-run)";
    g_seen.clear();
    MACIBM_set_app_update(record_pass);
    // The window's own start-up events (exposure, focus) go in a first pass.
    MACIBM_event_proc();
    g_seen.clear();
  }
  void finish(int save) {
    MACIBM_finishup(save);
    finished_ = true;
  }
  // Runs passes until `done` holds or a generous number of passes ran (the
  // X server delivers xdotool's events asynchronously).
  template <class F>
  static bool pump_until(F done, int max_passes = 400) {
    for (int i = 0; i < max_passes; ++i) {
      MACIBM_event_proc();
      if (done()) return true;
    }
    return false;
  }
  bool finished_ = false;
  testsupport::TempDir log_dir_;
};

TEST_F(WindowTest, StartUpOpensTheCaptionedWindowAtTheTopLeft) {
  SDL_Window* w = SDL_GL_GetCurrentWindow();
  ASSERT_NE(w, nullptr) << "the GL context is current on the window";
  EXPECT_STREQ(SDL_GetWindowTitle(w), "Skyroot") << "window title";
  EXPECT_EQ(SDL_GetWindowFlags(w) & SDL_WINDOW_BORDERLESS, 0u)
      << "a 1280x1024 screen leaves room for a captioned window";
  EXPECT_EQ(SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN, 0u) << "no display-mode change on a large screen";
  int x = -1, y = -1, cw = 0, ch = 0;
  SDL_GetWindowPosition(w, &x, &y);
  SDL_GL_GetDrawableSize(w, &cw, &ch);
  EXPECT_EQ(x, 0) << "client area at the left edge";
  EXPECT_EQ(y, 0) << "client area at the top edge";
  EXPECT_EQ(cw, 1024) << "client width";
  EXPECT_EQ(ch, 768) << "client height";
  EXPECT_EQ(ogl_inited, 1) << "drawn alerts are possible";
  EXPECT_EQ(mnw.top_win_now, 0) << "the first pass shows the main screen";
  EXPECT_FLOAT_EQ(mnw.extra_sx, 0) << "no side margin for a 1024 wide client area";
  EXPECT_FLOAT_EQ(mnw.extra_ty, 0) << "no extra height";
  GLint vp[4] = {};
  glGetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[2], 1024) << "viewport covers the client area";
  EXPECT_EQ(vp[3], 768);
  GLint depth_write = 1;
  glGetIntegerv(GL_DEPTH_WRITEMASK, &depth_write);
  EXPECT_EQ(depth_write, GL_FALSE) << "GL defaults: depth writes off";
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    struct sigaction action {};
    sigaction(sig, nullptr, &action);
    EXPECT_TRUE(action.sa_flags & SA_SIGINFO) << "the crash handler is installed for signal " << sig;
  }

  xer.flush();
  const std::string log = testsupport::read_file(log_dir_ / "Log.txt");
  EXPECT_EQ(log.rfind("log.txt for Skyvane 9.00 Beta-25 ", 0), 0u) << "the log starts with its header";
  EXPECT_NE(log.find("CPU count"), std::string::npos) << "the worker threads are started and logged";
  // Mesa's software GLX under Xvfb refuses swap-interval changes (it has no
  // vertical sync to wait for): then the log must say so.
  if (SDL_GL_SetSwapInterval(0) != 0) {
    EXPECT_NE(log.find("Warning: unable to disable vsync.\n"), std::string::npos)
        << "a driver that keeps vertical sync is reported in the log";
  } else {
    EXPECT_EQ(log.find("Warning: unable to disable vsync."), std::string::npos) << "no false warning";
  }
}

TEST_F(WindowTest, ShutDownWritesPreferencesAndClosesTheWindow) {
  const std::string prefs = pref_file_path();
  std::remove(prefs.c_str());
  finish(1);
  EXPECT_FALSE(plat_win_exists()) << "the window is gone";
  EXPECT_EQ(ogl_inited, 0) << "no drawn alerts after shut-down";
  EXPECT_TRUE(testsupport::file_exists(prefs)) << "preferences are written on a normal end";
}

TEST(WindowFpsTest, FpsTestDoesNotWritePreferences) {
  plat_win_set_headless(false);
  const std::string prefs = pref_file_path();
  std::remove(prefs.c_str());
  const char* argv[] = {"skyvane-installer", "--fps_test"};
  testsupport::TempDir log_dir;
  MACIBM_set_log_file(log_dir / "Log.txt");
  MACIBM_reset_display_state();
  MACIBM_init(2, argv);
  ASSERT_TRUE(plat_win_exists());
  MACIBM_finishup(1);
  MACIBM_set_log_file("");
  cmdline.clear();
  EXPECT_FALSE(testsupport::file_exists(prefs)) << "--fps_test suppresses saving the preferences";
  EXPECT_NE(testsupport::read_file(log_dir / "Log.txt").find("FPS test: "), std::string::npos)
      << "and the frame-rate result is logged at the end";
}

// Without a display SDL would fall back to an invisible window; the
// installer must stop with its graphics alert instead of waiting unseen.
TEST(NoDisplay, StartUpFailsInsteadOfRunningInvisibly) {
  plat_win_set_headless(false);
  plat_video_quit();
  const std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  const std::string wayland = getenv("WAYLAND_DISPLAY") ? getenv("WAYLAND_DISPLAY") : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
  std::vector<alert_record> seen;
  alert_set_observer([&seen](const alert_record& r) { seen.push_back(r); });
  testsupport::TempDir log_dir;
  MACIBM_set_log_file(log_dir / "Log.txt");
  MACIBM_reset_display_state();
  const char* argv[] = {"skyvane-installer"};
  EXPECT_THROW(MACIBM_init(1, argv), testsupport::fatal_alert_exit) << "no display ends the program";
  alert_set_observer(nullptr);
  MACIBM_set_log_file("");
  cmdline.clear();
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
  ASSERT_EQ(seen.size(), 1u) << "with one alert";
  EXPECT_EQ(seen[0].type, t_exit) << "a fatal one";
  EXPECT_EQ(seen[0].l1.rfind("I could not set up the graphics", 0), 0u) << "the graphics start-up alert";
  EXPECT_NE(testsupport::read_file(log_dir / "Log.txt").find("no display"), std::string::npos)
      << "the log says why";
}

TEST_F(WindowTest, SdlInputReachesThePassFlags) {
  push_click(200, 600);
  MACIBM_event_proc();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].clicked, 1) << "a real SDL button event is a click of the pass";
  EXPECT_FLOAT_EQ(g_seen[0].mx, 200) << "mouse x";
  EXPECT_FLOAT_EQ(g_seen[0].my, 168) << "mouse y from the bottom";
  EXPECT_EQ(mnw.mouse_lifted, 1) << "the release of the same pass";

  // Two clicks waiting at once (a slow pass): each is a pass's click at its
  // own place.
  push_click(100, 700);
  push_click(300, 500);
  MACIBM_event_proc();
  MACIBM_event_proc();
  ASSERT_EQ(g_seen.size(), 3u);
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(g_seen[i].clicked, 1) << "click " << i;
    EXPECT_FLOAT_EQ(g_seen[i].mx, i == 1 ? 100 : 300) << "click " << i;
    EXPECT_FLOAT_EQ(g_seen[i].my, i == 1 ? 68 : 268) << "click " << i;
  }

  push_key(SDLK_RETURN);
  push_key(SDLK_RETURN, KMOD_NONE, false);
  MACIBM_event_proc();
  EXPECT_EQ(g_seen.back().ret, 1) << "Return through SDL sets return_hit";
  push_key(SDLK_ESCAPE);
  MACIBM_event_proc();
  EXPECT_EQ(g_seen.back().esc, 1) << "Escape through SDL sets escape_hit";
  push_key(SDLK_KP_5, KMOD_NUM);
  MACIBM_event_proc();
  EXPECT_EQ(mnw.key_pressed, '5') << "keypad digits with Num Lock give digits";
}

TEST_F(WindowTest, SdlKeysTranslateToTheFrameworkCodes) {
  struct row {
    SDL_Keycode sym;
    Uint16 mod;
    int vkey, ch;  // after the whole translation
  };
  const row rows[] = {
      {SDLK_a, KMOD_NONE, 'A', 'a'},
      {SDLK_a, KMOD_LSHIFT, 'A', 'A'},
      {SDLK_a, KMOD_CAPS, 'A', 'A'},
      {SDLK_a, KMOD_LCTRL, 'A', 1},
      {SDLK_1, KMOD_LSHIFT, '1', '!'},
      {SDLK_RETURN, KMOD_NONE, 13, 13},
      {SDLK_KP_ENTER, KMOD_NONE, 13, 13},
      {SDLK_ESCAPE, KMOD_NONE, 27, 27},
      {SDLK_BACKSPACE, KMOD_NONE, 8, 8},
      {SDLK_DELETE, KMOD_NONE, 46, 46},
      {SDLK_HOME, KMOD_NONE, 36, 36},
      {SDLK_LEFT, KMOD_NONE, 37, 28},
      {SDLK_UP, KMOD_NONE, 38, 30},
      {SDLK_RIGHT, KMOD_NONE, 39, 29},
      {SDLK_DOWN, KMOD_NONE, 40, 31},
      {SDLK_KP_0, KMOD_NUM, 96, '0'},
      {SDLK_KP_9, KMOD_NUM, 105, '9'},
      {SDLK_KP_PERIOD, KMOD_NUM, 110, '.'},
      {SDLK_KP_8, KMOD_NONE, 38, 30},  // without Num Lock the keypad navigates
      {SDLK_SEMICOLON, KMOD_LSHIFT, 181, ':'},
      {SDLK_SLASH, KMOD_NONE, 184, '/'},
      {SDLK_F5, KMOD_NONE, 116, 116},
  };
  for (const row& r : rows) {
    push_key(r.sym, r.mod);
    plat_event ev;
    const bool got = last_key_down(&ev);
    ASSERT_TRUE(got) << SDL_GetKeyName(r.sym) << " mod " << r.mod << ": the key event arrives";
    const key_translation t = translate_key(true, ev.key);
    EXPECT_EQ(t.vkey, r.vkey) << SDL_GetKeyName(r.sym) << " mod " << r.mod << ": key code";
    EXPECT_EQ(t.ch, r.ch) << SDL_GetKeyName(r.sym) << " mod " << r.mod << ": character";
  }
  plat_event ev;
  push_key(SDLK_LSHIFT);
  ASSERT_TRUE(last_key_down(&ev));
  EXPECT_TRUE(translate_key(true, ev.key).modifier) << "Shift is a modifier";
  push_key(SDLK_CAPSLOCK);
  ASSERT_TRUE(last_key_down(&ev));
  EXPECT_TRUE(translate_key(true, ev.key).ignored) << "Caps Lock is ignored";
}

TEST_F(WindowTest, PointerHiddenAfterTenStillSeconds) {
  uint64_t now = 1'000'000;
  xtim_set_clock([&now] { return now; });
  push_click(300, 300);
  MACIBM_event_proc();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE) << "the pointer shows while the mouse moves";
  now += 11'000'000;
  MACIBM_event_proc();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << "after 10 s without movement it is hidden";
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = window_id();
  e.motion.x = 320;
  e.motion.y = 320;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  now += 10'000;
  MACIBM_event_proc();
  xtim_set_clock(nullptr);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE) << "a movement brings it back";
}

TEST_F(WindowTest, ClosingTheWindowEndsTheLoop) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = window_id();
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  MACIBM_event_proc();
  EXPECT_EQ(app_done, 1) << "the window's close button ends the main loop";
}

TEST_F(WindowTest, DrawnAlertReturnsOnReturn) {
  const int frames = xtim.total_frames;
  push_key(SDLK_RETURN);
  MACIBM_alert(0, "Something went wrong.", "", "", "", t_alert, "window_test", 1);
  EXPECT_EQ(mnw.top_win_now, 0) << "the alert returns to the window it was given";
  EXPECT_EQ(in_alert, 0) << "the alert is over";
  EXPECT_GE(xtim.total_frames, frames + 1) << "the alert ran its own pump passes";
  EXPECT_EQ(return_hit, 0) << "the Return was used up by the alert";
  EXPECT_TRUE(g_seen.empty()) << "the application is not updated under the alert";
}

TEST_F(WindowTest, DrawnAlertButtonClick) {
  // Alert window 420 x 250 centred: origin (302, 259); the button is
  // centred at (210, 18) in it, i.e. client (512, 277) from the bottom.
  push_click(512, 768 - 277);
  MACIBM_alert(0, "Click the button.", "", "", "", t_alert, "window_test", 2);
  EXPECT_EQ(mnw.top_win_now, 0) << "a click on the button ends the alert";
}

TEST_F(WindowTest, ReturnPressedBeforeTheAlertDoesNotDismissIt) {
  return_hit = 1;  // a Return of the caller's pass
  push_key(SDLK_ESCAPE);
  push_key(SDLK_RETURN);
  const int frames = xtim.total_frames;
  MACIBM_alert(0, "Read me first.", "", "", "", t_alert, "window_test", 3);
  EXPECT_GE(xtim.total_frames, frames + 1)
      << "the alert was on screen for at least one pass before the Return";
}

TEST_F(WindowTest, FatalAlertEndsTheProgramAfterReturn) {
  push_key(SDLK_RETURN);
  EXPECT_THROW(MACIBM_alert(0, "Fatal.", "", "", "", t_exit, "window_test", 4), testsupport::fatal_alert_exit)
      << "a fatal alert ends the process after its button";
  finished_ = true;
  EXPECT_FALSE(plat_win_exists()) << "the window was shut down before the end";
  EXPECT_EQ(app_done, 1) << "the main loop is told to end";
}

TEST_F(WindowTest, ClosingTheWindowUnderAnAlertReturns) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = window_id();
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  MACIBM_alert(0, "Nobody will press this.", "", "", "", t_alert, "window_test", 5);
  EXPECT_EQ(app_done, 1) << "the close ends the program's loop";
  EXPECT_EQ(mnw.top_win_now, 0) << "instead of waiting under the alert forever";
}

TEST_F(WindowTest, StatusScreenCountsItsCalls) {
  const int before = counter_now;
  MACIBM_show_init("Testing.", nullptr);
  EXPECT_EQ(counter_now, before + 1) << "a call without a fraction advances the counter";
  float f = 0.5f;
  MACIBM_show_init("Testing.", &f);
  EXPECT_EQ(counter_now, before + 1) << "a call with a fraction does not";
}

// Real X input: xdotool sends the events to this process's window.
TEST_F(WindowTest, XdotoolClickAndReturn) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(SDL_GL_GetCurrentWindow(), &info)) << SDL_GetError();
  ASSERT_EQ(info.subsystem, SDL_SYSWM_X11) << "the test needs X11";
  const std::string id = std::to_string(static_cast<unsigned long>(info.info.x11.window));

  // --sync waits until the pointer is there. SDL places a press at the last
  // pointer position it saw in its window; when another test program's
  // window covers ours on the shared X server, the movement goes there, so
  // the position is compared only when the pointer is over this window.
  std::string where;
  ASSERT_EQ(testsupport::run("timeout 20 xdotool mousemove --sync --window " + id +
                                 " 400 300 getmouselocation --shell click --window " + id + " 1",
                             &where),
            0)
      << "xdotool must be installed";
  int px = -1, py = -1;
  unsigned long under = 0;
  ASSERT_EQ(std::sscanf(where.c_str(), "X=%d Y=%d SCREEN=%*d WINDOW=%lu", &px, &py, &under), 3) << where;
  EXPECT_TRUE(pump_until([] { return !g_seen.empty() && g_seen.back().clicked; }))
      << "an X button press reaches mouse_clicked";
  if (std::to_string(under) == id) {
    EXPECT_FLOAT_EQ(g_seen.back().mx, px) << "at the pointer's x (the window is at the screen's left edge)";
    EXPECT_FLOAT_EQ(g_seen.back().my, 768 - py) << "and y, counted up from the bottom";
  }

  ASSERT_EQ(testsupport::run("timeout 20 xdotool key --window " + id + " Return"), 0);
  EXPECT_TRUE(pump_until([] { return !g_seen.empty() && g_seen.back().ret; }))
      << "an X Return key reaches return_hit";
}

}  // namespace
