// Pump passes on the software renderer record their drawing and, when a frame
// covers the window like the one before, draw again only where the two
// differ. These tests draw the same sequences of frames with and without
// that, and compare every byte of the window after each frame.
#include <GL/gl.h>
#include <gtest/gtest.h>
// X11 (through SDL_syswm.h) defines macros that clash with GoogleTest.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gl_fixture.h"
#include "platform/window.h"
#include "ui/butn.h"
#include "ui/oglp.h"
#include "ui/tman.h"

namespace {

using uitest::GlTest;
using uitest::kH;
using uitest::kW;

using frame_fn = std::function<void(int frame)>;

class PartialRedraw : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    OGL_forget_frames();
  }
  void TearDown() override {
    OGL_allow_partial_redraw(true);
    OGL_forget_frames();
    GlTest::TearDown();
  }
  // One pump-like pass: recorded drawing, then the swap.
  static void pass(const frame_fn& draw, int frame) {
    OGL_begin_frame();
    draw(frame);
    OGL_sbuff();
    OGL_end_frame();
  }
  // Runs `frames` passes with partial redraws on or off and returns the
  // window after each, with the pixels each partial pass drew again.
  std::vector<std::vector<std::uint8_t>> run(const frame_fn& draw, int frames, bool partial,
                                             std::vector<long>* redrawn = nullptr) {
    OGL_allow_partial_redraw(partial);
    OGL_forget_frames();
    std::vector<std::vector<std::uint8_t>> shots;
    for (int f = 0; f < frames; ++f) {
      pass(draw, f);
      if (redrawn) redrawn->push_back(OGL_last_redrawn_pixels());
      shots.push_back(read(0, 0, kW, kH));
    }
    return shots;
  }
  void expect_same_windows(const frame_fn& draw, int frames, std::vector<long>* redrawn = nullptr) {
    const auto whole = run(draw, frames, false);
    const auto partial = run(draw, frames, true, redrawn);
    for (int f = 0; f < frames; ++f) {
      ASSERT_TRUE(whole[f] == partial[f]) << "frame " << f << " differs from the whole redraw";
    }
  }

  // A main-screen-like frame: the background picture, translucent frames,
  // a progress bar, lines and texts; `f` moves the bar and changes a number.
  static void installing_screen(int f) {
    OGL_2dquad(kTexBackground, 49, 1.0f, 0, 0, 0, 0, 0, 768, 0, 0.75f, 1024, 768, 1, 0.75f, 1024, 0, 1, 0, 1,
               5);
    OGL_fillrect(41, 0.5f, 100, 100, 400, 200);
    BTN_frame1(4, 512, 60, 800, 0);
    BTN_frame1(5, 112 + f * 20.0f, 60, 40.0f + f * 40.0f, 0);
    OGL_line(45, 1.0f, 10, 700, 1000, 700);
    OGL_string(49, 120, 250, "Downloading file " + std::to_string(100 + f * 7) + " of 1500", 9999,
               kCharsetProportional, kJustLeft);
    OGL_string(49, 600, 400, "This text stays where it is.", 9999, kCharsetProportional, kJustLeft);
    OGL_fillrect(45, 1.0f, 800 - f * 60.0f, 600, 30, 30);  // moves: its old place must be drawn again
    if (f == 3) OGL_fillrect(44, 1.0f, 700, 500, 50, 50);  // shown for one frame only
  }
};

TEST_F(PartialRedraw, ChangingFramesMatchWholeRedrawsByteForByte) {
  std::vector<long> redrawn;
  expect_same_windows(installing_screen, 6, &redrawn);
  ASSERT_EQ(redrawn.size(), 6u);
  EXPECT_EQ(redrawn[0], -1) << "the first frame has nothing to compare with: drawn whole";
  for (int f = 1; f < 6; ++f) {
    EXPECT_GT(redrawn[f], 0) << "frame " << f << " changed the bar and the number";
    EXPECT_LT(redrawn[f], kW * kH) << "frame " << f << ": only the changed part is drawn again";
  }
}

TEST_F(PartialRedraw, AnUnchangedFrameDrawsNothingAndStaysShown) {
  std::vector<long> redrawn;
  const frame_fn still = [](int) { installing_screen(2); };
  expect_same_windows(still, 3, &redrawn);
  EXPECT_EQ(redrawn[1], 0);
  EXPECT_EQ(redrawn[2], 0);
}

// A frame that does not begin by covering the window draws over what the
// back buffer holds: it is drawn whole, exactly as it would be at once.
// Here a translucent overlay drawn in two passes darkens twice.
TEST_F(PartialRedraw, AFrameOverThePreviousOneIsDrawnWhole) {
  std::vector<long> redrawn;
  const frame_fn overlay = [](int f) {
    if (f == 0) {
      installing_screen(0);
    } else {
      OGL_fillrect(44, 0.5f, 200, 200, 300, 100);
    }
  };
  expect_same_windows(overlay, 3, &redrawn);
  EXPECT_EQ(redrawn[1], -1);
  EXPECT_EQ(redrawn[2], -1);
  // And a covering frame after an overlay is drawn whole again: the back
  // buffer no longer holds what the recorded frame before drew.
  redrawn.clear();
  const frame_fn back = [](int f) {
    if (f == 1) {
      OGL_fillrect(44, 0.5f, 200, 200, 300, 100);
    } else {
      installing_screen(0);
    }
  };
  expect_same_windows(back, 3, &redrawn);
  EXPECT_EQ(redrawn[2], -1);
}

