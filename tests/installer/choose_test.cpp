// choose_files: the decision table and the per-folder answers.
#include <gtest/gtest.h>

#include "core_fixture.h"
#include "installer/utils.h"

using coretest::CoreTest;
using coretest::g_answers;
using coretest::g_questions;

namespace {

const std::string kOld = std::string(32, '1');
const std::string kNew = std::string(32, '2');
const std::string kUser = std::string(32, '9');

class Choose : public CoreTest {
 protected:
  // Adds an entry with an older and a current version and what the scan found.
  file_version_struct& add(const std::string& path, const std::string& sig_want, const std::string& sig_have,
                           int os_type = 0) {
    file_history_struct h;
    file_version_struct old;
    old.path = "M/" + path;
    old.sig_want = kOld;
    h.versions.push_back(old);
    file_version_struct cur = old;
    cur.sig_want = sig_want;
    cur.sig_have = sig_have;
    cur.os_type = os_type;
    cur.on_disk = sig_have == sig_want;
    h.versions.push_back(cur);
    sim_info.files.push_back(h);
    return sim_info.files.back().versions.back();
  }
  static std::string decision(const file_version_struct& v) {
    if (v.want_to_grab_it && v.want_to_nuke_it) return "both";
    if (v.want_to_grab_it) return "grab";
    if (v.want_to_nuke_it) return "delete";
    return "nothing";
  }
};

}  // namespace

TEST_F(Choose, DecisionTableWithoutQuestions) {
  auto& absent = add("absent", kNew, "NONE");
  auto& absent_gone = add("absent_gone", "GONE", "NONE");
  auto& latest = add("latest", kNew, kNew);
  auto& older = add("older", kNew, kOld);
  auto& older_gone = add("older_gone", "GONE", kOld);
  auto& foreign = add("foreign", kNew, "NONE", 1);
  auto& foreign_gone = add("foreign_gone", "GONE", kOld, 1);
  auto& foreign_custom = add("foreign_custom", kNew, kUser, 1);
  auto& six = add("six", kNew, "NONE", 6);
  ASSERT_EQ(choose_files(), 1);
  EXPECT_EQ(decision(absent), "grab") << "a missing file is fetched";
  EXPECT_EQ(decision(absent_gone), "nothing") << "a withdrawn file that is absent needs nothing";
  EXPECT_EQ(decision(latest), "nothing") << "the current version is left alone";
  EXPECT_EQ(decision(older), "grab") << "an older official copy is replaced without asking";
  EXPECT_EQ(decision(older_gone), "delete") << "an older official copy of a withdrawn file is deleted";
  EXPECT_EQ(decision(foreign), "nothing") << "another platform's file is never fetched";
  EXPECT_EQ(decision(foreign_gone), "nothing") << "nor deleted";
  EXPECT_EQ(decision(foreign_custom), "nothing") << "nor asked about";
  EXPECT_EQ(decision(six), "nothing") << "platform 6 applies only to platform 3";
  EXPECT_TRUE(g_questions.empty()) << "no file here was changed by the user";
}

TEST_F(Choose, ChangedFilesAreAskedAboutAndEachAnswerActs) {
  auto& keep = add("a/keep", kNew, kUser);
  auto& overwrite = add("b/overwrite", kNew, kUser);
  auto& del = add("c/del", "GONE", kUser);
  auto& keep_gone = add("d/keep_gone", "GONE", kUser);
  g_answers = {2, 1, 1, 2};
  ASSERT_EQ(choose_files(), 1);
  EXPECT_EQ(decision(keep), "nothing") << "KEEP THE OLD FILE";
  EXPECT_EQ(decision(overwrite), "grab") << "OVERWRITE THE OLD FILE";
  EXPECT_EQ(decision(del), "delete") << "DELETE THE OLD FILE";
  EXPECT_EQ(decision(keep_gone), "nothing") << "a changed withdrawn file may be kept";
  ASSERT_EQ(g_questions.size(), 4u);
  EXPECT_EQ(g_questions[0].path, dest_dir_path + "a/keep") << "the question names the local path";
  EXPECT_EQ(g_questions[0].is_gone, 0);
  EXPECT_EQ(g_questions[2].is_gone, 1) << "the delete form of the question for a withdrawn file";
  EXPECT_NE(
      log_text().find("File: " + dest_dir_path + "a/keep  sig_want=" + kNew + "  sig_have=" + kUser + "\n"),
      std::string::npos)
      << "each question is logged";
}

TEST_F(Choose, FolderAnswersCoverThatFolderOnly) {
  auto& a1 = add("A/one", kNew, kUser);
  auto& a2 = add("A/two", kNew, kUser);
  auto& a_gone = add("A/gone", "GONE", kUser);
  auto& ab = add("A/B/three", kNew, kUser);
  auto& c1 = add("C/one", kNew, kUser);
  auto& c_gone = add("C/gone", "GONE", kUser);
  auto& c_old = add("C/old", kNew, kOld);
  g_answers = {5, 4, 4};
  ASSERT_EQ(choose_files(), 1);
  EXPECT_EQ(decision(a1), "nothing") << "KEEP EVERY OLD FILE IN THIS DIRECTORY";
  EXPECT_EQ(decision(a2), "nothing") << "a second changed file of A/ is kept without a question";
  EXPECT_EQ(decision(a_gone), "nothing") << "the keep answer also keeps withdrawn files of A/";
  EXPECT_EQ(decision(ab), "grab") << "A/B/ is another folder: asked, answered overwrite-every";
  EXPECT_EQ(decision(c1), "grab");
  EXPECT_EQ(decision(c_gone), "delete") << "overwrite-every of C/ also deletes withdrawn changed files there";
  EXPECT_EQ(decision(c_old), "grab");
  ASSERT_EQ(g_questions.size(), 3u) << "one question each for A/, A/B/ and C/";
  EXPECT_EQ(g_questions[1].path, dest_dir_path + "A/B/three");
  EXPECT_EQ(g_questions[2].path, dest_dir_path + "C/one");
}

TEST_F(Choose, CancelStopsAtOnceAndLeavesTheRestAlone) {
  auto& before = add("before", kNew, "NONE");
  auto& asked = add("asked", kNew, kUser);
  auto& after = add("after", kNew, "NONE");
  after.want_to_nuke_it = 1;  // left from an earlier choice
  g_answers = {3};
  EXPECT_EQ(choose_files(), 0) << "CANCEL THE WHOLE INSTALLATION!";
  EXPECT_EQ(decision(before), "grab") << "entries before the question have their decision";
  EXPECT_EQ(decision(asked), "nothing");
  EXPECT_EQ(decision(after), "delete") << "entries not reached keep what they had";
  g_answers.clear();  // no drawn question and no answer: closed window
  EXPECT_EQ(choose_files(), 0) << "a closed question window counts as cancel";
}
