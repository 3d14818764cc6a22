#include "installer/screen_text.h"

#include <gtest/gtest.h>

TEST(SizeText, UnitIsChosenBeforeRounding) {
  EXPECT_EQ(size_str(999949.0f), "999.9 Meg");
  EXPECT_EQ(size_str(999990.0f), "1000.0 Meg") << "rounding must not switch the unit";
  EXPECT_EQ(size_str(1000000.0f), "1.0 Gig");
  EXPECT_EQ(size_str(2000000.0f), "2.0 Gig");
  EXPECT_EQ(size_str(0.0f), "0.0 Meg");
  EXPECT_EQ(size_str(2970.0f), "3.0 Meg");
  EXPECT_EQ(size_str(1500.0f), "1.5 Meg");
}

TEST(SizeText, NegativeSizesKeepTheirSign) {
  EXPECT_EQ(size_str(-1500.0f), "-1.5 Meg");
  EXPECT_EQ(size_str(-40.0f), "0.0 Meg") << "a value that rounds to zero has no sign";
}

TEST(InstallPercent, OneDecimalWithBlankPad) {
  EXPECT_EQ(install_percent_str(9.96f), "10.0");
  EXPECT_EQ(install_percent_str(5.27f), " 5.3");
  EXPECT_EQ(install_percent_str(42.0f), "42.0");
  EXPECT_EQ(install_percent_str(100.0f), "100.0");
  EXPECT_EQ(install_percent_str(0.0f), " 0.0");
}

TEST(TimeLeft, UnitBoundaries) {
  EXPECT_EQ(time_left_str(119.9f), "119 seconds");
  EXPECT_EQ(time_left_str(120.0f), "2 minutes");
  EXPECT_EQ(time_left_str(7199.0f), "119 minutes");
  EXPECT_EQ(time_left_str(7200.0f), "2 hours");
}

TEST(ManifestDownloadText, ConnectingUntilSizeKnown) {
  EXPECT_NE(manifest_download_text(-1.0f).find("connecting to the server"), std::string::npos);
  EXPECT_NE(manifest_download_text(-0.5f).find("0% done checking."), std::string::npos)
      << "-0.5 cuts to 0, not -1";
  EXPECT_NE(manifest_download_text(57.9f).find("I am 57% done checking."), std::string::npos);
}

TEST(InstallFileLine, ByFileState) {
  EXPECT_EQ(install_file_line(1, "a.zip", 0.256f),
            "Downloading and installing a.zip, currently 25% done with that file.");
  EXPECT_EQ(install_file_line(0, "x", 0), "Deleting x because that file is no longer needed!");
  EXPECT_NE(install_file_line(3, "x", 0).find("don't need"), std::string::npos);
}

TEST(ProgressBar, FrameAndFillAreEvenCentredAndFourWide) {
  const bar_geometry frame = progress_frame(132, 1016);
  EXPECT_EQ(frame.centre_x, 574);
  EXPECT_EQ(frame.width, 884);
  const bar_geometry empty = progress_fill(132, 1016, 0.0f);
  EXPECT_EQ(empty.width, 0);
  const bar_geometry full = progress_fill(132, 1016, 1.0f);
  EXPECT_EQ(full.centre_x, 574);
  EXPECT_EQ(full.width, 884);
  const bar_geometry half = progress_fill(132, 1016, 0.5f);  // x2 = 574
  EXPECT_EQ(half.width % 4, 0);
  EXPECT_EQ(half.centre_x % 2, 0);
  EXPECT_EQ(half.width, 4 * round_half_away((574 - 132) / 4.0f));
}

TEST(ProgressBar, HalvesRoundAwayFromZero) {
  EXPECT_EQ(round_half_away(2.5f), 3);
  EXPECT_EQ(round_half_away(-2.5f), -3);
  EXPECT_EQ(round_half_away(2.49f), 2);
}
