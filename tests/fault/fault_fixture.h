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

#include "installer/install_fixture.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "net/http.h"
#include "util/xtim.h"

namespace faulttest {

using coretest::is_dir;
using coretest::product;

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

class FaultInstall : public coretest::InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    std::srand(4242);
    stg.rename_folder = 0;
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
};

}  // namespace faulttest
