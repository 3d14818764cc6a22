// The progress report of a run without a window: its text and how it is
// written to a terminal or to a file.
#include "installer/batch.h"

#include <gtest/gtest.h>

namespace {

struct text_case {
  batch_progress p;
  const char* text;
  const char* why;
};

TEST(BatchProgress, TextNamesPercentSizesRateTimeLeftAndFile) {
  const text_case cases[] = {
      {{0, 30000, 0, -1, ""}, "  0% 0.0 MB of 30.0 MB", "rate and time left unknown at the start"},
      {{12600, 30000, 1200, 15, "Airfoils/NACA 2400.afl"},
       " 42% 12.6 MB of 30.0 MB, 1.2 MB/s, 0:15 left, Airfoils/NACA 2400.afl",
       "every part"},
      {{30000, 30000, 800, 0, "x"}, "100% 30.0 MB of 30.0 MB, 0.8 MB/s, 0:00 left, x", "done"},
      {{31000, 30000, 0, -1, ""}, "100% 31.0 MB of 30.0 MB", "the percentage never passes 100"},
      {{10, 0, 0, -1, ""}, "  0% 0.0 MB of 0.0 MB", "nothing to install is not a division by zero"},
      {{1, 2, 0.5f, 3725, ""}, " 50% 0.0 MB of 0.0 MB, 0.0 MB/s, 1:02:05 left", "hours"},
  };
  for (const text_case& c : cases) EXPECT_EQ(batch_progress_text(c.p), c.text) << c.why;
}

TEST(BatchProgress, OutputIsRewrittenOnATerminalAndALineOtherwise) {
  EXPECT_EQ(batch_progress_output("12% x", false, 0), "12% x\n") << "a file gets plain lines";
  EXPECT_EQ(batch_progress_output("12% x", true, 80), "\r12% x\033[K")
      << "a terminal's line is rewritten and its old tail erased";
  EXPECT_EQ(batch_progress_output("abcdefghij", true, 5), "\rabcd\033[K")
      << "cut to the terminal's width less one, so it never wraps";
  EXPECT_EQ(batch_progress_output("ab\xc3\xa9xyz", true, 4), "\rab\033[K")
      << "never cut inside a UTF-8 character";
}

}  // namespace
