#pragma once
// The desktop's file and folder choosers (GTK 3 GtkFileChooserNative, which
// goes through the desktop portal when there is one). GTK is started on the
// first call only. Runs modally on the calling (main) thread.
#include <string>

enum class platform_chooser_kind { open_file, save_file, select_folder };

// Shows the chooser with `title`, opened in `start_folder` (may be empty),
// offering `initial_name` as the file name for save_file. Returns true and
// sets `*chosen` (the absolute local path, no trailing '/') when the user
// chose something; false when cancelled or when no chooser can be shown.
bool platform_choose_path(platform_chooser_kind kind, const std::string& title,
                          const std::string& start_folder, const std::string& initial_name,
                          std::string* chosen);
