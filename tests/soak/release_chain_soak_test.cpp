// A chain of releases: each one published by the real publisher, continuing
// the history of the one before (--previous), and installed in turn as an
// update of the same destination, in this process, by the installer's own
// engine as the fault tests drive it (server list, manifest, examination,
// choice, grab passes), every update a fresh run of that engine. Between two
// releases files are changed, added and withdrawn, a folder is renamed, a
// file moves between platforms (its platform rule changes, or it moves
// between the Linux and the Mac program folders) and now and then a
// withdrawn file comes back. After each update every file the release gives
// this platform holds its bytes, a file of another platform is left as it
// was, withdrawn files are gone, no part file, stream archive or emptied
// folder is left, and the user's own files are untouched. The resident
// memory after the last update may exceed that after the first (release 2;
// release 1 is the install) only by the growth of the manifest held in
// memory and a small margin: a leak across updates adds up over the chain.
//
// SKYVANE_SOAK_RELEASES sets the number of releases (default 5;
// scripts/soak.sh runs 40); SKYVANE_SOAK_SEED replays the drawn changes of
// an earlier run (the seed is printed).
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fault/fault_fixture.h"

namespace fs = std::filesystem;
using testsupport::env_number;
using testsupport::random_bytes;
using testsupport::read_file;
using testsupport::shell_quote;
using testsupport::write_file;

namespace {

// A file's bytes, kept as the recipe that makes them (pseudo-random bytes of
// a size from a seed), so that the test's own memory stays small and steady
// beside the engine's.
struct blob {
  size_t size = 0;
  uint32_t seed = 0;
  bool operator==(const blob&) const = default;
  std::string bytes() const { return random_bytes(size, seed); }
};
using files = std::map<std::string, blob>;         // path -> bytes
using texts = std::map<std::string, std::string>;  // path -> bytes

// This build's platform code; 0 is every platform.
constexpr int kThisPlatform = 2;
bool applies(int code) {
  return code == 0 || code == kThisPlatform;
}

// Folders that keep their name: the programs of each platform, the tools
// whose platform is drawn per file, the scenery (7z archives) and the
// folder holding one of the user's files.
const std::set<std::string> kFixedFolders = {"bin", "mac", "tools", "Global Scenery", "Airports"};

// The user's own files, in no release: at the top, in a folder every release
// keeps, in one that is renamed away, and among the Linux programs, which
// lose files to the Mac folder.
const texts kUserFiles = {
    {"My Notes.txt", "the user's own notes\n"},
    {"Airports/my airport.dat", "the user's airport\n"},
    {"Objects/my object.obj", "the user's object\n"},
    {"bin/my plugin.cfg", "the user's plugin settings\n"},
};

// One release: its files ("Master/..." -> recipe) and the platform code of
// each file below Master/tools/ (the rules file gives one line each).
struct release {
  files product;
  std::map<std::string, int> tool_codes;

