// File operations, folder listings and the error texts.
#include "io/IO_UTILS.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/hl_alert.h"

using testsupport::fatal_alert_exit;
using testsupport::file_exists;
using testsupport::make_dirs;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

class IoUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alert_set_observer([this](const alert_record& r) { alerts.push_back(r); });
  }
  void TearDown() override { alert_set_observer(nullptr); }

  unsigned mode_of(const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  }

  TempDir dir;
  std::vector<alert_record> alerts;
};

TEST(ErrorStr, TableTextsWin) {
  EXPECT_EQ(error_str(kErrNetNoServer), "We could not find the server over the network")
      << "own code from the table";
  EXPECT_EQ(error_str(2), "No such file or directory") << "errno value from the table";
  EXPECT_EQ(error_str(0), "No error detected");
  EXPECT_EQ(error_str(28), "No space left on device. Perhaps your hard drive is full")
      << "the table's text replaces the system's for codes it lists";
  EXPECT_EQ(error_str(kErrOpenRead), "We could not open a file to read from it");
  EXPECT_EQ(error_str(kErrNetBadState), "We wre unable to connect to the network due to a bad state error")
      << "texts are kept exactly, misspellings included";
}

TEST(ErrorStr, SystemCodesGetTheSystemsMeaning) {
  // The table's errno rows come from another C library: where Linux numbers
  // an error otherwise (26 is ETXTBSY, 40 ELOOP, 88 ENOTSOCK), the user reads
  // the system's text, and a row only adds advice to that text.
  for (const int code : {26, 40, 77, 88, 99, 6, 19}) {
    EXPECT_EQ(error_str(code), std::strerror(code)) << "code " << code;
  }
  for (const error_msg_info* e = kErrMsgs; e->msg; ++e) {
    if (e->err == 0 || e->err >= kErrFirstOwn) continue;
    EXPECT_TRUE(error_str(e->err).starts_with(std::strerror(e->err)))
        << "code " << e->err << " reads \"" << error_str(e->err) << "\"";
  }
}

TEST(ErrorStr, OtherCodesGetTheSystemText) {
  EXPECT_EQ(error_str(183), std::strerror(183)) << "183 is not in the table: the system's text";
  EXPECT_EQ(error_str(15), std::strerror(15)) << "15 has no row in the table";
  EXPECT_EQ(error_str(37), std::strerror(37)) << "37 has no row in the table";
  EXPECT_EQ(error_str(60), std::strerror(60)) << "41..76 have no rows";
  const std::string unknown = error_str(123456);
  EXPECT_FALSE(unknown.empty()) << "a code nobody knows still gets a text";
  EXPECT_NE(unknown.find("123456"), std::string::npos) << "and that text names the code: " << unknown;
}

TEST(ErrorStr, TableIsComplete) {
  int rows = 0;
  for (const error_msg_info* e = kErrMsgs; e->msg; ++e) ++rows;
  EXPECT_EQ(rows, 55) << "42 errno rows and 13 own codes";
  for (int code = kErrFirstOwn; code <= kErrLastOwn; ++code)
    EXPECT_NE(error_str(code), std::strerror(code)) << "every own code has a table text: " << code;
}

TEST_F(IoUtilsTest, ListingOrderTypesAndFiltering) {
  write_file(dir / "b.txt", "b");
  write_file(dir / "A.acf", "a");
  write_file(dir / ".hidden", "h");
  make_dirs(dir / "Zeta");
  std::vector<std::string> names;
  std::vector<int32_t> types;
  ASSERT_EQ(opensave_getitems(dir.path(), 0, names, types), 3) << ".hidden is left out";
  EXPECT_EQ(names, (std::vector<std::string>{"A.acf", "b.txt", "Zeta"})) << "sorted ignoring case";
  EXPECT_EQ(types, (std::vector<int32_t>{3, 19, 1})) << ".ACF is 3, .TXT 19, a folder 1";

  ASSERT_EQ(opensave_getitems(dir.path(), 19, names, types), 2) << "filter 19 keeps text files and folders";
  EXPECT_EQ(names, (std::vector<std::string>{"b.txt", "Zeta"}));
}

