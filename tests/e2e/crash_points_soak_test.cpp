// Crash points: the real program updating an installation from release R1 to
// R2 (--batch, real nginx, releases made by skyvane-publish) is killed with
// SIGKILL again and again, at moments drawn from a seeded generator. After
// every kill each file of the destination must be whole: R1's bytes or R2's,
// never a mix or a cut file; a withdrawn file absent or R1's, an added one
// absent or R2's; the user's own files untouched. A last run that is not
// killed must leave exactly R2, no part file, the user's files kept.
//
// SKYVANE_CRASH_SEED replays a run (the seed is printed); SKYVANE_CRASH_POINTS
// sets the number of kills (default 5; scripts/soak.sh runs 30).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "installer_process.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// The product of both releases: about 300 files, most small, a few of 1-5 MB
// so that a download lasts. R2 changes some files, withdraws some (every file
// of "Retired Liveries/" and "Retired Sounds/"), adds some.
const char* const kMakeProducts = R"PY(
import os, random, sys
r1, r2 = sys.argv[1], sys.argv[2]
rng = random.Random(2609)
files = {}
for i in range(130):
    files["Airports/apt %03d.dat" % i] = rng.randbytes(rng.randint(0, 6000))
for i in range(90):
    files["Objects/obj %03d.obj" % i] = rng.randbytes(rng.randint(1000, 40000))
for i in range(60):
    files["Sounds/snd %02d.wav" % i] = rng.randbytes(rng.randint(10000, 80000))
for i in range(8):
    files["Retired Liveries/livery %d.png" % i] = rng.randbytes(rng.randint(2000, 30000))
for i in range(6):
    files["Retired Sounds/old %d/engine.wav" % i] = rng.randbytes(rng.randint(2000, 30000))
for i in range(4):
    files["Textures/big %d.dds" % i] = rng.randbytes(rng.randint(1000000, 5000000))
files["Global Scenery/Tiles/+40-080/+45-075.dsf"] = rng.randbytes(1200000)
files["Read Me.txt"] = b"Release one\n"
second = dict(files)
names = sorted(files)
for name in names:
    if name.startswith("Retired"):
        del second[name]
for name in rng.sample([n for n in names if not n.startswith("Retired")], 60):
    if rng.random() < 0.15:
        second.pop(name, None)
    else:
        second[name] = rng.randbytes(max(1, len(files[name]) + rng.randint(-500, 500)))
for name in ("Textures/big 1.dds", "Textures/big 3.dds", "Global Scenery/Tiles/+40-080/+45-075.dsf",
             "Read Me.txt"):
    second[name] = rng.randbytes(len(files[name]) - 1000 if len(files[name]) > 1000 else 20)
second["Textures/big 4.dds"] = rng.randbytes(2500000)
for i in range(15):
    second["New Airports/apt %02d.dat" % i] = rng.randbytes(rng.randint(100, 9000))
for root, release in ((r1, files), (r2, second)):
    for name, data in release.items():
        path = os.path.join(root, "Skyvane 9", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
)PY";

// The user's own files, in no release: one at the top, one in a folder both
// releases keep, one in a folder that R2 empties.
const char* const kUserFiles[] = {"My Notes.txt", "Objects/my object.obj", "Retired Liveries/my livery.png"};
const char* const kEmptiedFolder = "Retired Sounds/";

using listing = std::map<std::string, std::string>;  // relative path -> MD5

// The percentages of the plain progress lines.
int last_percent(const std::string& text) {
  static const std::regex line(R"((^|[\r\n]) *(\d+)% [0-9.]+ MB of [0-9.]+ MB)");
  int last = -1;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    last = std::stoi((*it)[2]);
  return last;
}

class CrashPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    make_dirs(root_ / "www");
    server_ = std::make_unique<Nginx>(root_ / "www");
    const std::string script = root_ / "make.py";
    write_file(script, kMakeProducts);
    std::string out;
    ASSERT_EQ(run("python3 " + shell_quote(script) + " " + shell_quote(root_ / "r1") + " " +
                      shell_quote(root_ / "r2") + " 2>&1",
                  &out),
              0)
        << out;
    r1_ = md5sum_tree(root_ / "r1/Skyvane 9");
    r2_ = md5sum_tree(root_ / "r2/Skyvane 9");
  }

  // Publishes `product` as `release` into www/, continuing what is there.
  void publish(const std::string& product, const std::string& release, bool first) {
    std::string cmd = shell_quote(build_dir() + "/tools/skyvane-publish") + " --product " +
                      shell_quote(root_ / product) + " --release " + shell_quote(release) + " --out " +
                      shell_quote(root_ / "www") + " --mirror " +
                      shell_quote(server_->host() + "|/files/|Crash server") + " --mirror " +
                      shell_quote(server_->host() + "|/mirror/|Crash mirror") + " --sign " +
                      shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
    if (!first) cmd += " --previous " + shell_quote(root_ / "www");
    std::string out;
    ASSERT_EQ(run(cmd + " 2>&1", &out), 0) << out;
  }

  std::unique_ptr<InstallerProcess> start(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--batch", "--accept-licence", "--vendor_host=" + server_->host(),
                                     "--pref:_rename_folder=0", dest_};
    args.insert(args.end(), extra.begin(), extra.end());
    headless_run how;
    how.env = {"SKYVANE_PROGRESS_SECONDS=0.05"};
    return std::make_unique<InstallerProcess>(root_, args, how);
  }

  // Every file of the destination is whole: one release's bytes, or a user
  // file untouched; a stale part file is allowed only when `parts_allowed`.
  // Returns how many part files there are.
  unsigned expect_whole(const std::string& when, bool parts_allowed) {
    unsigned parts = 0;
    const listing now = md5sum_tree(dest_);
    for (const auto& [rel, md5] : now) {
      if (user_.count(rel)) continue;
      if (is_part_file(rel)) {
        EXPECT_TRUE(parts_allowed) << when << ": part file left: " << rel;
        ++parts;
        continue;
      }
      const bool old_bytes = r1_.count(rel) && r1_.at(rel) == md5;
      const bool new_bytes = r2_.count(rel) && r2_.at(rel) == md5;
      EXPECT_TRUE(old_bytes || new_bytes)
          << when << ": " << rel << " is neither R1's file nor R2's ("
          << (r1_.count(rel) || r2_.count(rel) ? "damaged" : "unknown") << ")";
    }
    for (const auto& [rel, md5] : r1_)
      EXPECT_TRUE(!r2_.count(rel) || now.count(rel))
          << when << ": " << rel << " is in both releases but lost";
    for (const auto& [rel, md5] : user_)
      EXPECT_EQ(now.count(rel) ? now.at(rel) : "absent", md5) << when << ": the user's file " << rel;
    return parts;
  }

  TempDir root_;
  std::unique_ptr<Nginx> server_;
  std::string dest_ = root_ / "dest/";
  listing r1_, r2_, user_;
};

// The test command runs the same draws every time; scripts/soak.sh draws
// a new seed for each of its runs.
constexpr unsigned kDefaultSeed = 20261210;