  int code_of(const std::string& path) const {
    if (path.rfind("Master/bin/", 0) == 0) return kThisPlatform;
    if (path.rfind("Master/mac/", 0) == 0) return 1;
    const auto t = tool_codes.find(path);
    return t == tool_codes.end() ? 0 : t->second;
  }
  std::string rules() const {
    std::string text = "2 Master/bin/\n1 Master/mac/\n";
    for (const auto& [path, code] : tool_codes) text += std::to_string(code) + " " + path + "\n";
    return text;
  }
};

// Below the destination the master folder is not part of the path.
std::string installed_path(const std::string& path) {
  return path.substr(path.find('/') + 1);
}

// The first folder below Master/ ("" for a file at the top).
std::string top_folder(const std::string& path) {
  const std::string rel = installed_path(path);
  const size_t slash = rel.find('/');
  return slash == std::string::npos ? "" : rel.substr(0, slash);
}

// Resident size of this process in kB, after handing freed heap back to the
// system so that what is left is what is still in use.
long resident_kb() {
  malloc_trim(0);
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

class ReleaseChain : public faulttest::FaultInstall {
 protected:
  blob bytes(size_t lo, size_t hi) {
    const size_t size = lo + rng_() % (hi - lo + 1);
    return {size, static_cast<uint32_t>(rng_())};
  }
  template <class C>
  auto pick(const C& c) {
    auto it = c.begin();
    std::advance(it, rng_() % c.size());
    return *it;
  }

  release first_release() {
    release r;
    files& p = r.product;
    for (int i = 0; i < 600; ++i) p["Master/Airports/apt " + std::to_string(i) + ".dat"] = bytes(0, 3000);
    for (int i = 0; i < 200; ++i) p["Master/Objects/obj " + std::to_string(i) + ".obj"] = bytes(1000, 20000);
    for (int i = 0; i < 40; ++i) p["Master/Sounds/snd " + std::to_string(i) + ".wav"] = bytes(10000, 60000);
    for (int i = 0; i < 20; ++i)
      p["Master/Scripts/Lua/script " + std::to_string(i) + ".lua"] = bytes(20, 400);
    for (int i = 0; i < 2; ++i)
      p["Master/Textures/big " + std::to_string(i) + ".dds"] = bytes(300000, 600000);
    p["Master/Global Scenery/+40-080/+45-075.dsf"] = bytes(80000, 150000);
    p["Master/Global Scenery/+40-080/+46-075.dsf"] = bytes(80000, 150000);
    p["Master/bin/skyvane"] = bytes(30, 300);
    p["Master/bin/helper"] = bytes(2000, 9000);
    p["Master/mac/Skyvane.app/Contents/MacOS/Skyvane"] = bytes(2000, 9000);
    p["Master/mac/updater"] = bytes(2000, 9000);
    for (int i = 0; i < 6; ++i) {
      const std::string tool = "Master/tools/tool " + std::to_string(i);
      p[tool] = bytes(500, 5000);
      r.tool_codes[tool] = static_cast<int>(rng_() % 3);  // every platform, the Mac's or this one's
    }
    p["Master/Read Me.txt"] = bytes(10, 2000);
    return r;
  }

  // The next release: a drawn handful of each kind of change.
  release next_release(const release& before, unsigned k) {
    release r = before;
    files& p = r.product;
    std::vector<std::string> names;
    for (const auto& [path, b] : p) names.push_back(path);
    for (unsigned n = 1 + rng_() % 30; n > 0; --n) {
      blob& b = p[pick(names)];
      b = bytes(b.size > 500 ? b.size - 500 : 0, b.size + 500);
      ++tally_["changed"];
    }
    for (unsigned n = 1 + rng_() % 10; n > 0; --n) {
      const std::string folder = rng_() % 3 ? top_folder(pick(names)) : "Added " + std::to_string(k);
      if (folder == "tools" || folder == "mac" || folder == "bin") continue;
      p["Master/" + (folder.empty() ? "" : folder + "/") + "new " + std::to_string(k) + "-" +
        std::to_string(n) + ".dat"] = bytes(0, 20000);
      ++tally_["added"];
    }
    for (unsigned n = 1 + rng_() % 10; n > 0 && p.size() > 10; --n) {
      const std::string gone = pick(p).first;
      if (gone.rfind("Master/tools/", 0) == 0) continue;  // the tools move between platforms instead
      p.erase(gone);
      if (r.code_of(gone) == 0) withdrawn_.insert(gone);
      ++tally_["withdrawn"];
    }
    // A withdrawn file back, new bytes under its old name.
    for (const auto& gone : std::vector<std::string>(withdrawn_.begin(), withdrawn_.end())) {
      if (p.count(gone)) withdrawn_.erase(gone);
    }
    if (!withdrawn_.empty() && rng_() % 3 == 0) {
      const std::string back = pick(withdrawn_);
      withdrawn_.erase(back);
      p[back] = bytes(1, 9000);
      ++tally_["back after withdrawal"];
    }
    // A folder renamed: every file of it withdrawn and published again
    // under the new name.
    std::set<std::string> movable;
    for (const auto& [path, b] : p) {
      const std::string top = top_folder(path);
      if (!top.empty() && !kFixedFolders.count(top)) movable.insert(top);
    }
    if (!movable.empty()) {
      const std::string from = pick(movable);
      const std::string to = from.substr(0, from.find(" r")) + " r" + std::to_string(k);
      files renamed;
      for (auto it = p.begin(); it != p.end();) {
        if (top_folder(it->first) == from) {
          renamed["Master/" + to + it->first.substr(7 + from.size())] = it->second;
          withdrawn_.insert(it->first);
          it = p.erase(it);
        } else {
          ++it;
        }
      }
      p.insert(renamed.begin(), renamed.end());
      ++tally_["folders renamed"];
    }
    // A tool changes platform, and a program moves between the Linux and
    // the Mac folders.
    const std::string tool = pick(r.tool_codes).first;
    r.tool_codes[tool] = (r.tool_codes[tool] + 1 + static_cast<int>(rng_() % 2)) % 3;
    ++tally_["platform changes"];
    std::vector<std::string> programs;
    for (const auto& [path, b] : p)
      if (path.rfind("Master/bin/", 0) == 0 || path.rfind("Master/mac/", 0) == 0) programs.push_back(path);
    if (!programs.empty()) {
      const std::string from = pick(programs);
      const std::string to =
          (from.rfind("Master/bin/", 0) == 0 ? "Master/mac/" : "Master/bin/") + from.substr(11);
      if (!p.count(to)) {
        p[to] = p[from];
        p.erase(from);
        ++tally_["platform changes"];
      }
    }
    p["Master/Read Me.txt"] = bytes(10, 2000);
    return r;
  }

  // Publishes `r` as release number `k` into www/, continuing what is there.
  void publish_release(const release& r, unsigned k) {
    const std::string prod = dir_ / "product/";
    testsupport::run("rm -rf " + shell_quote(prod));
    for (const auto& [path, b] : r.product) {
      testsupport::make_dirs(prod + path.substr(0, path.rfind('/')));
      write_file(prod + path, b.bytes());
    }
    write_file(dir_ / "platforms", r.rules());
    char name[32];
    std::snprintf(name, sizeof name, "Skyvane 9.%02u", k);
    std::string cmd = shell_quote(publisher()) + " --product " + shell_quote(prod) + " --release " +
                      shell_quote(name) + " --out " + shell_quote(www_) + " --platforms " +
                      shell_quote(dir_ / "platforms") + " --mirror " +
                      shell_quote(server_->host() + "|/files/|Soak server") + " --sign " +
                      shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
    if (k > 1) cmd += " --previous " + shell_quote(www_);
    std::string out;
    ASSERT_EQ(testsupport::run(cmd + " 2>&1", &out), 0) << out;
  }

  // What the destination must hold after release `r`: its files for this
  // platform; a file of another platform as it was; a file withdrawn for
  // this platform (or every platform) gone.
  void expect_after(const release& r) {
    for (const auto& [path, b] : r.product) last_code_[path] = r.code_of(path);
    for (const auto& [path, code] : last_code_) {
      const auto now = r.product.find(path);
      if (now != r.product.end() && applies(code))
        want_[installed_path(path)] = now->second;
      else if (now == r.product.end() && applies(code))
        want_.erase(installed_path(path));
    }
  }

  // Bytes the parsed manifest holds: the histories, their rows and the rows'
  // strings longer than the string's own buffer, each allocation with the
  // allocator's 16-byte header.
  static size_t manifest_bytes() {
    auto text = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 + 16 : 0; };
    size_t n = sim_info.files.capacity() * sizeof(file_history_struct) + 16;
    for (const auto& h : sim_info.files) {
      n += h.versions.capacity() * sizeof(file_version_struct) + 16;
      for (const auto& v : h.versions) n += text(v.sig_want) + text(v.sig_have) + text(v.path);
    }
    return n;
  }

  // A folder that held a file of some release.
  bool product_folder(const std::string& rel) const {
    const std::string prefix = "Master/" + rel + "/";
    const auto it = last_code_.lower_bound(prefix);
    return it != last_code_.end() && it->first.rfind(prefix, 0) == 0;
  }

  // The destination file by file against the expectation, one file read at
  // a time; returns the number of files compared.
  size_t check_destination(const std::string& when) {
    const std::string dest = dest_dir_path;
    std::set<std::string> seen;
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
      const std::string rel = fs::relative(e.path(), dest).string();
      if (e.is_directory()) {
        // The program's own empty folders (Output/, Resources/...) are made
        // by every install; a product folder is left empty only when the
        // folders emptied by deletions were not removed.
        EXPECT_FALSE(product_folder(rel) && fs::is_empty(e.path()))
            << when << ": a folder emptied by the update is left: " << rel;
        continue;
      }
      seen.insert(rel);
      const std::string now = read_file(e.path().string());
      if (const auto w = want_.find(rel); w != want_.end()) {
        EXPECT_TRUE(now == w->second.bytes()) << when << ": " << rel << " does not hold the release's bytes ("
                                              << now.size() << " bytes, want " << w->second.size << ")";
      } else if (const auto u = users_.find(rel); u != users_.end()) {
        EXPECT_EQ(now, u->second) << when << ": the user's file " << rel << " was changed";
      } else if (rel.find(".skyvane-part") != std::string::npos) {
        ADD_FAILURE() << when << ": a part file is left: " << rel;
      } else {
        ADD_FAILURE() << when << ": " << rel
                      << " is in no release for this platform (withdrawn, not deleted?)";
      }
    }
    for (const auto& [rel, b] : want_)
      if (!seen.count(rel)) ADD_FAILURE() << when << ": " << rel << " is missing";
    for (const auto& [rel, b] : users_)
      if (!seen.count(rel)) ADD_FAILURE() << when << ": the user's file " << rel << " is gone";
    EXPECT_EQ(stream_archives_left(), "") << when << ": stream archives left in the temporary folder";
    return want_.size() + users_.size();
  }

