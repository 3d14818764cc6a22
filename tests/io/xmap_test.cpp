// The mapped file reader: header checks of text and binary data files, the
// path rule, and the lifetime of mappings.
#include "io/xmap.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"  // app_path
#include "util/log.h"

using testsupport::fatal_alert_exit;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

// Collects the alerts raised during a test instead of showing them.
class XmapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alert_set_observer([this](const alert_record& r) { alerts.push_back(r); });
  }
  void TearDown() override { alert_set_observer(nullptr); }

  std::string make(const std::string& name, const std::string& bytes) {
    const std::string p = dir / name;
    write_file(p, bytes);
    return p;
  }

  TempDir dir;
  std::vector<alert_record> alerts;
};

const int kManifestVersions[] = {840, 900, 0};
const int kServerVersions[] = {820, 0};
const int kPrefsVersions[] = {9002, 0};
const int kNoVersions[] = {0};

// Whether /proc/self/maps lists the file (by its canonical name).
bool mapped_in_process(const std::string& path) {
  const std::string canon = std::filesystem::weakly_canonical(path).string();
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(canon) != std::string::npos) return true;
  return false;
}

TEST_F(XmapTest, TextHeaderAcceptedWithFreeTextAndBodyCursor) {
  xmap_class x(make("m.txt", "I\n900 free text here\nINSTALLER\nbody line\n"));
  ASSERT_NE(x.mBegin, nullptr) << "an ordinary file must map";
  std::string free_text = "unset";
  EXPECT_EQ(x.check_file(kCheckText, kManifestVersions, "INSTALLER", &free_text), 900)
      << "letter I, listed version and the type word make a valid header";
  EXPECT_EQ(free_text, "free text here") << "free text comes without the separating blank";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(x.mCrt), 9), "body line")
      << "cursor must sit on the body";
  EXPECT_EQ(x.rev_inf_bin, 0) << "text mode leaves the byte-order flag alone";
}

TEST_F(XmapTest, TextHeaderVariantsOfLineEndsAndLetters) {
  xmap_class crlf(make("a.txt", "A whatever\r\n\r\n 840\r\nINSTALLER  trailing\r\n\r\nX"));
  EXPECT_EQ(crlf.check_file(kCheckText, kManifestVersions, "INSTALLER"), 840)
      << "CR LF line ends, blank lines and a leading blank before the version are allowed";
  ASSERT_LT(crlf.mCrt, crlf.mEnd);
  EXPECT_EQ(*crlf.mCrt, 'X') << "the rest of the type line and empty lines are skipped";

  xmap_class no_word(make("p.txt", "I\n9002\nkey 1\n"));
  EXPECT_EQ(no_word.check_file(kCheckText, kPrefsVersions, nullptr), 9002) << "preferences have no type word";
  EXPECT_EQ(*no_word.mCrt, 'k') << "without a type word the body starts on line 3";

  xmap_class at_end(make("e.txt", "I\n820\nSERVERS"));
  EXPECT_EQ(at_end.check_file(kCheckText, kServerVersions, "SERVERS"), 820)
      << "a type word that ends the file is still a whole word";
  EXPECT_EQ(at_end.mCrt, at_end.mEnd) << "the cursor stops at the end of the data";
}

TEST_F(XmapTest, TextHeaderRejections) {
  xmap_class letter(make("l.txt", "X\n900\nINSTALLER\n"));
  EXPECT_EQ(letter.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0) << "first byte must be A or I";

  xmap_class version(make("v.txt", "I\n901\nINSTALLER\n"));
  EXPECT_EQ(version.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0)
      << "unlisted version is refused";

  xmap_class word(make("w.txt", "I\n900\n  INSTALLERS\n"));
  EXPECT_EQ(word.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0)
      << "a longer word is not the type word";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(word.mCrt), 10), "INSTALLERS")
      << "on a wrong word the cursor is left where the word begins";

  xmap_class other(make("o.txt", "I\n900\nDVD\n"));
  EXPECT_EQ(other.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0)
      << "another type word is refused";

  xmap_class huge(make("h.txt", "I\n99999999999999999999900\nINSTALLER\n"));
  EXPECT_EQ(huge.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0)
      << "a version too large for an int must not wrap onto a listed one";

  xmap_class zero(make("z.txt", "I\n0\n"));
  EXPECT_EQ(zero.check_file(kCheckText, kNoVersions, nullptr), 0) << "version 0 ends the list, never matches";
  EXPECT_TRUE(alerts.empty()) << "refused headers raise no alert";
}