// A pass inside a pass (a drawn alert) does not lose what the outer pass
// recorded before it, and drawing left without a swap is drawn at the end.
TEST_F(PartialRedraw, NestedPassesKeepTheOuterDrawing) {
  OGL_allow_partial_redraw(true);
  OGL_begin_frame();
  OGL_fillrect(44, 1.0f, 0, 0, kW, kH);
  OGL_begin_frame();
  OGL_fillrect(41, 1.0f, 10, 10, 20, 20);
  OGL_sbuff();
  OGL_end_frame();
  OGL_fillrect(45, 1.0f, 100, 100, 20, 20);  // after the inner swap, no swap of its own
  OGL_end_frame();
  const auto bg = pixel(500, 500), inner = pixel(15, 15), left = pixel(105, 105);
  EXPECT_FALSE(is_black(bg)) << "the outer pass's background was drawn";
  EXPECT_NE(inner, bg) << "the inner pass's square";
  EXPECT_NE(left, bg) << "drawing after the last swap is drawn when the outer pass ends";
  EXPECT_NE(left, inner);
}

// What the X server shows of the window at (x, y) of its client area
// (origin top-left), as red, green, blue.
std::array<int, 3> on_screen(XImage* img, int x, int y) {
  const unsigned long p = XGetPixel(img, x, y);
  auto channel = [p](unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    return static_cast<int>((p >> shift) & mask);
  };
  return {channel(img->red_mask), channel(img->green_mask), channel(img->blue_mask)};
}

// True when no window of another program lies over `win` on the shared test
// display (the X server shows such a window's pixels, not ours).
bool nothing_over(Display* dpy, ::Window win) {
  ::Window root = 0, parent = 0, *kids = nullptr;
  unsigned n = 0;
  XWindowAttributes mine;
  if (!XGetWindowAttributes(dpy, win, &mine) ||
      !XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &kids, &n))
    return false;
  bool above = false, clear = true;
  for (unsigned i = 0; i < n && clear; ++i) {  // bottom to top
    if (kids[i] == win) {
      above = true;
      continue;
    }
    XWindowAttributes a;
    if (!above || !XGetWindowAttributes(dpy, kids[i], &a) || a.map_state != IsViewable) continue;
    clear = a.x >= mine.x + mine.width || a.x + a.width <= mine.x || a.y >= mine.y + mine.height ||
            a.y + a.height <= mine.y;
  }
  if (kids) XFree(kids);
  return clear;
}

// Without a compositor an uncovered window shows what lay over it until it
// is drawn again, and a frame like the one before draws and shows nothing:
// the uncovering must make the next frame shown whole.
TEST_F(PartialRedraw, AnUncoveredWindowIsShownWholeAgain) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(SDL_GL_GetCurrentWindow(), &info)) << SDL_GetError();
  ASSERT_EQ(info.subsystem, SDL_SYSWM_X11) << "the test needs X11";
  Display* dpy = info.info.x11.display;
  const ::Window win = info.info.x11.window;

  const frame_fn still = [](int) { installing_screen(2); };
  OGL_allow_partial_redraw(true);
  plat_win_take_damaged();
  pass(still, 0);
  pass(still, 1);
  if (OGL_last_redrawn_pixels() != 0) GTEST_SKIP() << "this renderer draws every frame whole";
  const auto picture = read(0, 0, kW, kH);

  // Another window over ours, magenta, then gone (plain X: the server paints
  // its background; the window manager, if any, is bypassed).
  int x = 0, y = 0;
  plat_win_client_pos(&x, &y);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = 0xFF00FF;
  const ::Window cover = XCreateWindow(dpy, DefaultRootWindow(dpy), x, y, kW, kH, 0, CopyFromParent,
                                       InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  XMapRaised(dpy, cover);
  XSync(dpy, False);
  XDestroyWindow(dpy, cover);
  XSync(dpy, False);
  if (!nothing_over(dpy, win)) GTEST_SKIP() << "another program's window lies over this one";
  XImage* img = XGetImage(dpy, win, 0, 0, kW, kH, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  const auto uncovered = on_screen(img, 500, 300);
  XDestroyImage(img);
  if (uncovered != std::array<int, 3>{255, 0, 255})
    GTEST_SKIP() << "this X server keeps a covered window's pixels: nothing is lost to draw again";

  // The pump's drain takes the expose event; the next pass changes nothing.
  bool exposed = false;
  plat_event ev;
  while (plat_win_poll(&ev)) exposed = exposed || ev.type == pev_expose;
  EXPECT_TRUE(exposed) << "uncovering the window is an expose event";
  pass(still, 2);
  EXPECT_EQ(OGL_last_redrawn_pixels(), -1) << "drawn whole";
  XSync(dpy, False);
  if (!nothing_over(dpy, win)) GTEST_SKIP() << "another program's window lies over this one";
  img = XGetImage(dpy, win, 0, 0, kW, kH, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  int wrong = 0, first_x = -1, first_y = -1;
  for (int row = 0; row < kH; ++row) {
    for (int col = 0; col < kW; ++col) {
      const std::uint8_t* want = &picture[(static_cast<std::size_t>(kH - 1 - row) * kW + col) * 4];
      const auto got = on_screen(img, col, row);
      if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) {
        if (wrong++ == 0) first_x = col, first_y = row;
      }
    }
  }
  XDestroyImage(img);
  EXPECT_EQ(wrong, 0) << "pixels on screen unlike the picture, the first at (" << first_x << ", " << first_y
                      << ") from the top-left";
}

}  // namespace