TEST_F(IoUtilsTest, ListingSortDetails) {
  for (const char* n : {"beta", "_under", "Alpha", "al", "alpha2"}) write_file(dir / n, "");
  make_dirs(dir / "pics.png");
  std::vector<std::string> names;
  std::vector<int32_t> types;
  ASSERT_EQ(opensave_getitems(dir.path(), 0, names, types), 6);
  EXPECT_EQ(names, (std::vector<std::string>{"_under", "al", "Alpha", "alpha2", "beta", "pics.png"}))
      << "underscore sorts before letters; a prefix comes first";
  EXPECT_EQ(types.back(), 2) << "a folder named like a picture takes the picture code";

  EXPECT_EQ(opensave_getitems(dir / "missing/", 0, names, types), 0) << "a missing folder lists nothing";
  EXPECT_TRUE(names.empty() && types.empty()) << "outputs are emptied";
  EXPECT_EQ(opensave_getitems(dir.path(), 20, names, types), 0) << "filter 20 lists nothing";
  EXPECT_TRUE(alerts.empty());
}

TEST_F(IoUtilsTest, CommandRegistryListing) {
  std::vector<std::string> names;
  std::vector<int32_t> types;
  ASSERT_EQ(opensave_getitems("", 21, names, types), 1) << "the registry's one command lives below sim/";
  EXPECT_EQ(names[0], "sim") << "a sub-path loses its separator";
  EXPECT_EQ(types[0], 1) << "and is listed as a folder";
  ASSERT_EQ(opensave_getitems("sim/operation/", 21, names, types), 1);
  EXPECT_EQ(names[0], "none");
  EXPECT_EQ(types[0], 0) << "a command is a leaf";
}

TEST_F(IoUtilsTest, ListingSymlinkedFolderIsNoFolder) {
  make_dirs(dir / "real");
  ASSERT_EQ(testsupport::run("ln -s real " + testsupport::shell_quote(dir / "link")), 0);
  std::vector<std::string> names;
  std::vector<int32_t> types;
  ASSERT_EQ(opensave_getitems(dir.path(), 0, names, types), 2);
  EXPECT_EQ(names[0], "link");
  EXPECT_EQ(types[0], 0) << "a link is never descended into as a folder of the installation";
  EXPECT_EQ(types[1], 1);
}

TEST_F(IoUtilsTest, ListingPathWithoutSeparatorIsFatal) {
  std::vector<std::string> names;
  std::vector<int32_t> types;
  const std::string bad = dir / "sub";
  EXPECT_THROW(opensave_getitems(bad, 0, names, types), fatal_alert_exit) << "folder paths must end in '/'";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "Working path does not appear to be a directory!");
  EXPECT_EQ(alerts[0].l4, bad);
  EXPECT_EQ(alerts[0].file, "IO_UTILS");
  EXPECT_EQ(alerts[0].line, 933);
}

TEST_F(IoUtilsTest, TakeitEndings) {
  int32_t t = 0;
  EXPECT_EQ(opensave_takeit("", "x.Png", 0, &t), 1);
  EXPECT_EQ(t, 2) << "endings are compared in upper case";
  t = 0;
  EXPECT_EQ(opensave_takeit("", "png", 0, &t), 1);
  EXPECT_EQ(t, 0) << "names shorter than four characters never match";
  t = 0;
  EXPECT_EQ(opensave_takeit("", "a.obj", 5, &t), 0) << "a file of another type is dropped by a filter";
  t = 2;
  EXPECT_EQ(opensave_takeit("", "a.bmp", 12, &t), 1) << "filter 12 keeps pictures";
  t = 1;
  EXPECT_EQ(opensave_takeit("", "", 0, &t), 0) << "empty names are dropped";
}

TEST_F(IoUtilsTest, DeleteFilesAndFolders) {
  make_dirs(dir / "empty");
  make_dirs(dir / "full");
  write_file(dir / "full/f", "x");
  EXPECT_EQ(delete_file(dir / "empty/"), 0) << "a trailing '/' removes an empty folder";
  EXPECT_FALSE(file_exists(dir / "empty"));
  EXPECT_EQ(delete_file(dir / "full/"), ENOTEMPTY) << "a folder with files is not removed";
  EXPECT_TRUE(file_exists(dir / "full/f")) << "nothing inside is lost";
  EXPECT_EQ(delete_file(dir / "full/f"), 0);
  EXPECT_FALSE(file_exists(dir / "full/f"));
  sErrLine = 0;
  EXPECT_EQ(delete_file(dir / "gone"), ENOENT) << "a missing file reports ENOENT";
  EXPECT_STREQ(sErrFile, "IO_UTILS");
  EXPECT_GT(sErrLine, 0) << "the failing call records its location";
  EXPECT_EQ(delete_file(""), 2) << "an empty path gives 2";
}

