// A pass whose APP_update has work in progress (an install) is not idle: the
// next pass starts without the idle wait for input. Seen through the pump's
// own profile marks, which name the wait ("event3") only when it was taken.
#include <gtest/gtest.h>

#include <string>

#include "installer/model.h"
#include "platform/window.h"
#include "support/test_support.h"
#include "ui/hl_mnw.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

bool g_busy = false;
void app_pass() {
  xer << "[pass]";
  if (g_busy) MACIBM_not_idle();
}

int count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

TEST(PumpBusy, PassesAfterWorkSkipTheIdleWait) {
  testsupport::TempDir dir;
  log_open(dir / "Log.txt");
  plat_win_set_headless(true);
  std::string why;
  ASSERT_TRUE(plat_win_create("Skyroot", 0, 0, 1024, 768, true, 32, &why)) << why;
  mnw = mnw_class{};
  win_started = 0;
  stg.use_max_cpu = 0;
  mnw.track_cpu = 1;
  MACIBM_set_app_update(app_pass);

  g_busy = false;
  MACIBM_event_proc();
  MACIBM_event_proc();
  g_busy = true;
  MACIBM_event_proc();  // still waited: the flag is raised during this pass
  MACIBM_event_proc();
  MACIBM_event_proc();
  g_busy = false;
  MACIBM_event_proc();  // the last busy pass's flag still counts here
  MACIBM_event_proc();  // idle again
  xer.flush();
  const std::string log = testsupport::read_file(dir / "Log.txt");
  EXPECT_EQ(count(log, "[pass]"), 7) << "every pass ran the application";
  EXPECT_EQ(count(log, "event3:"), 4)
      << "the idle wait is taken on the first three passes and the last, never right after a busy pass";

  mnw.track_cpu = 0;
  MACIBM_set_app_update(nullptr);
  plat_win_destroy();
  log_close();
}

}  // namespace
