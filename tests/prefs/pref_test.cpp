// The settings file: round trip, command-line overrides, and files written by
// others (missing, empty, truncated, garbage, wrong header, odd lines).
#include "prefs/pref.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

#include "installer/model.h"
#include "net/http.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {
class PrefTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_config_ = getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    testsupport::make_dirs(dir_ / "config");
    cmdline.clear();
    set_defaults();
    log_open(dir_ / "Log.txt");
    alert_set_observer([this](const alert_record& r) { alerts_.push_back(r); });
  }
  void TearDown() override {
    setenv("XDG_CONFIG_HOME", old_config_.c_str(), 1);
    cmdline.clear();
    set_defaults();
    alert_set_observer(nullptr);
    log_close();
  }
  static void set_defaults() {
    stg.use_max_cpu = 0;
    stg.rename_folder = 1;
    stg.stream_count = 0;
    stg.log_actions = 0;
    stg.always_ask_dir = 0;
    dest_dir_path = "/home/u/Skyvane 9/";
    http.ProxyHost.clear();
    http.ProxyPort_str.clear();
    http.ProxyPort_int = 0;
    http.MaxRate_kb = 0;
    stg.release_time = 0;
  }
  std::string path() const { return dir_ / "config/Skyvane Installer.prf"; }
  void write_prefs(const std::string& bytes) { testsupport::write_file(path(), bytes); }
  void read_prefs() { pref.IO_set(11, 0); }

  testsupport::TempDir dir_;
  std::string old_config_;
  std::vector<alert_record> alerts_;
};

TEST_F(PrefTest, FileLivesInTheConfigFolder) {
  EXPECT_EQ(pref_file_path(), path()) << "$XDG_CONFIG_HOME/Skyvane Installer.prf";
}

TEST_F(PrefTest, RoundTripWritesTheFileLayout) {
  stg.use_max_cpu = 1;
  stg.rename_folder = 0;
  stg.stream_count = 3;
  stg.log_actions = 1;
  stg.always_ask_dir = 1;
  dest_dir_path = "/data/My Sim/";
  http.ProxyHost = "proxy.lan";
  http.ProxyPort_str = "3128";
  http.ProxyPort_int = 3128;
  http.MaxRate_kb = 250;
  stg.release_time = 4102444800;  // past 2038: more than an int holds
  pref.IO_set(11, 1);
  EXPECT_EQ(testsupport::read_file(path()),
            "I\n9002 version\n_use_max_cpu 1\n_rename_folder 0\n_stream_count 3\n_log_actions 1\n"
            "_always_ask_dir 1\n_dest_dir_path /data/My Sim/\n_proxy_host proxy.lan\n_proxy_port 3128\n"
            "_proxy_port_int 3128\n_max_rate_kb 250\n_release_time 4102444800\n")
      << "header, then every setting in the file's fixed order; the newer ones after the older ones";

  set_defaults();
  read_prefs();
  EXPECT_EQ(stg.use_max_cpu, 1);
  EXPECT_EQ(stg.rename_folder, 0);
  EXPECT_EQ(stg.stream_count, 3);
  EXPECT_EQ(stg.log_actions, 1);
  EXPECT_EQ(stg.always_ask_dir, 1);
  EXPECT_EQ(dest_dir_path, "/data/My Sim/") << "text values keep inner spaces";
  EXPECT_EQ(http.ProxyHost, "proxy.lan");
  EXPECT_EQ(http.ProxyPort_str, "3128");
  EXPECT_EQ(http.ProxyPort_int, 3128);
  EXPECT_EQ(http.MaxRate_kb, 250);
  EXPECT_EQ(stg.release_time, 4102444800) << "the newest release time seen survives the restart";
  EXPECT_TRUE(alerts_.empty());
}

TEST_F(PrefTest, EmptyTextsAreNotWritten) {
  pref.IO_set(11, 1);
  const std::string text = testsupport::read_file(path());
  EXPECT_EQ(text.find("_proxy_host"), std::string::npos) << "an empty proxy host is not written";
  EXPECT_NE(text.find("_proxy_port_int 0\n"), std::string::npos) << "integers are always written";
  http.ProxyHost = "stale";
  read_prefs();
  EXPECT_EQ(http.ProxyHost, "stale") << "an absent tag keeps the current value";
}

