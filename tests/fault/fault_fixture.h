#pragma once
// Whole installs without a window, as the driver runs them (server list,
// manifest, examination, folders, choice, grab passes), for the fault
// tests: a release made by the real publisher, served by nginx and by
// FaultyMirror, installed into a real folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "installer/core_fixture.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "net/http.h"
#include "util/xtim.h"

namespace faulttest {

using product = std::map<std::string, std::string>;  // path below the product root -> bytes

inline bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Release R1: small texts, a 400 kB file of random bytes (so that half of
// its archive is a real part of a transfer), a scenery file in a 7z archive
// and a program for this platform.
inline product release_one() {
  return {
      {"Master/data/a.txt", "first file\n"},
      {"Master/data/big.bin", testsupport::random_bytes(400000, 11)},
      {"Master/data/c.txt", "third file\n"},
      {"Master/data/sub/d.txt", "a file in a subfolder\n"},
      {"Master/Global Scenery/+40-120/tile.dsf", testsupport::random_bytes(150000, 12)},
      {"Master/bin/skyvane", "#!/bin/sh\necho linux program\n"},
  };
}

// R2 changes big.bin, the scenery tile and c.txt, and adds a file.
inline product release_two() {
  product p = release_one();
  p["Master/data/big.bin"] = testsupport::random_bytes(400000, 21);
  p["Master/Global Scenery/+40-120/tile.dsf"] = testsupport::random_bytes(150000, 22);
  p["Master/data/c.txt"] = "third file, second version\n";
  p["Master/data/new.txt"] = "new in R2\n";
  return p;
}

class FaultInstall : public coretest::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    std::srand(4242);
    stg.log_actions = 1;
    stg.rename_folder = 0;
    for (int i = 0; i < http_class::kSlots; ++i) {
      delete http.down[i];
      http.down[i] = nullptr;
    }
  }
  void TearDown() override {
    for (int i = 0; i < http_class::kSlots; ++i) {
      delete http.down[i];
      http.down[i] = nullptr;
    }
    CoreTest::TearDown();
  }

  static std::string publisher() { return std::string(SKYVANE_BINARY_DIR) + "/tools/skyvane-publish"; }

  // Publishes `files` as `release` into `out` listing `mirrors`
  // ("HOST|/dir/|description").
  void publish(const product& files, const std::string& release, const std::string& out,
               const std::vector<std::string>& mirrors, const std::string& previous = "") {
    const std::string prod = dir_ / ("product-" + release + "/");
    testsupport::run("rm -rf " + testsupport::shell_quote(prod));
    for (const auto& [rel, bytes] : files) {
      testsupport::make_dirs(prod + rel.substr(0, rel.rfind('/')));
      testsupport::write_file(prod + rel, bytes);
    }
    testsupport::write_file(dir_ / "platforms", "2 Master/bin/\n");
    std::string cmd = testsupport::shell_quote(publisher()) + " --product " + testsupport::shell_quote(prod) +
                      " --release " + testsupport::shell_quote(release) + " --out " +
                      testsupport::shell_quote(out) + " --platforms " +
                      testsupport::shell_quote(dir_ / "platforms");
    for (const auto& m : mirrors) cmd += " --mirror " + testsupport::shell_quote(m);
    if (!previous.empty()) cmd += " --previous " + testsupport::shell_quote(previous);
    std::string output;
    ASSERT_EQ(testsupport::run(cmd + " 2>&1", &output), 0) << output;
  }

  bool time_left() const { return std::chrono::steady_clock::now() < deadline_; }
  void start_clock(int seconds = 120) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }

  // Server list and manifest from `vendor_host`, then read_directory.
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

  // Install pressed: folders, choice, grab passes until the engine ends.
  // `before_pass` runs before every pass (a test may move the clock there);
  // it returns false to keep the clock where it put it.
  int install(const std::function<bool()>& before_pass = nullptr) {
    reset_streams();
    stg.got_failed_install = 0;
    make_dirs();
    if (!choose_files()) return 0;
    stg.step = 1;
    start_clock();
    while (stg.step == 1 && time_left()) {
      if (!before_pass || before_pass()) xtim.advance_clock();
      for (int i = 0; i < 50 && stg.step == 1; ++i) {
        if (grab_files()) {
          stg.step = 2;
          reset_streams();
        }
      }
    }
    EXPECT_EQ(stg.step, 2) << "the grab ended";
    return 1;
  }

  // Every file of `files` is in `dest` with the product's bytes.
  void expect_installed(const product& files, const std::string& dest,
                        const std::set<std::string>& except = {}) {
    for (const auto& [rel, bytes] : files) {
      if (except.count(rel)) continue;
      const std::string local = dest + rel.substr(rel.find('/') + 1);
      ASSERT_TRUE(testsupport::file_exists(local)) << "installed: " << local;
      EXPECT_EQ(testsupport::read_file(local), bytes) << "the published bytes: " << local;
    }
  }

  // Every entry below `root`, as relative paths, for "nothing else changed".
  std::set<std::string> files_below(const std::string& root) {
    std::string out;
    testsupport::run("cd " + testsupport::shell_quote(root) + " && find . -mindepth 1 | sort", &out);
    std::set<std::string> s;
    size_t start = 0;
    while (start < out.size()) {
      const size_t nl = out.find('\n', start);
      s.insert(out.substr(start, nl - start));
      start = nl == std::string::npos ? out.size() : nl + 1;
    }
    return s;
  }

  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace faulttest