TEST_F(XmapTest, BinaryHeaderByteOrders) {
  xmap_class big(make("b.bin", std::string("a\x00\x00\x03\x84rest", 9)));
  EXPECT_EQ(big.check_file(kCheckBinary, kManifestVersions, nullptr), 900)
      << "a + 00 00 03 84 is version 900";
  EXPECT_EQ(big.rev_inf_bin, 1) << "'a' files are in the other byte order";
  EXPECT_EQ(*big.mCrt, 'r') << "the body follows the five header bytes";

  xmap_class little(make("i.bin", std::string("i\x84\x03\x00\x00", 5)));
  EXPECT_EQ(little.check_file(kCheckBinary, kManifestVersions, nullptr), 900) << "i + 84 03 00 00 is 900";
  EXPECT_EQ(little.rev_inf_bin, 0) << "'i' files are in this machine's order";
  EXPECT_EQ(little.mCrt, little.mEnd) << "cursor at the end, not past it";

  xmap_class short_file(make("s.bin", std::string("a\x00\x03", 3)));
  EXPECT_EQ(short_file.check_file(kCheckBinary, kManifestVersions, nullptr), 0)
      << "fewer than four version bytes is version 0";

  xmap_class letter(make("x.bin", std::string("A\x00\x00\x03\x84", 5)));
  EXPECT_EQ(letter.check_file(kCheckBinary, kManifestVersions, nullptr), 0)
      << "binary files start with lower-case a or i";
}

TEST_F(XmapTest, EmptyMissingFolderAndGarbageFiles) {
  xmap_class empty(make("empty", ""));
  EXPECT_EQ(empty.mBegin, nullptr) << "a zero-byte file gives no data";
  EXPECT_TRUE(empty.found_empty_file()) << "but it is known to exist";
  EXPECT_EQ(empty.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0) << "no data, no header";

  xmap_class missing(dir / "nope");
  EXPECT_EQ(missing.mBegin, nullptr) << "a missing file gives no data";
  EXPECT_FALSE(missing.found_empty_file()) << "a missing file is not an empty one";

  xmap_class folder(dir.path());
  EXPECT_EQ(folder.mBegin, nullptr) << "a folder is not a file to read";

  ASSERT_EQ(testsupport::run("mkfifo " + testsupport::shell_quote(dir / "fifo")), 0);
  xmap_class fifo(dir / "fifo");
  EXPECT_EQ(fifo.mBegin, nullptr) << "a FIFO must be refused, not waited on";

  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const std::string bytes = testsupport::random_bytes(seed % 13, seed);
    xmap_class g(make("g", bytes));
    for (int code : {kCheckText, kCheckBinary}) {
      g.check_file(code, kManifestVersions, "INSTALLER");
      EXPECT_TRUE(g.mCrt >= g.mBegin && g.mCrt <= g.mEnd) << "cursor stays inside the data, seed " << seed;
    }
  }
  xmap_class just_i(make("i1", "I"));
  EXPECT_EQ(just_i.check_file(kCheckText, kManifestVersions, "INSTALLER"), 0) << "a lone letter is no header";
  EXPECT_TRUE(alerts.empty()) << "bad files are silent";
}

// Paths of 500 characters or more are refused with an alert that names
// the path; the program goes on and the file reads as missing.
TEST_F(XmapTest, PathLengthLimit) {
  const std::string base = dir.path();
  ASSERT_LT(base.size(), 400u);
  const std::string p499 = base + std::string(499 - base.size(), 'x');
  xmap_class ok(p499);
  EXPECT_EQ(ok.mBegin, nullptr) << "the 499-character path names no file";
  EXPECT_TRUE(alerts.empty()) << "499 characters are allowed";

  const std::string p500 = base + std::string(500 - base.size(), 'x');
  const unsigned char* got = reinterpret_cast<const unsigned char*>(1);
  EXPECT_NO_THROW(got = xmap_class{}.retry(p500)) << "a long path does not end the program";
  EXPECT_EQ(got, nullptr) << "and reads as no file";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "String too long!");
  EXPECT_EQ(alerts[0].l2, p500) << "the alert names the path";
  EXPECT_EQ(alerts[0].type, t_alert);
  EXPECT_EQ(alerts[0].file, "hl_string");
  EXPECT_EQ(alerts[0].line, 137);
}