TEST_F(CrashPoints, EveryFileIsOneReleasesAfterEachKill) {
  const unsigned seed = env_number("SKYVANE_CRASH_SEED", kDefaultSeed);
  const unsigned points = env_number("SKYVANE_CRASH_POINTS", 5);
  std::printf("crash points: seed %u, %u kill points (SKYVANE_CRASH_SEED=%u replays them)\n", seed, points,
              seed);
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 rng(seed);

  // R1 installed, then the user's own files added.
  publish("r1", "Skyvane 9.00", true);
  {
    auto p = start({});
    ASSERT_EQ(p->wait_exit(120), 0) << p->stderr_text() << p->log_text();
  }
  ASSERT_EQ(md5sum_tree(dest_), r1_) << "R1 is installed";
  for (const char* rel : kUserFiles) write_file(dest_ + rel, std::string("mine: ") + rel + "\n");
  user_ = md5sum_tree(dest_);
  for (const auto& [rel, md5] : r1_) user_.erase(rel);
  ASSERT_EQ(user_.size(), std::size(kUserFiles));
  const std::string pristine = root_ / "pristine/";
  fs::copy(dest_, pristine, fs::copy_options::recursive);

  publish("r2", "Skyvane 9.01", false);

  // The rate limit stretches the update over a few seconds so that most
  // kills land while files are arriving and being replaced.
  const std::vector<std::string> update = {"--changed=overwrite", "--max_rate=4000"};
  unsigned killed = 0, finished_first = 0, restored = 0, cut_short = 0;
  bool complete = false;  // the destination already holds R2
  for (unsigned k = 0; k < points; ++k) {
    // Every other update on average starts again from R1 and the user's
    // files (always when nothing is left to interrupt); the others go on
    // from what the killed run left.
    const bool from_r1 = rng() % 2 == 0;
    if (complete || from_r1) {
      fs::remove_all(dest_);
      fs::copy(pristine, dest_, fs::copy_options::recursive);
      ++restored;
      complete = false;
    }
    // Half the kills come after a drawn share of the reported progress,
    // half after a drawn delay from the start (the manifest read and the
    // signing of the destination included).
    const bool by_progress = rng() % 2 == 0;
    const int percent = static_cast<int>(rng() % 100);
    const int delay_ms = static_cast<int>(rng() % (by_progress ? 300 : 3000));
    std::ostringstream moment;
    moment << "kill " << k + 1 << " (seed " << seed << ", "
           << (by_progress ? "at " + std::to_string(percent) + "% + " : std::string("after ")) << delay_ms
           << " ms)";
    auto p = start(update);
    if (by_progress)
      InstallerProcess::wait_for([&] { return !p->running() || last_percent(p->stderr_text()) >= percent; },
                                 120);
    InstallerProcess::wait_for([&] { return !p->running(); }, delay_ms / 1000.0);
    const bool was_running = p->running();
    p->send_signal(SIGKILL);
    const int status = p->wait_exit(30);
    std::printf("%s: %s\n", moment.str().c_str(), was_running && status == -1 ? "killed" : "ended by itself");
    std::fflush(stdout);
    if (was_running && status == -1) {
      ++killed;
      cut_short += expect_whole(moment.str(), true) > 0;
    } else {
      ++finished_first;
      EXPECT_EQ(status, 0) << moment.str() << ": the run ended by itself\n" << p->stderr_text();
      expect_whole(moment.str() + ", ended by itself", false);
      complete = true;
    }
    if (HasFailure()) {
      std::printf("%s failed; its log:\n%s\n", moment.str().c_str(), p->log_text().c_str());
      std::fflush(stdout);
      return;
    }
  }
  std::printf(
      "crash points: %u kills survived (%u of them while a file was being written), %u runs ended before "
      "their kill, %u starts from R1\n",
      killed, cut_short, finished_first, restored);
  std::fflush(stdout);

  // The last run is not killed: exactly R2, the user's files, nothing else.
  auto p = start(update);
  ASSERT_EQ(p->wait_exit(240), 0) << p->stderr_text() << p->log_text();
  listing want = r2_;
  want.insert(user_.begin(), user_.end());
  const listing now = md5sum_tree(dest_);
  for (const auto& [rel, md5] : now) EXPECT_TRUE(want.count(rel)) << "left in the destination: " << rel;
  for (const auto& [rel, md5] : want)
    EXPECT_EQ(now.count(rel) ? now.at(rel) : "absent", md5) << rel << " after the last run";
  // The folder whose every file was withdrawn: removed when the last run
  // deleted one of its files, left empty when killed runs deleted them all.
  EXPECT_TRUE(!fs::exists(dest_ + kEmptiedFolder) || md5sum_tree(dest_ + kEmptiedFolder).empty())
      << kEmptiedFolder << " still holds files";
  EXPECT_TRUE(fs::exists(dest_ + "Retired Liveries/")) << "the folder holding the user's file stays";
}

}  // namespace
