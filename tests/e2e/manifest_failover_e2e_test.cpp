// The real program against a server list whose first nine mirrors serve a
// damaged manifest archive and whose last one is whole. Each damaged manifest
// is reported (logged, with --fps_test) and the manifest is fetched again
// from another server, so the program reaches the whole mirror by itself
// instead of fetching the same damaged file again and again.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "installer_process.h"

using namespace testsupport;

namespace {

TEST(ManifestFailoverE2E, DamagedManifestOnMostMirrorsStillReachesTheWholeOne) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (the test script runs under Xvfb)";
  TempDir root;
  make_dirs(root / "demo/www");
  Nginx server(root / "demo/www");
  publish_demo(root / "demo", server.host());
  const std::string release = "Skyvane 9.00";
  // The publisher hard-links the mirrors' copies: unlink before damaging one.
  const std::string damaged = root / "demo/www/mirror/" + release + "/directory.txt.zip";
  std::remove(damaged.c_str());
  write_file(damaged, "this is not a zip file");
  std::string list = "I\n820\nSERVERS\nFINAL " + release + "\n";
  for (int i = 0; i < 9; ++i)
    list += "SERVER " + server.host() + "\n/mirror/\nDamaged mirror " + std::to_string(i) + "\n";
  list += "SERVER " + server.host() + "\n/files/\nWhole mirror\nENDOFLIST\n";
  write_file(root / "demo/www/serverlist9.txt", list);

  // The list written here is not signed.
  auto p = std::make_unique<InstallerProcess>(
      root, std::vector<std::string>{"--vendor_host=" + server.host(), "--fps_test", "--release_key=none",
                                     root / "dest/"});
  ASSERT_TRUE(InstallerProcess::wait_for(
      [&] { return p->log_text().find("Directory read: result=3") != std::string::npos; }, 120))
      << "the manifest was read from the whole mirror; log:\n"
      << p->log_text();
  EXPECT_TRUE(p->running());
  EXPECT_NE(p->log_text().find("Release signatures are not checked (--release_key=none)"), std::string::npos)
      << "accepting unsigned releases is logged";
  p.reset();
}

}  // namespace
