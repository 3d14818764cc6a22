// Whole installs without a window: a release made by the publisher, served by
// nginx on 127.0.0.1, installed by the server-list fetch, the manifest fetch,
// read_directory, make_dirs, choose_files and grab_files driven in a loop the
// way the driver drives them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "install_fixture.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "io/md5.h"
#include "io/sig_cache.h"
#include "net/http.h"
#include "platform/system.h"
#include "util/xtim.h"

using coretest::is_dir;
using coretest::product;
using testsupport::file_exists;
using testsupport::make_dirs;
using testsupport::md5sum_of;
using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::write_file;

namespace {

// The product of release R1, and what R2 changes.
product release_one() {
  return {
      {"Master/data/changed.txt", "changed, first version\n"},
      {"Master/data/same.txt", "the same in every release\n"},
      {"Master/data/usermod.txt", "official text, first version\n"},
      {"Master/data/withdrawn.txt", "withdrawn in R2\n"},
      {"Master/data/sub/only-file.txt", "the only file of its folder, withdrawn in R2\n"},
      {"Master/data/empty.txt", ""},
      {"Master/Aircraft/My Plane/my plane.acf", testsupport::random_bytes(300000, 7)},
      {"Master/Global Scenery/+50+010/tile.dsf", testsupport::random_bytes(200000, 8)},
      {"Master/bin/skyvane", "#!/bin/sh\necho linux program\n"},
      {"Master/mac/Skyvane.app", "a program for another platform\n"},
  };
}

product release_two() {
  product p = release_one();
  p["Master/data/changed.txt"] = "changed, second version\n";
  p["Master/data/usermod.txt"] = "official text, second version\n";
  p.erase("Master/data/withdrawn.txt");
  p.erase("Master/data/sub/only-file.txt");
  p["Master/data/new file.txt"] = "new in R2\n";
  return p;
}

class Install : public coretest::InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    std::srand(12345);
  }

  // Every file of `files` (published from the product folder of `release`)
  // outside another platform's folder is in `dest`, signed as md5sum signs the
  // product's file.
  void expect_installed(const product& files, const std::string& release, const std::string& dest,
                        const std::set<std::string>& except = {}) {
    const std::string prod = dir_ / ("product-" + release + "/");
    for (const auto& [rel, bytes] : files) {
      if (rel.rfind("Master/mac/", 0) == 0 || except.count(rel)) continue;
      const std::string local = dest + rel.substr(rel.find('/') + 1);
      ASSERT_TRUE(file_exists(local)) << "installed: " << local;
      EXPECT_EQ(md5sum_of(local), md5sum_of(prod + rel)) << "the published bytes: " << local;
    }
  }

  float sum_down_size() const {
    float s = 0;
    for (const auto& f : sim_info.files) {
      const auto& v = f.versions.back();
      if (v.want_to_grab_it) s += v.down_size;
    }
    return s;
  }
};

// Counts successful GETs per request path in an nginx access log (combined
// format: ... "GET /path HTTP/1.1" 200 ...).
std::map<std::string, int> fetched(const std::string& log) {
  std::map<std::string, int> counts;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const size_t get = line.find("\"GET ");
    const size_t proto = line.find(" HTTP/1.", get);
    if (get == std::string::npos || proto == std::string::npos) continue;
    const size_t status = line.find("\" ", proto);
    if (status != std::string::npos && line.compare(status + 2, 3, "200") == 0)
      ++counts[line.substr(get + 5, proto - get - 5)];
  }
  return counts;
}

}  // namespace

