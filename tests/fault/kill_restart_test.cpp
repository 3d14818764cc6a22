// The installer killed (SIGKILL) in the middle of an install and started
// again. The install runs headless in a child process, exactly as the driver
// runs it; the test kills the child at a chosen moment, then runs the install
// again in a fresh state against the same folders. The second run must find
// what is missing or out of date, finish, and lose none of the user's files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "fault_fixture.h"

using faulttest::FaultInstall;
using faulttest::product;
using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

namespace {

long long size_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

class KillRestart : public FaultInstall {
 protected:
  // Runs the whole fetch and install from `host` in a child process and
  // returns its pid. The child ends with _exit(0) after a complete install.
  pid_t start_child(const std::string& host) {
    // Threads do not survive fork: the child starts its own worker pool.
    THREAD_shutdown();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      try {
        THREAD_init();
        THREAD_make_workers();
        fetch_and_read(host);
        install();
        ::_exit(stg.got_failed_install == 0 && next.dir_done == 1 ? 0 : 3);
      } catch (...) {
        ::_exit(4);
      }
    }
    return pid;
  }

  // Waits until `cond` holds, then kills the child at once. Returns false if
  // the child ended first (the moment was missed).
  bool kill_when(pid_t pid, const std::function<bool()>& cond) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < give_up) {
      if (cond()) {
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        return WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
      }
      int st = 0;
      if (::waitpid(pid, &st, WNOHANG) == pid) {
        child_status_ = st;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
  }

  int child_status_ = -1;  // wait status of a child that ended before it was killed

  // The program started again: fresh state, same folders.
  void restart() {
    const std::string dest = dest_dir_path;
    SetUp();
    dest_dir_path = dest;
  }
};

// Killed while an archive is still arriving: the partial download is in the
// temporary folder, nothing in the installation is half-made.
TEST_F(KillRestart, KilledWhileDownloadingThenRestarted) {
  product p = faulttest::release_one();
  p["Master/data/slow.bin"] = testsupport::random_bytes(3000000, 31);
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  // Served at 1 MB/s, so the install is surely in the middle of it when killed.
  testsupport::Nginx web(out, "location ~ slow { limit_rate 1m; }");
  publish(p, "R1", out, {web.host() + "|/files/|Mirror"});
  dest_dir_path = dir_ / "sim/";
  testsupport::make_dirs(dest_dir_path + "Output");
  write_file(dest_dir_path + "Output/my flight.sit", "the user's saved flight\n");

  const pid_t child = start_child(web.host());
  ASSERT_GT(child, 0);
  // Some stream s downloads slow.bin into one of its two archive files,
  // temp_path + "<s>.zip" or "<s>b.zip".
  const bool killed = kill_when(child, [&] {
    for (int s = 0; s < kStreamCount; ++s)
      for (const char* file : {".zip", "b.zip"})
        if (size_of(temp_path + std::to_string(s) + file) > 1000000) return true;  // not big.bin's 400 kB
    return false;
  });
  ASSERT_TRUE(killed) << "the child was killed in the middle of the download (it ended first, status "
                      << child_status_ << ")";
  EXPECT_FALSE(file_exists(dest_dir_path + "data/slow.bin"))
      << "the file being downloaded is not in place yet";

  restart();
  fetch_and_read(web.host());
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 0) << "the second run finishes";
  EXPECT_EQ(next.dir_done, 1);
  expect_installed(p, dest_dir_path);
  EXPECT_EQ(read_file(dest_dir_path + "Output/my flight.sit"), "the user's saved flight\n")
      << "the user's file survived both runs";
  EXPECT_TRUE(coretest::g_questions.empty())
      << "nothing the first run left is taken for a file the user changed";
  EXPECT_TRUE(alerts.empty());
}

// Killed while a file is being written over its old version. The new bytes
// go to a temporary name next to it, so the old version is still whole; the
// second run recognises it as the installer's own old version (no question
// about a file the user changed), replaces it, and removes the leftover part.
TEST_F(KillRestart, KilledWhileReplacingAFileThenRestarted) {
  // Zeros compress to almost nothing, so the archive arrives at once and
  // expanding it takes long enough to be interrupted.
  product one = faulttest::release_one();
  one["Master/data/huge.bin"] = std::string(96u << 20, '\0');
  product two = one;
  two["Master/data/huge.bin"] = std::string(96u << 20, '\1');
  two["Master/data/c.txt"] = "third file, second version\n";

  dest_dir_path = dir_ / "sim/";
  {
    const std::string out1 = dir_ / "www1/";
    testsupport::Nginx web(out1);
    publish(one, "R1", out1, {web.host() + "|/files/|Mirror"});
    fetch_and_read(web.host());
    ASSERT_EQ(install(), 1);
    ASSERT_EQ(stg.got_failed_install, 0);
  }
  const std::string dest = dest_dir_path;
  write_file(dest + "data/my notes.txt", "the user's own notes\n");

  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  publish(two, "R2", out2, {web.host() + "|/files/|Mirror"}, dir_ / "www1/");
  restart();
  const std::string part = dest + "data/huge.bin" + kArchivePartSuffix;
  const pid_t child = start_child(web.host());
  ASSERT_GT(child, 0);
  ASSERT_TRUE(kill_when(child, [&] { return size_of(part) > 0; }))
      << "the child was killed while writing the new huge.bin";
  EXPECT_TRUE(file_exists(part)) << "the interrupted write is the part file";
  EXPECT_LT(size_of(part), static_cast<long long>(two.at("Master/data/huge.bin").size()))
      << "killed mid-write";
  EXPECT_EQ(read_file(dest + "data/huge.bin"), one.at("Master/data/huge.bin"))
      << "the old version is whole after the kill";

  restart();
  fetch_and_read(web.host());
  ASSERT_EQ(install(), 1);
  EXPECT_TRUE(coretest::g_questions.empty()) << "the old version is recognised; the user is not asked";
  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_EQ(next.dir_done, 1);
  expect_installed(two, dest);
  EXPECT_FALSE(file_exists(part)) << "the leftover part file is gone";
  EXPECT_EQ(read_file(dest + "data/my notes.txt"), "the user's own notes\n") << "the user's file survived";
}

}  // namespace