  std::mt19937 rng_;
  std::string www_ = dir_ / "www/";
  std::unique_ptr<testsupport::Nginx> server_;
  std::set<std::string> withdrawn_;       // paths for every platform, withdrawn and not back yet
  std::map<std::string, int> last_code_;  // every path ever published -> its last platform code
  files want_;
  texts users_;
  std::map<std::string, unsigned> tally_;  // changes made, by kind
};

// The test command runs the same draws every time; scripts/soak.sh draws
// a new seed for each of its runs.
constexpr unsigned kDefaultSeed = 20261210;

TEST_F(ReleaseChain, EachUpdateLeavesExactlyItsReleaseAndMemoryDoesNotGrow) {
  const unsigned seed = env_number("SKYVANE_SOAK_SEED", kDefaultSeed);
  const unsigned releases = std::max(3u, env_number("SKYVANE_SOAK_RELEASES", 5));
  std::printf("release chain: seed %u, %u releases (SKYVANE_SOAK_SEED=%u replays them)\n", seed, releases,
              seed);
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  rng_.seed(seed);
  testsupport::make_dirs(www_);
  server_ = std::make_unique<testsupport::Nginx>(www_);
  const auto start = std::chrono::steady_clock::now();

  release r = first_release();
  size_t checked = 0;
  long first_kb = 0, last_kb = 0, peak_kb = 0;
  size_t first_manifest = 0, last_manifest = 0;
  for (unsigned k = 1; k <= releases; ++k) {
    const std::string when = "release " + std::to_string(k) + " (seed " + std::to_string(seed) + ")";
    if (k > 1) r = next_release(r, k);
    ASSERT_NO_FATAL_FAILURE(publish_release(r, k)) << when;
    if (k > 1) {
      // A fresh run of the engine on the same destination and temporary
      // folder, as the next start of the program would be.
      TearDown();
      SetUp();
    }
    ASSERT_NO_FATAL_FAILURE(fetch_and_read(server_->host())) << when;
    ASSERT_EQ(install(), 1) << when << ": the install was not started";
    EXPECT_EQ(stg.got_failed_install, 0) << when;
    EXPECT_EQ(next.dir_done, 1) << when << ": the update is not reported complete";
    EXPECT_TRUE(alerts.empty()) << when << ": " << (alerts.empty() ? "" : alerts[0].l1);
    EXPECT_TRUE(coretest::g_questions.empty()) << when << ": asked about " << coretest::g_questions[0].path;
    expect_after(r);
    if (k == 1) {
      for (const auto& [rel, b] : kUserFiles) {
        testsupport::make_dirs(dest_dir_path + rel.substr(0, rel.rfind('/') + 1));
        write_file(dest_dir_path + rel, b);
      }
      users_ = kUserFiles;
    }
    checked += check_destination(when);
    if (HasFailure()) {
      std::printf("%s failed; its log:\n%s\n", when.c_str(), log_text().c_str());
      std::fflush(stdout);
      return;
    }
    last_kb = resident_kb();
    last_manifest = manifest_bytes();
    if (k == 2) first_kb = last_kb, first_manifest = last_manifest;
    peak_kb = std::max(peak_kb, last_kb);
    const struct mallinfo2 heap = mallinfo2();
    std::printf("release %u: %zu files installed, resident %ld kB (heap in use %zu kB, manifest %zu kB)\n", k,
                want_.size(), last_kb, (heap.uordblks + heap.hblkhd) / 1024, last_manifest / 1024);
    std::fflush(stdout);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "release chain: %u releases in %.1f s, %zu files checked, resident %ld kB after the first update, "
      "%ld kB after the last (peak %ld kB); changes:",
      releases, seconds, checked, first_kb, last_kb, peak_kb);
  for (const auto& [kind, n] : tally_) std::printf(" %u %s;", n, kind.c_str());
  std::printf("\n");
  std::fflush(stdout);
  // The baseline is the first update (release 2), not the install of
  // release 1: an install into an empty folder signs no files, so the
  // examination's read buffers first appear in an update. What may grow
  // legitimately is the manifest held in memory, which keeps every file's
  // history and every withdrawn file's last row (measured, not guessed),
  // plus 4 MB for the rest: what the allocator keeps back (fragmentation,
  // the worker threads' arenas) and this test's own record of every path
  // ever published (runs of forty releases grew by 1.2-1.6 MB beyond the
  // manifest). A leak of one parsed manifest per update (a trial) grew by
  // 28 MB over forty releases.
  const long allowed_kb = 4096 + static_cast<long>((last_manifest - first_manifest) / 1024);
  std::printf(
      "release chain: %ld kB more resident after the last update than after the first, %ld kB allowed\n",
      last_kb - first_kb, allowed_kb);
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer keeps freed memory in quarantine and maps shadow
  // memory as it goes: the resident size says nothing about leaks there
  // (its own leak check runs at exit instead).
  std::printf("release chain: resident memory not compared in the sanitizer build\n");
#else
  EXPECT_LE(last_kb, first_kb + allowed_kb) << "resident memory grew over " << releases - 1 << " updates";
#endif
}

}  // namespace