TEST_F(Install, FreshInstallThenRename) {
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out, "access_log " + dir_ / "access.log" + ";");
  publish(release_one(), "Skyvane 9.01", out, {web.host() + "|/files/|Local mirror"});
  dest_dir_path = dir_ / "games/Old Name/";
  fetch_and_read(web.host());
  EXPECT_EQ(install_name, "Skyvane 9.01");
  EXPECT_GT(stg.disk_req, 0.0f) << "everything is still to install";
  ASSERT_EQ(install(), 1);

  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_EQ(next.dir_done, 1) << "the whole manifest was processed";
  EXPECT_EQ(dest_dir_path, dir_ / "games/Skyvane 9.01/")
      << "a program was installed: the folder takes the release name";
  EXPECT_FALSE(is_dir(dir_ / "games/Old Name")) << "renamed, not copied";
  expect_installed(release_one(), "Skyvane 9.01", dest_dir_path);
  EXPECT_FALSE(file_exists(dest_dir_path + "mac/Skyvane.app"))
      << "another platform's program is not installed";
  EXPECT_TRUE(is_dir(dest_dir_path + "Output/situations")) << "the fixed folders were made";
  EXPECT_EQ(ended_comp_down, sum_down_size()) << "every fetched file counted once in the progress";
  EXPECT_EQ(stream_archives_left(), "") << "temporary archives are deleted when the grab ends";

  const std::string log = log_text();
  EXPECT_NE(log.find("EXPANDING file " + dir_ / "games/Old Name/data/same.txt, with result=0.\n"),
            std::string::npos)
      << "each expansion is logged exactly";
  EXPECT_NE(log.find("DELETING  file " + temp_path), std::string::npos) << "and each archive's deletion";
  EXPECT_EQ(alerts.size(), 0u) << "a clean install shows nothing";

  // The install leaves a signature cache of everything it wrote, under the
  // folder's new name, without reading anything again: each file's record
  // holds its published signature (the cache's time is moved on, as if the
  // next start came later).
  const std::string cache_file = sig_cache_file(platform_cache_folder(), dest_dir_path);
  EXPECT_FALSE(file_exists(sig_cache_file(platform_cache_folder(), dir_ / "games/Old Name/")));
  ASSERT_TRUE(file_exists(cache_file));
  namespace fs = std::filesystem;
  fs::last_write_time(cache_file, fs::file_time_type::clock::now() + std::chrono::seconds(10));
  sig_cache cache;
  ASSERT_EQ(cache.load(cache_file, dest_dir_path, sig_cache_bound(dest_dir_path, sim_info.files.size())), "");
  int vouched = 0;
  for (const auto& [rel, bytes] : release_one()) {
    if (rel.rfind("Master/mac/", 0) == 0) continue;
    const std::string local_rel = rel.substr(rel.find('/') + 1);
    platform_file_identity id;
    ASSERT_EQ(platform_file_identity_of(dest_dir_path + local_rel, &id), 0);
    EXPECT_EQ(cache.lookup(local_rel, id), md5_sign_bytes(bytes.data(), bytes.size())) << local_rel;
    ++vouched;
  }
  EXPECT_EQ(cache.size(), static_cast<size_t>(vouched)) << "one record per installed file";
}

TEST_F(Install, NothingIsLoggedWithoutThePreference) {
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(release_one(), "R1", out, {web.host() + "|/files/|Local mirror"});
  dest_dir_path = dir_ / "dest/";
  stg.log_actions = 0;
  stg.rename_folder = 0;
  stg.stream_count = -2;  // a broken preference must not idle every stream
  fetch_and_read(web.host());
  const size_t before = log_text().size();
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(log_text().size(), before) << "with log_actions off the engine writes nothing";
  EXPECT_EQ(dest_dir_path, dir_ / "dest/") << "rename_folder off keeps the folder's name";
  expect_installed(release_one(), "R1", dest_dir_path);
  EXPECT_EQ(next.dir_done, 1);
}

// An update from R1 to R2 for each answer to the question about the file the
// user changed.
class Update : public Install, public ::testing::WithParamInterface<int> {};

