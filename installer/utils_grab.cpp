// The grab engine: carries out the decisions of choose_files a bounded step at
// a time. Up to four streams each hold one manifest entry; a stream downloads
// its entry's archive through its own download slot (stream s uses slot s + 2),
// has it expanded into the destination (on a worker), or deletes a withdrawn
// file. The driver calls grab_files repeatedly within a 10 ms slice per pass.
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "installer/paths.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "io/xmap.h"
#include "net/http.h"
#include "ui/hl_alert.h"
#include "util/HL_THREAD.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "utils";
constexpr int kLineDeleteFailed = 487;
constexpr int kLineExtractFailed = 392;
constexpr int kLinePathWithoutFile = 466;
constexpr int kLinePathTooLong = 470;
constexpr int kLineDvdStreams = 503;
constexpr int kLineTempWriteFailed = 395;

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

constexpr int kErrAlreadyGone = 2;  // errno ENOENT: nothing is left to delete

// A withdrawn file that could not be deleted leaves the installation unlike
// the release: the install fails with the system's reason. One that is
// already gone is what was wanted.
void nuke_file(const std::string& dest_path_exp) {
  stg.crnt_file_stat = 0;
  unlock_file(dest_path_exp);
  const int result = delete_file(dest_path_exp);
  if (stg.log_actions) {
    xer << "now we want to nuke a file: DELETING  file " << dest_path_exp << ", with result=" << result
        << ".\n";
  }
  record_deleted_folders(dest_path_exp);
  if (result != 0 && result != kErrAlreadyGone) {
    stg.got_failed_install = 1;
    MACIBM_alert(0, "Could not delete a file that I no longer want to have!", error_str(result),
                 dest_path_exp, "", t_alert, kTag, kLineDeleteFailed);
  }
}

