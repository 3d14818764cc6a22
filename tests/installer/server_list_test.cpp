// The server list: grammar, table limits, the picks, and the fetch from a real
// web server.
#include "installer/server_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "core_fixture.h"
#include "util/xtim.h"

using coretest::CoreTest;
using testsupport::write_file;

namespace {

class ServerList : public CoreTest {
 protected:
  bool read(const std::string& text) {
    const std::string path = dir_ / "serverlist9.txt";
    write_file(path, text);
    return read_server_list(path);
  }
};

std::string server_record(int i) {
  return "SERVER host" + std::to_string(i) + ".example\n/files/\nMirror number " + std::to_string(i) + "\n";
}

}  // namespace

TEST_F(ServerList, ReadsRecordsWithBlankLinesIndentationAndLookalikeKeywords) {
  ASSERT_TRUE(
      read("A\n820\nSERVERS\n"
           "BETA Beta 9.01b3\n"
           "FINAL Skyvane 9.01\n"
           "SERVERS this line is not a server record\n"
           "  SERVER   one.example:8080\n\n\n   /files/\n\n  The first mirror  \n"
           "# a comment line\n"
           "SERVER two.example\r\n/other/dir/\r\nSecond mirror\r\n"
           "ENDOFLIST\n"
           "SERVER after.example\n/x/\nnever read\n"))
      << "a valid list is accepted";
  EXPECT_EQ(install_name, "Skyvane 9.01") << "FINAL names the release; BETA must not replace it";
  ASSERT_EQ(stg.num_servers, 2) << "SERVERS in the body is not a record, and nothing after ENDOFLIST counts";
  EXPECT_EQ(server_name[0], "one.example:8080") << "host is the rest of the SERVER line";
  EXPECT_EQ(server_path[0], "/files/Skyvane 9.01/") << "directory line plus install_name and '/'";
  EXPECT_EQ(server_desc[0], "The first mirror  ") << "description keeps inner and trailing blanks";
  EXPECT_EQ(server_path[1], "/other/dir/Skyvane 9.01/") << "CR LF line ends work like LF";
  EXPECT_EQ(server_desc[1], "Second mirror");
  EXPECT_GE(stg.sel_server, 0);
  EXPECT_LT(stg.sel_server, 2) << "the starting server is one of the list";
}

TEST_F(ServerList, RecordBeforeFinalGetsTheNameKnownThen) {
  ASSERT_TRUE(read("I\n820\nSERVERS\n" + server_record(0) + "FINAL R9\n" + server_record(1)));
  EXPECT_EQ(server_path[0], "/files/Not Yet Scanned/") << "a record is completed when it is read";
  EXPECT_EQ(server_path[1], "/files/R9/");
}

TEST_F(ServerList, ForeignHeadersCallNewFormatAndEndTheProgram) {
  for (const std::string bad : {"i\n820\nSERVERS\n", "A\n821\nSERVERS\n", "A\n820\nSERVERSX\n", "A\n820\n"}) {
    alerts.clear();
    app_done = 0;
    stg = stg_class{};
    EXPECT_FALSE(read(bad + server_record(0))) << "header must be rejected: " << bad;
    ASSERT_EQ(alerts.size(), 1u) << "new_format tells the user once";
    EXPECT_EQ(alerts[0].type, t_alert) << "the too-old message is not fatal by itself";
    EXPECT_EQ(alerts[0].line, 141);
    EXPECT_EQ(alerts[0].l2, "In other words, you need to get a new installer!");
    EXPECT_EQ(app_done, 1) << "new_format ends the program";
    EXPECT_EQ(stg.step, 2);
    EXPECT_EQ(stg.num_servers, -1) << "no server table from a rejected list";
  }
  EXPECT_EQ(coretest::g_urls.size(), 4u) << "the download page is opened each time";
  EXPECT_FALSE(read_server_list(dir_ / "missing.txt")) << "a missing file is treated like a foreign one";
}

TEST_F(ServerList, RecordsBeyondTheTenthAreDropped) {
  std::string text = "A\n820\nSERVERS\nFINAL R\n";
  for (int i = 0; i < 13; ++i) text += server_record(i);
  ASSERT_TRUE(read(text));
  EXPECT_EQ(stg.num_servers, kMaxServers) << "the table holds ten servers";
  EXPECT_EQ(server_name[9], "host9.example") << "the first ten are kept in order";
  EXPECT_NE(log_text().find("ignored host12.example"), std::string::npos) << "dropped servers are logged";
}

