// Test programs' main: every test program runs with private HOME, config and
// temporary folders, never the user's, and with fatal alerts turned into
// exceptions so a test can observe them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <string>

#include "installer/model.h"
#include "test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  static testsupport::TempDir* root = nullptr;
  {
    const char* base = getenv("TMPDIR");
    (void)base;
    root = new testsupport::TempDir();
    const std::string home = root->path() + "home/";
    const std::string tmp = root->path() + "tmp/";
    testsupport::make_dirs(home + ".config");
    testsupport::make_dirs(tmp);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + ".config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home + ".local/state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + ".cache").c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
    // The machine's proxy settings would send the tests' loopback requests
    // elsewhere; a test that wants a proxy sets its own.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
      unsetenv(name);
  }
  // What the real program's start-up hands down to the lower layers.
  MACIBM_wire_lower_layers();
  installer_wire_lower_layers();
  alert_set_exit_hook([](int code) { throw testsupport::fatal_alert_exit(code); });
  int rc = RUN_ALL_TESTS();
  delete root;
  return rc;
}
