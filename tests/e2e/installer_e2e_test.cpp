// The real program in a real window, against a real nginx serving a release
// published by the real publisher; clicks by xdotool at the screen positions
// of the main screen, the licence window and the question window.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "installer/utils.h"
#include "installer_process.h"
#include "ui/screen_rects.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// The buttons are where ui/screen_rects.h puts them: on the main screen in
// window coordinates, on the licence window 1 (500 x 300, centred in
// 1024 x 768) from its origin (262, 234).
constexpr float kLicenceX = 262, kLicenceY = 234;
void click_image(InstallerProcess& p, const screen_image& r, float ox = 0, float oy = 0) {
  p.click_rect(ox + r.x, oy + r.y, static_cast<float>(r.cut.ds), static_cast<float>(r.cut.dt));
}
// Question window 997 (700 x 146) centred: origin (162, 311); buttons centred.
constexpr float kQOrigin[2] = {162, 311};
enum QuestionButton { kOverwrite, kKeep, kOverwriteEvery, kKeepEvery, kCancel };
constexpr float kQButton[5][2] = {{96, 53}, {96, 28}, {308, 53}, {308, 28}, {584, 28}};

const char* const kRelease = "Skyvane 9.00";

// Relative path below the destination -> MD5, for the files this platform
// takes (master folders "Skyvane 9" and "Skyvane 9 Linux").
std::map<std::string, std::string> expected_files(const std::string& product) {
  std::map<std::string, std::string> out;
  for (const char* master : {"Skyvane 9", "Skyvane 9 Linux"}) {
    const fs::path base = fs::path(product) / master;
    for (const auto& e : fs::recursive_directory_iterator(base)) {
      if (!e.is_regular_file()) continue;
      out[fs::relative(e.path(), base).string()] = md5sum_of(e.path().string());
    }
  }
  return out;
}

class InstallerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    make_dirs(root_ / "demo/www");
    server_ = std::make_unique<Nginx>(root_ / "demo/www");
    publish_demo(root_ / "demo", server_->host());
  }

  std::unique_ptr<InstallerProcess> start(std::vector<std::string> extra = {},
                                          const std::vector<std::string>& env = {}) {
    std::vector<std::string> args = {"--vendor_host=" + server_->host()};
    args.insert(args.end(), extra.begin(), extra.end());
    auto p = std::make_unique<InstallerProcess>(root_, args, "skyvane-installer", env);
    EXPECT_TRUE(p->wait_window()) << "the program must open its window; log:\n" << p->log_text();
    return p;
  }

  static bool wait_log(InstallerProcess& p, const std::string& text, double seconds = 60) {
    return InstallerProcess::wait_for([&] { return p.log_text().find(text) != std::string::npos; }, seconds);
  }

  static void click_question(InstallerProcess& p, QuestionButton b) {
    p.click(kQOrigin[0] + kQButton[b][0], kQOrigin[1] + kQButton[b][1]);
  }

  std::string product() { return root_ / "demo/product"; }

  // Install, accept, wait, Quit; then every file this platform takes is the
  // published one in the folder renamed after the release.
  void fresh_install_completes(InstallerProcess& p) {
    ASSERT_TRUE(wait_log(p, "Directory read: result=3")) << p.log_text();
    p.screenshot("main-ready");
    click_image(p, kMainInstallButton);
    p.screenshot("licence");
    click_image(p, kLicenceAcceptButton, kLicenceX, kLicenceY);
    ASSERT_TRUE(wait_log(p, "Install finished.", 120)) << p.log_text();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the finished screen draw
    p.screenshot("install-complete");
    click_image(p, kMainQuitButton);
    EXPECT_EQ(p.wait_exit(), 0) << "Quit ends the program normally";

    const std::string dest = p.home() + kRelease + "/";
    EXPECT_FALSE(file_exists(p.home() + "Skyvane 9")) << "the folder is renamed after the release";
    ASSERT_TRUE(file_exists(dest)) << p.log_text();
    for (const auto& [rel, md5] : expected_files(product())) {
      EXPECT_EQ(md5sum_of(dest + rel), md5) << rel << " must be installed with the published content";
    }
    EXPECT_FALSE(file_exists(dest + "Skyvane.exe")) << "another platform's program is never installed";
    EXPECT_FALSE(file_exists(dest + "Resources/plugins/weather.dll"));
    for (const char* folder : kFixedFolders) EXPECT_TRUE(file_exists(dest + folder)) << folder;
    const std::string prefs = read_file(p.prefs_path());
    EXPECT_NE(prefs.find("_dest_dir_path " + dest), std::string::npos)
        << "the preferences remember the renamed destination:\n"
        << prefs;
  }

  TempDir root_;
  std::unique_ptr<Nginx> server_;
};

