// The command-line option table: the option tokenizer, this platform's
// argument rules, the printing options and the real program's --help.
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/test_support.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {
struct cmdline_exit : std::runtime_error {
  int code;
  explicit cmdline_exit(int c) : std::runtime_error("cmdline exit"), code(c) {}
};

class CmdlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cmdline.clear();
    cmdline_set_exit_hook([](int code) { throw cmdline_exit(code); });
    log_open(dir_ / "Log.txt");
  }
  void TearDown() override {
    cmdline.clear();
    cmdline_set_exit_hook(nullptr);
    cmdline_set_cmnds_printer(nullptr);
    log_close();
  }
  std::string log_text() {
    xer.flush();
    return testsupport::read_file(dir_ / "Log.txt");
  }
  testsupport::TempDir dir_;
};

TEST_F(CmdlineTest, TokenizerFillsTheTable) {
  cmdline.init_win("--pref:_stream_count=4 --fps_test");
  ASSERT_EQ(cmdline.options.size(), 2u) << "two tokens give two entries";
  EXPECT_EQ(cmdline.get_option("--pref:_stream_count"), "4") << "value after '='";
  EXPECT_EQ(cmdline.has_option("--fps_test"), 1) << "a bare option is present";
  EXPECT_EQ(cmdline.get_option("--fps_test"), "") << "a bare option has an empty value";
  EXPECT_EQ(cmdline.has_option("fps_test"), 0) << "names are looked up with their dashes";
  EXPECT_EQ(cmdline.has_option("--FPS_TEST"), 0) << "names are case-sensitive";

  cmdline.clear();
  cmdline.init_win("\t--a=b=c\r\n\v\f  -x=\"q r\"  ");
  EXPECT_EQ(cmdline.get_option("--a"), "b=c") << "only the first '=' splits name and value";
  EXPECT_EQ(cmdline.get_option("-x"), "\"q") << "quotes have no special meaning; white space ends the value";
  EXPECT_EQ(cmdline.has_option("r\""), 1) << "the rest after the space is a token of its own";

  std::string log = log_text();
  EXPECT_NE(log.find("     '--a'='b=c'\n"), std::string::npos) << "each option is logged with its value:\n"
                                                               << log;
  EXPECT_NE(log.find("     '--fps_test'\n"), std::string::npos) << "a bare option is logged without '=':\n"
                                                                << log;
}

TEST_F(CmdlineTest, DuplicateOptionKeepsTheLaterValueAndWarns) {
  cmdline.init_win("--pref:_log_actions=0 --pref:_log_actions=1");
  EXPECT_EQ(cmdline.get_option("--pref:_log_actions"), "1") << "the later value replaces the earlier";
  EXPECT_NE(log_text().find("WARNING: command line option --pref:_log_actions=1included twice.\n"),
            std::string::npos)
      << "the duplicate warning line, word for word (no space before 'included')";
}

TEST_F(CmdlineTest, EmptyNamesAreIgnored) {
  cmdline.init_win("=value   ");
  EXPECT_TRUE(cmdline.options.empty()) << "a token with an empty name is not stored";
}

TEST(CmdlineSplit, DestinationRules) {
  auto s = cmdline_split_args({"/home/me/My Sim"}, "/cwd/");
  EXPECT_EQ(s.destination, "/home/me/My Sim/") << "spaces kept, trailing '/' added";
  EXPECT_TRUE(s.error.empty());

  s = cmdline_split_args({"/home/me/Sim/"}, "/cwd/");
  EXPECT_EQ(s.destination, "/home/me/Sim/") << "no second '/' when one is there";

  s = cmdline_split_args({"games/Sky vane"}, "/home/me/");
  EXPECT_EQ(s.destination, "/home/me/games/Sky vane/")
      << "a relative folder is taken below the working folder";

  s = cmdline_split_args({"../Sky//./vane/.."}, "/home/me/games/");
  EXPECT_EQ(s.destination, "/home/me/Sky/") << "'.', '..' and doubled '/' are resolved to one folder name";

  s = cmdline_split_args({"/"}, "/cwd/");
  EXPECT_EQ(s.destination, "/") << "the root stays the root";

  s = cmdline_split_args({"--fps_test", "-h", "--pref:_dest_dir_path=/x y/"}, "/cwd/");
  EXPECT_EQ(s.destination, "") << "an option is never taken as the destination";
  ASSERT_EQ(s.options.size(), 3u);
  EXPECT_EQ(s.options[2].second, "/x y/") << "an option's value may hold spaces on this platform";

  s = cmdline_split_args({"--a=b=c", "/d"}, "/cwd/");
  EXPECT_EQ(s.options[0].first, "--a");
  EXPECT_EQ(s.options[0].second, "b=c") << "the value may contain further '='";
  EXPECT_EQ(s.destination, "/d/");

  s = cmdline_split_args({"--", "-odd name"}, "/cwd/");
  EXPECT_EQ(s.destination, "/cwd/-odd name/") << "after '--' a leading '-' is part of a folder name";
  EXPECT_TRUE(s.options.empty());

  s = cmdline_split_args({"/home/me/My", "Sim"}, "/cwd/");
  EXPECT_FALSE(s.error.empty()) << "an unquoted path split by the shell is refused, not guessed";
}

