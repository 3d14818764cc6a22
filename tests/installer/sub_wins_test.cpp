#include "installer/sub_wins.h"

#include <gtest/gtest.h>

#include "installer/main.h"
#include "installer/model.h"

TEST(ImageButton, AtlasRectangleMovesDownOnlyWhenHighlighted) {
  EXPECT_EQ(interface_rect_t(166, 22, true, true, false), 166 - 23) << "mouse over: dt + 1 lower";
  EXPECT_EQ(interface_rect_t(166, 22, true, true, true), 166 - 46) << "held: 2 (dt + 1) lower";
  EXPECT_EQ(interface_rect_t(166, 22, false, true, true), 166) << "a disabled button never changes look";
  EXPECT_EQ(interface_rect_t(166, 22, true, false, true), 166) << "mouse elsewhere: normal look";
}

TEST(ImageButton, EdgePixelsCountAsInside) {
  EXPECT_TRUE(interface_rect_contains(450, 78, 83, 22, 450, 78));
  EXPECT_TRUE(interface_rect_contains(450, 78, 83, 22, 533, 100));
  EXPECT_FALSE(interface_rect_contains(450, 78, 83, 22, 533.5f, 90));
  EXPECT_FALSE(interface_rect_contains(450, 78, 83, 22, 460, 77.9f));
}

TEST(ImageButton, IconCells) {
  float s, t;
  interface_icon_cell(21, &s, &t);
  EXPECT_EQ(s, 320);
  EXPECT_EQ(t, 194);
  interface_icon_cell(8, &s, &t);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(t, 130);
}

TEST(Driver, DefaultDestinationIsInTheHomeFolder) {
  EXPECT_EQ(default_dest_dir("/home/pat/"), "/home/pat/Skyvane 9/");
  EXPECT_EQ(default_dest_dir("/home/pat"), "/home/pat/Skyvane 9/");
}

TEST(Driver, StatusLineFollowsTheFirstMatchingState) {
  const stg_class saved_stg = stg;
  const next_class saved_next = next;
  stg = stg_class{};
  next = next_class{};
  EXPECT_EQ(main_status_line(0, 0).text, "Looking for servers... you need internet for this...");
  stg.num_servers = 0;
  EXPECT_EQ(main_status_line(0, 0).col, 1) << "no servers is an error";
  stg.num_servers = 2;
  EXPECT_NE(main_status_line(-1, 0).text.find("connecting to the server"), std::string::npos);
  stg.dir_scan = 3;
  EXPECT_NE(main_status_line(0, 1).text.find("that installation  by just"), std::string::npos)
      << "an existing installation is updated (two blanks are the product's text)";
  stg.step = 1;
  EXPECT_EQ(main_status_line(0, 1).text, "OK I am installing this now...");
  next.dir_done = 1;
  EXPECT_EQ(main_status_line(0, 1).text, "Installation Complete!") << "completion wins over every other row";
  EXPECT_EQ(main_status_line(0, 1).col, 13);
  stg = saved_stg;
  next = saved_next;
}
