// Alert paths that need no window: logging, the location, the fatal end,
// --fps_test, the recursive case, the drawn handler hand-off and the
// message-box text.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {
int g_shutdowns = 0;
void count_shutdown() {
  ++g_shutdowns;
}

struct drawn_call {
  int return_win;
  std::string lines[4];
  int type;
  std::string location;
};
std::vector<drawn_call> g_drawn;
void record_drawn(int return_win, const std::string lines[4], int type, const std::string& location) {
  g_drawn.push_back({return_win, {lines[0], lines[1], lines[2], lines[3]}, type, location});
}

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cmdline.clear();
    in_alert = 0;
    ogl_inited = 0;
    g_shutdowns = 0;
    g_drawn.clear();
    log_open(dir_ / "Log.txt");
    alert_set_crash_folder(dir_.path());
    alert_set_shutdown(count_shutdown);
    alert_set_observer([this](const alert_record& r) { seen_.push_back(r); });
  }
  void TearDown() override {
    alert_set_observer(nullptr);
    alert_set_shutdown(nullptr);
    alert_set_drawn_handler(nullptr);
    alert_set_crash_folder("");
    cmdline.clear();
    in_alert = 0;
    ogl_inited = 0;
    log_close();
  }
  std::string log_text() {
    xer.flush();
    return testsupport::read_file(dir_ / "Log.txt");
  }
  // Runs an alert that should end the program; returns the exit code.
  int fatal_code(int type, const char* l1 = "fatal") {
    try {
      MACIBM_alert(0, l1, "", "", "", type, "src", 9);
    } catch (const testsupport::fatal_alert_exit& e) {
      return e.code;
    }
    return -1;
  }
  testsupport::TempDir dir_;
  std::vector<alert_record> seen_;
};

TEST_F(AlertTest, WarningIsObservedAndLogged) {
  MACIBM_alert(0, "first", "second", "", "fourth", t_alert, "main", 210);
  ASSERT_EQ(seen_.size(), 1u) << "the observer sees the alert";
  EXPECT_EQ(seen_[0].l1, "first");
  EXPECT_EQ(seen_[0].l2, "second");
  EXPECT_EQ(seen_[0].l4, "fourth");
  EXPECT_EQ(seen_[0].type, t_alert);
  EXPECT_EQ(seen_[0].file, "main");
  EXPECT_EQ(seen_[0].line, 210);
  EXPECT_FALSE(seen_[0].recursive);
  EXPECT_EQ(in_alert, 0) << "cleared when the alert returns";
  EXPECT_EQ(g_shutdowns, 0) << "a warning does not shut down";

  const std::string log = log_text();
  const std::string heading =
      "This is the dump_mem_stats call from the following code: "
      "if(type==t_exit || type == t_alert || recursive_error)\n";
  size_t h = log.find(heading);
  ASSERT_NE(h, std::string::npos) << "the heading of the log entry:\n" << log;
  EXPECT_NE(log.find("VmRSS:", h), std::string::npos) << "memory statistics under the heading";
  EXPECT_NE(log.find("\nfirst\nsecond\n\nfourth\n(main line 210)\n", h), std::string::npos)
      << "the four lines and the location, each on its own line:\n"
      << log;
  EXPECT_FALSE(testsupport::file_exists(dir_ / "stack_crawl.txt")) << "no stack trace for a warning";
}

TEST_F(AlertTest, LanguageChoiceAndOtherTypesAreNotLogged) {
  MACIBM_alert(0, "", "", "", "", t_lang_choice, "hl_init", 1);
  MACIBM_alert(0, "odd", "", "", "", 7, "x", 2);
  EXPECT_EQ(seen_.size(), 2u);
  EXPECT_EQ(log_text().find("dump_mem_stats"), std::string::npos) << "types 0 and others log nothing";
}

TEST_F(AlertTest, FatalEndsAfterShutdownWithStackCrawl) {
  EXPECT_EQ(fatal_code(t_exit, "Bad ouf_open type!"), 3) << "abnormal end after a fatal alert";
  EXPECT_EQ(g_shutdowns, 1) << "the framework's shut-down runs before the end";
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(in_alert, 0) << "reset even when the end unwinds";
  const std::string crawl = testsupport::read_file(dir_ / "stack_crawl.txt");
  EXPECT_NE(crawl.find("(src line 9)"), std::string::npos) << "the trace names the alert:\n" << crawl;
  EXPECT_NE(crawl.find("Bad ouf_open type!"), std::string::npos);
  EXPECT_EQ(fatal_code(t_exit), 3);
  const std::string crawl2 = testsupport::read_file(dir_ / "stack_crawl.txt");
  EXPECT_GT(crawl2.size(), crawl.size()) << "stack_crawl.txt is appended to, not replaced";
}