// "/" is the only separator: ':' and '\' are ordinary name characters, in
// a file's name and in its folders' names.
TEST_F(XmapTest, ColonAndBackslashAreOrdinaryNameCharacters) {
  for (const std::string name : {"a:b.txt", "odd\\name.txt", "back\\slash/x.txt"}) {
    const std::string path = dir / name;
    if (name.find('/') != std::string::npos) testsupport::make_dirs(path.substr(0, path.rfind('/')));
    write_file(path, "I\n820\nSERVERS\n");
    xmap_class m(path);
    EXPECT_NE(m.mBegin, nullptr) << name;
    EXPECT_EQ(m.size(), 14u) << name;
  }
  EXPECT_TRUE(alerts.empty());
}

TEST_F(XmapTest, ProgramFolderPrefix) {
  make("inside.txt", "I\n820\nSERVERS\n");
  app_path = dir.path();  // a program that keeps its paths relative to its folder
  xmap_class rel("inside.txt");
  EXPECT_NE(rel.mBegin, nullptr) << "relative paths are opened below the program folder";
  EXPECT_THROW(xmap_class{dir / "inside.txt"}, fatal_alert_exit)
      << "a path that holds the program folder is illegal";
  app_path.clear();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "retry: We are getting a file string that is not Skyroot relative!");
  EXPECT_EQ(alerts[0].l4, dir / "inside.txt");
  EXPECT_EQ(alerts[0].line, 122);
}

TEST_F(XmapTest, OutOfAddressSpaceAlerts) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves the address space this test limits";
#else
  const std::string big = dir / "big.bin";
  write_file(big, "x");
  std::filesystem::resize_file(big, 256u << 20);  // sparse: no disk needed
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Leave the child 32 MiB of address space beyond what it uses now.
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long vm_kb = 0;
    while (std::getline(status, line))
      if (line.rfind("VmSize:", 0) == 0) vm_kb = std::stoull(line.substr(7));
    const rlim_t limit = (vm_kb << 10) + (32u << 20);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    // The signing threads map files on workers: the log line goes through the
    // thread's own log (a capture here), never straight into the shared file.
    log_capture capture;
    xmap_class x(big);
    const bool ok = capture.text().find("Mem file error.") != std::string::npos && x.mBegin == nullptr &&
                    x.mEnd == nullptr && alerts.size() == 1 &&
                    alerts[0].l1 == "Xmapped file ran out of memory" && alerts[0].type == t_alert &&
                    alerts[0].file == "xmap" && alerts[0].line == 197;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the reader must survive a mapping the address space cannot hold";
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "no data, the out-of-memory alert (kind 1, xmap line 197) and its log line in the thread's own log";
#endif
}

TEST_F(XmapTest, BadCheckTypeIsFatal) {
  xmap_class x(make("f", "I\n900\n"));
  EXPECT_THROW(x.check_file(10002, kManifestVersions, nullptr), fatal_alert_exit)
      << "only 10000 and 10001 exist";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "Bad check_file type!");
  EXPECT_EQ(alerts[0].line, 12);
  EXPECT_EQ(alerts[0].file, "xmap");
}

TEST_F(XmapTest, RetryReleasesTheFirstFile) {
  const std::string first = make("first-file.txt", "one");
  const std::string second = make("second-file.txt", "two!");
  {
    xmap_class x(first);
    ASSERT_TRUE(mapped_in_process(first)) << "the first file is mapped";
    ASSERT_NE(x.retry(second), nullptr);
    EXPECT_FALSE(mapped_in_process(first)) << "retry must unmap the earlier file";
    EXPECT_TRUE(mapped_in_process(second));
    EXPECT_EQ(x.size(), 4u) << "the end follows the new file";
    EXPECT_EQ(x.mCrt, x.mBegin) << "the cursor restarts";
    EXPECT_EQ(x.retry(dir / "missing"), nullptr);
    EXPECT_FALSE(mapped_in_process(second)) << "a failed retry still releases the earlier file";
    EXPECT_EQ(x.mEnd, nullptr);
    ASSERT_NE(x.retry(second), nullptr);
  }
  EXPECT_FALSE(mapped_in_process(second)) << "the destructor unmaps";
}

}  // namespace