TEST_F(PrefTest, CommandLineOverridesAndIsWrittenBack) {
  write_prefs("I\n9002 version\n_log_actions 0\n_stream_count 2\n");
  cmdline.init_win("--pref:_log_actions=1 --pref:_dest_dir_path=/over/ --pref:_proxy_port_int=abc");
  read_prefs();
  EXPECT_EQ(stg.log_actions, 1) << "the command line wins over the file";
  EXPECT_EQ(stg.stream_count, 2) << "settings without an override come from the file";
  EXPECT_EQ(dest_dir_path, "/over/");
  EXPECT_EQ(http.ProxyPort_int, 0) << "a value that is not a number gives 0";
  pref.IO_set(11, 1);
  EXPECT_NE(testsupport::read_file(path()).find("_log_actions 1\n"), std::string::npos)
      << "the overriding value is written back at exit";

  cmdline.clear();
  const char* argv[] = {"skyvane-installer", "--pref:_dest_dir_path=/with space/x/", "--pref:_stream_count="};
  cmdline.init_args(3, argv);
  read_prefs();
  EXPECT_EQ(dest_dir_path, "/with space/x/") << "an argument's value keeps its spaces";
  EXPECT_EQ(stg.stream_count, 0) << "an empty override gives 0";
}

TEST_F(PrefTest, NumbersAreReadLikeAtoiWithoutOverflow) {
  write_prefs(
      "I\n9002 version\n_use_max_cpu 12abc\n_rename_folder -7\n_stream_count 99999999999999\n"
      "_log_actions x1\n_always_ask_dir -99999999999999\n");
  read_prefs();
  EXPECT_EQ(stg.use_max_cpu, 12) << "leading digits count";
  EXPECT_EQ(stg.rename_folder, -7);
  EXPECT_EQ(stg.stream_count, 2147483647) << "too large is held at the int limit, not overflowed";
  EXPECT_EQ(stg.log_actions, 0) << "not a number gives 0";
  EXPECT_EQ(stg.always_ask_dir, -2147483647 - 1);
}

TEST_F(PrefTest, UnusableFilesKeepDefaults) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "empty file"},
      {"I\n9002 version\n", "header only"},
      {"I\n90", "truncated in the version"},
      {"I", "truncated after the letter"},
      {"X\n9002 version\n_stream_count 4\n", "wrong header letter"},
      {"I\n9001 version\n_stream_count 4\n", "wrong version"},
      {"I\n820 version\n_stream_count 4\n", "another file's version"},
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "garbage"},
  };
  for (const auto& [bytes, what] : cases) {
    set_defaults();
    write_prefs(bytes);
    read_prefs();
    EXPECT_EQ(stg.stream_count, 0) << what;
    EXPECT_EQ(stg.rename_folder, 1) << what;
    EXPECT_EQ(dest_dir_path, "/home/u/Skyvane 9/") << what;
  }
  testsupport::run("rm -f " + testsupport::shell_quote(path()));
  read_prefs();
  EXPECT_EQ(stg.rename_folder, 1) << "a missing file keeps defaults";
  EXPECT_TRUE(alerts_.empty()) << "an unusable settings file is not an error";
}

TEST_F(PrefTest, OddLinesNeverStallTheReader) {
  write_prefs(std::string("A\n9002 version\n\n\r\n") + std::string(2, '\0') +
              "_stream_count 2\n\t  _log_actions\t 1\r\n_stream_count 4\n_dest_dir_path\n_rename_folder 0");
  dest_dir_path = "/keep/";
  read_prefs();
  EXPECT_EQ(stg.stream_count, 4)
      << "lines starting with line ends or zero bytes are skipped; later duplicate wins";
  EXPECT_EQ(stg.log_actions, 1) << "blanks around tag and value are skipped";
  EXPECT_EQ(stg.rename_folder, 0) << "the last line needs no line end";
  EXPECT_EQ(dest_dir_path, "/keep/") << "a destination without a value keeps the folder set before";
}

// The installation folder from the file or from --pref: follows the command
// line's rules for a destination; a value that names no absolute folder
// keeps the folder set before it (the default). Either way every manifest
// path can be appended to it and the scan can list it.
TEST_F(PrefTest, DestinationFolderIsAbsoluteNormalisedAndEndsInASlash) {
  const std::string kDefault = "/home/u/Skyvane 9/";
  struct dest_case {
    const char* value;
    const char* want;  // null: the default stays
  } cases[] = {
      {"/data/My Sim/", "/data/My Sim/"},
      {"/data/My Sim", "/data/My Sim/"},
      {"/data//a/./b/../Sim", "/data/a/Sim/"},
      {"/odd\\name", "/odd\\name/"},
      {"/", "/"},
      {"", nullptr},
      {"relative/Sim/", nullptr},
      {"./Sim", nullptr},
  };
  for (const auto& c : cases) {
    const std::string want = c.want ? c.want : kDefault;
    for (const bool from_cmdline : {false, true}) {
      SCOPED_TRACE(std::string(from_cmdline ? "--pref:" : "file: ") + "\"" + c.value + "\"");
      cmdline.clear();
      set_defaults();
      if (from_cmdline) {
        write_prefs("I\n9002 version\n_dest_dir_path /from/the/file/\n");
        const std::string arg = std::string("--pref:_dest_dir_path=") + c.value;
        const char* argv[] = {"skyvane-installer", arg.c_str()};
        cmdline.init_args(2, argv);
      } else {
        write_prefs(std::string("I\n9002 version\n_dest_dir_path ") + c.value + "\n");
      }
      read_prefs();
      EXPECT_EQ(dest_dir_path, want);
    }
  }
  EXPECT_TRUE(alerts_.empty());
}

