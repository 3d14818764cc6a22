// The real program (--batch) under fiu-run: open, write, rename, fsync and
// unlink (and the stdio fopen/fwrite the program writes files with) fail at
// random in the installer's process only; nginx and the publisher run
// without faults. Every run must end, either complete or failed with its
// alert on standard error; the destination holds only old or new published
// files, the user's own files untouched; a clean run afterwards completes.
//
// SKYVANE_FIU_PROBABILITIES="0.01,0.05,0.2" runs more probabilities (default
// one); SKYVANE_FIU_SEEDS the number of seeds per probability and start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "installer_process.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using files = std::map<std::string, std::string>;  // relative path -> bytes

// R1: texts, a file of random bytes large enough to be written in many
// pieces, a scenery tile (a 7z archive) and a program for this platform.
files release_one() {
  return {
      {"Master/data/a.txt", "first file\n"},
      {"Master/data/big.bin", random_bytes(300000, 31)},
      {"Master/data/c.txt", "third file\n"},
      {"Master/data/sub/d.txt", "withdrawn in R2\n"},
      {"Master/Global Scenery/+40-120/tile.dsf", random_bytes(120000, 32)},
      {"Master/bin/skyvane", "#!/bin/sh\necho linux program\n"},
  };
}

// R2 changes three files, adds two (one in a new folder) and withdraws one.
files release_two() {
  files p = release_one();
  p["Master/data/big.bin"] = random_bytes(300000, 41);
  p["Master/Global Scenery/+40-120/tile.dsf"] = random_bytes(120000, 42);
  p["Master/data/c.txt"] = "third file, second version\n";
  p["Master/data/new.txt"] = "new in R2\n";
  p["Master/data/more/e.txt"] = "a new folder in R2\n";
  p.erase("Master/data/sub/d.txt");
  return p;
}

// Below the destination: the master folder is not part of the path.
files installed(const files& release) {
  files out;
  for (const auto& [rel, bytes] : release) out[rel.substr(rel.find('/') + 1)] = bytes;
  return out;
}

// The user's own files, beside and among the product's.
const files kUserFiles = {
    {"my notes.txt", "the user's own notes\n"},
    {"data/my livery.png", "user bytes\n"},
    {"data/sub/my plugin.cfg", "user config\n"},
};

// Relative path -> bytes of every regular file below `dir`.
files snapshot(const std::string& dir) {
  files out;
  if (!file_exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = read_file(e.path().string());
  return out;
}

std::vector<double> probabilities() {
  std::vector<double> out;
  const char* env = std::getenv("SKYVANE_FIU_PROBABILITIES");
  std::stringstream in(env && *env ? env : "0.02");
  for (std::string p; std::getline(in, p, ',');) out.push_back(std::stod(p));
  return out;
}

int seeds_per_probability() {
  const char* env = std::getenv("SKYVANE_FIU_SEEDS");
  return env && *env ? std::atoi(env) : 6;
}

// The system calls the program makes files with, as named by libfiu's POSIX
// preload library. It wraps no mkdir: folders are not faulted.
const char* const kFaultPoints[] = {
    "posix/io/oc/open",    "posix/stdio/oc/fopen", "posix/io/rw/write",   "posix/stdio/rw/fwrite",
    "posix/io/dir/rename", "posix/io/sync/fsync",  "posix/io/dir/unlink",
};

// The errno a failing call gives, where libfiu's random choice would tell
// something no file system does: unlink failing with ENOENT while the file
// stays (a real ENOENT means the file is gone, which the installer rightly
// takes as deleted). Elsewhere libfiu picks one of the call's errnos.
std::string fail_info(const std::string& point) {
  return point == "posix/io/dir/unlink" ? ",failinfo=" + std::to_string(EIO) : "";
}

// The first line of standard error that is not a progress line: the alert
// of a failed run ("" when there is none).
std::string first_said(const std::string& err) {
  static const std::regex progress(R"( *\d+% [0-9.]+ MB of [0-9.]+ MB.*)");
  std::stringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && !std::regex_match(line, progress)) return line;
  return "";
}

// libfiu's wrappers can deadlock by themselves: one thread, inside the
// library's lookup lock, resolves a wrapped function with dlsym and waits
// for the dynamic loader's lock, while another, loading a library (glibc
// loads a character-set module on the first 7z expansion), holds that lock
// and calls the wrapped malloc, which waits for the lookup lock. When the
// stacks of `pid` show a thread waiting for a lock below a frame of the
// fault library (the hang is the library's, not the program's): those
// stacks, else "".
std::string fault_library_hang(int pid) {
  std::string stacks;
  run("eu-stack -m -p " + std::to_string(pid) + " 2>&1", &stacks);
  std::stringstream in(stacks);
  bool waiting = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("TID ", 0) == 0)
      waiting = false;
    else if (line.find("lock_wait") != std::string::npos || line.find("mutex_lock") != std::string::npos ||
             line.find("rwlock") != std::string::npos)
      waiting = true;
    else if (waiting && (line.find("/fiu/") != std::string::npos || line.find("libfiu") != std::string::npos))
      return stacks;
  }
  return "";
}

class SyscallFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    make_dirs(root_ / "www");
    server_ = std::make_unique<Nginx>(root_ / "www");
    publish(release_one(), "R1", root_ / "r1", "");
    publish(release_two(), "R2", root_ / "r2", root_ / "r1");
  }

  void publish(const files& release, const std::string& name, const std::string& out,
               const std::string& previous) {
    const std::string prod = root_ / ("product-" + name + "/");
    for (const auto& [rel, bytes] : release) {
      make_dirs(prod + rel.substr(0, rel.rfind('/')));
      write_file(prod + rel, bytes);
    }
    write_file(root_ / "platforms", "2 Master/bin/\n");
    std::string cmd = shell_quote(build_dir() + "/tools/skyvane-publish") + " --product " +
                      shell_quote(prod) + " --release " + shell_quote(name) + " --out " + shell_quote(out) +
                      " --platforms " + shell_quote(root_ / "platforms") + " --mirror " +
                      shell_quote(server_->host() + "|/files/|Mirror") + " --sign " +
                      shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
    if (!previous.empty()) cmd += " --previous " + shell_quote(previous);
    std::string output;
    ASSERT_EQ(run(cmd + " 2>&1", &output), 0) << output;
  }

  // Serves the release published into `dir`.
  void serve(const std::string& dir) {
    ASSERT_EQ(run("rm -rf " + shell_quote(root_ / "www") + " && cp -a " + shell_quote(dir) + " " +
                  shell_quote(root_ / "www")),
              0);
  }

  struct result {
    int status;
    std::string err, log;
    std::string library_hang;  // the stacks, when the fault library deadlocked
  };
  // One --batch run into `dest`; faults in `points` at `probability` (0:
  // none) from `seed`.
  result install(const std::string& dest, const std::vector<std::string>& points = {}, double probability = 0,
                 unsigned seed = 0) {
    headless_run how;
    if (probability > 0) {
      how.wrapper = {"fiu-run", "-x", "-f", ""};
      for (const std::string& point : points) {
        how.wrapper.push_back("-c");
        how.wrapper.push_back("enable_random name=" + point + ",probability=" + std::to_string(probability) +
                              fail_info(point));
      }
      how.env.push_back("FIU_PRNG_SEED=" + std::to_string(seed));
    }
    InstallerProcess p(root_,
                       {"--batch", "--vendor_host=" + server_->host(), "--pref:_rename_folder=0", dest,
                        "--accept-licence", "--changed=overwrite"},
                       how);
    // Only a bound for a run that hangs; a run takes a few seconds.
    const int status = p.wait_exit(120);
    const std::string library_hang =
        status == -1 && p.running() && probability > 0 ? fault_library_hang(p.pid()) : "";
    // The log of this run only (it grows across runs), its end at most.
    const std::string whole = p.log_text();
    std::string log = whole.substr(std::min(log_seen_, whole.size()));
    log_seen_ = whole.size();
    if (log.size() > 6000) log = "..." + log.substr(log.size() - 6000);
    return {status, p.stderr_text(), log, library_hang};
  }

  TempDir root_;
  std::unique_ptr<Nginx> server_;
  size_t log_seen_ = 0;
};