TEST_F(ServerList, TruncatedFilesAndUnusableRecords) {
  // Ends in the middle of a record: the host and folder arrived, the
  // description did not.
  ASSERT_TRUE(read("A\n820\nSERVERS\nFINAL R\n" + server_record(0) + "SERVER cut.example\n/files/"));
  EXPECT_EQ(stg.num_servers, 1) << "a record cut short by the end of the data is not a server";

  stg = stg_class{};
  install_name = no_install_name;
  ASSERT_TRUE(read("A\n820\nSERVERS\nFINAL R\n" + server_record(0) + "FINAL"));
  EXPECT_EQ(install_name, "R") << "a FINAL keyword at the very end, without a name, keeps the name";
  EXPECT_EQ(stg.num_servers, 1);

  stg = stg_class{};
  ASSERT_TRUE(
      read("A\n820\nSERVERS\nFINAL R\nSERVER a.example/\n/files/\nslash host\n"
           "SERVER b.example\nfiles/\nrelative folder\n" +
           server_record(2) + "ENDOFLIST"));
  EXPECT_EQ(stg.num_servers, 1)
      << "records the network layer would refuse (and end the program over) are dropped";
  EXPECT_EQ(server_name[0], "host2.example");

  stg = stg_class{};
  install_name = no_install_name;
  ASSERT_TRUE(read("A\n820\nSERVERS\nFINAL ../../elsewhere\n" + server_record(0)));
  EXPECT_EQ(install_name, no_install_name)
      << "a release name holding a path would move the installation folder outside its parent on rename";
}

TEST_F(ServerList, NoServersLeavesCountZero) {
  ASSERT_TRUE(read("A\n820\nSERVERS\nFINAL R\nENDOFLIST\n"));
  EXPECT_EQ(stg.num_servers, 0) << "0, not -1: the screen says no servers were found";
}

TEST(ServerPick, OneServerAlwaysGivesTheFirst) {
  for (int r : {0, 1, 16384, 32766, 32767}) {
    EXPECT_EQ(biased_server_pick(1, r), 0) << "r=" << r;
    EXPECT_EQ(uniform_server_pick(1, r), 0) << "r=" << r;
  }
  for (int i = 0; i < 1000; ++i) {
    const int r = rand_0_32767();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767) << "picks are made for the 15-bit range";
  }
}

TEST(ServerPick, BiasedPickFavoursTheFirstServers) {
  // Every draw once: the shares are the servers' stated probabilities.
  auto shares = [](int n) {
    std::vector<double> count(n, 0.0);
    for (int r = 0; r <= 32767; ++r) count[biased_server_pick(n, r)] += 1.0;
    for (auto& c : count) c /= 32768.0;
    return count;
  };
  const auto three = shares(3);
  EXPECT_NEAR(three[0], 0.48, 0.01) << "first of three servers about 48 %";
  EXPECT_NEAR(three[1], 0.28, 0.01);
  EXPECT_NEAR(three[2], 0.24, 0.01);
  const auto ten = shares(10);
  EXPECT_NEAR(ten[0], 0.215, 0.005);
  EXPECT_NEAR(ten[9], 0.068, 0.005) << "the last of ten is still chosen sometimes";
  EXPECT_EQ(biased_server_pick(0, 5), -1) << "no servers gives -1 (never used)";
}

TEST(ServerPick, UniformPickSpreadsEvenly) {
  std::vector<int> count(3, 0);
  for (int r = 0; r <= 32767; ++r) ++count[uniform_server_pick(3, r)];
  for (int c : count) EXPECT_NEAR(c, 32768 / 3, 2) << "each of three servers equally";
  EXPECT_EQ(uniform_server_pick(3, 32767), 2);
}

TEST_F(ServerList, FetchedFromTheVendorHostUntilItArrives) {
  // An unsigned list (signed ones: release_auth_test.cpp).
  cmdline.options["--release_key"] = "none";
  testsupport::TempDir root;
  testsupport::Nginx web(root.path());
  // Not there yet: the step keeps trying and the table stays unread.
  for (int i = 0; i < 50 && stg.num_servers == -1; ++i) {
    xtim.advance_clock();
    server_list_step(web.host());
  }
  EXPECT_EQ(stg.num_servers, -1) << "a failed fetch is retried silently";
  EXPECT_TRUE(alerts.empty());
  write_file(root / "serverlist9.txt", "A\n820\nSERVERS\nFINAL R9\n" + server_record(0) + server_record(1));
  // Bounded by time, not by calls: each call only polls, and on a loaded
  // machine thousands of polls can pass before the server answers.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (stg.num_servers == -1 && std::chrono::steady_clock::now() < give_up) {
    xtim.advance_clock();
    server_list_step(web.host());
  }
  EXPECT_EQ(stg.num_servers, 2) << "the list is read once it has arrived";
  EXPECT_EQ(server_path[1], "/files/R9/");
  EXPECT_TRUE(testsupport::file_exists(temp_path + "serverlist9.txt"))
      << "the list stays in the temporary folder";
}
