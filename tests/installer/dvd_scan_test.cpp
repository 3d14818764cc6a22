// The DVD search over a mount table.
#include "installer/dvd_scan.h"

#include <gtest/gtest.h>

#include "core_fixture.h"

using coretest::CoreTest;
using testsupport::make_dirs;
using testsupport::write_file;

namespace {

class Dvd : public CoreTest {
 protected:
  void TearDown() override {
    dvd_set_mount_table("/proc/self/mounts");
    CoreTest::TearDown();
  }
  std::string disc(const std::string& name, const std::string& marker) {
    const std::string root = dir_ / name + "/";
    make_dirs(root);
    if (!marker.empty()) write_file(root + "dvd_version.txt", marker);
    return root;
  }
  void table(const std::string& text) {
    write_file(dir_ / "mounts", text);
    dvd_set_mount_table(dir_ / "mounts");
  }
  // Mount tables write blanks in names as \040.
  static std::string escaped(std::string p) {
    std::string out;
    for (char c : p) out += c == ' ' ? std::string("\\040") : std::string(1, c);
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
  }
};

}  // namespace

TEST_F(Dvd, MarkerHeaderRules) {
  EXPECT_EQ(check_dvd(disc("good", "A\n900\nDVD\n")), 1);
  EXPECT_EQ(dvd_path, dir_ / "good/") << "a valid disc sets dvd_path";
  dvd_path.clear();
  EXPECT_EQ(check_dvd(disc("dvds", "A\n900\nDVDS\n")), 0) << "the type word must end at a blank or line end";
  EXPECT_EQ(check_dvd(disc("old", "A\n820\nDVD\n")), 0) << "version 820 is not a disc of this product";
  EXPECT_EQ(check_dvd(disc("none", "")), 0) << "no marker file";
  EXPECT_EQ(dvd_path, "") << "a failed check leaves dvd_path alone";
  const std::string log = log_text();
  EXPECT_NE(log.find("check_dvd 1! check_path=" + dir_ / "good/\n"), std::string::npos);
  EXPECT_NE(log.find("check_dvd 2! check_path=" + dir_ / "good/dvd_version.txt, m.exists=1\n"),
            std::string::npos);
  EXPECT_NE(log.find("check_dvd 3!\n"), std::string::npos);
  EXPECT_NE(log.find(", dvd_path=" + dir_ / "good/, ret=1\n"), std::string::npos);
}

TEST_F(Dvd, OnlyOpticalFileSystemsAreExamined) {
  const std::string hd = disc("hard disk", "A\n900\nDVD\n");
  const std::string cd = disc("my disc", "I\n900\nDVD\n");
  const std::string other = disc("data cd", "");
  table("/dev/sda1 " + escaped(hd) + " ext4 rw 0 0\n/dev/sr0 " + escaped(cd) + " iso9660 ro 0 0\n/dev/sr1 " +
        escaped(other) + " udf ro 0 0\n");
  EXPECT_EQ(dvd_scan.check_any(0, 0), 1);
  EXPECT_EQ(dvd_path, cd)
      << "the iso9660 disc is found, its escaped blank decoded; the hard disk is not looked at";
  EXPECT_TRUE(alerts.empty());
}

TEST_F(Dvd, NoDiscs) {
  table("/dev/sda1 / ext4 rw 0 0\n");
  EXPECT_EQ(dvd_scan.check_any(0, 0), 0);
  EXPECT_EQ(dvd_path, "");
  dvd_set_mount_table(dir_ / "no such table");
  EXPECT_EQ(dvd_scan.check_any(0, 0), 0) << "an unreadable mount table finds nothing";
}

TEST_F(Dvd, TwoValidDiscsEndTheProgramAfterBothWereExamined) {
  const std::string e = disc("E", "A\n900\nDVD\n"), f = disc("F", "A\n900\nDVD\n");
  table("/dev/sr0 " + escaped(e) + " iso9660 ro 0 0\n/dev/sr1 " + escaped(f) + " udf ro 0 0\n");
  EXPECT_THROW(dvd_scan.check_any(0, 0), testsupport::fatal_alert_exit);
  ASSERT_EQ(alerts.size(), 1u) << "one alert, after both drives";
  EXPECT_EQ(alerts[0].l1, "I found multiple Skyvane CDs in the drives!");
  EXPECT_EQ(alerts[0].line, 276);
  EXPECT_NE(log_text().find("check_dvd 1! check_path=" + f), std::string::npos)
      << "the second disc was examined";
}
