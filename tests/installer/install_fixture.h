#pragma once
// Whole installs without a window, driven the way the driver drives them: a
// release made by the real publisher, served over HTTP, fetched (server list,
// manifest), read and compared, then folders, choice and grab passes until
// the engine ends. Shared by the core's install tests and the fault tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "installer/core_fixture.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "net/http.h"
#include "util/HL_THREAD.h"
#include "util/xtim.h"

namespace coretest {

// A product folder: relative path below the product root -> contents. The
// first component is the master folder ("Master/..."); "Master/bin/" holds
// this platform's programs and "Master/mac/" another platform's.
using product = std::map<std::string, std::string>;

inline bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class InstallTest : public CoreTest {
 protected:
  static constexpr float kRetryPauseFirst = 0.001f, kRetryPauseMost = 0.008f;
  void SetUp() override {
    CoreTest::SetUp();
    // The program's worker pool: archives are expanded on it, as in the
    // program, while the grab goes on.
    THREAD_init();
    THREAD_make_workers();
    stg.log_actions = 1;
    // A server that failed a file waits a millisecond or so, not seconds,
    // before it is asked again: the tests count requests, not time.
    grab_set_retry_pause(kRetryPauseFirst, kRetryPauseMost);
    // A download slot left busy by an earlier failed test would hand its old
    // file to this one.
    release_slots();
  }
  void TearDown() override {
    release_slots();
    grab_set_retry_pause(1.0f, 30.0f);
    THREAD_shutdown();
    CoreTest::TearDown();
  }

  static void release_slots() {
    for (int i = 0; i < http_class::kSlots; ++i) http.abandon(i);
  }

  static std::string publisher() { return std::string(SKYVANE_BINARY_DIR) + "/tools/skyvane-publish"; }

  // Publishes `files` as `release` into `out` listing `mirrors`
  // ("HOST|/dir/|description"), continuing the history of `previous`.
  void publish(const product& files, const std::string& release, const std::string& out,
               const std::vector<std::string>& mirrors, const std::string& previous = "") {
    using testsupport::shell_quote;
    const std::string prod = dir_ / ("product-" + release + "/");
    testsupport::run("rm -rf " + shell_quote(prod));
    for (const auto& [rel, bytes] : files) {
      testsupport::make_dirs(prod + rel.substr(0, rel.rfind('/')));
      testsupport::write_file(prod + rel, bytes);
    }
    testsupport::write_file(dir_ / "platforms", "2 Master/bin/\n1 Master/mac/\n");
    std::string cmd = shell_quote(publisher()) + " --product " + shell_quote(prod) + " --release " +
                      shell_quote(release) + " --out " + shell_quote(out) + " --platforms " +
                      shell_quote(dir_ / "platforms");
    for (const auto& m : mirrors) cmd += " --mirror " + shell_quote(m);
    if (!previous.empty()) cmd += " --previous " + shell_quote(previous);
    // Signed with the demo key, which the core trusts (keys/demo.pub).
    cmd += " --sign " + shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
    std::string output;
    ASSERT_EQ(testsupport::run(cmd + " 2>&1", &output), 0) << output;
  }

  // A wall-clock limit that only stops a broken run from hanging.
  bool time_left() const { return std::chrono::steady_clock::now() < deadline_; }
  void start_clock(int seconds = 120) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }

  // Server list and manifest from `vendor_host`, then the examination:
  // dir_scan 3 when ready.
  void fetch_and_read(const std::string& vendor_host) {
    start_clock();
    while (stg.num_servers == -1 && time_left()) {
      xtim.advance_clock();
      server_list_step(vendor_host);
    }
    ASSERT_GT(stg.num_servers, 0) << "the server list arrived";
    const std::string zip = temp_path + "directory.txt.zip";
    while (stg.dir_scan == 0 && time_left()) {
      xtim.advance_clock();
      const int r = http.net_check(1, server_name[stg.sel_server],
                                   server_path[stg.sel_server] + "directory.txt.zip", zip);
      if (r == 2) pick_server_uniform();
      if (r == 1) {
        if (zip_to_file(zip, temp_path, nullptr, 0) == 0) stg.dir_scan = 1;
        delete_file(zip);
      }
    }
    ASSERT_EQ(stg.dir_scan, 1) << "the manifest arrived and was expanded";
    std::string dir_path = temp_path + "directory.txt";
    stg.dir_scan = read_directory(dir_path, "Scanning directory text file...");
    ASSERT_EQ(stg.dir_scan, 3) << "the manifest was read and compared";
  }

  // Install pressed: folders, choice, then grab passes until the engine ends.
  // Returns choose_files' answer. `before_pass` runs before every pass (a
  // test may move the clock there); it returns false to keep the clock where
  // it put it.
  int install(const std::function<bool()>& before_pass = nullptr) {
    reset_streams();
    stg.got_failed_install = 0;
    make_dirs();
    if (!choose_files()) return 0;
    stg.step = 1;
    start_clock();
    while (stg.step == 1 && time_left()) {
      if (!before_pass || before_pass()) xtim.advance_clock();
      ++passes;
      // The driver's 10 ms slice, in calls rather than time.
      for (int i = 0; i < 50 && stg.step == 1; ++i) {
        if (grab_files()) {
          stg.step = 2;
          ended_comp_down = next.comp_down;
          reset_streams();
        }
      }
    }
    EXPECT_EQ(stg.step, 2) << "the grab ended";
    return 1;
  }

  // The streams' archive files still in the temporary folder ("0.zip",
  // "1b.7z", ...).
  static std::string stream_archives_left() {
    std::string left;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(temp_path, ec)) {
      const std::string name = e.path().filename().string();
      if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) &&
          (name.find(".zip") != std::string::npos || name.find(".7z") != std::string::npos))
        left += name + " ";
    }
    return left;
  }
  int passes = 0;
  float ended_comp_down = 0;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace coretest
