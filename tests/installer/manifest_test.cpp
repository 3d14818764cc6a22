// The manifest reader: header, rows, grouping, dropped packs, damaged and
// hostile files, and the disk examination that follows every read.
#include <gtest/gtest.h>

#include "core_fixture.h"
#include "installer/utils.h"
#include "io/md5.h"

using coretest::CoreTest;
using testsupport::write_file;

namespace {

const std::string kHeader = "A\n900\nINSTALLER\n";
const std::string kEmptySig = "d41d8cd98f00b204e9800998ecf8427e";

class Manifest : public CoreTest {
 protected:
  int read(const std::string& text) {
    path_ = dir_ / "directory.txt";
    write_file(path_, text);
    return read_directory(path_, "Scanning...");
  }
  const file_version_struct& current(size_t i) { return sim_info.files.at(i).versions.back(); }
  std::string path_;
};

std::vector<std::pair<int, int>> g_progress;  // (call_type, value)
void record_progress(float, float d, float, int call_type, const std::string&, const std::string&) {
  g_progress.emplace_back(call_type, static_cast<int>(d));
}

}  // namespace

TEST_F(Manifest, HeaderVariants) {
  EXPECT_EQ(read("I\n840 made by hand\n\n  INSTALLER extra words\nFILE 0 0 1 1 1 GONE M/a\n"), 3)
      << "I, version 840 with free text, indented type word";
  EXPECT_EQ(sim_info.files.size(), 1u);
  EXPECT_TRUE(alerts.empty());
  for (const std::string bad :
       {"i\n900\nINSTALLER\n", "A\n820\nINSTALLER\n", "A\n901\nINSTALLER\n", "A\n900\nINSTALLERS\n"}) {
    alerts.clear();
    EXPECT_EQ(read(bad + "FILE 0 0 1 1 1 GONE M/a\n"), 2) << "rejected header: " << bad;
    ASSERT_EQ(alerts.size(), 1u) << "an internet install calls new_format";
    EXPECT_EQ(alerts[0].line, 141);
    EXPECT_EQ(app_done, 1) << "and the program ends";
    EXPECT_TRUE(sim_info.files.empty());
  }
}

TEST_F(Manifest, ConsecutiveRowsOfOnePathFormOneHistory) {
  ASSERT_EQ(read(kHeader + "DIR M/\nFILE 0 0 1 1 1 GONE A\nFILE 0 0 2 1 1 GONE A\nFILE 0 0 1 1 1 GONE B\n"
                           "FILE 0 0 3 1 1 GONE A\n"),
            3);
  ASSERT_EQ(sim_info.files.size(), 3u) << "rows A, A, B, A give three histories";
  EXPECT_EQ(sim_info.files[0].versions.size(), 2u);
  EXPECT_EQ(sim_info.files[2].versions.size(), 1u) << "A again after B starts a new history";
  EXPECT_EQ(current(2).version_num, 3);
}

TEST_F(Manifest, RowValuesAndClamping) {
  ASSERT_EQ(read(kHeader +
                 "DIR Master/Aircraft/\n"
                 "FILE 2 0 3 10 20 " +
                 std::string(32, 'a') +
                 " My Plane/a file.acf\n"
                 "FILE -3 9 -+4 11 21 " +
                 std::string(32, 'b') +
                 " My Plane/a file.acf\n"
                 "DIR\n"
                 "FILE 1 1 1 5 6 GONE other.txt\n"),
            3);
  ASSERT_EQ(sim_info.files.size(), 2u);
  const auto& h = sim_info.files[0].versions;
  ASSERT_EQ(h.size(), 2u) << "two versions, oldest first";
  EXPECT_EQ(h[0].use_type, 2);
  EXPECT_EQ(h[0].version_num, 3);
  EXPECT_EQ(h[0].down_size, 10.0f);
  EXPECT_EQ(h[0].disk_size, 20.0f);
  EXPECT_EQ(h[1].use_type, 0) << "use type -3 is clamped to 0";
  EXPECT_EQ(h[1].os_type, 6) << "platform 9 is clamped to 6";
  EXPECT_EQ(h[1].version_num, 4) << "a '+' after '-' makes the value positive again";
  EXPECT_EQ(h[1].path, "Master/Aircraft/My Plane/a file.acf") << "inner blanks belong to the path";
  EXPECT_EQ(current(1).path, "Master/Aircraft/other.txt") << "a bare DIR leaves the prefix unchanged";
  EXPECT_EQ(current(1).sig_want, "GONE");
  EXPECT_EQ(h[1].on_disk + h[1].want_to_grab_it + h[1].want_to_nuke_it, 0) << "decisions start cleared";
}

