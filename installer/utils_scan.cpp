// The disk examination after a manifest read, and the choice of what to fetch,
// delete or keep.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string_view>
#include <unordered_set>

#include "installer/paths.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/md5.h"
#include "io/sig_cache.h"
#include "io/xmap.h"
#include "platform/system.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {

constexpr std::string_view kGone = "GONE";
constexpr std::string_view kNone = "NONE";

bool is_program_file(int os_type) {
  return os_type == 1 || os_type == 2 || os_type == 3;
}

struct scan_progress {
  const std::string* message;
  size_t mod;
  size_t drawn = 0;  // entries up to this one have been shown
  bool any = false;  // a panel has been drawn
};

// Shows the panel for the newest multiple of `mod` at or below `index` that
// has not been shown yet. Called for every entry in order when one thread
// signs, this draws exactly at each multiple; when the workers sign too, the
// main thread sees only the entries it takes itself, and the multiples the
// workers passed meanwhile are folded into the newest one.
void draw_scan_progress(size_t index, size_t count, const std::vector<std::string>& paths, void* ctx) {
  auto* p = static_cast<scan_progress*>(ctx);
  const size_t at = index - index % p->mod;
  if (p->any && at <= p->drawn) return;
  p->any = true;
  p->drawn = at;
  dir_progress_bar(0.0f, static_cast<float>(at), static_cast<float>(count), 1, *p->message, paths[at]);
}

// What the last examination and the grab since then know of each manifest
// entry's file (same index), and the destination they were learnt in; saved
// as the signature cache. The signature itself is the entry's: sig_have as
// examined, sig_want once installed (proven as it was written). Kept apart
// from the records to stay small for large installations.
std::vector<platform_file_identity> g_ids;
std::vector<uint8_t> g_known;  // a known_kind per entry
std::string g_known_dest;

std::string rel_path_of(const file_version_struct& v) {
  std::string rel = v.path;
  trim_dest_folder(rel);
  return rel;
}

}  // namespace

std::string dest_path_of(const file_version_struct& v) {
  return dest_dir_path + rel_path_of(v);
}

void note_installed_file(int index, const std::string& path) {
  if (index < 0 || static_cast<size_t>(index) >= g_known.size()) return;
  g_known[index] = platform_file_identity_of(path, &g_ids[index]) == 0 ? kKnownInstalled : kKnownNothing;
}

void note_removed_file(int index) {
  if (index >= 0 && static_cast<size_t>(index) < g_known.size()) g_known[index] = kKnownNothing;
}

void save_signature_cache() {
  if (g_known_dest.empty()) return;
  const std::string folder = platform_cache_folder();
  // The installation folder may have been renamed after the release: the
  // cache follows it, and the old name's cache goes.
  if (g_known_dest != dest_dir_path) std::remove(sig_cache_file(folder, g_known_dest).c_str());
  g_known_dest = dest_dir_path;
  std::vector<sig_record> records;
  for (size_t i = 0; i < g_known.size() && i < sim_info.files.size(); ++i) {
    const file_version_struct& v = sim_info.files[i].versions.back();
    sig_record r;
    if (g_known[i] == kKnownNothing ||
        !sig_record_set_md5(r, g_known[i] == kKnownInstalled ? v.sig_want : v.sig_have))
      continue;
    r.path_hash = sig_path_hash(rel_path_of(v));
    r.id = g_ids[i];
    records.push_back(r);
  }
  const std::string file = sig_cache_file(folder, dest_dir_path);
  if (const int err = sig_cache_save(file, dest_dir_path, std::move(records)); err != 0)
    xer << "The signature cache " << file << " could not be written: " << error_str(err) << ".\n";
}

void sign_files(const std::vector<std::string>& paths, std::vector<std::string>& sigs,
                sign_progress_fn progress, void* ctx, const sig_cache_use* cache) {
  sigs.assign(paths.size(), std::string(kNone));
  if (cache) {
    cache->ids->assign(paths.size(), platform_file_identity{});
    cache->known->assign(paths.size(), kKnownNothing);
  }
  // Each index writes only its own slot, so the results do not depend on
  // which thread signs which file. The progress (drawing) stays on the
  // calling thread, the one that owns the window.
  const bool ok = THREAD_parallel_for(static_cast<int>(paths.size()), [&](int i) {
    const size_t k = static_cast<size_t>(i);
    if (progress && THREAD_is_main_thread()) progress(k, paths.size(), paths, ctx);
    // A path too long for the program is not read (the reader would alert
    // from a worker); it stays "NONE" and the grab says why it fails.
    if (!xmap_class::path_fits(paths[k])) return;
    if (!cache) {
      calc_file_md5(paths[k], sigs[k]);  // leaves "NONE" when the file cannot be read
      return;
    }
    // The identity is taken before the bytes are read: a change during the
    // read changes the ctime, so the record never vouches for it.
    platform_file_identity& id = (*cache->ids)[k];
    if (platform_file_identity_of(paths[k], &id) != 0) return;
    const std::string_view rel = std::string_view(paths[k]).substr(cache->rel_from);
    std::string sig = cache->cache ? cache->cache->lookup(rel, id) : std::string();
    if (!sig.empty())
      ++*cache->from_cache;
    else if (calc_file_md5(paths[k], sig) != 0)
      return;
    (*cache->known)[k] = kKnownExamined;
    sigs[k] = std::move(sig);
  });
  // A worker ended inside a signature: it raised a fatal report, which ends
  // the program. Show it now rather than carry on with its file unsigned.
  if (!ok) THREAD_check_exception(0);
}

