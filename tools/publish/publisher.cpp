#include "tools/publish/publisher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <semaphore>
#include <set>
#include <system_error>
#include <thread>

#include "installer/model.h"
#include "installer/release_auth.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/archive.h"
#include "io/xmap.h"
#include "tools/publish/archive_writer.h"
#include "tools/publish/platform_rules.h"
#include "tools/publish/release_signer.h"
#include "tools/publish/release_text.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr size_t kMaxReportedNames = 20;

// 7z archives compressed at the same time, at most.
std::counting_semaphore<> g_seven_zip_slots(8);

struct source_file {
  std::string path;    // manifest path
  std::string source;  // where it is read from
  uint64_t size = 0;
  bool executable = false;
  int os_type = 0;
  const std::vector<manifest_row>* history = nullptr;  // previous release's rows, or null
  // Results of the work.
  std::string sig;
  uint64_t archive_bytes = 0;
  bool reused = false;
  std::string error;
};

// A private working folder, removed with its contents.
class work_dir {
 public:
  work_dir() {
    std::random_device rd;
    std::error_code ec;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      const fs::path p = fs::temp_directory_path(ec) / ("skyvane-publish-" + std::to_string(rd()));
      if (!ec && fs::create_directory(p, ec)) path_ = p.string() + "/";
    }
  }
  ~work_dir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string error_text(const std::error_code& ec) {
  return ec.message();
}

// Lists the product's files, refusing what cannot be published.
std::string scan_product(const std::string& product, std::vector<source_file>& files) {
  std::error_code ec;
  if (!fs::is_directory(product, ec)) return "the product folder " + product + " does not exist";
  std::vector<std::string> refused;
  const fs::path root(product);
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) return "cannot list " + product + ": " + error_text(ec);
  for (; it != end; it.increment(ec)) {
    if (ec) return "cannot list " + product + ": " + error_text(ec);
    const fs::directory_entry& e = *it;
    const std::string rel = e.path().lexically_relative(root).generic_string();
    if (e.is_symlink(ec)) {
      if (!fs::is_regular_file(e.path(), ec)) {
        refused.push_back(rel + ": a symbolic link to something other than a file");
        continue;
      }
    } else if (e.is_directory(ec)) {
      continue;
    } else if (!e.is_regular_file(ec)) {
      refused.push_back(rel + ": not a regular file");
      continue;
    }
    if (std::string why = check_manifest_path(rel); !why.empty()) {
      refused.push_back("\"" + rel + "\": " + why);
      continue;
    }
    source_file f;
    f.path = rel;
    f.source = e.path().string();
    f.size = fs::file_size(e.path(), ec);
    if (ec) {
      refused.push_back(rel + ": " + error_text(ec));
      continue;
    }
    const fs::perms p = fs::status(e.path(), ec).permissions();
    f.executable = (p & fs::perms::owner_exec) != fs::perms::none;
    files.push_back(std::move(f));
  }
  if (!refused.empty()) {
    std::sort(refused.begin(), refused.end());
    std::string msg =
        "the product holds " + std::to_string(refused.size()) + " name(s) that cannot be published:";
    for (size_t i = 0; i < refused.size() && i < kMaxReportedNames; ++i) msg += "\n  " + refused[i];
    if (refused.size() > kMaxReportedNames) msg += "\n  ...";
    return msg;
  }
  if (files.empty()) return "the product folder " + product + " holds no files";
  std::sort(files.begin(), files.end(),
            [](const source_file& a, const source_file& b) { return a.path < b.path; });
  return "";
}

// The previous release: its rows by path and the folder that holds its archives.
struct previous_release {
  std::map<std::string, std::vector<manifest_row>> rows;
  std::string folder;  // ends in '/'
  int max_version = 0;
};

