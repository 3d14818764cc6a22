// Reading the manifest, directory.txt: in place over the mapped file with one
// forward cursor, no copy of the file and no split into lines.
#include <string_view>

#include "installer/paths.h"
#include "installer/server_list.h"
#include "installer/text_cursor.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/xmap.h"
#include "ui/hl_alert.h"
#include "util/log.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "utils";
constexpr int kLinePathWithoutFile = 664;
constexpr int kLineManifestMissing = 633;
constexpr int kLinePathOutside = 650;

// Content packs that only a DVD install carries.
constexpr std::string_view str_redt = "900 red terrain";
constexpr std::string_view str_orbt = "Earth Orbit Textures";

// Rows read over the program's life; the panel is redrawn every 500th.
int g_rows_seen = 0;

int clamp_int(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

bool path_uses_7z(const std::string& path) {
  return path.find("Global Scenery") != std::string::npos;
}

const char* archive_suffix(const std::string& path) {
  return path_uses_7z(path) ? ".7z" : ".zip";
}

void parse_manifest_body(const unsigned char* body, const unsigned char* end, const unsigned char* file_begin,
                         bool internet, const std::string& message, std::vector<file_history_struct>& files,
                         manifest_stats& stats) {
  text_cursor c{body, end};
  std::string crt_dir;
  std::string crt_path;
  bool have_row = false;
  const float file_bytes = static_cast<float>(end - file_begin);

  c.skip_eols_and_blanks();
  while (!c.at_end()) {
    if (c.take_word("DIR")) {
      // Only "DIR" followed by a blank is a directory line; a bare "DIR" at the
      // line end leaves the prefix alone.
      if (!c.at_eol()) crt_dir.assign(c.rest_of_line());
    } else if (c.take_word("FILE")) {
      file_version_struct row;
      bool complete = true;
      auto field_present = [&] {
        c.skip_blanks();
        if (c.at_eol()) complete = false;
        return complete;
      };
      if (field_present()) row.use_type = clamp_int(c.integer(), 0, 4);
      if (field_present()) row.os_type = clamp_int(c.integer(), 0, 6);
      if (field_present()) row.version_num = c.integer();
      if (field_present()) row.down_size = static_cast<float>(c.integer());
      if (field_present()) row.disk_size = static_cast<float>(c.integer());
      if (field_present()) row.sig_want.assign(c.token());
      std::string_view text;
      if (field_present()) text = c.rest_of_line();

      const int count = g_rows_seen++;
      if (!complete) {
        // A row cut short (a damaged file, or the end of the data in the middle
        // of a record) cannot be downloaded or compared: leave it out.
        ++stats.incomplete;
        xer << "Manifest: skipping an incomplete FILE row near byte " << (c.cur - file_begin) << "\n";
      } else if (internet && (text.find(str_redt) != std::string_view::npos ||
                              text.find(str_orbt) != std::string_view::npos)) {
        ++stats.dropped_packs;
      } else {
        row.path.reserve(crt_dir.size() + text.size());
        row.path = crt_dir;
        row.path.append(text);
        if (!manifest_path_is_safe(row.path)) {
          stats.unsafe_path = row.path;
          return;
        }
        if (!have_row || row.path != crt_path) files.emplace_back();
        have_row = true;
        crt_path = row.path;
        if (path_has_no_file(row.path)) {
          MACIBM_alert(0, "I am reading the directory text file and found a path that has no file!",
                       "This is impossible to download or delete!", "It is:", row.path, t_exit, kTag,
                       kLinePathWithoutFile);
        }
        files.back().versions.push_back(std::move(row));
        ++stats.rows;
      }
      if (count % 500 == 0) {
        dir_progress_bar(0.0f, static_cast<float>(c.cur - file_begin), file_bytes, 0, message,
                         std::string(text));
      }
    }
    c.skip_to_eol();  // the rest of any other line (comment, bare keyword)
    c.skip_eols_and_blanks();
  }
}

int read_directory(std::string& disk_path, std::string message) {
  deleted_files.clear();
  stg.down_req = 0.0f;
  stg.disk_req = 0.0f;
  sim_info.files.clear();

  xmap_class m(disk_path);
  if (m.mBegin == nullptr) {
    MACIBM_alert(0, "I tried to read a directory file that does not exist!", "The file is:", disk_path, "",
                 t_exit, kTag, kLineManifestMissing);
    return 2;  // reached only when the fatal alert's exit hook returns
  }
  static const int versions[] = {840, 900, 0};
  if (m.check_file(kCheckText, versions, "INSTALLER", nullptr) == 0) {
    if (is_net) new_format(disk_path);
    return 2;
  }

  manifest_stats stats;
  parse_manifest_body(m.mCrt, m.mEnd, m.mBegin, is_net != 0, message, sim_info.files, stats);
  if (!stats.unsafe_path.empty()) {
    // A path that climbs out of the installation folder would make the
    // installer write or delete files elsewhere: act on nothing of this list.
    xer << "Manifest rejected: the path " << stats.unsafe_path << " leaves the installation folder.\n";
    sim_info.files.clear();
    MACIBM_alert(0, "I am reading the directory text file and found a path outside the installation folder!",
                 "I will not install or update anything from this directory file.",
                 "It is:", stats.unsafe_path, t_alert, kTag, kLinePathOutside);
    return 2;
  }
  if (stats.incomplete > 0) {
    xer << "Manifest: " << stats.incomplete << " incomplete FILE rows were skipped.\n";
  }
  examine_disk(message);
  return 3;
}
