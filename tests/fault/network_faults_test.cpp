// Download faults during an install: a mirror that breaks its answer for one
// archive (closes or resets mid-body, stalls, sends more than it announced,
// answers 500) while another mirror is whole. The install must move to the
// other mirror, finish, and put the published bytes in place, silently. A
// mirror that closes kept connections is no failure: the install stays on it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "fault_fixture.h"
#include "faulty_mirror.h"
#include "net/fault_server.h"

using faulttest::Fault;
using faulttest::FaultInstall;
using faulttest::FaultyMirror;
using testsupport::read_file;

namespace {

constexpr const char* kBigArchive = "/files/R1/Master/data/big.bin.zip";

struct NetworkCase {
  const char* name;
  Fault fault;
  // The whole mirror's answer for the archive: " 206 " when the bytes that
  // arrived before the fault are kept and only the rest is asked for,
  // " 200 " for the whole archive, null when either may be right (a reset
  // may drop what had arrived) or the request is not checked.
  const char* from_whole;
  // No failure is counted: every archive comes from the first mirror.
  bool stays = false;
  // In the log, when set.
  const char* log = nullptr;
};

class BrokenMirror : public FaultInstall, public ::testing::WithParamInterface<NetworkCase> {};

TEST_P(BrokenMirror, InstallMovesToTheWholeMirrorAndCompletes) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  // Broken for this archive every time it is asked: only the other mirror
  // can deliver it.
  FaultyMirror bad(out, kBigArchive, GetParam().fault, 1000);
  testsupport::Nginx good(out, "access_log " + dir_ / "access.log" + ";");
  publish(faulttest::release_one(), "R1", out,
          {bad.host() + "|/files/|Broken mirror", good.host() + "|/files/|Whole mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(good.host());
  stg.sel_server = 0;  // start on the broken mirror, as if the user chose it

  int stalls_released = 0;
  ASSERT_EQ(install([&] {
              // A stalled answer: let the 30 s of silence pass at once, once per stall.
              // A request sent ahead and not answered: once the client waits for it.
              bool follower_waits = GetParam().fault != Fault::kPipelinedDropStall;
              for (int o = 2; o < http_class::kSlots; ++o) {
                const down_class* d = http.down[o].get();
                follower_waits |= d && d->SentAhead() && !d->AnswerStarted();
              }
              if (bad.stalled_now() > 0 && stalls_released < bad.faults_given() && follower_waits) {
                ++stalls_released;
                xtim.real_time += kDownloadStallSeconds + 1.0f;
                return false;
              }
              return true;
            }),
            1);

  EXPECT_EQ(stg.got_failed_install, 0) << GetParam().name << ": the install completed";
  const std::string log = log_text();
  if (GetParam().stays) {
    EXPECT_EQ(read_file(dir_ / "access.log").find("/Master/"), std::string::npos)
        << "no archive was asked of the whole mirror: no failure was counted\n"
        << log;
    EXPECT_EQ(log.find("HTTP Error for "), std::string::npos) << log;
  }
  if (GetParam().log) {
    EXPECT_NE(log.find(GetParam().log), std::string::npos) << log;
  }
  EXPECT_EQ(next.dir_done, 1);
  expect_installed(faulttest::release_one(), dest_dir_path);
  EXPECT_GE(bad.faults_given(), 1) << "the broken answer was really given";
  EXPECT_TRUE(alerts.empty()) << "moving to another mirror is silent";
  const auto tmp = files_below(temp_path);
  for (const auto& f : tmp) {
    EXPECT_EQ(f.find(".zip.skyvane-part"), std::string::npos) << "no partial archive left: " << f;
  }
  good.stop();  // its log is whole only once it has stopped
  const std::string access = read_file(dir_ / "access.log");
  const std::string asked = "GET " + std::string(kBigArchive) + " HTTP/1.1\"";
  if (GetParam().from_whole) {
    EXPECT_NE(access.find(asked + GetParam().from_whole), std::string::npos)
        << "the archive came from the whole mirror; its log:\n"
        << access;
  }
  if (GetParam().fault == Fault::kResetMidBody) {
    EXPECT_TRUE(access.find(asked + " 200 ") != std::string::npos ||
                access.find(asked + " 206 ") != std::string::npos)
        << access;
  }
  for (const auto& f : files_below(dest_dir_path)) {
    EXPECT_EQ(f.find(".skyvane-part"), std::string::npos) << "no part file left in the installation: " << f;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, BrokenMirror,
    ::testing::Values(
        NetworkCase{"closes mid-body", Fault::kCloseMidBody, " 206 "},
        NetworkCase{"resets mid-body", Fault::kResetMidBody, nullptr},
        NetworkCase{"stalls", Fault::kStall, " 206 ", false, " in 30 s; the download is abandoned\n"},
        NetworkCase{"answers 500", Fault::kError500, " 200 "},
        NetworkCase{"sends bytes after the announced body", Fault::kExtraBytes, nullptr},
        NetworkCase{"announces fewer bytes than the archive has", Fault::kShortLength, " 200 "},
        NetworkCase{"redirects to the same address", Fault::kRedirectLoop, " 200 "},
        NetworkCase{"closes kept connections before answering", Fault::kCloseKeptConnection, nullptr, true,
                    " closed the kept connection before answering /files/R1/Master/"},
        // Requests sent ahead on a kept connection (pipelined).
        NetworkCase{"answers pipelined requests out of order", Fault::kPipelinedOutOfOrder, nullptr, false,
                    " sent with others in flight: perhaps the answer to another of them; "
                    "requests to it go one at a time from now on\n"},
        NetworkCase{"answers the first of two pipelined requests and closes", Fault::kPipelinedDropClose,
                    nullptr, true, ", a request sent ahead; requests to it go one at a time from now on\n"},
        // The 30 s that pass at once may end other streams' downloads too.
        NetworkCase{"answers the first of two pipelined requests and stalls", Fault::kPipelinedDropStall,
                    nullptr, false,
                    ", a request sent ahead, within 30 s; sending it again on a new connection; "
                    "requests to it go one at a time from now on\n"}),
    [](const ::testing::TestParamInfo<NetworkCase>& i) {
      std::string n;
      for (const char* p = i.param.name; *p; ++p)
        n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return n;
    });

// One mirror cuts the archive every time; the other answers the request for
// the rest with the whole file as a 206 from byte 0, once. That answer
// fails (logged), the bytes kept are dropped, and the install completes.
TEST_F(FaultInstall, A206ThatDoesNotContinueTheKeptBytesIsRefused) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  FaultyMirror cuts(out, kBigArchive, Fault::kCloseMidBody, 1000);
  FaultyMirror wrong(out, kBigArchive, Fault::kWrongRange, 1);
  publish(faulttest::release_one(), "R1", out,
          {cuts.host() + "|/files/|Cutting mirror", wrong.host() + "|/files/|Mirror with a wrong range"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(wrong.host());
  stg.sel_server = 0;
  grab_set_retry_pause(0.01f, 0.02f);
  ASSERT_EQ(install(), 1);
  grab_set_retry_pause(1.0f, 30.0f);
  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_EQ(wrong.faults_given(), 1) << "the wrong 206 was given";
  EXPECT_GE(wrong.requests()[kBigArchive], 2) << "the wrong 206, then the whole archive";
  expect_installed(faulttest::release_one(), dest_dir_path);
  EXPECT_TRUE(alerts.empty());
  const std::string log = log_text();
  const size_t line = log.find("HTTP: the 206 answer's Content-Range \"bytes 0-");
  ASSERT_NE(line, std::string::npos) << log;
  EXPECT_NE(log.find("\" does not continue the ", line), std::string::npos) << log;
}

// A proxy that wants credentials the installer does not have answers 407 to
// every request of the install: each archive fails on every try, and the
// install fails with the download alert; the log says 407.
TEST_F(FaultInstall, AProxyAnswering407FailsTheInstall) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  testsupport::Nginx mirror(out);
  nettest::FaultServer proxy({nettest::Send(
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"lan\"\r\n"
      "Content-Length: 0\r\n\r\n")});
  publish(faulttest::release_one(), "R1", out, {mirror.host() + "|/files/|Only mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(mirror.host());
  struct Restore {
    ~Restore() {
      http.ProxyHost.clear();
      http.ProxyPort_int = 0;
      grab_set_retry_pause(1.0f, 30.0f);
    }
  } restore;
  http.ProxyHost = "127.0.0.1";
  http.ProxyPort_int = proxy.port();
  grab_set_retry_pause(0.01f, 0.02f);
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 1);
  // Every archive fails at once here, so streams give up in the same pass:
  // the user is still told once.
  ASSERT_EQ(alerts.size(), 1u) << "one alert, after the last attempt";
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(alerts[0].l2, "Error: " + error_str(kErrZipOpen));
  const auto requests = proxy.requests();
  ASSERT_GE(requests.size(), static_cast<size_t>(kFetchTriesPerServer));
  EXPECT_EQ(requests[0].find("GET http://" + mirror.host() + "/files/R1/Master/"), 0u) << requests[0];
  const std::string log = log_text();
  EXPECT_NE(log.find("HTTP: the proxy 127.0.0.1:" + std::to_string(proxy.port()) +
                     " answered 407 (Proxy Authentication Required): it wants credentials\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("   response   =Proxy Authentication Required (#407)\n"), std::string::npos) << log;
}

// An https:// mirror whose certificate is refused (it names another host) is
// a failing mirror like any other: the install moves to the whole one and the
// log tells why, with OpenSSL's verdict.
TEST_F(FaultInstall, AMirrorWithARefusedCertificateIsLeftForTheOther) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  testsupport::TestCa ca;
  struct Restore {
    ~Restore() { ::unsetenv("SSL_CERT_FILE"); }
  } restore;
  ::setenv("SSL_CERT_FILE", ca.ca_file().c_str(), 1);
  testsupport::Nginx wrong(out, "", "127.0.0.1", ca.issue("DNS:mirror.example"));
  testsupport::Nginx good(out, "", "127.0.0.1", ca.issue("IP:127.0.0.1"));
  const std::string bad_host = "https://" + wrong.host();
  publish(faulttest::release_one(), "R1", out,
          {bad_host + "|/files/|Wrong certificate", "https://" + good.host() + "|/files/|Whole mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read("https://" + good.host());
  stg.sel_server = 0;  // start on the refused mirror
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 0) << "the install completed from the other mirror";
  expect_installed(faulttest::release_one(), dest_dir_path);
  EXPECT_TRUE(alerts.empty()) << "moving to another mirror is silent";
  const std::string log = log_text();
  EXPECT_NE(log.find("   server     =" + bad_host + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("   tls        =certificate verify failed: IP address mismatch\n"), std::string::npos)
      << log;
}

// An archive that arrives damaged from every mirror: after the retries the
// install fails with the download alert, and nothing is half-written.
TEST_F(FaultInstall, ArchiveDamagedOnEveryMirrorFailsAfterRetries) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  FaultyMirror bad(out, kBigArchive, Fault::kShortLength, 1000);
  publish(faulttest::release_one(), "R1", out, {bad.host() + "|/files/|Only mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(bad.host());
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 1);
  EXPECT_EQ(bad.faults_given(), 4) << "the first download and three more attempts";
  ASSERT_EQ(alerts.size(), 1u) << "one alert, after the last attempt";
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(alerts[0].l2, "Error: " + error_str(kErrZipOpen));
  EXPECT_FALSE(testsupport::file_exists(dest_dir_path + "data/big.bin")) << "no half-written file";
  EXPECT_NE(log_text().find("cannot be read (result=" + std::to_string(kErrZipOpen) +
                            "); fetching it again from another server"),
            std::string::npos);
}

// A mirror that answers with a body of no length that never ends: the
// download is stopped once it passes the archive's announced size, and the
// archive is fetched again as a damaged one.
TEST_F(FaultInstall, AnEndlessAnswerIsStoppedAtTheArchivesSize) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  FaultyMirror bad(out, kBigArchive, Fault::kEndlessBody, 1);
  publish(faulttest::release_one(), "R1", out, {bad.host() + "|/files/|Only mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(bad.host());
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(bad.faults_given(), 1);
  EXPECT_EQ(stg.got_failed_install, 0) << "the second answer was whole";
  expect_installed(faulttest::release_one(), dest_dir_path);
  EXPECT_TRUE(alerts.empty());
  // The archive is announced as about 400 kB; what the mirror got out
  // beyond that is only what the sockets' buffers hold.
  EXPECT_LT(bad.endless_sent(), size_t{16} << 20) << "the download was stopped, not left to run";
  EXPECT_NE(log_text().find("HTTP: body longer than the "), std::string::npos) << "the reason is logged";
}

// A real nginx answering 500 for one archive only (all others are served):
// that file is taken from the second mirror, everything else may come from
// either.
TEST_F(FaultInstall, NginxAnswering500ForOneFileOnly) {
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  testsupport::Nginx bad(out, std::string("location = ") + kBigArchive + " { return 500; }\naccess_log " +
                                  dir_ / "bad.log" + ";");
  testsupport::Nginx good(out, "access_log " + dir_ / "good.log" + ";");
  publish(faulttest::release_one(), "R1", out,
          {bad.host() + "|/files/|Mirror with one broken file", good.host() + "|/files/|Whole mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(good.host());
  stg.sel_server = 0;
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 0);
  expect_installed(faulttest::release_one(), dest_dir_path);
  bad.stop();  // the logs are whole only once the servers have stopped
  good.stop();
  EXPECT_NE(read_file(dir_ / "bad.log").find("GET " + std::string(kBigArchive) + " HTTP/1.1\" 500"),
            std::string::npos)
      << "the first mirror did answer 500";
  EXPECT_NE(read_file(dir_ / "good.log").find("GET " + std::string(kBigArchive) + " HTTP/1.1\" 200"),
            std::string::npos)
      << "the second mirror delivered the file";
  EXPECT_NE(log_text().find("HTTP Error for "), std::string::npos) << "the failure is logged";
  EXPECT_TRUE(alerts.empty());
}

}  // namespace

namespace {

// Occurrences of `what` in `text`.
size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// One archive missing on every mirror (nginx answering 404 for it): each
// mirror is asked at once the first time, then again only after a pause, and
// no more than kFetchTriesPerServer times; the failure is logged once per
// mirror; then the install fails with the download alert. While every mirror
// waits out its pause the engine makes no request and returns to the pump.
class EveryMirrorAnswers404 : public FaultInstall, public ::testing::WithParamInterface<int> {};

TEST_P(EveryMirrorAnswers404, EachMirrorIsAskedAFewTimesWithPausesThenTheInstallFails) {
  const int mirrors = GetParam();
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  std::vector<std::unique_ptr<testsupport::Nginx>> web;
  std::vector<std::string> listed;
  for (int m = 0; m < mirrors; ++m) {
    web.push_back(std::make_unique<testsupport::Nginx>(
        out, std::string("location = ") + kBigArchive + " { return 404; }\naccess_log " +
                 dir_ / ("access" + std::to_string(m) + ".log") + ";"));
    listed.push_back(web.back()->host() + "|/files/|Mirror " + std::to_string(m));
  }
  publish(faulttest::release_one(), "R1", out, listed);
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(web[0]->host());
  auto asked = [&](int m) {
    return static_cast<int>(count_of(read_file(dir_ / ("access" + std::to_string(m) + ".log")),
                                     "GET " + std::string(kBigArchive) + " "));
  };

  // The clock stands still until every mirror's log shows a request (nginx
  // writes the line after it has answered, so a loaded machine may show it
  // passes later) and then for 40 passes more (2 000 calls of the engine): no
  // pause ends, so each mirror is asked exactly once.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int hold = 40;
  std::vector<int> asked_while_frozen;
  ASSERT_EQ(install([&] {
              if (!asked_while_frozen.empty()) return true;
              bool every_mirror_asked = true;
              for (int m = 0; m < mirrors; ++m) every_mirror_asked = every_mirror_asked && asked(m) > 0;
              if (!every_mirror_asked && std::chrono::steady_clock::now() < give_up) return false;
              if (--hold > 0) return false;
              for (int m = 0; m < mirrors; ++m) asked_while_frozen.push_back(asked(m));
              return true;
            }),
            1);

  ASSERT_EQ(asked_while_frozen.size(), static_cast<size_t>(mirrors)) << "the clock was held";
  for (auto& w : web) w->stop();  // the last answer's log line may still be on its way
  for (int m = 0; m < mirrors; ++m) {
    EXPECT_EQ(asked_while_frozen[m], 1) << "mirror " << m << ": asked once, then not before its pause ends";
    EXPECT_EQ(asked(m), kFetchTriesPerServer) << "mirror " << m << ": asked a bounded number of times";
  }
  EXPECT_EQ(stg.got_failed_install, 1) << "the install failed";
  EXPECT_EQ(next.dir_done, 0) << "a failed install is not reported complete";
  EXPECT_EQ(stg.got_404, 0) << "the screen no longer says another server is being tried";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(alerts[0].l2, "Error: " + error_str(kErrZipOpen));
  EXPECT_EQ(alerts[0].l4, "Destination: " + dest_dir_path + "data/big.bin");
  EXPECT_EQ(alerts[0].type, t_alert);
  EXPECT_FALSE(testsupport::file_exists(dest_dir_path + "data/big.bin"));
  const std::string log = log_text();
  EXPECT_EQ(count_of(log, "   file       =" + std::string(kBigArchive) + "\n"), static_cast<size_t>(mirrors))
      << "the failure is logged once per mirror";
  EXPECT_EQ(count_of(log, "could not be downloaded: each of the " + std::to_string(mirrors) +
                              " servers failed it " + std::to_string(kFetchTriesPerServer) + " times"),
            1u);
  EXPECT_LT(log.size(), 16u * 1024) << "the log stays small";
  std::printf("[ figures ] %d mirror(s): requests for the archive per mirror %d, log %zu bytes, %d passes\n",
              mirrors, asked(0), log.size(), passes);
}

INSTANTIATE_TEST_SUITE_P(OneOrTwoMirrors, EveryMirrorAnswers404, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return std::to_string(i.param) + (i.param == 1 ? "Mirror" : "Mirrors");
                         });

}  // namespace