TEST_F(Manifest, LineEndsOfEveryKindAndNoFinalLineEnd) {
  ASSERT_EQ(read(std::string("A\r\n900\r\nINSTALLER\r\n") + "FILE 0 0 1 1 1 GONE M/a\r\n" +
                 std::string("FILE 0 0 1 1 1 GONE M/b\0", 24) + "FILE 0 0 1 1 1 GONE M/c\r" +
                 "FILE 0 0 1 1 1 GONE M/last file"),
            3);
  ASSERT_EQ(sim_info.files.size(), 4u) << "CR LF, NUL and CR end lines; the last row needs no line end";
  EXPECT_EQ(current(1).path, "M/b");
  EXPECT_EQ(current(3).path, "M/last file") << "a row at the very end is read whole";
}

TEST_F(Manifest, RowsCutShortAreLeftOut) {
  ASSERT_EQ(read(kHeader + "DIR M/\nFILE 0 0 1 1 1 GONE good.txt\nFILE 0 0 1 1\nFILE 0 0 1 5 5 " +
                 std::string(32, 'e') + "\nFILE 0 0 1 5 5 " + std::string(32, 'f') + "   \nFILE\n" +
                 "FILE 0 0 1 5 5 " + std::string(16, 'a')),
            3)
      << "a damaged manifest is still read";
  ASSERT_EQ(sim_info.files.size(), 1u) << "rows without all seven fields are skipped, never half-filled";
  EXPECT_NE(log_text().find("incomplete FILE rows were skipped"), std::string::npos) << "and the log says so";
  EXPECT_TRUE(alerts.empty()) << "no fatal 'path has no file' for a row that simply ends early";
}

TEST_F(Manifest, ContentPacksAreLeftOutOfAnInternetInstall) {
  ASSERT_EQ(read(kHeader + "DIR M/900 red terrain/\n"
                           "FILE 0 0 1 1 1 GONE a.ter\n"  // prefix holds the name: the row stays
                           "DIR M/\n"
                           "FILE 0 0 1 1 1 GONE Earth Orbit Textures/b.png\n"
                           "FILE 0 0 1 1 1 GONE x/900 red terrain/c.ter\n"
                           "FILE 0 0 1 1 1 GONE kept.txt\n"),
            3);
  ASSERT_EQ(sim_info.files.size(), 2u) << "only the row's own path text is tested for the packs";
  EXPECT_EQ(current(0).path, "M/900 red terrain/a.ter");
  EXPECT_EQ(current(1).path, "M/kept.txt");
}

TEST_F(Manifest, PathsLeavingTheDestinationAreNeverActedOn) {
  write_file(dir_ / "victim.txt", "precious");
  for (const std::string bad :
       {"M/../../victim.txt", "M/a/../../../victim.txt", "../x/y", "M//etc/passwd", "M/a\\..\\b"}) {
    alerts.clear();
    EXPECT_EQ(
        read(kHeader + "FILE 0 0 1 1 1 " + kEmptySig + " M/fine.txt\nFILE 0 0 1 1 1 GONE " + bad + "\n"), 2)
        << "the whole manifest is refused: " << bad;
    EXPECT_TRUE(sim_info.files.empty()) << "nothing of it can be installed or deleted";
    ASSERT_EQ(alerts.size(), 1u) << "the user is told why";
    EXPECT_EQ(alerts[0].type, t_alert)
        << "not fatal: the program goes on and shows that no version was found";
    EXPECT_EQ(alerts[0].l4, bad);
  }
  EXPECT_EQ(testsupport::read_file(dir_ / "victim.txt"), "precious");
}

