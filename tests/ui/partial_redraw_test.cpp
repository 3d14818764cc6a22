// Pump passes on the software renderer record their drawing and, when a frame
// covers the window like the one before, draw again only where the two
// differ. These tests draw the same sequences of frames with and without
// that, and compare every byte of the window after each frame.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gl_fixture.h"
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

}  // namespace