// The frame-rate test and a run without a window (--batch) have nobody to
// press a button: alerts are logged and observed, and a fatal one ends with 1.
TEST_F(AlertTest, UnattendedRunsLogOnlyAndFatalExitsWithOne) {
  for (const char* option : {"--fps_test", "--batch"}) {
    cmdline.options.clear();
    seen_.clear();
    g_shutdowns = 0;
    cmdline.options[option] = "";
    MACIBM_alert(0, "a", "b", "c", "d", t_alert, "oglp", 44);
    ASSERT_EQ(seen_.size(), 1u) << option;
    EXPECT_TRUE(seen_[0].unattended) << "never shown under " << option;
    EXPECT_NE(log_text().find("a\nb\nc\nd\n(oglp line 44)\n"), std::string::npos) << log_text();
    EXPECT_EQ(fatal_code(t_exit), 1) << "a fatal alert under " << option << " ends with exit code 1";
    EXPECT_EQ(g_shutdowns, 0) << option;
  }
}

TEST_F(AlertTest, RecursiveAlertEndsTheProgram) {
  in_alert = 1;  // as if raised from inside another alert's pump passes
  EXPECT_EQ(fatal_code(t_alert, "inner"), 3) << "a recursive alert ends the program after it is dismissed";
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_TRUE(seen_[0].recursive);
  EXPECT_EQ(g_shutdowns, 1);
  EXPECT_NE(log_text().find("dump_mem_stats"), std::string::npos) << "a recursive alert is always logged";
  EXPECT_EQ(in_alert, 1) << "the outer alert's flag is left to the outer alert";
}

TEST_F(AlertTest, AlertInsideObserverIsRecursive) {
  bool inner_done = false;
  alert_set_observer([&](const alert_record& r) {
    seen_.push_back(r);
    if (!inner_done) {
      inner_done = true;
      MACIBM_alert(0, "nested", "", "", "", t_alert, "n", 1);
    }
  });
  EXPECT_THROW(MACIBM_alert(0, "outer", "", "", "", t_alert, "o", 1), testsupport::fatal_alert_exit);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_TRUE(seen_[1].recursive) << "an alert raised while one is handled is recursive";
  EXPECT_EQ(in_alert, 0);
}

TEST_F(AlertTest, DrawnHandlerGetsLinesWhenGlIsUp) {
  alert_set_observer(nullptr);
  alert_set_drawn_handler(record_drawn);
  ogl_inited = 1;
  MACIBM_alert(-1, "l1", "", "l3", "", t_alert, "utils", 5);
  ASSERT_EQ(g_drawn.size(), 1u) << "with GL up the drawn alert shows it";
  EXPECT_EQ(g_drawn[0].return_win, -1);
  EXPECT_EQ(g_drawn[0].lines[2], "l3");
  EXPECT_EQ(g_drawn[0].location, "(utils line 5)");
  MACIBM_alert(0, "", "", "", "", t_alert, "utils", 6);
  EXPECT_EQ(g_drawn.size(), 1u) << "four empty lines show nothing";
  EXPECT_NE(log_text().find("\n\n\n\n\n(utils line 6)\n"), std::string::npos)
      << "but the empty lines are still logged";
}

TEST_F(AlertTest, WithoutGlTheMessageBoxPathIsTaken) {
  // No display at all: the box cannot open, so the text goes to standard
  // error instead of being lost (and nothing waits for a click).
  alert_set_observer(nullptr);
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  std::string wayland = getenv("WAYLAND_DISPLAY") ? getenv("WAYLAND_DISPLAY") : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ::testing::internal::CaptureStderr();
  MACIBM_alert(0, "one", "two", "", "four", t_alert, "hl_init", 3);
  std::string err = ::testing::internal::GetCapturedStderr();
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
  EXPECT_NE(err.find("Skyroot Message:\none\n\ntwo\n\n\n\nfour\n"), std::string::npos)
      << "the box's title and text, lines joined by blank lines: " << err;
  EXPECT_NE(log_text().find("one\ntwo\n\nfour\n(hl_init line 3)\n"), std::string::npos) << "and logged";
  EXPECT_EQ(g_shutdowns, 0);
}

TEST(AlertText, MessageBoxTextAndLocation) {
  EXPECT_EQ(alert_box_text("a", "b", "", "d"), "a\n\nb\n\n\n\nd") << "lines joined by blank lines";
  std::string long_line(3000, 'x');
  EXPECT_EQ(alert_box_text(long_line, "", "", "").size(), 1999u) << "fits the 2000-byte buffer";
  std::string utf(1998, 'y');
  utf += "\xC3\xA9";  // 'é' straddles the cut
  std::string cut = alert_box_text(utf, "", "", "");
  EXPECT_EQ(cut.size(), 1998u) << "a character is never split";
  EXPECT_EQ(alert_location("IO_UTILS", 1090), "(IO_UTILS line 1090)");
  EXPECT_EQ(int_to_str(7, 3, 0), "007");
  EXPECT_EQ(int_to_str(-42, 1, 1), "-42");
  EXPECT_EQ(int_to_str(5, 1, 1), "+5");
  EXPECT_EQ(int_to_str(-2147483647 - 1, 1, 0), "-2147483648") << "the smallest int";
}
}  // namespace
