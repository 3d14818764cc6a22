// The disk examination with the framework's worker threads running: the same
// records as one thread would give, and the progress panel drawn only from
// the main thread, at multiples of the panel step, in rising order.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "installer/utils.h"
#include "io/md5.h"
#include "io/sig_cache.h"
#include "platform/system.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"

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

// Against a real file system, the signature cache gives a file's signature
// unread only while it is the very file that was signed: every record is
// planted with a signature no file has, so each one that comes back was
// taken from the cache.
TEST_F(ScanThreads, TheSignatureCacheVouchesOnlyForUnchangedFiles) {
  namespace fs = std::filesystem;
  std::vector<std::string> want;
  make_entries(40, want);
  const std::string planted = std::string(32, 'f');
  const auto path_of = [](int i) { return dest_path_of(sim_info.files[i].versions.back()); };
  // Records of every present file as it is now, `settled_s` seconds before
  // the cache's writing.
  const auto plant = [&](int settled_s) {
    std::vector<sig_record> records;
    for (size_t i = 0; i < want.size(); ++i) {
      sig_record r;
      if (platform_file_identity_of(path_of(i), &r.id) != 0) continue;
      r.path_hash = sig_path_hash(path_of(i).substr(dest_dir_path.size()));
      sig_record_set_md5(r, planted);
      records.push_back(r);
    }
    const std::string file = sig_cache_file(platform_cache_folder(), dest_dir_path);
    ASSERT_EQ(sig_cache_save(file, dest_dir_path, records), 0);
    fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(settled_s));
  };
  const auto from_cache = [&] {
    examine_disk("m");
    std::vector<int> taken;
    for (size_t i = 0; i < want.size(); ++i)
      if (sim_info.files[i].versions.back().sig_have == planted) taken.push_back(static_cast<int>(i));
    return taken;
  };
  // The first examination reads everything and leaves a cache of what it
  // found: a later start (the cache's time moved on) reads nothing.
  EXPECT_TRUE(from_cache().empty());
  const std::string cache_file = sig_cache_file(platform_cache_folder(), dest_dir_path);
  fs::last_write_time(cache_file, fs::file_time_type::clock::now() + std::chrono::seconds(10));
  examine_disk("m");
  size_t present = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    present += want[i] != "NONE" ? 1 : 0;
    EXPECT_EQ(sim_info.files[i].versions.back().sig_have, want[i]) << "entry " << i;
  }
  EXPECT_NE(log_text().find(std::to_string(present) + " present, " + std::to_string(present) +
                            " of them unchanged since the signature cache was written"),
            std::string::npos);

  // Files 1-4 are changed in the ways that keep the size and the mtime.
  plant(10);
  const auto keep_mtime = [&](int i, const std::function<void()>& change) {
    const auto m = fs::last_write_time(path_of(i));
    change();
    fs::last_write_time(path_of(i), m);  // as touch -d or cp -p leave it
  };
  keep_mtime(1, [&] {  // rewritten in place
    std::string b = testsupport::read_file(path_of(1));
    b[0] ^= 1;
    testsupport::write_file(path_of(1), b);
    want[1] = md5_sign_bytes(b.data(), b.size());
  });
  ASSERT_EQ(std::system(("cp -p '" + path_of(7) + "' '" + path_of(3) + "'").c_str()), 0);
  want[3] = want[7];
  const std::string same_size(fs::file_size(path_of(4)), 'n');
  keep_mtime(4, [&] {  // replaced by another file of its size under its name
    testsupport::write_file(path_of(4) + ".new", same_size);
    fs::rename(path_of(4) + ".new", path_of(4));
  });
  want[4] = md5_sign_bytes(same_size.data(), same_size.size());
  std::vector<int> expected;
  for (size_t i = 0; i < want.size(); ++i)
    if (want[i] != "NONE" && i != 1 && i != 3 && i != 4) expected.push_back(static_cast<int>(i));
  EXPECT_EQ(from_cache(), expected) << "every unchanged file, and only those, came from the cache";
  for (int i : {1, 3, 4}) EXPECT_EQ(sim_info.files[i].versions.back().sig_have, want[i]) << "file " << i;

  // Written within a second of the files: nothing is trusted. Each file's
  // status is touched first (chmod to its own mode sets its ctime to now),
  // so however long the steps above took, the files are a second old.
  for (size_t i = 0; i < want.size(); ++i)
    if (fs::exists(path_of(i))) fs::permissions(path_of(i), fs::status(path_of(i)).permissions());
  plant(1);
  EXPECT_TRUE(from_cache().empty()) << "files changed in the cache's own second are read";

  // --verify reads everything.
  plant(10);
  cmdline.options["--verify"] = "";
  EXPECT_TRUE(from_cache().empty());
  cmdline.clear();

  // The folder moved elsewhere starts without a cache.
  plant(10);
  const std::string moved = dest_dir_path.substr(0, dest_dir_path.size() - 1) + " moved/";
  fs::rename(dest_dir_path, moved);
  dest_dir_path = moved;
  EXPECT_TRUE(from_cache().empty());
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(sim_info.files[i].versions.back().sig_have, want[i]) << "entry " << i;
}

}  // namespace
