#include <gtest/gtest.h>

#include "installer/model.h"

TEST(Model, StartValuesAndStreamReset) {
  EXPECT_EQ(stg.num_servers, -1) << "server list not read yet is -1, not 0";
  EXPECT_EQ(install_name, "Not Yet Scanned");
  next.dir_done = 1;
  next.comp_down = 5;
  reset_streams();
  // Internet installer: two streams start, the other two stay idle.
  EXPECT_EQ(next.stream_active[0] + next.stream_active[1], 2);
  EXPECT_EQ(next.stream_waiting[0] + next.stream_waiting[1], 2);
  EXPECT_EQ(next.stream_active[2] + next.stream_active[3], 0);
  EXPECT_EQ(next.stream_waiting[2] + next.stream_waiting[3], 0);
  EXPECT_EQ(next.comp_down, 0.0f);
  EXPECT_EQ(next.dir_done, 1) << "reset leaves dir_done alone";
}

TEST(Model, PlatformSixAppliesOnlyToPlatformThree) {
  EXPECT_TRUE(os_type_applies(6, 3));
  EXPECT_FALSE(os_type_applies(6, 2));
  EXPECT_TRUE(os_type_applies(0, 2));
  EXPECT_FALSE(os_type_applies(1, 2));
}
