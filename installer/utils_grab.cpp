// The grab engine: carries out the decisions of choose_files a bounded step at
// a time. Up to four streams each hold one manifest entry; a stream downloads
// its entry's archive through its own download slot (stream s uses slot s + 2),
// expands it into the destination, or deletes a withdrawn file. The driver
// calls grab_files repeatedly within a 10 ms slice per pass.
#include <string>
#include <vector>

#include "installer/paths.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "net/http.h"
#include "ui/hl_alert.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

bool ends_with(const std::string& s, const char* suffix) {
  const std::string_view sv(s), suf(suffix);
  return sv.size() >= suf.size() && sv.substr(sv.size() - suf.size()) == suf;
}

// Records the folder of a deleted file and each of its ancestors below the
// destination, for the clean-up of emptied folders at the end.
void record_deleted_folders(const std::string& dest_path_exp) {
  std::string folder = path_folder(dest_path_exp);
  while (folder.size() > dest_dir_path.size()) {
    deleted_files.insert(folder);
    folder.pop_back();
    folder = path_folder(folder);
  }
}

void nuke_file(const std::string& dest_path_exp) {
  stg.crnt_file_stat = 0;
  unlock_file(dest_path_exp);
  const int result = delete_file(dest_path_exp);
  if (stg.log_actions) {
    xer << "now we want to nuke a file: DELETING  file " << dest_path_exp << ", with result=" << result
        << ".\n";
  }
  record_deleted_folders(dest_path_exp);
  if (show_del_err(result)) {
    MACIBM_alert(0, "Could not delete a file that I no longer want to have!", error_str(result),
                 dest_path_exp, "", t_exit, "utils", 487);
  }
}

// Number of active streams wanted now; at least 1.
int wanted_stream_count() {
  float elapsed = xtim.real_time - next.star_time;
  if (elapsed <= 1.0f) elapsed = 1.0f;
  const float rate = (next.file_down + next.comp_down) / elapsed;
  int count = stream_count_for_rate(rate);
  if (stg.stream_count != 0) count = stg.stream_count;
  if (install_type != 0) count = 1;
  // A zero or negative count would idle every stream and the grab would read
  // as complete with files still to fetch.
  return count < 1 ? 1 : count;
}

// After stream s finished an entry: start another stream when the rate calls
// for more, or retire stream s when it calls for fewer.
void adapt_streams(int s) {
  const int count = wanted_stream_count();
  int active = 0;
  for (int i = 0; i < kStreamCount; ++i) active += next.stream_active[i] ? 1 : 0;
  if (active < count) {
    for (int i = 0; i < kStreamCount; ++i) {
      if (!next.stream_active[i]) {
        next.stream_active[i] = 1;
        next.stream_waiting[i] = 1;
        break;
      }
    }
  }
  if (count < active) {
    next.stream_active[s] = 0;
    next.stream_waiting[s] = 0;
  } else {
    next.stream_waiting[s] = 1;
  }
}

// Removes the folders that deletions left empty, children before parents.
void clean_up_emptied_folders() {
  std::vector<std::string> names;
  std::vector<int32_t> types;
  for (auto it = deleted_files.rbegin(); it != deleted_files.rend(); ++it) {
    if (opensave_getitems(*it, 0, names, types) != 0) continue;
    const int result = delete_file(*it);
    if (stg.log_actions) xer << "cleanup: DELETING  file " << *it << ", with result=" << result << ".\n";
  }
}

// After an install that brought program files, the installation folder takes
// the release's name. A failed rename leaves everything as it was.
void rename_installation_folder() {
  if (!this_install_has_exes || !stg.rename_folder) return;
  std::string dir_file = get_file_with_path(dest_dir_path);
  const std::string just_path = dest_dir_path.substr(0, dest_dir_path.size() - dir_file.size());
  if (!dir_file.empty() && dir_file.back() == '/') dir_file.pop_back();
  if (dir_file.empty() || just_path.empty()) return;
  if (rename_file(just_path, dir_file, install_name) == 0) dest_dir_path = just_path + install_name + "/";
}

// A downloaded archive that cannot be read (cut short, a wrong checksum, not
// an archive at all) is a transfer that went wrong, like a failed download:
// it is fetched again, from a server chosen anew, this many times before the
// install fails with the expansion alert. The destination's own failures
// (disk full, read-only) are never retried.
constexpr int kDamagedArchiveRetries = 3;
int g_damaged_tries[kStreamCount] = {};

bool archive_is_damaged(int code) {
  return code == kErrZipOpen || code == kErrZipRead || code < 0;  // negative: minizip's own codes
}

// Expands an archive into the folder of `dest_path_exp`; 0 or the result code.
int expand_archive(const std::string& dest_path_zip, const std::string& dest_path_exp) {
  unlock_file(dest_path_exp);  // the file to be replaced may be write-protected
  const std::string dest_path = path_folder(dest_path_exp);
  return ends_with(dest_path_zip, ".7z") ? p7z_to_file(dest_path_zip, dest_path, nullptr, 0)
                                         : zip_to_file(dest_path_zip, dest_path, nullptr, 0);
}

