// Signed releases: a server list is used only when its signature verifies
// with a trusted key, names the list's FINAL release and is not older than a
// release seen before; a manifest only when its signature verifies and names
// the release. Keys and signatures are made by the minisign tool for this
// run; the keys are handed over as --release_key=FILE.
#include "installer/release_auth.h"

#include <gtest/gtest.h>

#include <functional>

#include "core_fixture.h"
#include "installer/server_list.h"
#include "util/UTL_cmdline.h"

using coretest::CoreTest;
using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::write_file;

namespace {

const std::string kList =
    "A\n820\nSERVERS\nFINAL Skyvane 9.10\nSERVER host0.example\n/files/\nMirror 0\n"
    "SERVER host1.example\n/mirror/\nMirror 1\nENDOFLIST\n";

class ReleaseAuth : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    for (const char* k : {"trusted", "other"}) {
      ASSERT_EQ(run("minisign -G -W -p " + shell_quote(dir_ / (std::string(k) + ".pub")) + " -s " +
                    shell_quote(dir_ / (std::string(k) + ".key")) + " > /dev/null 2>&1"),
                0);
    }
    cmdline.options["--release_key"] = dir_ / "trusted.pub";
  }
  void TearDown() override {
    cmdline.options.erase("--release_key");
    CoreTest::TearDown();
  }

 public:
  // Signs `file` into `file`.minisig with key `key` and the trusted comment.
  void sign(const std::string& file, const std::string& comment, const std::string& key = "trusted") {
    ASSERT_EQ(run("minisign -S -s " + shell_quote(dir_ / (key + ".key")) + " -m " + shell_quote(file) +
                  " -t " + shell_quote(comment) + " > /dev/null"),
              0);
  }
};

struct list_case {
  const char* name;
  std::function<void(ReleaseAuth&, const std::string& list, const std::string& sig)> prepare;
  int64_t seen_before;     // stg.release_time at the start
  const char* log_reason;  // empty: accepted
};

TEST_F(ReleaseAuth, ServerListIsUsedOnlyWithAGoodSignatureForItsRelease) {
  auto good = [](ReleaseAuth& t, const std::string& list, const std::string&) {
    t.sign(list, "time=1000 release=Skyvane 9.10");
  };
  auto flip = [](const std::string& path, size_t at) {
    std::string b = read_file(path);
    b[at] ^= 1;
    write_file(path, b);
  };
  const std::vector<list_case> cases = {
      {"a good release", good, 0, ""},
      {"the same release seen before", good, 1000, ""},
      {"one changed byte in the list",
       [&](ReleaseAuth& t, const std::string& list, const std::string& sig) {
         good(t, list, sig);
         flip(list, kList.find("host1"));
       },
       0, "the signature does not match the file"},
      {"one changed byte in the signature",
       [&](ReleaseAuth& t, const std::string& list, const std::string& sig) {
         good(t, list, sig);
         std::string s = read_file(sig);
         const size_t at = s.find('\n') + 60;
         s[at] = s[at] == 'A' ? 'B' : 'A';
         write_file(sig, s);
       },
       0, "the signature does not match the file"},
      {"signed by another key",
       [](ReleaseAuth& t, const std::string& list, const std::string&) {
         t.sign(list, "time=1000 release=Skyvane 9.10", "other");
       },
       0, "a key this installer does not trust"},
      {"signed for another release",
       [](ReleaseAuth& t, const std::string& list, const std::string&) {
         t.sign(list, "time=1000 release=Skyvane 9.00");
       },
       0, "for release \"Skyvane 9.00\", not \"Skyvane 9.10\""},
      {"a trusted comment of another form",
       [](ReleaseAuth& t, const std::string& list, const std::string&) { t.sign(list, "timestamp:1000"); }, 0,
       "is not \"time=<seconds> release=<name>\""},
      {"a replayed older list", good, 1001, "signed at 1000, older than a release already seen (1001)"},
      {"a missing signature", [](ReleaseAuth&, const std::string&, const std::string&) {}, 0,
       "the signature serverlist9.txt.minisig is missing"},
  };
  for (const list_case& c : cases) {
    SCOPED_TRACE(c.name);
    CoreTest::TearDown();
    CoreTest::SetUp();
    cmdline.options["--release_key"] = dir_ / "trusted.pub";
    stg.release_time = c.seen_before;
    const std::string list = temp_path + "serverlist9.txt";
    const std::string sig = list + ".minisig";
    write_file(list, kList);
    std::remove(sig.c_str());
    c.prepare(*this, list, sig);
    const bool accepted = read_signed_server_list(list, testsupport::file_exists(sig) ? sig : std::string());
    const std::string log = log_text();
    if (*c.log_reason == '\0') {
      EXPECT_TRUE(accepted) << log;
      EXPECT_EQ(stg.num_servers, 2);
      EXPECT_EQ(install_name, "Skyvane 9.10") << "a FINAL name may hold spaces";
      EXPECT_EQ(stg.release_time, 1000) << "the newest time accepted is kept";
      EXPECT_TRUE(alerts.empty());
    } else {
      EXPECT_FALSE(accepted);
      EXPECT_EQ(stg.num_servers, -1) << "a refused list leaves the server table unread";
      EXPECT_EQ(install_name, no_install_name);
      EXPECT_EQ(stg.release_time, c.seen_before) << "a refused list does not move the time";
      EXPECT_NE(log.find("Server list refused: "), std::string::npos) << log;
      EXPECT_NE(log.find(c.log_reason), std::string::npos) << log;
      ASSERT_EQ(alerts.size(), 1u) << "the alert of an unaccepted server list";
      EXPECT_EQ(app_done, 1) << "and the program ends, as for any unaccepted list";
    }
  }
}

