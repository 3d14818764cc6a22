// A network that lies: the real program (--batch) installs a release and
// then updates it through a relay (tests/support/lying_relay.py) in front of
// nginx that, at random, cuts archive answers part-way (closed or reset),
// stalls them, flips a byte of the body or answers with another archive's
// bytes. The relay keeps within the program's limits (per install, an
// archive damaged at most twice and cut at most three times), so every lie
// must become a retry: each install completes, and the destination then
// holds exactly the published files, no part file, the user's own files
// untouched. The lies given are counted by kind; each kind is given in every
// install. The manifest passes unchanged: its signature is checked once per
// server, and a damaged one is refused.
//
// SKYVANE_LIE_SEED replays the lies drawn for each archive's requests (the
// seed is printed; which of the first answers get one lie of each kind
// depends on timing); SKYVANE_LIES sets the number of runs (one fresh install
// and one update each; default 1; runs alternate between one lying mirror
// and two); SKYVANE_LIE_RATE the share of archive answers lied to (default
// 0.2); SKYVANE_LIE_LONG_STALLS the share of stalls that outlast the
// program's patience with a silent server (default 0). scripts/soak.sh runs
// it long.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "installer_process.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// Both releases: a few dozen files, most small, five of 1-3 MB (one a
// scenery tile, which is published as a 7z archive). R2 changes a dozen
// files (two large ones and the tile among them), withdraws three, adds four.
const char* const kMakeProducts = R"PY(
import os, random, sys
r1, r2 = sys.argv[1], sys.argv[2]
rng = random.Random(2611)
files = {}
for i in range(20):
    files["Airports/apt %02d.dat" % i] = rng.randbytes(rng.randint(0, 6000))
for i in range(12):
    files["Objects/obj %02d.obj" % i] = rng.randbytes(rng.randint(1000, 60000))
for i in range(4):
    files["Textures/big %d.dds" % i] = rng.randbytes(rng.randint(1000000, 3000000))
files["Global Scenery/Tiles/+40-080/+45-075.dsf"] = rng.randbytes(1500000)
files["Read Me.txt"] = b"Release one\n"
second = dict(files)
for name in ("Airports/apt 03.dat", "Airports/apt 11.dat", "Objects/obj 05.obj"):
    del second[name]
for name in rng.sample([n for n in sorted(second) if n.startswith(("Airports", "Objects"))], 8):
    second[name] = rng.randbytes(max(1, len(files[name]) + rng.randint(-500, 500)))
for name in ("Textures/big 1.dds", "Textures/big 2.dds", "Global Scenery/Tiles/+40-080/+45-075.dsf",
             "Read Me.txt"):
    second[name] = rng.randbytes(len(files[name]) - 1000 if len(files[name]) > 1000 else 20)
for i in range(4):
    second["New Airports/apt %02d.dat" % i] = rng.randbytes(rng.randint(100, 9000))
for root, release in ((r1, files), (r2, second)):
    for name, data in release.items():
        path = os.path.join(root, "Skyvane 9", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
)PY";

const char* const kUserFiles[] = {"My Notes.txt", "Objects/my object.obj", "Airports/my airport.dat"};

using listing = std::map<std::string, std::string>;  // relative path -> MD5