TEST_F(PrefTest, ValueWithLineEndIsNotWritten) {
  dest_dir_path = "/a\n_stream_count 9\n";
  pref.IO_set(11, 1);
  set_defaults();
  read_prefs();
  EXPECT_EQ(stg.stream_count, 0) << "a line end in a value must not smuggle in another setting";
}

TEST_F(PrefTest, OufOpenMakesOneMissingFolder) {
  ASSERT_EQ(ouf_open(dir_ / "newdir/file.prf", kOufText, 9002, " note"), 1) << "the missing folder is made";
  ouf.close();
  EXPECT_EQ(testsupport::read_file(dir_ / "newdir/file.prf"), "I\n9002 version note\n")
      << "text header with note";

  ASSERT_EQ(ouf_open(dir_ / "raw.BIN", kOufRaw, 9002, "no-copyright-string"), 1);
  ouf.close();
  const std::string raw = testsupport::read_file(dir_ / "raw.BIN");
  ASSERT_EQ(raw.size(), 5u) << "'i' and four version bytes; name kept as given";
  EXPECT_EQ(raw[0], 'i');
  EXPECT_EQ(static_cast<unsigned char>(raw[1]) | static_cast<unsigned char>(raw[2]) << 8, 9002)
      << "version in this machine's (little-endian) byte order";
}

TEST_F(PrefTest, OufOpenFailureRaisesTheSaveAlert) {
  EXPECT_EQ(ouf_open(dir_ / "a/b/c.prf", kOufText, 9002, "no-copyright-string"), 0)
      << "two missing levels cannot be made";
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].type, t_alert);
  EXPECT_EQ(alerts_[0].file, "IO_UTILS");
  EXPECT_EQ(alerts_[0].line, 1090);
  EXPECT_EQ(alerts_[0].l2, dir_ / "a/b/c.prf") << "the second line names the file";
  EXPECT_EQ(alerts_[0].l1.rfind("I could not save the file!", 0), 0u);

  // Settings file in a folder that cannot be made: one alert, nothing else.
  alerts_.clear();
  setenv("XDG_CONFIG_HOME", (dir_ / "x/y").c_str(), 1);
  pref.IO_set(11, 1);
  EXPECT_EQ(alerts_.size(), 1u) << "the alert is raised once";
}

TEST_F(PrefTest, OufOpenPathLengthLimit) {
  // 499 characters are accepted (the missing folders then fail normally);
  // 500 end the program before anything is opened.
  // Folder names stay under the 255-byte name limit: existing levels of 200
  // characters, then one missing level that ouf_open makes.
  std::string p499 = dir_ / "";
  while (499 - p499.size() - 4 > 250) {
    p499 += std::string(200, 'a') + "/";
    testsupport::make_dirs(p499);
  }
  p499 += std::string(499 - p499.size() - 4, 'd') + "/f.x";
  ASSERT_EQ(p499.size(), 499u);
  EXPECT_EQ(ouf_open(p499, kOufText, 1, "no-copyright-string"), 1) << "one missing level is made";
  ouf.close();
  EXPECT_TRUE(alerts_.empty());
  EXPECT_THROW(ouf_open(p499 + "x", kOufText, 1, "no-copyright-string"), testsupport::fatal_alert_exit)
      << "a 500-character path is fatal";
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].type, t_exit);
}

TEST_F(PrefTest, OufOpenBadKindIsFatal) {
  try {
    ouf_open(dir_ / "f", 3, 1, "");
    FAIL() << "a bad kind ends the program";
  } catch (const testsupport::fatal_alert_exit&) {
  }
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].l1, "Bad ouf_open type!");
  EXPECT_EQ(alerts_[0].line, 1036);
}
}  // namespace