std::string read_previous(const std::string& prev_out, const std::string& work, previous_release& prev) {
  const std::string list = prev_out + "serverlist9.txt";
  {
    xmap_class m(list);
    static const int kListVersions[] = {820, 0};
    if (!m.mBegin || m.check_file(kCheckText, kListVersions, "SERVERS") == 0)
      return "--previous: " + list + " is missing or not a server list";
    install_name = no_install_name;
    stg.num_servers = 0;
    read_server_records(std::string_view(reinterpret_cast<const char*>(m.mCrt), m.mEnd - m.mCrt));
  }
  if (stg.num_servers < 1 || install_name == no_install_name)
    return "--previous: " + list + " names no release or no server";
  prev.folder = prev_out + server_path[0].substr(1);
  const std::string zip = prev.folder + "directory.txt.zip";
  if (const int c = zip_to_file(zip, work, nullptr, 0); c != 0)
    return "--previous: cannot expand " + zip + " (code " + std::to_string(c) + ")";

  xmap_class m(work + "directory.txt");
  static const int kManifestVersions[] = {840, 900, 0};
  if (!m.mBegin || m.check_file(kCheckText, kManifestVersions, "INSTALLER") == 0)
    return "--previous: " + zip + " does not hold a manifest";
  std::vector<file_history_struct> files;
  manifest_stats stats;
  parse_manifest_body(m.mCrt, m.mEnd, m.mBegin, false, "", files, stats);
  if (!stats.unsafe_path.empty()) return "--previous: the manifest names an unsafe path " + stats.unsafe_path;
  for (const file_history_struct& h : files) {
    for (const file_version_struct& v : h.versions) {
      manifest_row r;
      r.use_type = v.use_type;
      r.os_type = v.os_type;
      r.version_num = v.version_num;
      r.down_kb = static_cast<int64_t>(v.down_size);
      r.disk_kb = static_cast<int64_t>(v.disk_size);
      r.sig = v.sig_want;
      prev.rows[v.path].push_back(std::move(r));  // a path split over two runs is joined
      prev.max_version = std::max(prev.max_version, v.version_num);
    }
  }
  return "";
}

std::string archive_path_in(const std::string& folder, const std::string& path) {
  return folder + path + archive_suffix(path);
}

std::string member_name_of(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// Signs and packs one file, or reuses the previous release's archive when the
// file did not change.
void work_on(source_file& f, const std::string& release_folder, const previous_release& prev) {
  const std::string archive = archive_path_in(release_folder, f.path);
  const archive_kind kind = path_uses_7z(f.path) ? archive_kind::seven_zip : archive_kind::zip;
  const manifest_row* last = f.history && !f.history->empty() ? &f.history->back() : nullptr;
  const std::string old_archive = last ? archive_path_in(prev.folder, f.path) : std::string();
  std::error_code ec;
  if (last && last->sig != kGone && last->disk_kb == kb_of(f.size) && fs::is_regular_file(old_archive, ec)) {
    // Probably unchanged: sign first, and pack only when the signature differs.
    uint64_t bytes = 0;
    f.error = sign_file(f.source, f.sig, bytes);
    if (!f.error.empty()) return;
    if (f.sig == last->sig && bytes == f.size) {
      fs::create_hard_link(old_archive, archive, ec);
      if (ec) {
        ec.clear();
        fs::copy_file(old_archive, archive, ec);
      }
      if (!ec) {
        f.reused = true;
        f.archive_bytes = fs::file_size(archive, ec);
        if (!ec) return;
      }
      fs::remove(archive, ec);
    }
  }
  packed_file packed;
  if (kind == archive_kind::seven_zip) {
    // An LZMA2 encoder takes about 100 MB; on a machine with many cores the
    // 7z jobs alone could otherwise exhaust memory.
    g_seven_zip_slots.acquire();
    f.error = pack_file(f.source, member_name_of(f.path), f.executable, kind, archive, packed);
    g_seven_zip_slots.release();
  } else {
    f.error = pack_file(f.source, member_name_of(f.path), f.executable, kind, archive, packed);
  }
  f.sig = packed.sig;
  f.archive_bytes = packed.archive_bytes;
  if (f.error.empty() && packed.file_bytes != f.size) f.error = f.source + " changed while it was published";
}

// Works through the files on `threads` threads. The calling thread works too
// and reports progress to `log` every few seconds. After the first failure no
// new file is started.
void run_on_all_cores(std::vector<source_file>& files, const std::string& release_folder,
                      const previous_release& prev, unsigned threads, std::ostream& log) {
  std::vector<source_file*> order;
  order.reserve(files.size());
  uint64_t total_bytes = 0;
  for (source_file& f : files) {
    order.push_back(&f);
    total_bytes += f.size;
  }
  // Largest first, so one big file does not start last and run alone.
  std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->size > b->size; });
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::atomic<uint64_t> done_bytes{0};
  std::atomic<bool> failed{false};
  using clock = std::chrono::steady_clock;
  auto last_report = clock::now();
  auto worker = [&](bool reporter) {
    for (size_t i; !failed && (i = next.fetch_add(1)) < order.size();) {
      work_on(*order[i], release_folder, prev);
      if (!order[i]->error.empty()) failed = true;
      ++done;
      done_bytes += order[i]->size;
      if (reporter && clock::now() - last_report > std::chrono::seconds(2)) {
        last_report = clock::now();
        log << "  " << done << " of " << order.size() << " files, " << done_bytes / 1000000 << " of "
            << total_bytes / 1000000 << " MB\n";
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker, false);
  worker(true);
  for (std::thread& t : pool) t.join();
}

std::string write_atomically(const std::string& path, const std::string& bytes) {
  const std::string part = path + ".part";
  FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) return "cannot create " + part;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    std::remove(part.c_str());
    return "cannot write " + part;
  }
  std::error_code ec;
  fs::rename(part, path, ec);
  if (ec) return "cannot rename " + part + " to " + path + ": " + error_text(ec);
  return "";
}

}  // namespace

