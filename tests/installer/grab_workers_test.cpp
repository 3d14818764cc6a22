// The grab engine with its archives expanded on the worker pool: the workers
// are held busy so that the moment an expansion runs is chosen by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "install_fixture.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "util/HL_THREAD.h"
#include "util/xtim.h"

using coretest::product;
using testsupport::file_exists;
using testsupport::md5sum_of;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::write_file;

namespace {

std::atomic<bool> g_hold{false};
int hold_worker(void*) {
  while (g_hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}

class GrabOnWorkers : public coretest::InstallTest {
 protected:
  void TearDown() override {
    release_workers();
    InstallTest::TearDown();
  }
  // Every worker takes a call that waits for release_workers(): archives
  // handed to the pool meanwhile wait in its queue.
  void hold_workers() {
    g_hold = true;
    for (int i = 0; i < THREAD_worker_count(); ++i)
      holders_.push_back(THREAD_post_call(hold_worker, nullptr));
  }
  void release_workers() {
    g_hold = false;
    for (THREAD_call* c : holders_) THREAD_wait_call(c);
    holders_.clear();
  }
  void start_grab() {
    reset_streams();
    stg.got_failed_install = 0;
    make_dirs();
    ASSERT_TRUE(choose_files());
    stg.step = 1;
  }
  // What every entry to fetch downloads.
  static float all_down_size() {
    float sum = 0;
    for (const auto& f : sim_info.files)
      if (f.versions.back().want_to_grab_it) sum += f.versions.back().down_size;
    return sum;
  }
  // Grab calls until every archive is wholly downloaded (the progress counts
  // them in full) or the engine ends. Returns the last answer.
  int grab_until_downloaded() {
    int ended = 0;
    while (!ended && time_left()) {
      xtim.advance_clock();
      ended = grab_files();
      if (next.file_down == all_down_size()) break;
    }
    return ended;
  }
  int grab_to_end() {
    int ended = 0;
    while (!ended && time_left()) {
      xtim.advance_clock();
      ended = grab_files();
    }
    return ended;
  }
  std::string dest_of(const std::string& rel) const { return dest_dir_path + rel.substr(rel.find('/') + 1); }
  std::string part_files() const {
    std::string out;
    run("find " + shell_quote(dest_dir_path) + " -name '*" + kArchivePartSuffix + "'", &out);
    return out;
  }

  std::vector<THREAD_call*> holders_;
};

// While no worker is free the grab neither waits nor expands on the main
// thread: each call returns, each stream downloads its next entry while its
// last one waits to be expanded, the downloaded archives count as
// downloaded, and the install is not complete until their expansions end.
TEST_F(GrabOnWorkers, TheGrabGoesOnWhileArchivesWaitForAWorker) {
  const product files = {
      {"Master/data/one.bin", testsupport::random_bytes(400000, 1)},
      {"Master/data/two.txt", std::string(300000, 'x')},
      {"Master/data/three.txt", "three\n"},
      {"Master/data/four.txt", "four\n"},
      {"Master/data/five.txt", "five\n"},
      {"Master/Global Scenery/+50+010/tile.dsf", testsupport::random_bytes(200000, 2)},
  };
  ASSERT_GT(files.size(), static_cast<size_t>(kStreamCount)) << "more entries than streams";
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(files, "R1", out, {web.host() + "|/files/|Mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(web.host());
  ASSERT_GE(THREAD_worker_count(), 1);
  // Entries reserved for a stream's pipelined requests wait for that
  // stream's expansion; this case is about the streams going on, one
  // request at a time.
  http.stop_pipelining(web.host(), "this case sends one request at a time");
  // Three streams, not as many as the measured rate asks for (a loaded
  // machine may measure a rate that keeps two): each stream holds at most
  // two archives while the workers are held, so the six entries need every
  // stream to go on to its next entry.
  stg.stream_count = 3;

  hold_workers();
  start_grab();
  ASSERT_EQ(grab_until_downloaded(), 0) << "not complete while archives wait to be expanded";
  EXPECT_EQ(next.file_down, all_down_size())
      << "all archives downloaded: more than the streams, each stream went on to its next entry";
  EXPECT_EQ(next.next_index, static_cast<int>(sim_info.files.size())) << "every entry was handed out";
  for (int i = 0; i < 50; ++i) ASSERT_EQ(grab_files(), 0) << "the grab goes on returning, never complete";
  for (const auto& [rel, bytes] : files) {
    EXPECT_FALSE(file_exists(dest_of(rel))) << "nothing was expanded on the calling thread: " << rel;
  }

  release_workers();
  ASSERT_EQ(grab_to_end(), 1);
  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_EQ(next.dir_done, 1);
  for (const auto& [rel, bytes] : files) {
    ASSERT_TRUE(file_exists(dest_of(rel))) << rel;
    EXPECT_EQ(md5sum_of(dest_of(rel)), md5sum_of(dir_ / ("product-R1/" + rel))) << rel;
  }
  float all = 0;
  for (const auto& f : sim_info.files) all += f.versions.back().down_size;
  EXPECT_EQ(next.comp_down, all) << "each archive counted once when its expansion ended";
  EXPECT_EQ(stream_archives_left(), "");
  EXPECT_TRUE(alerts.empty());
}

// One archive fails while another is still being expanded: the failed
// install ends only after that expansion has ended too (it writes into the
// installation), with one alert, the worker's log lines in the log, and
// neither part files nor archives left behind.
TEST_F(GrabOnWorkers, AFailedExpansionWaitsForTheOthersBeforeTheGrabEnds) {
  const product files = {
      {"Master/a/broken.txt", "replaced by a damaged archive below\n"},
      {"Master/b/big.bin", testsupport::random_bytes(30000000, 3)},
  };
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(files, "R1", out, {web.host() + "|/files/|Mirror"});
  // Damaged the same way on every fetch, so the retries fail too.
  write_file(out + "files/R1/Master/a/broken.txt.zip", "PK\3\4 this is not a zip archive");
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(web.host());

  hold_workers();
  start_grab();
  ASSERT_EQ(grab_until_downloaded(), 0);
  release_workers();
  ASSERT_EQ(grab_to_end(), 1);

  EXPECT_EQ(stg.got_failed_install, 1);
  EXPECT_EQ(next.dir_done, 0);
  ASSERT_EQ(alerts.size(), 1u) << "one alert for the failed archive";
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(part_files(), "") << "no expansion is still writing when the grab has ended";
  ASSERT_TRUE(file_exists(dest_of("Master/b/big.bin"))) << "the other archive's expansion ran to its end";
  EXPECT_EQ(md5sum_of(dest_of("Master/b/big.bin")), md5sum_of(dir_ / "product-R1/Master/b/big.bin"));
  const std::string log = log_text();
  EXPECT_NE(log.find("EXPANDING file " + dest_of("Master/b/big.bin") + ", with result=0.\n"),
            std::string::npos);
  EXPECT_NE(log.find("Zip to file failed with error err = "), std::string::npos)
      << "the lines the worker wrote while expanding reach the log";
  EXPECT_EQ(stream_archives_left(), "") << "no stream's archive is left";
}

}  // namespace
