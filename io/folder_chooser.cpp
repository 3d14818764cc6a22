#include "io/folder_chooser.h"

#include <cstring>

#include "io/xmap.h"
#include "platform/files.h"
#include "platform/folder_chooser_gtk.h"
#include "util/report.h"

namespace {
// The source tag and number that this file's alert is known by on screen and
// in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "folder_chooser";
constexpr int kLineBadPath = 56;
}  // namespace

bool chooser_output_form(const std::string& chosen, bool is_folder, std::string* out) {
  // "\" is an ordinary name character here, as in any Linux folder name.
  if (chosen.empty() || chosen[0] != '/') return false;
  std::string form = chosen;
  if (is_folder && form.back() != '/') form.push_back('/');
  *out = std::move(form);
  return true;
}

std::string chooser_start_folder(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::string();
  std::string p = path;
  for (;;) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (platform_is_folder(p)) return p == "/" ? p : p + "/";
    const size_t slash = p.rfind('/');
    if (slash == 0 || slash == std::string::npos) return "/";
    p.resize(slash);
  }
}

int GetFilePathFromUser(int inType, const char* inPrompt, const char* /*inLabel*/, int /*inNum*/,
                        const char* inStartPath, char* outFileName, size_t outSize) {
  if (inType != kChooseOpenFile && inType != kChooseSaveFile && inType != kChooseFolder) return 0;
  if (!outFileName || outSize == 0) return 0;

  platform_chooser_kind kind = platform_chooser_kind::select_folder;
  std::string initial_name;
  if (inType == kChooseOpenFile) {
    kind = platform_chooser_kind::open_file;
    outFileName[0] = '\0';
  } else if (inType == kChooseSaveFile) {
    kind = platform_chooser_kind::save_file;
    initial_name.assign(outFileName, strnlen(outFileName, outSize));
    const size_t slash = initial_name.rfind('/');
    if (slash != std::string::npos) initial_name.erase(0, slash + 1);
  }

  std::string chosen;
  const std::string start = chooser_start_folder(inStartPath ? inStartPath : "");
  if (!platform_choose_path(kind, inPrompt ? inPrompt : "", start, initial_name, &chosen)) return 0;

  std::string form;
  if (!chooser_output_form(chosen, kind == platform_chooser_kind::select_folder, &form)) {
    UTL_report(-1, "The place you picked cannot be used.",
               "It has no absolute path that this program can use.",
               "Please pick another place, or rename that one.", chosen, t_alert, kTag, kLineBadPath);
    return 0;
  }
  // A path too long for the program is said and taken as no choice.
  if (xmap_class::refuse_long_path(form)) return 0;
  if (form.size() >= outSize) return 0;  // only a buffer smaller than the longest path
  std::memcpy(outFileName, form.c_str(), form.size() + 1);
  return 1;
}
