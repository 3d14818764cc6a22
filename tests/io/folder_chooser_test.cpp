// The chooser's answer form and starting folder (the dialog itself is the
// desktop's).
#include "io/folder_chooser.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"

namespace {

TEST(FolderChooser, OutputForm) {
  std::string out = "unchanged";
  ASSERT_TRUE(chooser_output_form("/home/pat/Games/Sim", true, &out));
  EXPECT_EQ(out, "/home/pat/Games/Sim/") << "a chosen folder ends in '/'";
  ASSERT_TRUE(chooser_output_form("/", true, &out));
  EXPECT_EQ(out, "/") << "the root stays a single '/'";
  ASSERT_TRUE(chooser_output_form("/a/b/", true, &out));
  EXPECT_EQ(out, "/a/b/") << "no doubled separator";
  ASSERT_TRUE(chooser_output_form("/media/dvd:1/x", true, &out));
  EXPECT_EQ(out, "/media/dvd:1/x/") << "':' is an ordinary character";
  ASSERT_TRUE(chooser_output_form("/home/pat/file.txt", false, &out));
  EXPECT_EQ(out, "/home/pat/file.txt") << "a chosen file gets no separator";

  ASSERT_TRUE(chooser_output_form("/home/pat/odd\\name", true, &out));
  EXPECT_EQ(out, "/home/pat/odd\\name/") << "'\\' is an ordinary name character";

  out = "unchanged";
  EXPECT_FALSE(chooser_output_form("relative/x", true, &out)) << "answers are absolute";
  EXPECT_FALSE(chooser_output_form("", true, &out)) << "no answer";
  EXPECT_EQ(out, "unchanged") << "a refused answer writes nothing";
}

TEST(FolderChooser, StartFolderIsNearestExisting) {
  testsupport::TempDir dir;
  testsupport::make_dirs(dir / "a/b");
  EXPECT_EQ(chooser_start_folder(dir / "a/b/"), dir / "a/b/") << "an existing folder is used as is";
  EXPECT_EQ(chooser_start_folder(dir / "a/b"), dir / "a/b/");
  EXPECT_EQ(chooser_start_folder(dir / "a/Skyvane 9/"), dir / "a/")
      << "a destination not made yet: its parent";
  testsupport::write_file(dir / "file", "x");
  EXPECT_EQ(chooser_start_folder(dir / "file"), dir.path()) << "a file is no folder to open";
  EXPECT_EQ(chooser_start_folder(""), "") << "no starting folder";
  EXPECT_EQ(chooser_start_folder("/no-such-top/x/"), "/");
}

TEST(FolderChooser, UnknownTypeReturnsAtOnce) {
  char buf[512];
  std::strcpy(buf, "keep");
  EXPECT_EQ(GetFilePathFromUser(3, "prompt", "", 1, nullptr, buf), 0) << "only types 0, 1 and 2 exist";
  EXPECT_STREQ(buf, "keep") << "and nothing is written";
}

}  // namespace