TEST(CmdlineSplit, VendorHostIsChecked) {
  EXPECT_TRUE(cmdline_split_args({"--vendor_host=127.0.0.1:8080"}, "/").error.empty());
  EXPECT_TRUE(cmdline_split_args({"--vendor_host=example.com"}, "/").error.empty());
  for (const char* https : {"--vendor_host=https://example.com", "--vendor_host=HTTPS://127.0.0.1:8443",
                            "--vendor_host=https://[::1]:8443"})
    EXPECT_TRUE(cmdline_split_args({https}, "/").error.empty()) << https << ": an https:// vendor host";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=https://"}, "/").error.empty()) << "a scheme alone";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=ftp://h"}, "/").error.empty()) << "another scheme";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host="}, "/").error.empty()) << "empty host";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=h:0"}, "/").error.empty()) << "port 0";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=h:65536"}, "/").error.empty()) << "port too large";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=h:8x"}, "/").error.empty()) << "port not a number";
  EXPECT_FALSE(cmdline_split_args({"--vendor_host=h/x"}, "/").error.empty()) << "a path is not a host";
  EXPECT_TRUE(cmdline_split_args({"--max_rate=0"}, "/").error.empty());
  EXPECT_TRUE(cmdline_split_args({"--max_rate=512"}, "/").error.empty());
  for (const char* bad : {"--max_rate", "--max_rate=", "--max_rate=-1", "--max_rate=1.5", "--max_rate=10k",
                          "--max_rate=9999999999", "--release_key", "--release_key="})
    EXPECT_FALSE(cmdline_split_args({bad}, "/").error.empty()) << bad;
  for (const char* ok : {"--release_key=none", "--release_key=/keys/vendor.pub"})
    EXPECT_TRUE(cmdline_split_args({ok}, "/").error.empty()) << ok;
  for (const char* ok : {"--vendor_host=[::1]:8080", "--vendor_host=[::1]", "--vendor_host=[2001:db8::7]:80"})
    EXPECT_TRUE(cmdline_split_args({ok}, "/").error.empty()) << ok;
  for (const char* bad : {"--vendor_host=::1:8080", "--vendor_host=[::1", "--vendor_host=[::1]:",
                          "--vendor_host=[::1]x", "--vendor_host=[mirror]:80", "--vendor_host=[::1]:0"})
    EXPECT_FALSE(cmdline_split_args({bad}, "/").error.empty()) << bad;
  for (const char* ok : {"--changed=keep", "--changed=overwrite", "--changed=cancel"})
    EXPECT_TRUE(cmdline_split_args({ok}, "/").error.empty()) << ok;
  for (const char* bad : {"--changed", "--changed=", "--changed=Keep", "--changed=yes"})
    EXPECT_FALSE(cmdline_split_args({bad}, "/").error.empty()) << bad << " is a usage error (exit 2)";
}

TEST(CmdlineSplit, BatchIsSeenBeforeAnythingIsStored) {
  const char* batch[] = {"skyvane-installer", "/dest", "--batch"};
  const char* plain[] = {"skyvane-installer", "--", "--batch"};
  EXPECT_TRUE(cmdline_asks_batch(3, batch)) << "--batch anywhere among the options";
  EXPECT_FALSE(cmdline_asks_batch(3, plain)) << "after \"--\" it is a folder name, not the option";
}

TEST_F(CmdlineTest, InitArgsStoresOptionsAndDestination) {
  const char* argv[] = {"skyvane-installer", "--pref:_stream_count=3", "/data/Sky Vane"};
  cmdline.init_args(3, argv);
  EXPECT_EQ(cmdline.get_option("--pref:_stream_count"), "3");
  EXPECT_EQ(cmdline.destination, "/data/Sky Vane/");
}

TEST_F(CmdlineTest, BadCommandLineExitsWithCode2) {
  const char* argv[] = {"skyvane-installer", "/a", "/b"};
  try {
    cmdline.init_args(3, argv);
    FAIL() << "two destinations must end the program";
  } catch (const cmdline_exit& e) {
    EXPECT_EQ(e.code, 2) << "usage error code";
  }
}