// Started with no session bus to be found (no address, no bus socket in the
// runtime folder) and a dbus-launch on the PATH that records being run.
TEST_F(InstallerE2E, FreshInstallIntoAnEmptyDestination) {
  const std::string fake_bin = root_ / "fake-bin/";
  const std::string launched = root_ / "dbus-launch-ran";
  make_dirs(fake_bin);
  make_dirs(root_ / "run");
  write_file(fake_bin + "dbus-launch", "#!/bin/sh\necho \"$@\" > " + shell_quote(launched) + "\nexit 1\n");
  fs::permissions(fake_bin + "dbus-launch", fs::perms::owner_all, fs::perm_options::add);
  const char* path = std::getenv("PATH");
  auto p = start({}, {"PATH=" + fake_bin + ":" + (path ? path : "/usr/bin:/bin"), "DBUS_SESSION_BUS_ADDRESS",
                      "XDG_RUNTIME_DIR=" + (root_ / "run")});
  fresh_install_completes(*p);
  // Starting a bus forks from a process whose workers already run (a child
  // can hang there, and the window with it) and leaves a daemon behind.
  EXPECT_FALSE(file_exists(launched)) << "no session bus is started: " << read_file(launched);
}

// The disc installer in its window, with the demo release's disc image
// (extracted where a drive would mount it) as the one iso9660 file system:
// the same install, taken from the disc alone.
TEST_F(InstallerE2E, DiscInstallerInstallsFromTheDisc) {
  const std::string mounted = root_ / "media/Skyvane disc";
  ASSERT_EQ(make_demo_disc(root_ / "demo", mounted), "");
  write_file(root_ / "mounts", mount_table_line("/dev/sr0", mounted, "iso9660"));
  server_.reset();  // no web server: nothing may come from the net
  auto p = std::make_unique<InstallerProcess>(
      root_, std::vector<std::string>{}, "skyvane-installer-dvd",
      std::vector<std::string>{"SKYVANE_MOUNT_TABLE=" + (root_ / "mounts")});
  ASSERT_TRUE(p->wait_window()) << "the program must open its window; log:\n" << p->log_text();
  fresh_install_completes(*p);
  EXPECT_NE(p->log_text().find("After searching, I think that dvd_path=" + mounted + "/\n"),
            std::string::npos);
}

TEST_F(InstallerE2E, DecliningTheLicenceFetchesNothing) {
  const std::string dest = root_ / "dest/";
  make_dirs(dest);
  auto p = start({dest});
  ASSERT_TRUE(wait_log(*p, "Directory read: result=3")) << p->log_text();
  click_image(*p, kMainInstallButton);
  click_image(*p, kLicenceDeclineButton, kLicenceX, kLicenceY);
  ASSERT_TRUE(wait_log(*p, "Install: licence declined, step=0", 20)) << p->log_text();
  p->screenshot("declined");
  // Give a would-be install time to start, then check nothing came.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(p->running()) << "the program keeps running after a decline";
  for (const auto& [rel, md5] : expected_files(product()))
    EXPECT_FALSE(file_exists(dest + rel)) << rel << " must not be fetched without consent";
  click_image(*p, kMainQuitButton);
  EXPECT_EQ(p->wait_exit(), 0);
}

// An older installation in which the user changed two files of one folder:
// the question comes for the first; a folder answer covers the second.
class UpdateAnswers : public InstallerE2E, public ::testing::WithParamInterface<QuestionButton> {};

