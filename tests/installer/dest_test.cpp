// The destination folder: recognising an installation, choosing a folder,
// creating the folder tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core_fixture.h"
#include "installer/utils.h"

using coretest::CoreTest;
using testsupport::make_dirs;
using testsupport::write_file;

namespace {

bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Dest : public CoreTest {
 protected:
  void add(const std::string& path, const std::string& sig, int os_type = 0) {
    file_history_struct h;
    file_version_struct v;
    v.path = path;
    v.sig_want = sig;
    v.os_type = os_type;
    h.versions.push_back(v);
    sim_info.files.push_back(h);
  }
};

}  // namespace

TEST_F(Dest, AnInstallationHasAllFourMarkerFolders) {
  for (const char* f : {"Airfoils", "Instructions", "Output", "Old Resources"}) make_dirs(dest_dir_path + f);
  EXPECT_EQ(path_is_to_a_sim(), 1) << "a folder named Old Resources counts for Resources";
  ::rmdir((dest_dir_path + "Instructions").c_str());
  EXPECT_EQ(path_is_to_a_sim(), 0) << "without Instructions it is not an installation";
  write_file(dest_dir_path + "Instructions", "a file, not a folder");
  EXPECT_EQ(path_is_to_a_sim(), 0) << "only folders count as markers";
  dest_dir_path = dir_ / "does not exist/";
  EXPECT_EQ(path_is_to_a_sim(), 0) << "a folder that does not exist is not an installation";
}

TEST_F(Dest, ChoosingAFolder) {
  const std::string parent = dir_ / "games/";
  make_dirs(parent);
  EXPECT_EQ(pick_dest_path(), 0) << "a cancelled chooser changes nothing";
  EXPECT_EQ(dest_dir_path, dir_ / "dest/");

  coretest::g_folder_answer = parent;
  EXPECT_EQ(pick_dest_path(), 1);
  EXPECT_EQ(dest_dir_path, parent + "Skyvane 9/") << "before the server list is read the folder is Skyvane 9";

  install_name = "Skyvane 9.01";
  EXPECT_EQ(pick_dest_path(), 1);
  EXPECT_EQ(dest_dir_path, parent + "Skyvane 9.01/") << "a new installation is named after the release";

  for (const char* f : {"Airfoils", "Instructions", "Output", "Resources"}) make_dirs(parent + "Sim/" + f);
  coretest::g_folder_answer = parent + "Sim/";
  EXPECT_EQ(pick_dest_path(), 1);
  EXPECT_EQ(dest_dir_path, parent + "Sim/") << "an existing installation is updated in place";

  coretest::g_folder_answer = "/" + std::string(2100, 'x') + "/";
  EXPECT_EQ(pick_dest_path(), 0) << "a path longer than the chooser's buffer is refused";
}

TEST_F(Dest, MakeDirsCreatesTheChainTheManifestFoldersAndTheFixedFolders) {
  dest_dir_path = dir_ / "a/b/Skyvane 9/";
  add("Master/Aircraft/X/a.acf", std::string(32, '1'));
  add("Master/Aircraft/Y/b.acf", std::string(32, '1'));
  add("Master/Gone/Deep/c.txt", "GONE");
  add("Master/Mac/Only/d.app", std::string(32, '1'), 1);
  add("Master/top.txt", std::string(32, '1'));
  make_dirs();
  EXPECT_TRUE(alerts.empty()) << "nothing failed";
  EXPECT_TRUE(is_dir(dest_dir_path)) << "the destination and its missing ancestors are created";
  EXPECT_TRUE(is_dir(dest_dir_path + "Aircraft/X"));
  EXPECT_TRUE(is_dir(dest_dir_path + "Aircraft/Y"));
  EXPECT_FALSE(is_dir(dest_dir_path + "Gone")) << "withdrawn files need no folders";
  EXPECT_FALSE(is_dir(dest_dir_path + "Mac")) << "another platform's files need no folders";
  EXPECT_FALSE(is_dir(dest_dir_path + "Master")) << "the master folder is not part of the local path";
  for (const char* f : kFixedFolders) EXPECT_TRUE(is_dir(dest_dir_path + f)) << f;
  make_dirs();
  EXPECT_TRUE(alerts.empty()) << "existing folders are not failures";
}

TEST_F(Dest, FailuresAreShownPerPhase) {
  write_file(dir_ / "blocker", "a file where the destination's parent should be");
  dest_dir_path = dir_ / "blocker/Skyvane 9/";
  add("Master/A/a.txt", std::string(32, '1'));
  add("Master/B/b.txt", std::string(32, '1'));
  make_dirs();
  // Phase 1 stops at its first failure, phase 2 as well, phase 3 reports each.
  ASSERT_EQ(alerts.size(), 1u + 1u + 7u);
  EXPECT_EQ(alerts[0].l3, "Install Location: " + dest_dir_path);
  EXPECT_EQ(alerts[0].l4, "Install Path:" + dir_ / "blocker")
      << "the first ancestor that cannot be a folder; no blank after the colon";
  EXPECT_EQ(alerts[0].l2, "Error: Not a directory");
  EXPECT_EQ(alerts[0].line, 177);
  EXPECT_EQ(alerts[1].l4, "Install Path:" + dest_dir_path + "A") << "phase 2 stops after its first failure";
  EXPECT_EQ(count_alerts(t_exit), 0) << "folder failures never end the program";
}