TEST_F(ReleaseAuth, ManifestSignatureMustVerifyAndNameTheRelease) {
  const std::string zip = temp_path + "directory.txt.zip";
  const std::string sig = zip + ".minisig";
  const std::string what = "directory.txt.zip.minisig";
  write_file(zip, std::string("PK\x03\x04 manifest bytes", 20));
  sign(zip, "time=1000 release=Skyvane 9.10");
  EXPECT_TRUE(check_release_signature(zip, sig, "Skyvane 9.10", what).ok);
  EXPECT_NE(check_release_signature(zip, sig, "Skyvane 9.00", what).why.find("for release \"Skyvane 9.10\""),
            std::string::npos)
      << "signed for another release";
  EXPECT_NE(
      check_release_signature(zip, "", "Skyvane 9.10", what).why.find("directory.txt.zip.minisig is missing"),
      std::string::npos);
  std::string b = read_file(zip);
  b[5] ^= 1;
  write_file(zip, b);
  EXPECT_FALSE(check_release_signature(zip, sig, "Skyvane 9.10", what).ok) << "one changed byte";
}

TEST_F(ReleaseAuth, AnUnusableKeyFileAcceptsNothing) {
  cmdline.options["--release_key"] = dir_ / "trusted.key";
  release_keys_reset();
  const std::string zip = temp_path + "directory.txt.zip";
  write_file(zip, "bytes");
  sign(zip, "time=1 release=R");
  const release_check c = check_release_signature(zip, zip + ".minisig", "R", "directory.txt.zip.minisig");
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.why.find("is unusable"), std::string::npos) << c.why;
}

TEST(ReleaseComment, TimeAndReleaseNameAreReadExactly) {
  int64_t t = 0;
  std::string r;
  ASSERT_TRUE(parse_release_comment("time=1700000000 release=Skyvane 9.00 beta", t, r));
  EXPECT_EQ(t, 1700000000);
  EXPECT_EQ(r, "Skyvane 9.00 beta") << "the name is the rest of the line";
  EXPECT_EQ(release_comment(t, r), "time=1700000000 release=Skyvane 9.00 beta");
  for (const char* bad : {"", "time= release=R", "time=1 release=", "time=1  release=R", "release=R time=1",
                          "time=-1 release=R", "time=1x release=R"})
    EXPECT_FALSE(parse_release_comment(bad, t, r)) << bad;
}

}  // namespace