TEST_P(Update, ChangedWithdrawnAndUserModifiedFiles) {
  const int answer = GetParam();
  const std::string out1 = dir_ / "www1/", out2 = dir_ / "www2/";
  {
    testsupport::Nginx web(out1);
    publish(release_one(), "R1", out1, {web.host() + "|/files/|Local mirror"});
    dest_dir_path = dir_ / "sim/";
    stg.rename_folder = 0;
    fetch_and_read(web.host());
    ASSERT_EQ(install(), 1);
    ASSERT_EQ(stg.got_failed_install, 0);
  }
  write_file(dest_dir_path + "data/usermod.txt", "the user's own text\n");
  make_dirs(dest_dir_path + "mac");
  write_file(dest_dir_path + "mac/Skyvane.app", "the user's copy of another platform's file\n");
  write_file(dest_dir_path + "data/changed.txt", read_file(dir_ / "product-R1/Master/data/changed.txt"));
  ::chmod((dest_dir_path + "data/changed.txt").c_str(), 0444);  // a write-protected old copy

  // The next program run: fresh state, same folder.
  const std::string dest = dest_dir_path;
  SetUp();
  dest_dir_path = dest;
  stg.rename_folder = 0;
  testsupport::Nginx web(out2, "access_log " + dir_ / "access2.log" + ";");
  publish(release_two(), "R2", out2, {web.host() + "|/files/|Local mirror"}, out1);
  fetch_and_read(web.host());
  coretest::g_answers = {answer};
  const int chose = install();
  ASSERT_EQ(coretest::g_questions.size(), 1u) << "only the file the user changed raises a question";
  EXPECT_EQ(coretest::g_questions[0].path, dest + "data/usermod.txt");

  if (answer == 3) {
    EXPECT_EQ(chose, 0) << "cancel abandons the installation";
    EXPECT_EQ(read_file(dest + "data/changed.txt"), release_one().at("Master/data/changed.txt"))
        << "nothing was fetched";
    EXPECT_TRUE(file_exists(dest + "data/withdrawn.txt")) << "nothing was deleted";
    return;
  }
  ASSERT_EQ(stg.got_failed_install, 0);
  product want = release_two();
  const bool overwrite = answer == 1 || answer == 4;
  expect_installed(want, "R2", dest, {"Master/data/usermod.txt"});
  EXPECT_EQ(read_file(dest + "data/usermod.txt"),
            overwrite ? want.at("Master/data/usermod.txt") : std::string("the user's own text\n"))
      << "answer " << answer << " decides the changed file";
  EXPECT_FALSE(file_exists(dest + "data/withdrawn.txt")) << "a withdrawn file is deleted";
  EXPECT_FALSE(is_dir(dest + "data/sub")) << "a folder emptied by deletions is removed";
  EXPECT_TRUE(is_dir(dest + "data")) << "a folder that still holds files stays";
  EXPECT_EQ(read_file(dest + "mac/Skyvane.app"), "the user's copy of another platform's file\n")
      << "another platform's file is never touched";

  web.stop();  // its log is whole only once it has stopped
  const auto got = fetched(read_file(dir_ / "access2.log"));
  EXPECT_EQ(got.count("/files/R2/Master/data/same.txt.zip"), 0u) << "an unchanged file is not fetched";
  EXPECT_EQ(got.count("/files/R2/Master/data/empty.txt.zip"), 0u)
      << "an installed empty file is recognised and not fetched again";
  const auto changed = got.find("/files/R2/Master/data/changed.txt.zip");
  EXPECT_EQ(changed == got.end() ? 0 : changed->second, 1) << "a changed file is fetched once";

  const std::string log = log_text();
  EXPECT_NE(
      log.find("now we want to nuke a file: DELETING  file " + dest + "data/withdrawn.txt, with result=0.\n"),
      std::string::npos);
  EXPECT_NE(log.find("cleanup: DELETING  file " + dest + "data/sub/, with result=0.\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, Update, ::testing::Values(1, 2, 3, 4, 5));

TEST_F(Install, MirrorFailOver) {
  const std::string out = dir_ / "www/";
  const testsupport::RefusingPort refusing;
  const int refused = refusing.port();
  testsupport::Nginx web(out, "access_log " + dir_ / "access.log" + ";");
  // Mirror 0 has the manifest but answers 404 for every file; mirror 1 refuses
  // connections; mirror 2 is whole.
  publish(
      release_one(), "R1", out,
      {web.host() + "|/broken/|Broken mirror", "127.0.0.1:" + std::to_string(refused) + "|/gone/|Dead mirror",
       web.host() + "|/files/|Good mirror"});
  run("cd " + shell_quote(out + "broken/R1") +
      " && find . -name '*.zip' ! -name directory.txt.zip -delete && " + "find . -name '*.7z' -delete");
  dest_dir_path = dir_ / "dest/";
  fetch_and_read(web.host());
  stg.sel_server = 0;  // as if the user clicked the broken mirror
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_EQ(next.dir_done, 1);
  expect_installed(release_one(), "R1", dest_dir_path);
  EXPECT_EQ(stg.sel_server, 2) << "the install ended on the good mirror";
  EXPECT_EQ(ended_comp_down, sum_down_size())
      << "a failed download is retried without handing finished entries out again";
  web.stop();
  for (const auto& [path, n] : fetched(read_file(dir_ / "access.log"))) {
    EXPECT_EQ(n, 1) << "each archive is fetched once: " << path;
  }
  EXPECT_NE(log_text().find("HTTP Error for "), std::string::npos) << "the failures are in the log";
  EXPECT_TRUE(alerts.empty()) << "fail-over is silent";
}

TEST_F(Install, AnArchiveThatCannotBeExpandedFailsTheInstall) {
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(release_one(), "R1", out, {web.host() + "|/files/|Local mirror"});
  write_file(out + "files/R1/Master/data/same.txt.zip", "this is not a zip archive");
  dest_dir_path = dir_ / "games/Old Name/";
  fetch_and_read(web.host());
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 1) << "the install failed";
  EXPECT_EQ(next.dir_done, 0) << "a failed install is not reported complete";
  EXPECT_EQ(dest_dir_path, dir_ / "games/Old Name/") << "a failed install is not renamed after the release";
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(alerts[0].l2, "Error: " + error_str(kErrZipOpen));
  EXPECT_EQ(alerts[0].l4, "Destination: " + dest_dir_path + "data/same.txt");
  EXPECT_EQ(alerts[0].type, t_alert);
  EXPECT_EQ(alerts[0].line, 392);
  for (int slot = 2; slot < http_class::kSlots; ++slot) {
    EXPECT_EQ(http.down[slot], nullptr)
        << "no download of the failed install stays in slot " << slot << " for the next install to mistake";
  }
}

// Where the install goes, and what becomes of the folder's name: after an
// install that brought programs, only a folder this run made or one that
// already held an installation takes the release's name; the user's own
// folder keeps its name and its files. '\' is an ordinary character of a
// folder name. A path longer than the program's paths may be (500 bytes)
// fails that entry's install with an alert naming it; the program goes on.
enum class DestKind { kMadeByThisRun, kUsersOwnFolder, kEarlierInstallation, kBackslashInName, kPathTooLong };

struct DestCase {
  const char* name;
  DestKind kind;
  bool renamed;  // the folder ends as games/R1/
  bool fails;    // the install fails with the long-path alert
};

class Destination : public Install, public ::testing::WithParamInterface<DestCase> {};

TEST_P(Destination, TakesTheReleaseNameOnlyWhenItIsTheInstallers) {
  const DestCase& c = GetParam();
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(release_one(), "R1", out, {web.host() + "|/files/|Local mirror"});
  std::string dest;
  switch (c.kind) {
    case DestKind::kMadeByThisRun:
      dest = dir_ / "games/Old Name/";
      break;
    case DestKind::kUsersOwnFolder:
      dest = dir_ / "games/Documents/";
      make_dirs(dest);
      write_file(dest + "letter.txt", "the user's own letter\n");
      break;
    case DestKind::kEarlierInstallation:
      dest = dir_ / "games/Old Sim/";
      for (const char* marker : {"Airfoils", "Instructions", "Output", "Resources"}) make_dirs(dest + marker);
      break;
    case DestKind::kBackslashInName:
      dest = dir_ / "games/back\\slash/";
      break;
    case DestKind::kPathTooLong:
      dest = dir_ / "games/" + std::string(200, 'L') + "/";
      dest += std::string(495 - dest.size() - 1, 'M') + "/";  // every file's path is 500 bytes or more
      break;
  }
  dest_dir_path = dest;
  fetch_and_read(web.host());
  ASSERT_EQ(this_install_has_exes, 1) << "a program is to be installed";
  ASSERT_EQ(install(), 1) << "the program goes on";

  if (c.fails) {
    EXPECT_EQ(stg.got_failed_install, 1);
    EXPECT_EQ(next.dir_done, 0) << "not reported complete";
    ASSERT_GE(alerts.size(), 1u);
    for (const auto& a : alerts) {
      EXPECT_EQ(a.l1, "The installer cannot install a file: its path is too long.");
      EXPECT_EQ(a.l3.rfind("Destination: " + dest, 0), 0u) << "the alert names the path: " << a.l3;
      EXPECT_GE(a.l3.size(), std::string("Destination: ").size() + 500);
      EXPECT_EQ(a.type, t_alert);
    }
    EXPECT_EQ(dest_dir_path, dest) << "a failed install keeps the folder's name";
    return;
  }
  ASSERT_EQ(stg.got_failed_install, 0);
  EXPECT_TRUE(alerts.empty());
  const std::string renamed = dir_ / "games/R1/";
  EXPECT_EQ(dest_dir_path, c.renamed ? renamed : dest);
  EXPECT_EQ(is_dir(dest), !c.renamed);
  expect_installed(release_one(), "R1", dest_dir_path);
  if (c.kind == DestKind::kUsersOwnFolder) {
    EXPECT_EQ(read_file(dest + "letter.txt"), "the user's own letter\n") << "the user's file is where it was";
  }

  // A second examination in the same run, of the now current folder: no
  // program is to be installed, whatever the first one found.
  std::string manifest = temp_path + "directory.txt";
  ASSERT_EQ(read_directory(manifest, "Scanning directory text file..."), 3);
  EXPECT_EQ(stg.disk_req, 0.0f) << "everything is installed";
  EXPECT_EQ(this_install_has_exes, 0) << "the first examination's answer does not stick";
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, Destination,
    ::testing::Values(DestCase{"a_folder_this_run_makes", DestKind::kMadeByThisRun, true, false},
                      DestCase{"the_users_own_folder", DestKind::kUsersOwnFolder, false, false},
                      DestCase{"an_earlier_installation", DestKind::kEarlierInstallation, true, false},
                      DestCase{"a_backslash_in_its_name", DestKind::kBackslashInName, true, false},
                      DestCase{"a_path_too_long", DestKind::kPathTooLong, false, true}),
    [](const ::testing::TestParamInfo<DestCase>& info) { return std::string(info.param.name); });
