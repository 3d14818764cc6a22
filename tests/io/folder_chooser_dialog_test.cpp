// The real folder chooser on the test display: a script running inside the
// dialog's own loop answers it the way a user would (choose a folder, or
// cancel), and the answer must come back in the product's form.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "io/folder_chooser.h"
#include "platform/window.h"
#include "support/test_support.h"

namespace {

struct Script {
  std::string choose;     // folder to choose; empty: cancel
  std::string opened_in;  // the dialog's folder when it was first seen
  std::string title;      // the dialog's title
  int polls = 0;
  bool answered = false;
};

GtkFileChooserDialog* find_dialog() {
  GtkFileChooserDialog* found = nullptr;
  GList* tops = gtk_window_list_toplevels();
  for (GList* l = tops; l; l = l->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found = GTK_FILE_CHOOSER_DIALOG(l->data);
  g_list_free(tops);
  return found;
}

// Polled from the dialog's loop until the dialog is up, then answers it. The
// poll count bound makes sure a dialog that never shows cannot hang the test.
gboolean answer_dialog(gpointer data) {
  auto* s = static_cast<Script*>(data);
  if (++s->polls > 600) return G_SOURCE_REMOVE;
  GtkFileChooserDialog* d = find_dialog();
  if (!d) return G_SOURCE_CONTINUE;
  GtkFileChooser* fc = GTK_FILE_CHOOSER(d);
  if (s->opened_in.empty()) {
    gchar* cur = gtk_file_chooser_get_current_folder(fc);
    if (!cur) return G_SOURCE_CONTINUE;  // still loading
    s->opened_in = cur;
    g_free(cur);
    s->title = gtk_window_get_title(GTK_WINDOW(d)) ? gtk_window_get_title(GTK_WINDOW(d)) : "";
  }
  if (s->choose.empty()) {
    gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    s->answered = true;
    return G_SOURCE_REMOVE;
  }
  // Navigate like a user, then press Select once the dialog shows the folder.
  gchar* cur = gtk_file_chooser_get_current_folder(fc);
  const bool there = cur && s->choose == cur;
  g_free(cur);
  if (!there) {
    gtk_file_chooser_set_current_folder(fc, s->choose.c_str());
    return G_SOURCE_CONTINUE;
  }
  gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
  s->answered = true;
  return G_SOURCE_REMOVE;
}

class FolderChooserDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (the suite runs under Xvfb)";
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_USE_PORTAL", "0", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);  // no session bus on the test display
  }
  testsupport::TempDir dir;
};

TEST_F(FolderChooserDialog, ChoosingAFolderGivesTheProductForm) {
  testsupport::make_dirs(dir / "Games/Sim");
  const std::string target = std::filesystem::canonical(dir / "Games/Sim").string();
  Script s;
  s.choose = target;
  g_timeout_add(50, answer_dialog, &s);
  setenv("LC_ALL", "C.UTF-8", 1);  // a user locale GTK would otherwise adopt
  const std::string locale_before = std::setlocale(LC_ALL, nullptr);
  char buf[2048] = "untouched";
  const std::string start = dir / "Games/Skyvane 9/";
  const int rc =
      GetFilePathFromUser(kChooseFolder, "Pick a folder", "label", 1, start.c_str(), buf, sizeof buf);
  unsetenv("LC_ALL");
  ASSERT_TRUE(s.answered) << "the dialog must have been shown";
  EXPECT_EQ(s.title, "Pick a folder") << "the prompt is the dialog's title";
  EXPECT_EQ(s.opened_in, std::filesystem::canonical(dir / "Games").string())
      << "a start folder not made yet opens at its parent";
  EXPECT_EQ(rc, 1) << "the user chose a folder";
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), locale_before.c_str())
      << "starting GTK must not switch the program to the user's locale (number formats)";
  EXPECT_EQ(std::string(buf), target + "/") << "absolute, '/'-separated, ending in '/'";
}

TEST_F(FolderChooserDialog, CancelLeavesTheBufferAlone) {
  Script s;
  g_timeout_add(50, answer_dialog, &s);
  char buf[512] = "/keep/this/";
  plat_win_take_damaged();
  EXPECT_EQ(GetFilePathFromUser(kChooseFolder, "Pick", "", 1, dir.path().c_str(), buf, sizeof buf), 0)
      << "a cancelled chooser chose nothing";
  ASSERT_TRUE(s.answered) << "the dialog must have been shown";
  EXPECT_STREQ(buf, "/keep/this/") << "the buffer keeps the caller's text";
  EXPECT_TRUE(plat_win_take_damaged()) << "the window the dialog lay over is shown whole again";
}

}  // namespace