TEST_F(IoUtilsTest, UnlockFile) {
  write_file(dir / "rw", "x");
  ASSERT_EQ(::chmod((dir / "rw").c_str(), 0640), 0);
  EXPECT_EQ(unlock_file(dir / "rw"), 0) << "a writable file is fine";
  EXPECT_EQ(mode_of(dir / "rw"), 0640u) << "and is left unchanged";

  write_file(dir / "ro", "x");
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0444), 0);
  EXPECT_EQ(unlock_file(dir / "ro"), 0);
  EXPECT_EQ(mode_of(dir / "ro"), 0644u) << "only the owner gets write permission back";

  EXPECT_EQ(unlock_file(dir / "none"), ENOENT) << "a missing entry reports its error";
}

TEST_F(IoUtilsTest, MakeFolder) {
  EXPECT_EQ(make_folder(dir / "new/"), 0) << "one trailing '/' is removed";
  EXPECT_TRUE(file_exists(dir / "new"));
  const int again = make_folder(dir / "new/");
  EXPECT_EQ(again, EEXIST) << "an existing folder reports EEXIST";
  EXPECT_EQ(show_make_dir_err(again), 0) << "which is not a failure";
  EXPECT_EQ(show_make_dir_err(183), 0) << "nor is the other platform's code";

  const int no_parent = make_folder(dir / "a/b/");
  EXPECT_EQ(no_parent, ENOENT) << "only one level is made";
  EXPECT_EQ(show_make_dir_err(no_parent), 1) << "a real failure";

  write_file(dir / "blocker", "x");
  const int blocked = make_folder(dir / "blocker/");
  EXPECT_EQ(blocked, ENOTDIR) << "a file in the way is not an existing folder";
  EXPECT_EQ(show_make_dir_err(blocked), 1) << "so it must be reported";
  EXPECT_EQ(show_del_err(13), 0) << "delete failures are never shown";
}

TEST_F(IoUtilsTest, RenameNeverReplaces) {
  write_file(dir / "old", "old");
  write_file(dir / "taken", "keep me");
  EXPECT_EQ(rename_file(dir.path(), "old", "taken"), EEXIST) << "the target exists";
  EXPECT_EQ(testsupport::read_file(dir / "taken"), "keep me") << "the existing target is untouched";
  EXPECT_EQ(testsupport::read_file(dir / "old"), "old") << "the source stays";
  EXPECT_EQ(rename_file(dir.path(), "old", "fresh"), 0);
  EXPECT_FALSE(file_exists(dir / "old"));
  EXPECT_EQ(testsupport::read_file(dir / "fresh"), "old");

  make_dirs(dir / "Skyvane 9/Output");
  make_dirs(dir / "Skyvane 9.1");
  EXPECT_EQ(rename_file(dir.path(), "Skyvane 9", "Skyvane 9.1"), EEXIST) << "folders are never merged";
  EXPECT_EQ(rename_file(dir.path(), "Skyvane 9", "Skyvane 9.2"), 0) << "installation folder renamed";
  EXPECT_TRUE(file_exists(dir / "Skyvane 9.2/Output"));
  EXPECT_EQ(rename_file(dir.path(), "absent", "x"), ENOENT);
}

TEST_F(IoUtilsTest, FreeDiskSpace) {
  uint64_t here = 0, below = 0;
  ASSERT_EQ(disk_free_bytes(dir.path(), &here), 0);
  EXPECT_GT(here, 0u) << "the test folder's disk has room";
  ASSERT_EQ(disk_free_bytes(dir / "not/made/yet/", &below), 0) << "a destination not made yet is measured";
  EXPECT_GT(below, 0u) << "at its nearest existing ancestor";
  EXPECT_GT(disk_free_kb(dir.path()), 0.0f);
}

}  // namespace
