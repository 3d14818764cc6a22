#pragma once
// The installer's work on the manifest and the destination: reading the
// manifest (utils_manifest.cpp), examining the disk and choosing what to do
// (utils_scan.cpp), fetching, expanding and deleting (utils_grab.cpp), and the
// destination folder (utils_dest.cpp). All of it works on the globals of
// installer/model.h and runs on the main thread.
#include <atomic>
#include <string>
#include <vector>

#include "installer/model.h"
#include "io/sig_cache.h"

// ---- Manifest (directory.txt) ------------------------------------------------

// Reads the expanded manifest at `disk_path` into sim_info and then examines
// the destination folder (see examine_disk). `message` is the first line of the
// progress panel. Returns 3 when read and compared, 2 when the file's header is
// not a manifest header (new_format has then been called in an internet
// install) or when a row names a path outside the destination (an alert says
// so). A file that cannot be mapped ends the program (fatal alert).
int read_directory(std::string& disk_path, std::string message);

// Counts of one manifest body read, for the log and for tests.
struct manifest_stats {
  int rows = 0;             // FILE rows taken
  int dropped_packs = 0;    // rows of the content packs an internet install leaves out
  int incomplete = 0;       // FILE rows cut short (missing fields or path); skipped
  std::string unsafe_path;  // first path that would leave the destination; empty if none
};

// Parses a manifest body (the bytes after the header) into `files`, grouping
// consecutive rows of one full path into one history. `internet` drops the DVD
// content packs. `file_begin` and `file_size` only feed the progress panel.
// Stops at the first unsafe path (stats.unsafe_path set, `files` holds what was
// read before it). A row whose path ends in '/' is fatal, as a correct
// manifest never holds one.
void parse_manifest_body(const unsigned char* body, const unsigned char* end, const unsigned char* file_begin,
                         bool internet, const std::string& message, std::vector<file_history_struct>& files,
                         manifest_stats& stats);

// True when the archive of a manifest path is a 7z archive ("Global Scenery").
bool path_uses_7z(const std::string& path);
// ".7z" or ".zip" for a manifest path.
const char* archive_suffix(const std::string& path);

// ---- Disk examination and choice --------------------------------------------

// Signs the destination's file for the current version of every entry
// (sig_have, "NONE" when unreadable), sets on_disk, sums down_req and disk_req
// of stg over applicable entries not yet installed and sets
// this_install_has_exes. Draws the progress panel about 200 times.
void examine_disk(const std::string& message);

// Signs every path: sigs[i] becomes the signature of paths[i], or "NONE"
// when it cannot be read. The files are shared out over the framework's
// worker threads and the calling thread (in rising index order; without
// workers the caller signs them all in order). `progress` (may be null) runs
// on the calling thread only (it may draw), with the index of each file that
// thread takes, just before signing it: every index in order when no workers
// run, else a rising subset. The results depend only on the index.
using sign_progress_fn = void (*)(size_t index, size_t count, const std::vector<std::string>& paths,
                                  void* ctx);
// With `cache`, each file's identity is looked up first: a file unchanged
// since the cache was written takes its recorded signature unread, and what
// is learnt of every file goes to cache->records (same order as `paths`).
// What is known of an entry's file for the signature cache.
enum known_kind : uint8_t { kKnownNothing, kKnownExamined, kKnownInstalled };
struct sig_cache_use {
  size_t rel_from;                           // where each path's part below the destination starts
  const sig_cache* cache;                    // null: every file is read
  std::vector<platform_file_identity>* ids;  // receive each file's identity (same order as `paths`)
  std::vector<uint8_t>* known;               // and a known_kind: examined when it was signed
  std::atomic<size_t>* from_cache;           // counts the signatures taken unread
};
void sign_files(const std::vector<std::string>& paths, std::vector<std::string>& sigs,
                sign_progress_fn progress, void* ctx, const sig_cache_use* cache = nullptr);

// The signature cache follows the grab: a file it installed (its bytes proven
// to be the entry's published signature) or removed. Saved by
// save_signature_cache, which the grab calls when it ends; the examination
// saves it when it learnt anything.
void note_installed_file(int index, const std::string& path);
void note_removed_file(int index);
void save_signature_cache();

// Sets want_to_grab_it and want_to_nuke_it on every entry's current version,
// asking (select_alert) about files the user changed. Returns 1 when every
// entry has its decision, 0 when the user cancelled the installation.
int choose_files();

// Local path of an entry's current version: dest_dir_path + path below the
// master folder.
std::string dest_path_of(const file_version_struct& v);

// ---- Grab engine --------------------------------------------------------------

// One step of the install: advances every active stream by at most one action.
// Returns 1 when the grab is complete (clean-up and rename done) or when an
// archive failed to expand (got_failed_install); 0 while work remains. A
// downloaded archive that cannot be read (cut short, bad checksum) is fetched
// again from a newly chosen server, up to three times, before it fails.
// A failed download is tried again from another server; a server that
// failed a file is asked for it again only after a pause (see
// grab_set_retry_pause), and its repeated failures of that file are not
// logged again. Once every server has failed a file kFetchTriesPerServer
// times, the install fails with the alert "The installer cannot extract a
// file.". A download that cannot be written to the temporary folder (full,
// read-only), or an archive larger than the folder's free space, stops the
// install with an alert naming the folder and the system's reason.
int grab_files();

// Stops a grab before its end (a stop request): the expansions under way end
// first (each file is then wholly old or wholly new), downloads are abandoned
// and their archives deleted; what was installed goes to the signature cache.
// Neither the clean-up of emptied folders nor the rename runs.
void grab_abandon();

// Failed downloads of one file from each server before the install fails.
inline constexpr int kFetchTriesPerServer = 5;

// The pause before a server that failed a file is asked for it again:
// `first_seconds` after the file's first failure, doubling with each
// further failure of that file, at most `most_seconds`. The program's values
// are 1 s and 30 s; tests make them tiny.
void grab_set_retry_pause(float first_seconds, float most_seconds);

// Expands the archive `dest_path_zip`, which must hold exactly the file of
// version `v` with its published signature, to `dest_path_exp` and, in an
// internet install, deletes the archive. A failure sets got_failed_install
// and shows an alert.
void extract_and_delete_file(const std::string& dest_path_zip, const std::string& dest_path_exp,
                             const file_version_struct& v);

// Streams wanted for a measured rate in kilobytes per second (before the
// preference and the build mode are applied).
int stream_count_for_rate(float rate_kb_per_s);

// ---- Destination folder -----------------------------------------------------------

// 1 when dest_dir_path holds folders named with "Airfoils", "Instructions",
// "Output" and "Resources".
int path_is_to_a_sim();
// Asks the user for the destination; 1 when dest_dir_path changed.
int pick_dest_path();
// Creates the destination, every folder the manifest's applicable files need,
// and the fixed folders; failures are shown with make_dir_error. Run when
// Install is pressed, it also settles dest_may_take_release_name.
void make_dirs();
// 1 when the install under way may rename dest_dir_path after the release:
// the folder did not exist before this run made it, or it held an
// installation (path_is_to_a_sim) when make_dirs ran; else 0.
int dest_may_take_release_name();
void make_dir_error(const std::string& path, int err);
// The fixed folders of every installation, created by make_dirs in this order.
extern const char* const kFixedFolders[7];