void examine_disk(const std::string& message) {
  auto& files = sim_info.files;
  const size_t n = files.size();
  size_t mod = n / 200;
  if (mod < 2) mod = 1;

  std::vector<std::string> paths;
  paths.reserve(n);
  for (const auto& f : files) paths.push_back(dest_path_of(f.versions.back()));

  // Files unchanged since the last examination or install take their
  // recorded signature; --verify reads every file.
  sig_cache known;
  const std::string cache_file = sig_cache_file(platform_cache_folder(), dest_dir_path);
  if (cmdline.has_option("--verify")) {
    xer << "--verify: every file is read and signed; the signature cache is not used.\n";
  } else if (const std::string why = known.load(cache_file, dest_dir_path, sig_cache_bound(dest_dir_path, n));
             !why.empty()) {
    xer << "The signature cache " << cache_file << " is not used: " << why << ".\n";
  }
  std::atomic<size_t> from_cache{0};
  const sig_cache_use use{dest_dir_path.size(), known.size() ? &known : nullptr, &g_ids, &g_known,
                          &from_cache};

  std::vector<std::string> sigs;
  scan_progress progress{&message, mod};
  // Whether this install brings programs is a question about this manifest
  // and this folder only: an earlier scan of the run does not answer it.
  this_install_has_exes = 0;
  sign_files(paths, sigs, &draw_scan_progress, &progress, &use);
  g_known_dest = dest_dir_path;
  size_t present = 0;
  for (uint8_t k : g_known) present += k != kKnownNothing ? 1 : 0;
  xer << "Examined " << n << " files: " << present << " present, " << from_cache.load()
      << " of them unchanged since the signature cache was written.\n";

  for (size_t i = 0; i < n; ++i) {
    file_version_struct& v = files[i].versions.back();
    v.sig_have = std::move(sigs[i]);
    v.on_disk = v.sig_have == v.sig_want ? 1 : 0;
    if (v.sig_want != kGone && v.on_disk == 0 && os_type_applies(v.os_type, stg.download_os)) {
      stg.down_req += v.down_size;
      stg.disk_req += v.disk_size;
      if (is_program_file(v.os_type)) this_install_has_exes = 1;
    }
  }
  // Rewritten, from the signatures just taken, only when it learnt
  // something: a file read, or a record gone. The loaded records go first:
  // a large installation would otherwise hold both sets at once.
  const size_t loaded = known.size();
  known = sig_cache{};
  if (from_cache.load() != present || loaded != present) save_signature_cache();
}

int choose_files() {
  // Folders answered "for the whole folder": a set, as a large release may
  // see many such answers over many changed files.
  std::unordered_set<std::string> dosave_dirs;
  std::unordered_set<std::string> nosave_dirs;
  auto contains = [](const std::unordered_set<std::string>& v, const std::string& s) {
    return v.count(s) != 0;
  };

  for (auto& f : sim_info.files) {
    file_version_struct& v = f.versions.back();
    int add_or_del = os_type_applies(v.os_type, stg.download_os) ? 1 : 0;
    const bool is_gone = v.sig_want == kGone;
    if (add_or_del) {
      const std::string dest_path_exp = dest_path_of(v);
      const bool is_ondisk = v.sig_have != kNone;
      const bool is_latest = is_ondisk && v.sig_have == v.sig_want;
      if (!is_ondisk && is_gone) add_or_del = 0;  // already absent
      if (is_latest) add_or_del = 0;              // already current
      bool is_custom = false;
      if (is_ondisk && !is_latest) {
        // A file equal to any listed version is one the installer put there.
        is_custom = std::none_of(f.versions.begin(), f.versions.end(),
                                 [&](const file_version_struct& o) { return o.sig_want == v.sig_have; });
      }
      if (is_custom) {
        const std::string path_only = path_folder(dest_path_exp);
        if (contains(dosave_dirs, path_only)) {
          add_or_del = 1;
        } else if (contains(nosave_dirs, path_only)) {
          add_or_del = 0;
        } else {
          xer << "File: " << dest_path_exp << "  sig_want=" << v.sig_want << "  sig_have=" << v.sig_have
              << "\n";
          xer.flush();
          switch (select_alert(dest_path_exp, is_gone ? 1 : 0)) {
            case 1:
              add_or_del = 1;
              break;
            case 2:
              add_or_del = 0;
              break;
            case 4:
              add_or_del = 1;
              dosave_dirs.insert(path_only);
              break;
            case 5:
              add_or_del = 0;
              nosave_dirs.insert(path_only);
              break;
            default:  // 3, or the question window was closed
              return 0;
          }
        }
      }
    }
    v.want_to_grab_it = add_or_del && !is_gone ? 1 : 0;
    v.want_to_nuke_it = add_or_del && is_gone ? 1 : 0;
  }
  return 1;
}