TEST_F(SyscallFaults, EveryRunEndsCompleteOrFailedAndTheDestinationHoldsOldOrNewFiles) {
#if defined(__SANITIZE_ADDRESS__)
  // fiu-run preloads its library ahead of the address sanitizer's runtime,
  // which a sanitized program does not survive.
  GTEST_SKIP() << "not in a sanitizer build: the fault library cannot be preloaded ahead of its runtime";
#endif
  ASSERT_EQ(run("command -v fiu-run >/dev/null"), 0) << "fiu-run is needed (scripts/install-deps.sh)";
  const files r1 = installed(release_one());
  const files r2 = installed(release_two());
  files expected = r2;
  for (const auto& [rel, bytes] : kUserFiles) expected[rel] = bytes;

  // The update starts from R1 installed cleanly with the user's files added.
  const std::string installed_r1 = root_ / "r1-installed/";
  serve(root_ / "r1");
  const result first = install(installed_r1);
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(snapshot(installed_r1), r1);
  for (const auto& [rel, bytes] : kUserFiles) {
    make_dirs(installed_r1 + rel.substr(0, rel.rfind('/') + 1));
    write_file(installed_r1 + rel, bytes);
  }
  serve(root_ / "r2");

  int runs = 0, completed = 0, failed = 0, failed_in_every_point = 0, library_hangs = 0;
  std::map<std::string, int> alerts;  // first line said -> runs
  // Every point at each probability, for both starts; then, for the update,
  // each point alone failing half of its calls.
  struct planned {
    std::vector<std::string> points;
    double probability;
    bool update;
    unsigned seed;
  };
  const std::vector<std::string> all(std::begin(kFaultPoints), std::end(kFaultPoints));
  std::vector<planned> plan;
  for (const double probability : probabilities())
    for (const bool update : {false, true})
      for (int s = 0; s < seeds_per_probability(); ++s) plan.push_back({all, probability, update, 1000u + s});
  for (const char* point : kFaultPoints) plan.push_back({{point}, 0.5, true, 1});

  int extra_seeds = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    const auto [points, probability, update, seed] = plan[i];
    const std::string dest = root_ / ("dest-" + std::to_string(runs) + "/");
    if (update) fs::copy(installed_r1, dest, fs::copy_options::recursive);
    const files before = snapshot(dest);
    const std::string what =
        std::string(update ? "update" : "fresh install") + " under faults at " + std::to_string(probability) +
        " in " + (points.size() == 1 ? points[0] : "every point") + ", FIU_PRNG_SEED=" + std::to_string(seed);
    SCOPED_TRACE(what);
    const result r = install(dest, points, probability, seed);
    ++runs;
    const files after = snapshot(dest);
    // Flushed at once: the next run's child would write out a buffer it inherited.
    std::printf("%s: exit %d %s\n", what.c_str(), r.status, first_said(r.err).c_str());
    std::fflush(stdout);
    if (!r.library_hang.empty()) {
      // Killed like a crash: the files are checked below as after one, and
      // the case runs again from another seed (a bounded number of times:
      // a hang that comes back each time is looked at, not retried).
      ++library_hangs;
      std::printf("%s: the fault library deadlocked in its own wrappers; run again from another seed\n%s\n",
                  what.c_str(), r.library_hang.c_str());
      std::fflush(stdout);
      EXPECT_LE(library_hangs, 3) << "the fault library hung again and again";
      plan.push_back({points, probability, update, seed + 500});
    } else if (r.status == 0) {
      ++completed;
      EXPECT_NE(r.err.find("Installation Complete!"), std::string::npos) << r.err;
      EXPECT_EQ(after, update ? expected : r2) << "a run that says it completed holds the release\n"
                                               << r.err << "\nlog:\n"
                                               << r.log;
    } else {
      ++failed;
      if (points.size() > 1) ++failed_in_every_point;
      EXPECT_EQ(r.status, 1) << "a failure ends with exit 1 (-1: time-out or signal)\nstderr:\n"
                             << r.err << "\nlog:\n"
                             << r.log;
      EXPECT_NE(first_said(r.err), "") << "a failed run says why on standard error:\n" << r.err;
      ++alerts[first_said(r.err)];
    }
    for (const auto& [rel, bytes] : before) {
      if (kUserFiles.count(rel)) {
        EXPECT_EQ(after.count(rel) ? after.at(rel) : "(lost)", bytes) << "the user's file " << rel;
      }
    }
    for (const auto& [rel, bytes] : after) {
      // A killed run may leave a part file; the clean run must clear it.
      if (!r.library_hang.empty() && is_part_file(rel)) continue;
      const bool is_old = before.count(rel) && before.at(rel) == bytes;
      const bool is_new = r2.count(rel) && r2.at(rel) == bytes;
      EXPECT_TRUE(is_old || is_new) << rel << " is neither as before the run nor the published file ("
                                    << bytes.size() << " bytes)\n"
                                    << r.err;
    }

    // A clean run afterwards completes with exactly the release.
    const result clean = install(dest);
    EXPECT_EQ(clean.status, 0) << "the clean run after the faulted one\n"
                               << clean.err << "\nlog:\n"
                               << clean.log;
    EXPECT_EQ(snapshot(dest), update ? expected : r2) << "after the clean run\n" << clean.err;
    if (HasFailure()) return;
    // Which calls a seed fails depends on how many the run makes (reads and
    // writes vary with the network's timing), so the planned seeds may all
    // miss; more are drawn, a bounded number, until a run with faults in
    // every point fails.
    if (i + 1 == plan.size() && failed_in_every_point == 0 && extra_seeds < 20)
      plan.push_back({all, probabilities().back(), true, 2000u + extra_seeds++});
  }
  std::printf(
      "system-call faults: %d runs, %d completed, %d failed with an alert, %d killed after the fault "
      "library hung\n",
      runs, completed, failed, library_hangs);
  for (const auto& [line, n] : alerts) std::printf("  %3d x %s\n", n, line.c_str());
  std::fflush(stdout);
  RecordProperty("runs", runs);
  RecordProperty("completed", completed);
  RecordProperty("failed", failed);
  RecordProperty("fault_library_hangs", library_hangs);
  // Faults must really reach the program, or the test proves nothing.
  EXPECT_GT(failed_in_every_point, 0) << "no run with faults in every point failed";
}

}  // namespace