TEST_P(UpdateAnswers, ChangedFilesFollowTheAnswer) {
  const std::string dest = root_ / "dest/";
  for (const char* master : {"Skyvane 9/", "Skyvane 9 Linux/"}) {
    fs::copy(product() + "/" + master, dest,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  const std::string read_me = dest + "Instructions/Read Me First.txt";
  const std::string keys = dest + "Instructions/Keyboard Shortcuts.txt";
  const std::string missing = dest + "Airfoils/NACA 2400.afl";
  write_file(read_me, "my own notes\n");
  write_file(keys, "my own keys\n");
  fs::remove(missing);

  const QuestionButton answer = GetParam();
  auto p = start({dest, "--pref:_rename_folder=0"});
  ASSERT_TRUE(wait_log(*p, "Directory read: result=3")) << p->log_text();
  click_image(*p, kMainInstallButton);
  click_image(*p, kLicenceAcceptButton, kLicenceX, kLicenceY);
  ASSERT_TRUE(wait_log(*p, "sig_have=", 20)) << "the question is logged when it is asked\n" << p->log_text();
  p->screenshot("question-" + std::to_string(answer));
  click_question(*p, answer);

  const bool folder_answer = answer == kOverwriteEvery || answer == kKeepEvery;
  const bool single_answer = answer == kOverwrite || answer == kKeep;
  if (single_answer) {
    // The second changed file of the folder is asked about too; keep it.
    InstallerProcess::wait_for(
        [&] {
          const std::string log = p->log_text();
          return log.find("sig_have=") != log.rfind("sig_have=");
        },
        20);
    click_question(*p, kKeep);
  }
  if (answer == kCancel) {
    ASSERT_TRUE(wait_log(*p, "Install: licence accepted, step=0", 20)) << p->log_text();
  } else {
    ASSERT_TRUE(wait_log(*p, "Install finished.", 120)) << p->log_text();
  }
  const std::string log = p->log_text();
  // The manifest's order decides which changed file is asked about first.
  const size_t first = log.find("File: ");
  ASSERT_NE(first, std::string::npos);
  const bool read_me_first = log.compare(first + 6, read_me.size(), read_me) == 0;
  const std::string a = read_me_first ? read_me : keys;
  const std::string b = read_me_first ? keys : read_me;
  const std::string a_rel =
      read_me_first ? "Instructions/Read Me First.txt" : "Instructions/Keyboard Shortcuts.txt";
  const std::string b_rel =
      read_me_first ? "Instructions/Keyboard Shortcuts.txt" : "Instructions/Read Me First.txt";
  const std::string b_own = read_me_first ? "my own keys\n" : "my own notes\n";
  if (folder_answer) {
    EXPECT_EQ(log.find("sig_have="), log.rfind("sig_have="))
        << "after a folder answer the second changed file is not asked about";
  }
  const auto expected = expected_files(product());
  const bool overwritten = answer == kOverwrite || answer == kOverwriteEvery;
  EXPECT_EQ(md5sum_of(a) == expected.at(a_rel), overwritten) << "the first changed file follows the answer";
  if (answer == kOverwriteEvery)
    EXPECT_EQ(md5sum_of(b), expected.at(b_rel)) << "a folder answer overwrites the second file unasked";
  else
    EXPECT_EQ(read_file(b), b_own) << "the second changed file is kept";
  EXPECT_EQ(file_exists(missing), answer != kCancel) << "a missing file is fetched unless cancelled";
  click_image(*p, kMainQuitButton);
  EXPECT_EQ(p->wait_exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, UpdateAnswers,
                         ::testing::Values(kOverwrite, kKeep, kOverwriteEvery, kKeepEvery, kCancel));

TEST_F(InstallerE2E, MirrorFailOverCompletesTheInstall) {
  // The first mirror's files vanish: every download from it answers 404.
  fs::remove_all(root_ / "demo/www/files");
  auto p = start({root_ / "dest/", "--pref:_rename_folder=0"});
  ASSERT_TRUE(wait_log(*p, "Directory read: result=3", 90)) << p->log_text();
  click_image(*p, kMainInstallButton);
  click_image(*p, kLicenceAcceptButton, kLicenceX, kLicenceY);
  ASSERT_TRUE(wait_log(*p, "Install finished.", 180)) << p->log_text();
  for (const auto& [rel, md5] : expected_files(product()))
    EXPECT_EQ(md5sum_of(root_ / "dest/" + rel), md5) << rel;
  click_image(*p, kMainQuitButton);
  EXPECT_EQ(p->wait_exit(), 0);
}

TEST_F(InstallerE2E, UnacceptedServerListEndsTheProgram) {
  write_file(root_ / "demo/www/serverlist9.txt", "I\n700 an older format\nSERVERS\n");
  auto p = std::make_unique<InstallerProcess>(
      root_, std::vector<std::string>{"--vendor_host=" + server_->host(), "--fps_test", root_ / "dest/"});
  const int code = p->wait_exit(60);
  EXPECT_NE(code, -1) << "the program must end by itself; log:\n" << p->log_text();
  EXPECT_FALSE(file_exists(p->prefs_path())) << "--fps_test saves no preferences";
}

TEST_F(InstallerE2E, ServerListWithoutAGoodSignatureEndsTheProgram) {
  // The demo release is signed. Each case spoils it, then the program must
  // refuse the list, say why in the log and end.
  const std::string list_path = root_ / "demo/www/serverlist9.txt";
  const std::string sig_path = list_path + ".minisig";
  const std::string list = read_file(list_path);
  const std::string sig = read_file(sig_path);
  struct spoil {
    const char* name;
    std::function<void()> apply;
    const char* reason;
  };
  const spoil cases[] = {
      {"one changed byte in the list",
       [&] {
         std::string changed = list;
         changed[changed.find("Demo mirror")] = 'd';
         write_file(list_path, changed);
       },
       "Server list refused: the signature does not match the file"},
      {"no signature on the vendor host", [&] { std::remove(sig_path.c_str()); },
       "Server list refused: the signature serverlist9.txt.minisig is missing"},
  };
  for (const spoil& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(list_path, list);
    write_file(sig_path, sig);
    c.apply();
    auto p = std::make_unique<InstallerProcess>(
        root_, std::vector<std::string>{"--vendor_host=" + server_->host(), "--fps_test", root_ / "dest/"});
    EXPECT_NE(p->wait_exit(60), -1) << "the program must end by itself; log:\n" << p->log_text();
    EXPECT_NE(p->log_text().find(c.reason), std::string::npos) << p->log_text();
  }
}

TEST_F(InstallerE2E, ReplayedOlderReleaseEndsTheProgram) {
  auto p = std::make_unique<InstallerProcess>(
      root_, std::vector<std::string>{"--vendor_host=" + server_->host(), "--fps_test",
                                      "--pref:_release_time=99999999999", root_ / "dest/"});
  EXPECT_NE(p->wait_exit(60), -1) << "the program must end by itself; log:\n" << p->log_text();
  EXPECT_NE(p->log_text().find("older than a release already seen (99999999999)"), std::string::npos)
      << p->log_text();
}

TEST_F(InstallerE2E, ManifestSignedForAnotherReleaseOnEveryServerKeepsInstallOff) {
  for (const char* mirror : {"files", "mirror"}) {
    const std::string zip = root_ / "demo/www/" + mirror + "/" + kRelease + "/directory.txt.zip";
    std::remove((zip + ".minisig").c_str());  // hard-linked between the mirrors
    ASSERT_EQ(run("minisign -S -s " + shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key") +
                  " -m " + shell_quote(zip) + " -t 'time=1 release=Skyvane 8.00' > /dev/null"),
              0);
  }
  auto p = start({root_ / "dest/", "--fps_test"});
  ASSERT_TRUE(wait_log(*p, "None of the servers has a directory of files signed for Skyvane 9.00!", 60))
      << p->log_text();
  EXPECT_NE(p->log_text().find("the signature is for release \"Skyvane 8.00\", not \"Skyvane 9.00\""),
            std::string::npos)
      << "the alert names the reason";
  EXPECT_EQ(p->log_text().find("Directory read:"), std::string::npos) << "no manifest was read";
  p->screenshot("manifest-signed-for-another-release");
  EXPECT_TRUE(p->running());
  click_image(*p, kMainQuitButton);
  EXPECT_EQ(p->wait_exit(), 0);
}

TEST_F(InstallerE2E, UnreadableManifestIsReportedAndInstallStaysOff) {
  for (const char* mirror : {"files", "mirror"})
    write_file(root_ / "demo/www/" + mirror + "/" + kRelease + "/directory.txt.zip",
               "this is not a zip file");
  // Served unsigned: the damage is found by the expansion, not the signature.
  auto p = start({root_ / "dest/", "--fps_test", "--release_key=none"});
  ASSERT_TRUE(wait_log(*p, "DIR-scan: The installer cannot extract a file.", 30)) << p->log_text();
  p->screenshot("manifest-unreadable");
  EXPECT_TRUE(p->running()) << "a manifest that cannot be expanded is fetched again, not fatal";
  click_image(*p, kMainQuitButton);
  EXPECT_EQ(p->wait_exit(), 0);
}

}  // namespace