TEST_F(Manifest, FatalStates) {
  std::string missing = dir_ / "nope.txt";
  EXPECT_THROW(read_directory(missing, "m"), testsupport::fatal_alert_exit) << "a missing manifest is fatal";
  EXPECT_EQ(alerts.back().l1, "I tried to read a directory file that does not exist!");
  EXPECT_THROW(read(kHeader + "DIR M/folder/\nFILE 0 0 1 1 1 GONE sub/\n"), testsupport::fatal_alert_exit)
      << "a row naming a folder, not a file";
  EXPECT_EQ(alerts.back().line, 664);
}

TEST_F(Manifest, ExaminationSignsTheCurrentVersionAndSumsWhatIsMissing) {
  testsupport::make_dirs(dest_dir_path + "A");
  write_file(dest_dir_path + "A/current.txt", "v2");
  write_file(dest_dir_path + "A/older.txt", "v1");
  write_file(dest_dir_path + "A/empty.txt", "");
  write_file(dest_dir_path + "A/mac.txt", "mac");
  const std::string v1 = md5_sign_bytes("v1", 2), v2 = md5_sign_bytes("v2", 2);
  g_progress.clear();
  set_dir_progress_bar_handler(&record_progress);
  ASSERT_EQ(read(kHeader +
                 "DIR M/A/\n"
                 "FILE 0 0 1 100 200 " +
                 v1 +
                 " current.txt\n"
                 "FILE 0 0 2 100 200 " +
                 v2 +
                 " current.txt\n"
                 "FILE 0 0 1 10 20 " +
                 v1 +
                 " older.txt\n"
                 "FILE 0 0 2 10 20 " +
                 v2 +
                 " older.txt\n"
                 "FILE 0 0 1 0 0 " +
                 kEmptySig +
                 " empty.txt\n"
                 "FILE 0 2 1 1 2 " +
                 v2 +
                 " missing.exe\n"
                 "FILE 0 0 1 1 1 GONE gone-absent.txt\n"
                 "FILE 0 1 1 1000 1000 " +
                 v2 + " mac.txt\n"),
            3);
  ASSERT_EQ(sim_info.files.size(), 6u);
  EXPECT_EQ(current(0).sig_have, v2);
  EXPECT_EQ(current(0).on_disk, 1) << "the current version is installed";
  EXPECT_EQ(current(1).sig_have, v1) << "an older copy is signed as it is";
  EXPECT_EQ(current(1).on_disk, 0);
  EXPECT_EQ(current(2).sig_have, kEmptySig)
      << "an existing empty file signs as MD5 of nothing, so it is not fetched again on every update";
  EXPECT_EQ(current(2).on_disk, 1);
  EXPECT_EQ(current(3).sig_have, "NONE") << "a missing file reads as NONE";
  EXPECT_EQ(stg.down_req, 11.0f) << "older.txt and missing.exe; not the GONE row nor another platform's file";
  EXPECT_EQ(stg.disk_req, 22.0f);
  EXPECT_EQ(this_install_has_exes, 1) << "a platform-2 file is to be installed";
  EXPECT_EQ(sim_info.files[0].versions[0].sig_have, "") << "only the current version is examined";
  int examined = 0;
  for (const auto& p : g_progress) examined += p.first == 1 ? 1 : 0;
  EXPECT_EQ(examined, 6) << "below 400 entries the panel is redrawn for every entry";
}

TEST_F(Manifest, ProgramFilesOfAnotherPlatformDoNotMarkTheInstall) {
  ASSERT_EQ(
      read(kHeader + "FILE 0 1 1 1 2 " + kEmptySig + " M/mac.app\nFILE 0 0 1 1 2 " + kEmptySig + " M/data\n"),
      3);
  EXPECT_EQ(this_install_has_exes, 0) << "only applicable program files lead to the folder rename";
  EXPECT_EQ(stg.down_req, 1.0f);
}
