#include "platform/folder_chooser_gtk.h"

#include <gtk/gtk.h>

#include <memory>

#include "platform/window.h"

namespace {
// gtk_init_check once; a failure (no display) is remembered. GTK must not
// switch the process to the user's locale: the program's number formatting
// and parsing (preferences, manifest, log) rely on the "C" locale.
bool gtk_ready() {
  static const bool ok = [] {
    gtk_disable_setlocale();
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return ok;
}

// Lets GTK finish hiding the dialog before control returns to the caller's
// own window loop.
void drain_gtk_events() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

struct chooser_deleter {
  void operator()(GtkFileChooserNative* p) const { g_object_unref(p); }
};
}  // namespace

bool platform_choose_path(platform_chooser_kind kind, const std::string& title,
                          const std::string& start_folder, const std::string& initial_name,
                          std::string* chosen) {
  if (!gtk_ready()) return false;
  GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
  const char* accept = "_Open";
  if (kind == platform_chooser_kind::save_file) {
    action = GTK_FILE_CHOOSER_ACTION_SAVE;
    accept = "_Save";
  } else if (kind == platform_chooser_kind::select_folder) {
    action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
    accept = "_Select";
  }
  std::unique_ptr<GtkFileChooserNative, chooser_deleter> dialog(
      gtk_file_chooser_native_new(title.c_str(), nullptr, action, accept, "_Cancel"));
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.get());
  gtk_file_chooser_set_local_only(chooser, TRUE);
  if (!start_folder.empty()) gtk_file_chooser_set_current_folder(chooser, start_folder.c_str());
  if (kind != platform_chooser_kind::select_folder) {
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All Files");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(chooser, all);  // the chooser takes the reference
  }
  if (kind == platform_chooser_kind::save_file && !initial_name.empty())
    gtk_file_chooser_set_current_name(chooser, initial_name.c_str());

  const gint answer = gtk_native_dialog_run(GTK_NATIVE_DIALOG(dialog.get()));
  bool ok = false;
  if (answer == GTK_RESPONSE_ACCEPT) {
    if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
      *chosen = name;
      g_free(name);
      ok = true;
    }
  }
  gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(dialog.get()));
  dialog.reset();
  drain_gtk_events();
  // The dialog lay over the program's window, whose next frame may change
  // nothing and so show nothing: it must be shown whole again.
  plat_win_mark_damaged();
  return ok;
}
