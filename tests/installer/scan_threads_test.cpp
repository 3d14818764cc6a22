// The disk examination with the framework's worker threads running: the same
// records as one thread would give, and the progress panel drawn only from
// the main thread, at multiples of the panel step, in rising order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_fixture.h"
#include "installer/utils.h"
#include "io/md5.h"
#include "util/HL_THREAD.h"

namespace {

struct panel_call {
  int value;
  int count;
  std::string path;
  bool on_main;
};
std::vector<panel_call> g_panels;
void record_panel(float, float d, float d2, int call_type, const std::string&, const std::string& path) {
  if (call_type == 1)
    g_panels.push_back({static_cast<int>(d), static_cast<int>(d2), path, THREAD_is_main_thread()});
}

class ScanThreads : public coretest::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    THREAD_init();
    THREAD_make_workers();
    g_panels.clear();
    set_dir_progress_bar_handler(&record_panel);
  }
  void TearDown() override {
    THREAD_shutdown();
    CoreTest::TearDown();
  }

  // n entries "M/d<i%7>/f<i>.bin"; every fifth file is missing, every
  // eleventh empty, the rest of varied sizes (some above a megabyte).
  void make_entries(int n, std::vector<std::string>& want_sigs) {
    for (int i = 0; i < n; ++i) {
      const std::string rel = "d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".bin";
      file_history_struct h;
      file_version_struct v;
      v.path = "M/" + rel;
      v.sig_want = i % 3 == 0 ? "GONE" : std::string(32, 'a');
      v.down_size = 1;
      v.disk_size = 2;
      h.versions.push_back(v);
      sim_info.files.push_back(h);
      if (i % 5 == 0) {
        want_sigs.push_back("NONE");
        continue;
      }
      const std::string bytes =
          i % 11 == 0 ? std::string() : testsupport::random_bytes(i % 13 == 0 ? 1500000 : 100 + 37 * i, i);
      testsupport::make_dirs(dest_dir_path + "d" + std::to_string(i % 7));
      testsupport::write_file(dest_dir_path + rel, bytes);
      want_sigs.push_back(md5_sign_bytes(bytes.data(), bytes.size()));
    }
    // One entry whose current file matches: it must read as installed.
    sim_info.files[1].versions.back().sig_want = want_sigs[1];
  }
};

TEST_F(ScanThreads, WorkersSignIntoTheSameRecordsInOrder) {
  ASSERT_GE(THREAD_worker_count(), 1) << "the framework started its workers";
  std::vector<std::string> want;
  make_entries(1000, want);
  examine_disk("m");

  ASSERT_EQ(sim_info.files.size(), want.size());
  float down = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const file_version_struct& v = sim_info.files[i].versions.back();
    ASSERT_EQ(v.sig_have, want[i]) << "entry " << i << " holds its own file's signature";
    ASSERT_EQ(v.on_disk, v.sig_have == v.sig_want ? 1 : 0) << "entry " << i;
    if (v.sig_want != "GONE" && !v.on_disk) down += 1;
  }
  EXPECT_EQ(sim_info.files[1].versions.back().on_disk, 1) << "a matching file reads as installed";
  EXPECT_EQ(stg.down_req, down) << "the totals count every applicable entry not installed, once";
  EXPECT_EQ(stg.disk_req, 2 * down);

  ASSERT_FALSE(g_panels.empty()) << "the panel is drawn while the files are signed";
  const int mod = 1000 / 200;
  int last = -1;
  for (const panel_call& p : g_panels) {
    EXPECT_TRUE(p.on_main) << "only the thread that owns the window draws";
    EXPECT_EQ(p.value % mod, 0) << "the panel shows multiples of the panel step only";
    EXPECT_GT(p.value, last) << "the panel never goes backwards nor repeats itself";
    EXPECT_EQ(p.count, 1000);
    EXPECT_EQ(p.path, dest_path_of(sim_info.files[p.value].versions.back())) << "with that entry's path";
    last = p.value;
  }
  EXPECT_LE(g_panels.size(), 200u) << "never more often than the panel rate";
}

TEST_F(ScanThreads, WithoutWorkersEveryStepIsDrawn) {
  THREAD_shutdown();  // the pool stops: the caller signs alone, in order
  std::vector<std::string> want;
  make_entries(30, want);
  examine_disk("m");
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(sim_info.files[i].versions.back().sig_have, want[i]) << "entry " << i;
  ASSERT_EQ(g_panels.size(), 30u) << "below 400 entries, one panel per entry";
  for (int i = 0; i < 30; ++i) EXPECT_EQ(g_panels[i].value, i);
  THREAD_init();  // for TearDown
}

}  // namespace