std::string publish_release(const options& o, publish_report& report, std::ostream& log) {
  const auto start = std::chrono::steady_clock::now();
  {
    // An output folder inside the product would be published with the next release.
    auto folder_key = [](const std::string& p) {
      std::error_code ec;
      std::string s = fs::weakly_canonical(p, ec).string();
      while (s.size() > 1 && s.back() == '/') s.pop_back();
      return s + "/";
    };
    const std::string product = folder_key(o.product);
    const std::string out = folder_key(o.out);
    if (out.rfind(product, 0) == 0) return "the --out folder " + o.out + " lies inside the product folder";
  }
  // The key is read before any work, so that a refused key costs nothing.
  release_signer signer;
  if (!o.sign.empty()) {
    if (std::string why = load_secret_key(o.sign, signer); !why.empty()) return why;
  }
  // One signing time for the whole publication: the installer compares the
  // server list's with the newest it has seen.
  const std::string comment = release_comment(static_cast<int64_t>(std::time(nullptr)), o.release);
  std::vector<source_file> files;
  if (std::string why = scan_product(o.product, files); !why.empty()) return why;
  report.files = files.size();

  platform_rules rules;
  if (!o.platforms.empty()) {
    std::string why;
    if (!rules.load(o.platforms, why)) return why;
  }

  work_dir work;
  if (work.path().empty()) return "cannot create a temporary folder";
  previous_release prev;
  if (!o.previous.empty()) {
    if (std::string why = read_previous(o.previous, work.path(), prev); !why.empty()) return why;
  }
  report.version = prev.max_version + 1;

  // One release folder per distinct mirror directory; archives are written to
  // the first and linked into the others.
  std::vector<std::string> folders;
  for (const mirror_spec& m : o.mirrors) {
    const std::string f = o.out + m.directory.substr(1) + o.release + "/";
    if (std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
  }
  std::error_code ec;
  for (const std::string& f : folders) {
    if (fs::exists(f, ec) && !fs::is_empty(f, ec))
      return "the release folder " + f + " already exists; publish under a new release name";
  }
  const std::string& primary = folders.front();
  std::set<std::string> made;
  for (source_file& f : files) {
    f.os_type = rules.code_for(f.path);
    auto h = prev.rows.find(f.path);
    if (h != prev.rows.end()) f.history = &h->second;
    const std::string dir = primary + f.path.substr(0, f.path.rfind('/') + 1);
    if (made.insert(dir).second) {
      fs::create_directories(dir, ec);
      if (ec) return "cannot create " + dir + ": " + error_text(ec);
    }
  }
  for (const source_file& f : files) {
    for (const char* pack : {"900 red terrain", "Earth Orbit Textures"}) {
      if (f.path.find(pack) != std::string::npos) {
        log << "note: " << f.path << " belongs to a DVD-only pack; internet installs leave it out\n";
      }
    }
  }

  auto fail_and_clean = [&](const std::string& why) {
    for (const std::string& f : folders) fs::remove_all(f, ec);
    return why;
  };
  report.threads = std::max(1u, std::thread::hardware_concurrency());
  run_on_all_cores(files, primary, prev, report.threads, log);
  for (const source_file& f : files) {
    if (!f.error.empty()) return fail_and_clean(f.error);
  }

  // The manifest: every file's history continued, removed files withdrawn.
  std::vector<manifest_entry> entries;
  std::set<std::string> current;
  for (const source_file& f : files) {
    manifest_entry e;
    e.path = f.path;
    if (f.history) e.versions = *f.history;
    const manifest_row* last = e.versions.empty() ? nullptr : &e.versions.back();
    // A new row for a new or changed file (or a new platform code); an
    // unchanged file keeps its history as it was.
    if (!last || last->sig != f.sig || last->os_type != f.os_type) {
      manifest_row r;
      r.os_type = f.os_type;
      r.version_num = report.version;
      r.down_kb = kb_of(f.archive_bytes);
      r.disk_kb = kb_of(f.size);
      r.sig = f.sig;
      e.versions.push_back(std::move(r));
      ++report.new_versions;
    }
    f.reused ? ++report.reused : ++report.packed;
    if (!f.reused) report.bytes_out += f.archive_bytes;
    report.bytes_in += f.size;
    current.insert(f.path);
    entries.push_back(std::move(e));
  }
  for (const auto& [path, rows] : prev.rows) {
    if (current.count(path)) continue;
    manifest_entry e{path, rows};
    if (!rows.empty() && rows.back().sig != kGone) {
      manifest_row r;
      r.os_type = rows.back().os_type;
      r.version_num = report.version;
      r.sig = kGone;
      e.versions.push_back(std::move(r));
      ++report.gone;
    }
    entries.push_back(std::move(e));
  }
  const std::string text = manifest_text(std::move(entries));
  if (std::string why = write_zip_bytes(primary + "directory.txt.zip", "directory.txt", text); !why.empty())
    return fail_and_clean(why);
  if (!o.sign.empty()) {
    // Beside the manifest, so that the mirrors' copies below carry it too.
    std::ifstream zip(primary + "directory.txt.zip", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(zip)), std::istreambuf_iterator<char>());
    if (!zip) return fail_and_clean("cannot read back " + primary + "directory.txt.zip");
    if (std::string why =
            write_atomically(primary + "directory.txt.zip.minisig", sign_bytes(signer, bytes, comment));
        !why.empty())
      return fail_and_clean(why);
  }

  for (size_t i = 1; i < folders.size(); ++i) {
    fs::create_directories(fs::path(folders[i]).parent_path().parent_path(), ec);
    fs::copy(primary, folders[i], fs::copy_options::recursive | fs::copy_options::create_hard_links, ec);
    if (ec) {
      ec.clear();
      fs::remove_all(folders[i], ec);
      fs::copy(primary, folders[i], fs::copy_options::recursive, ec);
    }
    if (ec) return fail_and_clean("cannot fill " + folders[i] + ": " + error_text(ec));
  }

  const std::string list = server_list_text(o.release, o.mirrors);
  if (!o.sign.empty()) {
    // Every signature is in place before the list that leads to them.
    if (std::string why =
            write_atomically(o.out + "serverlist9.txt.minisig", sign_bytes(signer, list, comment));
        !why.empty())
      return fail_and_clean(why);
  }
  if (std::string why = write_atomically(o.out + "serverlist9.txt", list); !why.empty())
    return fail_and_clean(why);
  report.release_folders = folders;
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return "";
}

}  // namespace publish