// What follows an expansion: the alert on failure, the log, and (internet
// install) the archive's deletion.
void finish_expansion(int c, const std::string& dest_path_zip, const std::string& dest_path_exp) {
  if (c != 0) {
    stg.got_failed_install = 1;
    MACIBM_alert(0, "The installer cannot extract a file.", "Error: " + error_str(c),
                 "Compressed File: " + dest_path_zip, "Destination: " + dest_path_exp, t_alert, "utils", 392);
  }
  if (stg.log_actions) xer << "EXPANDING file " << dest_path_exp << ", with result=" << c << ".\n";
  if (install_type == 0) {
    const int result = delete_file(dest_path_zip);
    if (stg.log_actions) xer << "DELETING  file " << dest_path_zip << ", with result=" << result << ".\n";
  }
}

void abandon_stream_downloads() {
  for (int s = 0; s < kStreamCount; ++s) {
    delete http.down[s + 2];  // closes its socket and its partial file
    http.down[s + 2] = nullptr;
  }
}

}  // namespace

int stream_count_for_rate(float rate) {
  int count = 2;
  if (rate > 50.0f) count = 4;
  if (rate > 100.0f) count = 6;
  if (rate > 150.0f) count = 8;
  if (rate > 200.0f) count = 9;
  return count;
}

void extract_and_delete_file(const std::string& dest_path_zip, const std::string& dest_path_exp) {
  finish_expansion(expand_archive(dest_path_zip, dest_path_exp), dest_path_zip, dest_path_exp);
}

int grab_files() {
  auto& files = sim_info.files;
  const int n = static_cast<int>(files.size());
  next.file_down = 0.0f;

  for (int s = 0; s < kStreamCount; ++s) {
    if (!next.stream_active[s]) continue;
    if (next.stream_waiting[s]) {
      g_damaged_tries[s] = 0;
      next.stream_index[s] = next.next_index;
      next.next_index = next.next_index + 1 > n ? n : next.next_index + 1;
    }
    const int index = next.stream_index[s];
    if (index < 0 || index >= n) continue;  // idle: past the last entry

    file_version_struct& v = files[index].versions.back();
    std::string dest_path_rel = v.path;
    trim_dest_folder(dest_path_rel);
    const char* suffix = archive_suffix(v.path);
    const std::string src_path = is_net ? server_path[stg.sel_server] + v.path + suffix
                                        : dvd_path + install_name + "/" + v.path + suffix;
    const std::string dest_path_exp = dest_dir_path + dest_path_rel;
    const std::string dest_path_zip = temp_path + std::to_string(s) + suffix;

    next.stream_waiting[s] = 0;
    crnt_file_path = src_path;
    crnt_file_name = get_file_with_path(src_path);
    if (path_has_no_file(v.path)) {
      MACIBM_alert(0, "I am working through the list and found a path that has no file!",
                   "This is impossible to download or delete!", "It is:", v.path, t_exit, "utils", 466);
    }

    bool done = false;
    bool fetched = false;
    if (v.want_to_nuke_it) {
      nuke_file(dest_path_exp);
      done = true;
    } else if (v.want_to_grab_it) {
      stg.crnt_file_stat = 1;
      if (is_net) {
        const int r = http.net_check(s + 2, server_name[stg.sel_server], src_path, dest_path_zip);
        if (r == 0) {
          const down_class* d = http.down[s + 2];
          stg.crnt_file_rat = d ? d->GetPercentDone() * 0.01f : 0.0f;
          next.file_down += stg.crnt_file_rat * v.down_size;
        } else if (r == 2) {
          // Retry the same entry from another server. next_index is left
          // where it is: lowering it would hand entries that other streams
          // already finished out again, fetching them twice and counting
          // their sizes twice in the progress.
          stg.got_404 = 1;
          pick_server_biased();
        } else {
          stg.got_404 = 0;
          const int c = expand_archive(dest_path_zip, dest_path_exp);
          if (c != 0 && archive_is_damaged(c) && g_damaged_tries[s] < kDamagedArchiveRetries) {
            ++g_damaged_tries[s];
            xer << "The archive " << src_path << " from " << server_name[stg.sel_server]
                << " cannot be read (result=" << c << "); fetching it again from another server.\n";
            delete_file(dest_path_zip);
            stg.got_404 = 1;
            pick_server_biased();
          } else {
            finish_expansion(c, dest_path_zip, dest_path_exp);
            done = fetched = true;
          }
        }
      } else {
        if (s != 0) {
          MACIBM_alert(0, "Trying to do a DVD install with multiple streams!",
                       "The shark with the laser on his head is getting very dizzy!", "", "", t_exit, "utils",
                       503);
        }
        extract_and_delete_file(src_path, dest_path_exp);
        stg.crnt_file_rat = 1.0f;
        done = fetched = true;
      }
    } else {
      stg.crnt_file_stat = v.on_disk ? 2 : 3;
      done = true;
    }

    if (fetched) {
      v.on_disk = 1;  // also after a failed expansion; got_failed_install ends the grab
      next.comp_down += v.down_size;
      next.totl_disk += v.disk_size;
    }
    if (done) adapt_streams(s);
  }

  // A failed expansion ends the grab here: the install is not complete, so
  // neither the clean-up nor the rename after the release may run. Downloads
  // other streams still have running are abandoned: left in their slots, the
  // next install's first poll of a slot would take the old file for the
  // archive of a different entry.
  if (stg.got_failed_install) {
    abandon_stream_downloads();
    return 1;
  }

  bool complete = true;
  for (int s = 0; s < kStreamCount; ++s) {
    if (next.stream_active[s] && next.stream_index[s] < n) complete = false;
  }
  if (!complete) return 0;

  next.dir_done = 1;
  clean_up_emptied_folders();
  rename_installation_folder();
  xer.flush();
  return 1;
}