bool has_reserved(int s);

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
  // A stream with entries reserved fetches them first (their requests may
  // be out, perhaps answered already) and stops after them.
  if (count < active && !has_reserved(s)) {
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
// the release's name: only a folder this run made or one that held an
// installation, never the user's own folder. A failed rename leaves
// everything as it was. '\' is a name character here: only '/' separates the
// folder from its parent.
void rename_installation_folder() {
  if (!this_install_has_exes || !stg.rename_folder || !dest_may_take_release_name()) return;
  if (dest_dir_path.size() < 2) return;
  const size_t cut = dest_dir_path.rfind('/', dest_dir_path.size() - 2);
  if (cut == std::string::npos) return;
  const std::string just_path = dest_dir_path.substr(0, cut + 1);
  const std::string dir_file = dest_dir_path.substr(cut + 1, dest_dir_path.size() - cut - 2);
  if (dir_file.empty()) return;
  if (rename_file(just_path, dir_file, install_name) == 0) dest_dir_path = just_path + install_name + "/";
}

// A downloaded archive that cannot be read (cut short, a wrong checksum, not
// an archive at all) is a transfer that went wrong, like a failed download:
// it is fetched again, from a server chosen anew, this many times before the
// install fails with the expansion alert. The destination's own failures
// (disk full, read-only) are never retried.
constexpr int kDamagedArchiveRetries = 3;

bool archive_is_damaged(int code) {
  return code == kErrZipOpen || code == kErrZipRead || code < 0;  // negative: minizip's own codes
}

// The most bytes a file or archive announced as `kb` may have. The
// manifest's kilobytes are 1000 bytes, rounded up; the margin also admits a
// producer that rounds down or counts 1024 bytes, never a different file.
uint64_t announced_bytes_limit(float kb) {
  constexpr uint64_t kMarginBytes = 64 * 1024;
  return (kb > 0.0f ? static_cast<uint64_t>(static_cast<double>(kb) * 1024.0) : 0) + kMarginBytes;
}

// What the archive of version `v` must expand to: its one file, no larger
// than announced, with the published signature.
archive_one_file expected_file(const file_version_struct& v, const std::string& dest_path_exp) {
  archive_one_file want;
  want.name = get_file_with_path(dest_path_exp);
  want.md5 = v.sig_want;
  want.max_bytes = announced_bytes_limit(v.disk_size);
  return want;
}

// Expands an archive to exactly the entry's file; 0 or the result code.
int expand_archive(const std::string& dest_path_zip, const std::string& dest_path_exp,
                   const archive_one_file& want) {
  return ends_with(dest_path_zip, ".7z") ? p7z_to_one_file(dest_path_zip, dest_path_exp, want)
                                         : zip_to_one_file(dest_path_zip, dest_path_exp, want);
}

// What follows an expansion: the alert on failure (`alert` false for one
// that ends after the install has already failed) and the log.
void finish_expansion(int c, const std::string& dest_path_zip, const std::string& dest_path_exp,
                      bool alert = true) {
  if (c != 0 && alert) {
    stg.got_failed_install = 1;
    MACIBM_alert(0, "The installer cannot extract a file.", "Error: " + error_str(c),
                 "Compressed File: " + dest_path_zip, "Destination: " + dest_path_exp, t_alert, kTag,
                 kLineExtractFailed);
  }
  if (stg.log_actions) xer << "EXPANDING file " << dest_path_exp << ", with result=" << c << ".\n";
}

void delete_archive(const std::string& dest_path_zip) {
  const int result = delete_file(dest_path_zip);
  if (stg.log_actions) xer << "DELETING  file " << dest_path_zip << ", with result=" << result << ".\n";
}

std::string stream_archive(int s, int file, const char* suffix) {
  return temp_path + std::to_string(s) + (file ? "b" : "") + suffix;
}

constexpr int kErrNoSuchFile = 2;  // errno ENOENT

void forget_kept_bytes();

// A stream's archive file is overwritten by its next download and deleted
// when the grab ends. Deleting and making it anew for every entry costs far
// more: ext4 without a journal skips recently freed inodes when it makes a
// file, so each new file would search past all the archives freed before.
void delete_stream_archives() {
  forget_kept_bytes();
  if (install_type != 0) return;
  for (int s = 0; s < kStreamCount; ++s) {
    for (const std::string& path : {stream_archive(s, 0, ".zip"), stream_archive(s, 1, ".zip"),
                                    stream_archive(s, 0, ".7z"), stream_archive(s, 1, ".7z")}) {
      const int result = delete_file(path);
      if (result != kErrNoSuchFile && stg.log_actions) {
        xer << "DELETING  file " << path << ", with result=" << result << ".\n";
      }
    }
  }
}

// An entry fetched and expanded: on disk now, and in the progress counts.
void count_fetched(file_version_struct& v) {
  v.on_disk = 1;
  next.comp_down += v.down_size;
  next.totl_disk += v.disk_size;
}

// Expansion is CPU work (inflating, checking, writing): it runs on the
// framework's workers, so downloads, drawing and other streams' expansions go
// on meanwhile. A later call collects the result and settles the entry; the
// stream has gone on to its next entry by then. Without workers the
// expansion runs at once inside the call.
struct expansion_job {
  int index = -1;             // the manifest entry
  int tries = 0;              // fetches of it that were damaged before this one
  std::string src_path;       // where it came from, for the log
  std::string zip;            // the stream's downloaded archive
  std::string dest_path_exp;  // the manifest entry's file
  archive_one_file want;      // what the archive must expand to
  int server = 0;             // the server it came from
  bool pipelined = false;     // its answer shared the connection with other requests in flight
  int result = 0;
  std::string log;  // the expansion's log lines, written to the log on collection
  THREAD_call* call = nullptr;
};

// One message per finished expansion: wakes a grab that has nothing to do.
UTL_message_queue* job_ended_queue() {
  static UTL_message_queue* q = [] {
    UTL_message_queue* made = nullptr;
    UTL_message_queue_create(&made);
    return made;
  }();
  return q;
}

int run_expansion(void* param) {
  auto* job = static_cast<expansion_job*>(param);
  {
    log_capture capture;
    job->result = expand_archive(job->zip, job->dest_path_exp, job->want);
    job->log = capture.text();
  }
  UTL_message_queue_write(job_ended_queue(), 1);
  return 0;
}

// A downloaded archive waiting for its stream's previous expansion to end.
struct held_archive {
  bool held = false;
  expansion_job what;  // the fields start_expansion takes
};

// What the engine keeps for each stream. Whether a stream is in use, waits
// for an entry and which entry it holds are the model's (next.stream_active,
// stream_waiting, stream_index), which the driver resets and the screens read.
struct stream_record {
  int damaged_tries = 0;  // damaged fetches of the entry it downloads, before this one
  int server = 0;         // the server its running download was started on
  // Each stream downloads into one of two archive files, the one its pending
  // expansion is not reading.
  int file = 0;
  expansion_job job;  // its expansion on the workers; job.call is null when none runs
  held_archive held;  // a downloaded archive waiting for that expansion to end
  // The bytes of a download that was cut: the archive file that holds them,
  // the entry they belong to and how many are good. The stream's next try of
  // that entry, from any server (the same published file), asks only for the
  // rest; the expansion's check of the file proves the joined archive.
  std::string kept_zip;
  int kept_index = -1;
  int64_t kept_bytes = 0;
  // Entries the stream takes next, in order, announced to its download slot
  // so that their requests can go out on its connection before the running
  // download ends (pipelining); `on_reserved`: the entry it works on now was
  // one of them.
  std::deque<int> reserved;
  bool on_reserved = false;
};
stream_record g_streams[kStreamCount];

bool has_reserved(int s) {
  return !g_streams[s].reserved.empty();
}

// No stream holds kept bytes (the archives are deleted, or a new grab
// starts: an entry index then names another file).
void forget_kept_bytes() {
  for (stream_record& stream : g_streams) {
    stream.kept_zip.clear();
    stream.kept_index = -1;
    stream.kept_bytes = 0;
  }
}

// Stream s downloads through download slot s + 2 (0 and 1 carry the server
// list and the manifest).
constexpr int kFirstStreamSlot = 2;
int slot_of(int s) {
  return s + kFirstStreamSlot;
}
// Stream s's running download, or null.
const down_class* download_of(int s) {
  return http.down[slot_of(s)].get();
}

// Entries whose archive arrived damaged, to be fetched again by the next
// stream that is free, with the count of damaged fetches so far.
std::vector<std::pair<int, int>> g_refetch;

// Entries stream s reserved and did not start go back to be handed out to
// the next free stream, and its slot forgets them.
void return_reserved(int s) {
  stream_record& stream = g_streams[s];
  for (int index : stream.reserved) g_refetch.emplace_back(index, 0);
  stream.reserved.clear();
  http.drop_queue(slot_of(s));
}

// Failed downloads of one entry. A server that failed it is asked for it
// again only after a pause that doubles with each failure of the entry (from
// g_pause_first up to g_pause_most seconds), so a mirror that answers 404 or
// refuses at once is not asked hundreds of times a second; another server
// may be tried at once. Once every server has failed it
// kFetchTriesPerServer times, the install stops.
struct server_tries {
  int failures = 0;
  float not_before = 0.0f;  // frame clock time before which it is not asked again
};
struct entry_tries {
  int failures = 0;                     // on every server
  std::map<int, server_tries> servers;  // by server number
};
std::map<int, entry_tries> g_tries;  // by entry index; only entries that failed
float g_pause_first = 1.0f;
float g_pause_most = 30.0f;

// Whether `server` may be asked for entry `index` now.
bool server_ready(const entry_tries& t, int server) {
  const auto it = t.servers.find(server);
  if (it == t.servers.end()) return true;
  return it->second.failures < kFetchTriesPerServer && xtim.real_time >= it->second.not_before;
}

// The server to ask for entry `index` now: the chosen one when it may be
// asked, else the one that failed the entry least (first in the list);
// -1 while every server waits out its pause.
int server_for_try(int index) {
  const auto it = g_tries.find(index);
  if (it == g_tries.end()) return stg.sel_server;
  const entry_tries& t = it->second;
  if (server_ready(t, stg.sel_server)) return stg.sel_server;
  int best = -1, best_failures = 0;
  for (int server = 0; server < stg.num_servers; ++server) {
    if (!server_ready(t, server)) continue;
    const auto f = t.servers.find(server);
    const int failures = f == t.servers.end() ? 0 : f->second.failures;
    if (best < 0 || failures < best_failures) {
      best = server;
      best_failures = failures;
    }
  }
  return best;
}

// Counts a failed download of entry `index` from `server`; true when every
// server has now failed it kFetchTriesPerServer times.
bool count_failed_download(int index, int server) {
  entry_tries& t = g_tries[index];
  ++t.failures;
  server_tries& st = t.servers[server];
  ++st.failures;
  float pause = g_pause_first;
  for (int i = 1; i < t.failures && pause < g_pause_most; ++i) pause *= 2.0f;
  st.not_before = xtim.real_time + (pause < g_pause_most ? pause : g_pause_most);
  for (int other = 0; other < stg.num_servers; ++other) {
    const auto f = t.servers.find(other);
    if (f == t.servers.end() || f->second.failures < kFetchTriesPerServer) return false;
  }
  return true;
}

// Whether `server` has failed entry `index` before (its failure is logged).
bool failed_before(int index, int server) {
  const auto it = g_tries.find(index);
  return it != g_tries.end() && it->second.servers.count(server) != 0;
}

void start_expansion(int s, const expansion_job& what) {
  unlock_file(what.dest_path_exp);  // the file to be replaced may be write-protected
  stream_record& stream = g_streams[s];
  expansion_job& job = stream.job;
  job.index = what.index;
  job.tries = what.tries;
  job.src_path = what.src_path;
  job.zip = what.zip;
  job.dest_path_exp = what.dest_path_exp;
  job.want = what.want;
  job.server = what.server;
  job.pipelined = what.pipelined;
  stream.file ^= 1;
  // Stays if the worker never finishes the call, so that is never success.
  job.result = kErrZipWrite;
  job.log.clear();
  job.call = THREAD_post_call(run_expansion, &job);
}

// Stream s's expansion result once it has ended (its log lines are written
// then); false while it still runs, unless `wait` says to wait for it.
bool collect_expansion(int s, int* result, bool wait = false) {
  expansion_job& job = g_streams[s].job;
  if (!job.call || (!wait && !THREAD_call_done(job.call))) return false;
  THREAD_wait_call(job.call);
  job.call = nullptr;
  if (!job.log.empty()) xer << job.log;
  *result = job.result;
  return true;
}

// After a failed install (or when the install is left): the expansions
// still running end before the grab does (they write into the destination,
// and their records are reused by the next install). They are logged and
// counted, not alerted again; held archives are dropped.
void drain_expansions() {
  for (stream_record& stream : g_streams) {
    stream.held.held = false;
    stream.reserved.clear();
    stream.on_reserved = false;
  }
  forget_kept_bytes();
  g_refetch.clear();
  g_tries.clear();
  for (int s = 0; s < kStreamCount; ++s) {
    int c = 0;
    if (!collect_expansion(s, &c, true)) continue;
    const expansion_job& job = g_streams[s].job;
    finish_expansion(c, job.zip, job.dest_path_exp, false);
    const int index = job.index;
    if (c == 0 && index >= 0 && index < static_cast<int>(sim_info.files.size())) {
      note_installed_file(index, job.dest_path_exp);
      count_fetched(sim_info.files[index].versions.back());
    }
  }
}

// A damaged archive of entry `index` (its `tries`-th damaged fetch before
// this one): queued to be fetched again from a server chosen anew while
// retries are left. False when none are left.
bool refetch_damaged(int index, int tries, const std::string& src_path, int c) {
  if (tries >= kDamagedArchiveRetries) return false;
  xer << "The archive " << src_path << " from " << server_name[stg.sel_server]
      << " cannot be read (result=" << c << "); fetching it again from another server.\n";
  g_refetch.emplace_back(index, tries + 1);
  stg.got_404 = 1;
  pick_server_biased();
  return true;
}

// What an ended expansion leaves: the entry counted as installed, or (a
// damaged archive, retries left) queued to be fetched again from a server
// chosen anew, or the install failed with the alert.
void settle_expansion(int s, int c) {
  const expansion_job& job = g_streams[s].job;
  if (c != 0 && archive_is_damaged(c) && job.pipelined) {
    // Perhaps the answer to another request: the server may not keep its
    // answers in order.
    http.stop_pipelining(server_name[job.server], "sent an archive that cannot be read (" + job.src_path +
                                                      ") in answer to a request sent with others in flight: "
                                                      "perhaps the answer to another of them");
  }
  if (c != 0 && archive_is_damaged(c) && refetch_damaged(job.index, job.tries, job.src_path, c)) return;
  finish_expansion(c, job.zip, job.dest_path_exp);
  file_version_struct& v = sim_info.files[job.index].versions.back();
  if (c == 0) note_installed_file(job.index, job.dest_path_exp);
  count_fetched(v);  // also after a failed expansion
}

void abandon_stream_downloads() {
  for (int s = 0; s < kStreamCount; ++s) http.abandon(slot_of(s));  // closes its socket and its partial file
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

void extract_and_delete_file(const std::string& dest_path_zip, const std::string& dest_path_exp,
                             const file_version_struct& v) {
  unlock_file(dest_path_exp);  // the file to be replaced may be write-protected
  finish_expansion(expand_archive(dest_path_zip, dest_path_exp, expected_file(v, dest_path_exp)),
                   dest_path_zip, dest_path_exp);
  if (install_type == 0) delete_archive(dest_path_zip);
}

void grab_reset() {
  drain_expansions();
}

void grab_set_retry_pause(float first_seconds, float most_seconds) {
  g_pause_first = first_seconds;
  g_pause_most = most_seconds;
}

namespace {

// The first part of stream s's turn: a stream downloads its next entry while
// its last one is expanded. An ended expansion is settled (also on a retired
// stream), then a held archive goes to the workers in its place. False when
// the stream must wait for its running expansion this turn.
bool step_expansions(int s, bool* progressed) {
  auto& files = sim_info.files;
  stream_record& stream = g_streams[s];
  int c = 0;
  if (collect_expansion(s, &c)) {
    settle_expansion(s, c);
    *progressed = true;
  }
  if (stream.job.call) next.file_down += files[stream.job.index].versions.back().down_size;
  if (stream.held.held) {
    if (stream.job.call) {
      next.file_down += files[stream.held.what.index].versions.back().down_size;
      return false;
    }
    stream.held.held = false;
    start_expansion(s, stream.held.what);
    adapt_streams(s);  // the entry is handed on: the stream takes its next one
    *progressed = true;
  }
  return true;
}

// Gives stream s its next entry when it waits for one, or when it is idle and
// a damaged archive is to be fetched again: the refetch first, else the
// entry next_index.
void hand_out_entry(int s, int n, bool* progressed) {
  const bool idle = next.stream_index[s] < 0 || next.stream_index[s] >= n;
  if (!next.stream_waiting[s] && !(idle && !g_refetch.empty())) return;
  *progressed = true;
  stream_record& stream = g_streams[s];
  stream.on_reserved = false;
  if (next.stream_waiting[s] && !stream.reserved.empty()) {
    next.stream_index[s] = stream.reserved.front();
    stream.reserved.pop_front();
    stream.damaged_tries = 0;
    stream.on_reserved = true;
  } else if (!g_refetch.empty()) {
    next.stream_index[s] = g_refetch.front().first;
    stream.damaged_tries = g_refetch.front().second;
    g_refetch.erase(g_refetch.begin());
  } else {
    stream.damaged_tries = 0;
    next.stream_index[s] = next.next_index;
    next.next_index = next.next_index + 1 > n ? n : next.next_index + 1;
  }
}

// The working values of one entry.
struct entry_paths {
  const char* suffix;         // ".7z" or ".zip"
  std::string src_path;       // where its archive is fetched from
  std::string dest_path_exp;  // its file below the destination
};

entry_paths paths_of(const file_version_struct& v) {
  std::string dest_path_rel = v.path;
  trim_dest_folder(dest_path_rel);
  entry_paths p;
  p.suffix = archive_suffix(v.path);
  p.src_path = is_net ? server_path[stg.sel_server] + v.path + p.suffix
                      : dvd_path + install_name + "/" + v.path + p.suffix;
  p.dest_path_exp = dest_dir_path + dest_path_rel;
  return p;
}

// The temporary folder cannot take a download (full, read-only): not the
// server's fault, so no other server is tried; the install stops and says
// which folder and why.
void stop_for_temp_folder(int err, const std::string& url) {
  if (stg.got_failed_install) return;  // another stream has stopped the install in this call
  stg.got_failed_install = 1;
  stg.got_404 = 0;
  xer << "The temporary folder " << temp_path << " cannot take the download of " << url << " ("
      << error_str(err) << "); the install stops.\n";
  MACIBM_alert(0, "The installer cannot write a downloaded file to its temporary folder.",
               "Error: " + error_str(err), "Folder: " + temp_path, "Compressed File: " + url, t_alert, kTag,
               kLineTempWriteFailed);
}

constexpr int kErrNoSpace = 28;  // errno ENOSPC

// Whether the temporary folder has room for the archive of `v` (its
// announced size, less what the stream's old archive file, which the
// download overwrites, already holds). Unknown free space counts as room.
bool temp_folder_has_room(const file_version_struct& v, const std::string& dest_path_zip) {
  uint64_t free_bytes = 0;
  if (disk_free_bytes(temp_path, &free_bytes) != 0) return true;
  std::error_code ec;
  const uintmax_t old_size = std::filesystem::file_size(dest_path_zip, ec);
  if (!ec) free_bytes += old_size;
  const double need = v.down_size > 0.0f ? static_cast<double>(v.down_size) * 1000.0 : 0.0;
  return static_cast<double>(free_bytes) >= need;
}

// Every server has failed entry `index` kFetchTriesPerServer times: the
// install stops with the download alert.
void give_up_download(const std::string& url, const std::string& dest_path_exp) {
  // Another stream may have stopped the install in this same pass: the user
  // is told once.
  const bool told = stg.got_failed_install != 0;
  stg.got_failed_install = 1;
  stg.got_404 = 0;
  xer << "The archive " << url << " could not be downloaded: each of the " << stg.num_servers
      << " servers failed it " << kFetchTriesPerServer << " times; the install stops.\n";
  if (told) return;
  MACIBM_alert(0, "The installer cannot extract a file.", "Error: " + error_str(kErrZipOpen),
               "Compressed File: " + url, "Destination: " + dest_path_exp, t_alert, kTag, kLineExtractFailed);
}

// Archives up to this many kilobytes are worth a request sent ahead: below
// a long link's bandwidth-delay product an archive's round trip costs more
// than its bytes, and a larger one keeps the link busy by itself.
constexpr float kPipelineMaxKb = 1000.0f;
// Kilobytes reserved ahead on one stream at most: about a long fast link's
// bandwidth-delay product shared by the streams. Counting requests alone
// would leave the link idle on archives of a few kilobytes.
constexpr float kPipelineAheadKb = 256.0f;

// While stream s downloads on a connection that has carried a whole answer:
// the next small archives to fetch are reserved for it and announced to its
// slot, up to the pipeline's depth, so that their requests go out before the
// running answer is in.
void reserve_ahead(int s) {
  stream_record& stream = g_streams[s];
  const std::string& server = server_name[stream.server];
  if (!http.pipelining(server) || stg.got_failed_install || !next.stream_active[s]) return;
  int active = 0;
  for (int i = 0; i < kStreamCount; ++i) active += next.stream_active[i] ? 1 : 0;
  if (wanted_stream_count() < active) return;  // the stream is to stop after this entry
  const int n = static_cast<int>(sim_info.files.size());
  float ahead_kb = 0.0f;
  for (int i : stream.reserved) ahead_kb += sim_info.files[i].versions.back().down_size;
  while (static_cast<int>(stream.reserved.size()) + 1 < http_class::kPipelineDepth && g_refetch.empty() &&
         ahead_kb < kPipelineAheadKb && next.next_index < n) {
    const int i = next.next_index;
    const file_version_struct& v = sim_info.files[i].versions.back();
    if (!v.want_to_grab_it || v.want_to_nuke_it || v.down_size > kPipelineMaxKb || g_tries.count(i) != 0 ||
        path_has_no_file(v.path))
      break;
    ahead_kb += v.down_size;
    next.next_index = i + 1;
    stream.reserved.push_back(i);
    http.queue_next(slot_of(s), server, server_path[stream.server] + v.path + archive_suffix(v.path));
  }
}

// One poll of stream s's download of entry `index`; when the archive has
// arrived it goes to the workers (or is held until the stream's last
// expansion ends). True when the entry is done with.
bool download_entry(int s, int index, const file_version_struct& v, entry_paths p, bool* progressed) {
  stream_record& stream = g_streams[s];
  const std::string dest_path_zip = stream_archive(s, stream.file, p.suffix);
  const down_class* before = download_of(s);
  if (!before) {
    if (stg.got_failed_install) return false;  // the install stopped in this call: no new request
    // A new download: from a server that may be asked for this entry now;
    // an entry reserved on the stream's server from there (its request may
    // be out already).
    if (!stream.on_reserved || g_tries.count(index) != 0) {
      const int server = server_for_try(index);
      if (server < 0) return false;  // every server waits out its pause; the pump goes on
      stg.sel_server = server;
      stream.server = server;
    }
  }
  // From the server the download began on (another stream may have chosen
  // another server since).
  p.src_path = server_path[stream.server] + v.path + p.suffix;
  crnt_file_path = p.src_path;  // the download-failure lines name the server asked
  const std::string url = server_name[stream.server] + p.src_path;
  if (!before && !temp_folder_has_room(v, dest_path_zip)) {
    stop_for_temp_folder(kErrNoSpace, url);
    return false;
  }
  const int64_t had = before ? before->mReceivedPayload : -1;
  const int64_t resume_from =
      stream.kept_index == index && stream.kept_zip == dest_path_zip ? stream.kept_bytes : 0;
  const int r = http.net_check(slot_of(s), server_name[stream.server], p.src_path, dest_path_zip,
                               static_cast<int64_t>(announced_bytes_limit(v.down_size)),
                               failed_before(index, stream.server), resume_from);
  if (r == 0) {
    const down_class* d = download_of(s);
    stg.crnt_file_rat = d ? d->GetPercentDone() * 0.01f : 0.0f;
    next.file_down += stg.crnt_file_rat * v.down_size;
    *progressed |= !before || !d || d->mReceivedPayload != had;
    if (d && d->Reused()) reserve_ahead(s);
    return false;
  }
  *progressed = true;
  if (r == 2) return_reserved(s);  // the stream stays on this entry, perhaps on another server
  // A cut download keeps its good bytes for the next try of this entry.
  const bool cut = r == 2 && http.last_file_err == 0 && !http.last_over_limit && http.last_kept > 0;
  stream.kept_zip = cut ? dest_path_zip : std::string();
  stream.kept_index = cut ? index : -1;
  stream.kept_bytes = cut ? http.last_kept : 0;
  if (r == 2 && http.last_file_err != 0) {
    stop_for_temp_folder(http.last_file_err, url);
    return false;
  }
  if (r == 2 && http.last_over_limit) {
    // Longer than its announced size: not this entry's archive, a damaged
    // one, like an archive that cannot be read.
    if (refetch_damaged(index, stream.damaged_tries, p.src_path, kErrZipRead)) return true;
    finish_expansion(kErrZipRead, dest_path_zip, p.dest_path_exp);
    count_fetched(sim_info.files[index].versions.back());
    return true;
  }
  if (r == 2) {
    // Retry the same entry from another server. next_index is left where it
    // is: lowering it would hand entries that other streams already finished
    // out again, fetching them twice and counting their sizes twice in the
    // progress.
    stg.got_404 = 1;
    if (count_failed_download(index, stream.server)) {
      give_up_download(url, p.dest_path_exp);
      return false;
    }
    pick_server_biased();
    return false;
  }
  stg.got_404 = 0;
  next.file_down += v.down_size;  // downloaded; counted as such until it is expanded
  expansion_job what;
  what.index = index;
  what.tries = stream.damaged_tries;
  what.src_path = p.src_path;
  what.zip = dest_path_zip;
  what.dest_path_exp = p.dest_path_exp;
  what.want = expected_file(v, p.dest_path_exp);
  what.server = stream.server;
  what.pipelined = http.last_pipelined;
  if (stream.job.call) {
    stream.held = {true, what};  // the stream's last expansion has not ended yet
    return false;
  }
  start_expansion(s, what);
  // Without workers it has already ended: settled at once.
  int c = 0;
  if (collect_expansion(s, &c)) settle_expansion(s, c);
  return true;
}

// A DVD install expands the archive straight from the disc, on one stream.
void install_from_dvd(int s, file_version_struct& v, const entry_paths& p) {
  if (s != 0) {
    MACIBM_alert(0, "Trying to do a DVD install with multiple streams!",
                 "The shark with the laser on his head is getting very dizzy!", "", "", t_exit, kTag,
                 kLineDvdStreams);
  }
  extract_and_delete_file(p.src_path, p.dest_path_exp, v);
  stg.crnt_file_rat = 1.0f;
  count_fetched(v);
}

// One action on entry `index` for stream s: delete it, move its download on,
// or pass over it. True when the entry is done with.
bool work_on_entry(int s, int index, bool* progressed) {
  file_version_struct& v = sim_info.files[index].versions.back();
  const entry_paths p = paths_of(v);
  next.stream_waiting[s] = 0;
  crnt_file_path = p.src_path;
  crnt_file_name = get_file_with_path(p.src_path);
  if (path_has_no_file(v.path)) {
    MACIBM_alert(0, "I am working through the list and found a path that has no file!",
                 "This is impossible to download or delete!", "It is:", v.path, t_exit, kTag,
                 kLinePathWithoutFile);
  }

  if ((v.want_to_nuke_it || v.want_to_grab_it) && !xmap_class::path_fits(p.dest_path_exp)) {
    // Longer than the program's paths may be: this entry cannot be
    // installed, and the install fails saying which path it is.
    stg.got_failed_install = 1;
    MACIBM_alert(0, "The installer cannot install a file: its path is too long.",
                 "A path may have at most " + std::to_string(xmap_class::kMaxPathLen - 1) +
                     " bytes; this one has " + std::to_string(p.dest_path_exp.size()) +
                     ". Please choose a destination folder with a shorter path.",
                 "Destination: " + p.dest_path_exp, "", t_alert, kTag, kLinePathTooLong);
    return true;
  }
  if (v.want_to_nuke_it) {
    nuke_file(p.dest_path_exp);
    note_removed_file(index);
    return true;
  }
  if (!v.want_to_grab_it) {
    stg.crnt_file_stat = v.on_disk ? 2 : 3;
    return true;
  }
  stg.crnt_file_stat = 1;
  if (is_net) return download_entry(s, index, v, p, progressed);
  install_from_dvd(s, v, p);
  return true;
}

// Stream s's turn in one call: at most one action.
void step_stream(int s, int n, bool* progressed) {
  if (!step_expansions(s, progressed)) return;
  if (!next.stream_active[s]) return;
  hand_out_entry(s, n, progressed);
  const int index = next.stream_index[s];
  if (index < 0 || index >= n) return;  // idle: past the last entry
  if (work_on_entry(s, index, progressed)) {
    adapt_streams(s);
    *progressed = true;
  }
}

// Every entry handed out and done with, nothing being expanded or waiting
// to be fetched again.
bool grab_is_complete(int n) {
  if (!g_refetch.empty()) return false;
  for (int s = 0; s < kStreamCount; ++s) {
    if (next.stream_active[s] && next.stream_index[s] < n) return false;
    if (g_streams[s].job.call || g_streams[s].held.held || !g_streams[s].reserved.empty()) return false;
  }
  return true;
}

// A failed expansion ends the grab here: the install is not complete, so
// neither the clean-up nor the rename after the release may run. Downloads
// other streams still have running are abandoned: left in their slots, the
// next install's first poll of a slot would take the old file for the
// archive of a different entry.
void end_failed_grab() {
  drain_expansions();
  abandon_stream_downloads();
  delete_stream_archives();
  save_signature_cache();  // what was installed before the failure is proven too
}

// The whole manifest is done with: the streams' archives, the emptied
// folders and the installation folder's name are seen to.
void finish_grab() {
  next.dir_done = 1;
  delete_stream_archives();
  clean_up_emptied_folders();
  rename_installation_folder();
  save_signature_cache();
  xer.flush();
}

}  // namespace

void grab_abandon() {
  end_failed_grab();
}

int grab_files() {
  const int n = static_cast<int>(sim_info.files.size());
  next.file_down = 0.0f;
  bool progressed = false;  // anything moved in this call
  for (int s = 0; s < kStreamCount; ++s) step_stream(s, n, &progressed);

  if (stg.got_failed_install) {
    end_failed_grab();
    return 1;
  }
  if (!grab_is_complete(n)) {
    // Nothing arrived and nothing ended: rather than spin, give the processor
    // to the expansions for a moment (an ending one wakes this at once).
    if (!progressed) UTL_message_queue_read(job_ended_queue(), 1);
    return 0;
  }
  finish_grab();
  return 1;
}
