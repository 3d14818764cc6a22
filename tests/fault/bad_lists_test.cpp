// Server lists and manifests that arrive truncated, empty or as garbage (a
// proxy's error page, a cut transfer). Each must end in a named reaction:
// never a crash, never a half-read record acted upon, never a file touched in
// the destination.
#include <gtest/gtest.h>

#include "fault_fixture.h"

using coretest::CoreTest;
using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

namespace {

const char* const kServerList =
    "I\n820\nSERVERS\nFINAL R1\n"
    "SERVER mirror-one.example\n/files/\nFirst mirror\n"
    "SERVER mirror-two.example\n/files/\nSecond mirror\n"
    "ENDOFLIST\n";

const char* const kGarbage =
    "<html><head><title>502 Bad Gateway</title></head>\n<body>The proxy could not reach the server."
    "</body></html>\n";

class BadServerList : public CoreTest {};

TEST_F(BadServerList, TruncatedInsideARecordKeepsOnlyWholeRecords) {
  const std::string whole = kServerList;
  // Cut after the second SERVER line's host: its folder and description are missing.
  const std::string cut = whole.substr(0, whole.find("/files/\nSecond"));
  write_file(temp_path + "serverlist9.txt", cut);
  ASSERT_TRUE(read_server_list(temp_path + "serverlist9.txt"));
  EXPECT_EQ(stg.num_servers, 1) << "the record cut short is not used";
  EXPECT_EQ(server_name[0], "mirror-one.example");
  EXPECT_EQ(server_path[0], "/files/R1/");
  EXPECT_EQ(stg.sel_server, 0);
  EXPECT_TRUE(alerts.empty());
}

TEST_F(BadServerList, EmptyOrGarbageTellsTheUserAndEnds) {
  for (const std::string& bytes : {std::string(), std::string(kGarbage), std::string("I\n820\n")}) {
    SetUp();
    write_file(temp_path + "serverlist9.txt", bytes);
    EXPECT_FALSE(read_server_list(temp_path + "serverlist9.txt"));
    ASSERT_EQ(alerts.size(), 1u) << "one alert for [" << bytes << "]";
    EXPECT_EQ(alerts[0].line, 141) << "the new-installer alert";
    EXPECT_EQ(alerts[0].type, t_alert);
    EXPECT_EQ(stg.step, 2);
    EXPECT_EQ(app_done, 1) << "the program ends";
    EXPECT_EQ(stg.num_servers, -1) << "no server table from a refused list";
  }
}

class BadManifest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    testsupport::make_dirs(dest_dir_path + "data");
    write_file(dest_dir_path + "data/user.txt", "the user's file\n");
  }
  int read(const std::string& bytes) {
    write_file(temp_path + "directory.txt", bytes);
    std::string path = temp_path + "directory.txt";
    return read_directory(path, "Scanning...");
  }
  void expect_destination_untouched() {
    EXPECT_EQ(read_file(dest_dir_path + "data/user.txt"), "the user's file\n")
        << "the destination is untouched";
  }
};

const char* const kManifest =
    "I\n900\nINSTALLER\n"
    "FILE 0 0 1 1 1 0cc175b9c0f1b6a831c399e269772661 Master/data/a.txt\n"
    "FILE 0 0 1 1 1 92eb5ffee6ae2fec3ad71c777531578f Master/data/b.txt\n"
    "FILE 0 0 1 1 1 4a8a08f09d37b73795649038408b5f33 Master/data/c.txt\n";

TEST_F(BadManifest, TruncatedInsideARowKeepsOnlyWholeRows) {
  const std::string whole = kManifest;
  // Cut in the middle of the third row's signature: no path.
  ASSERT_EQ(read(whole.substr(0, whole.find("08f09d37"))), 3);
  ASSERT_EQ(sim_info.files.size(), 2u) << "the row cut short is skipped";
  EXPECT_EQ(sim_info.files[1].versions.back().path, "Master/data/b.txt");
  expect_destination_untouched();
  EXPECT_TRUE(alerts.empty());
}

TEST_F(BadManifest, TruncatedInsideThePath) {
  // Read directly (the zip's checksum keeps a cut manifest from reaching the
  // reader, see CutZippedManifestIsRefused), a cut inside the last path
  // leaves a shorter path naming another file: it is only ever fetched,
  // never deleted. A cut right after a folder separator leaves a path
  // without a file: the fatal alert, before anything is touched.
  const std::string whole = kManifest;
  ASSERT_EQ(read(whole.substr(0, whole.size() - 5)), 3);
  ASSERT_EQ(sim_info.files.size(), 3u);
  EXPECT_EQ(sim_info.files[2].versions.back().path, "Master/data/c");
  EXPECT_EQ(sim_info.files[2].versions.back().want_to_nuke_it, 0);
  EXPECT_THROW(read(whole.substr(0, whole.size() - 6)), testsupport::fatal_alert_exit);
  ASSERT_FALSE(alerts.empty());
  EXPECT_EQ(alerts.back().l1, "I am reading the directory text file and found a path that has no file!");
  expect_destination_untouched();
}

TEST_F(BadManifest, GarbageTellsTheUserAndEnds) {
  EXPECT_EQ(read(kGarbage), 2);
  EXPECT_TRUE(sim_info.files.empty());
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].line, 141) << "the new-installer alert";
  EXPECT_EQ(app_done, 1);
  expect_destination_untouched();
}

TEST_F(BadManifest, EmptyIsAFatalAlert) {
  EXPECT_THROW(read(""), testsupport::fatal_alert_exit)
      << "an empty manifest cannot be mapped: the program ends";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "I tried to read a directory file that does not exist!");
  EXPECT_EQ(alerts[0].type, t_exit);
  expect_destination_untouched();
}

TEST_F(BadManifest, CutZippedManifestIsRefused) {
  // The manifest travels zipped: a transfer cut short fails the expansion and
  // leaves neither a manifest nor a part file for the reader to take.
  write_file(dir_ / "directory.txt", std::string(kManifest) + std::string(20000, '\n'));
  ASSERT_EQ(testsupport::run("cd " + testsupport::shell_quote(dir_.path()) +
                             " && zip -q directory.txt.zip directory.txt"),
            0);
  const std::string zipped = read_file(dir_ / "directory.txt.zip");
  // Cut in the data, in the central directory, in the first header.
  for (const size_t keep : {zipped.size() / 2, zipped.size() - 30, size_t{30}}) {
    write_file(temp_path + "directory.txt.zip", zipped.substr(0, keep));
    EXPECT_NE(zip_to_file(temp_path + "directory.txt.zip", temp_path, nullptr, 0), 0) << "cut at " << keep;
    EXPECT_FALSE(file_exists(temp_path + "directory.txt")) << "no manifest from a cut archive";
    EXPECT_FALSE(file_exists(temp_path + "directory.txt" + kArchivePartSuffix));
  }
}

}  // namespace