TEST_F(CmdlineTest, HelpPrintsUsageAndExitsZero) {
  for (const char* opt : {"-h", "--help"}) {
    cmdline.clear();
    ::testing::internal::CaptureStdout();
    int code = -1;
    try {
      cmdline.init_win(opt);
    } catch (const cmdline_exit& e) {
      code = e.code;
    }
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, 0) << opt << " ends the program with 0";
    EXPECT_EQ(out, cmdline_usage_text()) << opt << " prints the usage text";
  }
}

TEST_F(CmdlineTest, CmndsUsesTheRegistryPrinter) {
  std::string seen = "(not called)";
  cmdline_set_cmnds_printer([&](const std::string& v) { seen = v; });
  int code = -1;
  try {
    cmdline.init_win("--cmnds=all --help");
  } catch (const cmdline_exit& e) {
    code = e.code;
  }
  EXPECT_EQ(seen, "all") << "the registry printer gets the option's value";
  EXPECT_EQ(code, 0) << "--cmnds ends the program with 0 (before --help)";
}

// Every option and file location the usage text must name.
const char* const kEveryOption[] = {"-h",
                                    "--help",
                                    "--version",
                                    "--vendor_host=HOST[:PORT]",
                                    "--max_rate=KB",
                                    "--batch",
                                    "--accept-licence",
                                    "--show-licence",
                                    "--changed=keep|overwrite|cancel",
                                    "_max_rate_kb",
                                    "--release_key=FILE|none",
                                    "_release_time",
                                    "http_proxy",
                                    "no_proxy",
                                    "--pref:TAG=VALUE",
                                    "_use_max_cpu",
                                    "_rename_folder",
                                    "_stream_count",
                                    "_log_actions",
                                    "_always_ask_dir",
                                    "_dest_dir_path",
                                    "_proxy_host",
                                    "_proxy_port",
                                    "_proxy_port_int",
                                    "--fps_test",
                                    "--lock_main_thread",
                                    "--cmnds",
                                    "--use_vbos",
                                    "--use_glsl",
                                    "--use_fprogs",
                                    "--use_vprogs",
                                    "--no_vbos",
                                    "--no_pbos",
                                    "--no_sprites",
                                    "--no_pixel_counters",
                                    "--no_aniso_filtering",
                                    "--no_hw_mipmap",
                                    "--no_vshaders",
                                    "--no_fshaders",
                                    "--no_glsl",
                                    "--no_fbos",
                                    "--no_threaded_ogl",
                                    "--no_sblend",
                                    "--force_run",
                                    "Skyvane Installer.prf",
                                    "Log.txt",
                                    "XDG_STATE_HOME",
                                    "TMPDIR"};

TEST(CmdlineUsage, ListsEveryOptionAndFileLocation) {
  const std::string u = cmdline_usage_text();
  for (const char* opt : kEveryOption) {
    EXPECT_NE(u.find(opt), std::string::npos) << "usage text lacks " << opt;
  }
}

// The real program, as a user runs it: a copy in a folder of its own, whose
// log (Log.txt beside the program) holds the last real run's lines.
TEST(CmdlineProgram, HelpAndVersion) {
  const std::string built = std::string(SKYVANE_BINARY_DIR) + "/skyvane-installer";
  ASSERT_TRUE(testsupport::file_exists(built)) << "build the skyvane-installer target first";
  testsupport::TempDir dir;
  const std::string exe = dir / "skyvane-installer";
  ASSERT_EQ(testsupport::run("cp " + testsupport::shell_quote(built) + " " + testsupport::shell_quote(exe)),
            0);
  const std::string last_run = "the last real run's log\n";
  testsupport::write_file(dir / "Log.txt", last_run);
  std::string out;
  EXPECT_EQ(testsupport::run(testsupport::shell_quote(exe) + " --help", &out), 0) << "--help exits 0";
  EXPECT_NE(out.find("Usage: skyvane-installer"), std::string::npos) << out;
  for (const char* opt : kEveryOption) EXPECT_NE(out.find(opt), std::string::npos) << "--help lacks " << opt;
  out.clear();
  EXPECT_EQ(testsupport::run(testsupport::shell_quote(exe) + " -h", &out), 0) << "-h exits 0";
  EXPECT_NE(out.find("--lock_main_thread"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(testsupport::run(testsupport::shell_quote(exe) + " --version", &out), 0) << "--version exits 0";
  EXPECT_EQ(out, cmdline_version_text() + "\n") << "--version prints the version line only";
  EXPECT_NE(out.find("Skyvane 9.00 Beta-25"), std::string::npos);
  out.clear();
  EXPECT_EQ(testsupport::run(testsupport::shell_quote(exe) + " /a /b", &out), 2)
      << "two destinations are a usage error";
  EXPECT_NE(out.find("more than one destination"), std::string::npos) << "the user is told why: " << out;
  EXPECT_EQ(testsupport::read_file(dir / "Log.txt"), last_run)
      << "printing the usage or the version, or refusing the command line, leaves the log alone";
}
}  // namespace