double env_share(const char* name, double fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtod(v, nullptr) : fallback;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// tests/support/lying_relay.py in front of `upstream`, listening on
// `ports` ports; stopped on destruction.
class LyingRelay {
 public:
  LyingRelay(const TempDir& dir, const std::string& upstream, const std::string& www, unsigned seed,
             double rate, double long_stalls, int ports)
      : log_(dir / "lies.log"), out_(dir / "relay.out") {
    const std::string& out = out_;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen((out + ".err").c_str(), "w", stderr))
        ::_exit(127);
      const std::string script = std::string(SKYVANE_SOURCE_DIR) + "/tests/support/lying_relay.py";
      const std::string seed_text = std::to_string(seed), rate_text = std::to_string(rate),
                        long_text = std::to_string(long_stalls), ports_text = std::to_string(ports);
      ::execlp("python3", "python3", script.c_str(), "--upstream", upstream.c_str(), "--www", www.c_str(),
               "--seed", seed_text.c_str(), "--rate", rate_text.c_str(), "--log", log_.c_str(), "--listen",
               ports_text.c_str(), "--long-stalls", long_text.c_str(), (char*)nullptr);
      ::_exit(127);
    }
    InstallerProcess::wait_for([&] { return read_file_or_empty(out).find('\n') != std::string::npos; }, 20);
    std::istringstream ready(read_file_or_empty(out));
    std::string word;
    ready >> word;
    for (int port; ready >> port;) ports_.push_back(port);
    if (word != "ready" || static_cast<int>(ports_.size()) != ports)
      throw std::runtime_error("the lying relay did not start: " + read_file_or_empty(out + ".err"));
  }
  ~LyingRelay() {
    ::kill(pid_, SIGTERM);
    if (!InstallerProcess::wait_for([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  LyingRelay(const LyingRelay&) = delete;
  LyingRelay& operator=(const LyingRelay&) = delete;

  std::string host(size_t i) const { return "127.0.0.1:" + std::to_string(ports_.at(i)); }
  // A new install begins: every kind of lie once more before the random
  // ones. Returns where its lies begin in the log.
  size_t rearm() {
    const size_t at = read_file_or_empty(log_).size();
    ::kill(pid_, SIGUSR1);
    const std::string armed = "armed " + std::to_string(++arms_) + "\n";
    if (!InstallerProcess::wait_for([&] { return read_file_or_empty(out_).find(armed) != std::string::npos; },
                                    20))
      throw std::runtime_error("the lying relay did not take the new install");
    return at;
  }
  std::string lies_since(size_t at) const { return read_file_or_empty(log_).substr(at); }

 private:
  static std::string read_file_or_empty(const std::string& path) {
    return file_exists(path) ? read_file(path) : std::string();
  }
  std::string log_, out_;
  int pid_ = -1;
  int arms_ = 0;
  std::vector<int> ports_;
};

// The lies of one install, by kind.
struct lie_counts {
  std::map<std::string, unsigned> by_kind;  // cut, stall, flip, swap
  unsigned resets = 0, long_stalls = 0;
  std::string text() const {
    std::ostringstream o;
    unsigned all = 0;
    for (const auto& [kind, n] : by_kind) all += n;
    o << all << " lies: cut " << (by_kind.count("cut") ? by_kind.at("cut") : 0) << " (" << resets
      << " reset), stall " << (by_kind.count("stall") ? by_kind.at("stall") : 0) << " (" << long_stalls
      << " over 30 s), flip " << (by_kind.count("flip") ? by_kind.at("flip") : 0) << ", swap "
      << (by_kind.count("swap") ? by_kind.at("swap") : 0);
    return o.str();
  }
};

lie_counts count_lies(const std::string& log) {
  lie_counts c;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind, detail;
    words >> kind >> detail;
    ++c.by_kind[kind];
    if (kind == "cut" && detail == "reset") ++c.resets;
    if (kind == "stall" && std::strtod(detail.c_str(), nullptr) > 30.0) ++c.long_stalls;
  }
  return c;
}

class LyingNetwork : public ::testing::Test {
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

  // Publishes both releases into pub-<mirrors>-r1/ and -r2/, naming
  // `mirrors` of the relay's ports as the download servers.
  void publish(const LyingRelay& relay, int mirrors) {
    for (const char* release : {"r1", "r2"}) {
      const std::string out = root_ / ("pub-" + std::to_string(mirrors) + "-" + release);
      std::string cmd = shell_quote(build_dir() + "/tools/skyvane-publish") + " --product " +
                        shell_quote(root_ / release) + " --release " +
                        shell_quote(std::string("Skyvane 9 ") + release) + " --out " + shell_quote(out) +
                        " --sign " + shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
      for (int m = 0; m < mirrors; ++m)
        cmd += " --mirror " + shell_quote(relay.host(m) + "|/files" + std::to_string(m) + "/|Lying mirror " +
                                          std::to_string(m + 1));
      if (std::string(release) == "r2")
        cmd += " --previous " + shell_quote(root_ / ("pub-" + std::to_string(mirrors) + "-r1"));
      std::string text;
      ASSERT_EQ(run(cmd + " 2>&1", &text), 0) << text;
    }
  }

  // nginx serves the release published as `dir` (below www/, which the relay
  // reads for the archives it swaps in).
  void serve(const std::string& dir) {
    ASSERT_EQ(run("rm -rf " + shell_quote(root_ / "www") + " && cp -a " + shell_quote(root_ / dir) + " " +
                  shell_quote(root_ / "www")),
              0);
  }

  struct outcome {
    int status;
    std::string err, log;
  };
  outcome install(bool update) {
    std::vector<std::string> args = {"--batch", "--accept-licence", "--vendor_host=" + server_->host(),
                                     "--pref:_rename_folder=0", dest_};
    if (update) args.push_back("--changed=overwrite");
    InstallerProcess p(*machine_, args, headless_run{});
    // Only a bound for a run that hangs: the program's own give-up times
    // (30 s for a silent server, pauses of at most 30 s) end a run long before.
    const int status = p.wait_exit(900);
    return {status, p.stderr_text(), p.log_text()};  // the log is written anew by each run
  }

  TempDir root_;
  std::unique_ptr<Nginx> server_;
  std::string dest_ = root_ / "dest/";
  // Each run's home, configuration and temporary folders: a machine of its
  // own, since one that has seen R2 rightly refuses R1's older server list.
  std::unique_ptr<TempDir> machine_;
  listing r1_, r2_;
};

// The test command runs the same draws every time; scripts/soak.sh draws
// a new seed for each of its runs.
constexpr unsigned kDefaultSeed = 20261210;

TEST_F(LyingNetwork, InstallsCompleteWithThePublishedBytes) {
  const unsigned seed = env_number("SKYVANE_LIE_SEED", kDefaultSeed);
  const unsigned runs = env_number("SKYVANE_LIES", 1);
  const double rate = env_share("SKYVANE_LIE_RATE", 0.2);
  const double long_stalls = env_share("SKYVANE_LIE_LONG_STALLS", 0.0);
  std::printf(
      "lying relay: seed %u, %u runs, %.2f of the archive answers lied to, %.2f of the stalls long "
      "(SKYVANE_LIE_SEED=%u replays the lies)\n",
      seed, runs, rate, long_stalls, seed);
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));

  LyingRelay relay(root_, server_->host(), root_ / "www", seed, rate, long_stalls, 2);
  publish(relay, 1);
  publish(relay, 2);

  lie_counts total;
  unsigned installs = 0, refetched = 0, failed_downloads = 0;
  for (unsigned k = 0; k < runs; ++k) {
    const int mirrors = 1 + static_cast<int>(k % 2);
    fs::remove_all(dest_);
    machine_ = std::make_unique<TempDir>();
    listing user;
    for (const bool update : {false, true}) {
      std::ostringstream what;
      what << "run " << k + 1 << ", " << (update ? "update" : "fresh install") << " from " << mirrors
           << (mirrors == 1 ? " lying mirror" : " lying mirrors") << " (seed " << seed << ")";
      SCOPED_TRACE(what.str());
      serve("pub-" + std::to_string(mirrors) + (update ? "-r2" : "-r1"));
      const size_t lies_at = relay.rearm();
      const auto started = std::chrono::steady_clock::now();
      const outcome r = install(update);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const lie_counts lies = count_lies(relay.lies_since(lies_at));
      const size_t again = count_of(r.log, "fetching it again");
      // The first failure of an archive on each server is logged.
      const size_t failed = count_of(r.log, "HTTP Error for");
      std::printf(
          "%s: exit %d after %.1f s; %s; %zu damaged archives fetched again, %zu failed downloads "
          "logged\n",
          what.str().c_str(), r.status, seconds, lies.text().c_str(), again, failed);
      std::fflush(stdout);
      ++installs;
      refetched += again;
      failed_downloads += failed;
      for (const auto& [kind, n] : lies.by_kind) total.by_kind[kind] += n;
      total.resets += lies.resets;
      total.long_stalls += lies.long_stalls;

      // Every kind was given in this install: it cannot pass by lying nothing.
      for (const char* kind : {"cut", "stall", "flip", "swap"})
        EXPECT_GT(lies.by_kind.count(kind) ? lies.by_kind.at(kind) : 0u, 0u) << "no " << kind << " was given";
      ASSERT_EQ(r.status, 0) << "the install did not complete\nstderr:\n"
                             << r.err << "\nlies:\n"
                             << relay.lies_since(lies_at) << "\nlog:\n"
                             << r.log;
      EXPECT_NE(r.err.find("Installation Complete!"), std::string::npos) << r.err;
      // Exactly the release and the user's files: no part file, nothing damaged.
      listing want = update ? r2_ : r1_;
      want.insert(user.begin(), user.end());
      const listing now = md5sum_tree(dest_);
      for (const auto& [rel, md5] : now) EXPECT_TRUE(want.count(rel)) << "left in the destination: " << rel;
      for (const auto& [rel, md5] : want)
        EXPECT_EQ(now.count(rel) ? now.at(rel) : "absent", md5)
            << rel << (user.count(rel) ? " (the user's)" : "");
      // No downloaded archive is left in the temporary folder either.
      const listing temp = md5sum_tree(*machine_ / "tmp");
      for (const auto& [rel, md5] : temp)
        EXPECT_TRUE(rel.find(".zip") == std::string::npos && rel.find(".7z") == std::string::npos)
            << "left in the temporary folder: " << rel;
      if (HasFailure()) return;
      if (!update) {
        for (const char* rel : kUserFiles) write_file(dest_ + rel, std::string("mine: ") + rel + "\n");
        user = md5sum_tree(dest_);
        for (const auto& [rel, md5] : r1_) user.erase(rel);
        ASSERT_EQ(user.size(), std::size(kUserFiles));
      }
    }
  }
  std::printf(
      "lying relay: %u installs complete with the published bytes; %s; %u damaged archives fetched "
      "again, %u failed downloads logged\n",
      installs, total.text().c_str(), refetched, failed_downloads);
  std::fflush(stdout);
}

}  // namespace
