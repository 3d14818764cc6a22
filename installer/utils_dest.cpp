// The destination folder: recognising an installation, choosing the folder,
// and creating the folder tree before an install.
#include <set>
#include <string>
#include <vector>

#include "installer/paths.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/folder_chooser.h"
#include "ui/hl_alert.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "utils";
constexpr int kLineMakeDirFailed = 177;
}  // namespace

const char* const kFixedFolders[7] = {
    "Output",    "Output/FMS plans",     "Output/logbooks", "Output/movies", "Output/situations",
    "Resources", "Resources/preferences"};

namespace {

constexpr const char* kDefaultFolderName = "Skyvane 9";
constexpr size_t kChooserBufferSize = 2048;

// The platform's folder chooser, used unless a handler was installed.
int platform_choose_folder(const std::string& prompt, const std::string& start_folder, std::string& out) {
  std::vector<char> buf(kChooserBufferSize, '\0');
  start_folder.copy(buf.data(), kChooserBufferSize - 1);
  if (!GetFilePathFromUser(kChooseFolder, prompt.c_str(), "This is my Skyvane destination", 1,
                           start_folder.c_str(), buf.data(), buf.size())) {
    return 0;
  }
  out.assign(buf.data());
  return 1;
}

// Creates one folder; 0 when it was made or already exists, else the error.
// `made` (may be null) tells whether this call made it.
int make_one(const std::string& path, bool* made = nullptr) {
  const int r = make_folder(path);
  if (made) *made = r == 0;
  return show_make_dir_err(r) ? r : 0;
}

// Destination folders this run made, and the destination of the install
// under way when it may take the release's name at its end: a folder this
// run made, or one that held an installation before. Any other folder is the
// user's (their Documents, say) and keeps its name.
std::set<std::string> g_made_destinations;
std::string g_renamable_dest;

}  // namespace

int path_is_to_a_sim() {
  std::vector<std::string> names;
  std::vector<int32_t> types;
  opensave_getitems(dest_dir_path, 0, names, types);
  bool airfoils = false, instructions = false, output = false, resources = false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (types[i] != 1) continue;  // only folders mark an installation
    const std::string& n = names[i];
    airfoils |= n.find("Airfoils") != std::string::npos;
    instructions |= n.find("Instructions") != std::string::npos;
    output |= n.find("Output") != std::string::npos;
    resources |= n.find("Resources") != std::string::npos;
  }
  return airfoils && instructions && output && resources ? 1 : 0;
}

int pick_dest_path() {
  const std::string prompt =
      "Pick a folder to install Skyvane to! Be sure to pick your existing folder if you already have one!";
  std::string chosen;
  // The chooser's answer must fit its 2048-byte buffer, terminator included.
  const int ok = choose_folder_installed() ? choose_folder(prompt, dest_dir_path, chosen)
                                           : platform_choose_folder(prompt, dest_dir_path, chosen);
  if (!ok || chosen.empty() || chosen.size() >= kChooserBufferSize) return 0;
  if (chosen.back() != '/') chosen += '/';
  dest_dir_path = chosen;
  if (path_is_to_a_sim()) return 1;  // an installation: updated in place
  // A new installation goes into a folder of its own inside the chosen one.
  dest_dir_path += install_name == no_install_name ? std::string(kDefaultFolderName) : install_name;
  dest_dir_path += '/';
  return 1;
}

void make_dir_error(const std::string& path, int err) {
  MACIBM_alert(0,
               "I am unable to install or update Skyvane. An error occurred while creating new folders. Make "
               "sure you are installing to a directory that you have access to!",
               "Error: " + error_str(err), "Install Location: " + dest_dir_path, "Install Path:" + path,
               t_alert, kTag, kLineMakeDirFailed);
}

int dest_may_take_release_name() {
  return !dest_dir_path.empty() && dest_dir_path == g_renamable_dest ? 1 : 0;
}

void make_dirs() {
  g_renamable_dest.clear();
  if (dest_dir_path.empty()) return;  // never create folders relative to the working folder
  const bool was_an_installation = path_is_to_a_sim() == 1;
  // 1. The destination and its ancestors, top down; the part before the first
  // '/' (the root) is never created.
  const std::string dest =
      dest_dir_path.empty() ? std::string() : dest_dir_path.substr(0, dest_dir_path.size() - 1);
  size_t prev = dest.find('/');
  while (!dest.empty()) {
    const size_t slash = prev == std::string::npos ? std::string::npos : dest.find('/', prev + 1);
    const std::string path = slash == std::string::npos ? dest : dest.substr(0, slash);
    bool made = false;
    if (const int err = make_one(path, &made)) {
      make_dir_error(path, err);
      break;
    }
    if (slash == std::string::npos) {
      if (made) g_made_destinations.insert(dest_dir_path);
      break;
    }
    prev = slash;
  }
  if (was_an_installation || g_made_destinations.count(dest_dir_path)) g_renamable_dest = dest_dir_path;

  // 2. Every folder that a file to be installed lives in, parents first (byte
  // order puts "A" before "A/B").
  std::set<std::string> folders;
  for (const auto& f : sim_info.files) {
    const file_version_struct& v = f.versions.back();
    if (v.sig_want == "GONE" || !os_type_applies(v.os_type, stg.download_os)) continue;
    std::string rel = v.path;
    trim_dest_folder(rel);
    for (size_t cut = rel.rfind('/'); cut != std::string::npos; cut = rel.rfind('/')) {
      rel.resize(cut);
      if (!rel.empty()) folders.insert(rel);
    }
  }
  for (const auto& folder : folders) {
    const std::string path = dest_dir_path + folder;
    if (const int err = make_one(path)) {
      make_dir_error(path, err);
      break;
    }
  }

  // 3. The fixed folders of every installation; a failure does not stop the rest.
  for (const char* folder : kFixedFolders) {
    const std::string path = dest_dir_path + folder;
    if (const int err = make_one(path)) make_dir_error(path, err);
  }
}
