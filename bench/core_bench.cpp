// The installer core's speed, each figure against a reference in the same run:
//   1. manifest read: 100 000 FILE rows parsed in place from the mapped file,
//      with the memory the records take and the process's growth around it;
//   2. disk examination: signing a tree of files (warm cache) against md5sum
//      over the same files;
//   3. a fresh install of a published release from nginx on loopback, driven
//      as the driver drives it, against curl --parallel --parallel-max 4
//      followed by unzip of every archive.
// Usage: core_bench [--rows=N] [--sign-mb=N] [--install-files=N] [--install-mb=N] [--rounds=N]
// (--install-files=0 leaves the install out.)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "headless_fetch.h"
#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "io/minisign.h"
#include "io/xmap.h"
#include "net/http.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"
#include "util/xtim.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::run;
using testsupport::shell_quote;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

long status_kib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  return -1;
}

int arg_int(int argc, char** argv, const char* name, int def) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return std::atoi(argv[i] + prefix.size());
  return def;
}

size_t records_bytes(const std::vector<file_history_struct>& files) {
  size_t total = files.capacity() * sizeof(file_history_struct);
  for (const auto& f : files) {
    total += f.versions.capacity() * sizeof(file_version_struct);
    for (const auto& v : f.versions) {
      // Heap blocks of strings longer than the in-object buffer.
      for (const std::string* s : {&v.sig_want, &v.sig_have, &v.path})
        if (s->capacity() > 15) total += s->capacity() + 1;
    }
  }
  return total;
}

void bench_manifest(int rows, int rounds) {
  testsupport::TempDir dir;
  const std::string path = dir / "directory.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "I\n900\nINSTALLER\n\n";
    for (int i = 0; i < rows; ++i) {
      if (i % 40 == 0) out << "DIR Master/Aircraft/Group " << i / 40 << "/sub folder/\n";
      char sig[33];
      std::snprintf(sig, sizeof sig, "%08x%08x%08x%08x", i, i * 7, i * 13, i * 31);
      out << "FILE 0 " << (i % 5 == 0 ? 2 : 0) << " " << (1 + i % 3) << " " << (i % 997) << " " << (i % 1999)
          << " " << sig << " file number " << i << ".dat\n";
    }
  }
  double best = 1e9;
  size_t rec = 0, n = 0;
  long grow_kib = 0;
  for (int r = 0; r < rounds; ++r) {
    std::vector<file_history_struct> files;
    const long before = status_kib("VmRSS:");
    {
      const auto t = Clock::now();
      xmap_class m(path);
      static const int versions[] = {840, 900, 0};
      m.check_file(kCheckText, versions, "INSTALLER", nullptr);
      manifest_stats stats;
      parse_manifest_body(m.mCrt, m.mEnd, m.mBegin, true, "bench", files, stats);
      best = std::min(best, seconds_since(t));
    }
    // Mapped pages of the file count in RSS while mapped; the growth is
    // measured after the mapping is released, so it is the records' alone.
    if (r == 0) grow_kib = status_kib("VmRSS:") - before;  // later rounds reuse freed heap
    rec = records_bytes(files);
    n = files.size();
  }
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  std::printf(
      "manifest read: %d FILE rows (%.1f MB file), best of %d: %.1f ms; %zu entries; records %.1f MB, "
      "resident growth %.1f MB\n",
      rows, static_cast<double>(f.tellg()) / 1e6, rounds, best * 1000.0, n, rec / 1e6, grow_kib / 1024.0);
}

void make_tree(const std::string& root, int files, double total_mb, std::vector<std::string>& rels) {
  const size_t each = static_cast<size_t>(total_mb * 1e6 / files);
  std::string block = testsupport::random_bytes(each + 4096, 99);
  for (int i = 0; i < files; ++i) {
    const std::string rel =
        "Master/folder " + std::to_string(i % 37) + "/sub/file " + std::to_string(i) + ".dat";
    testsupport::make_dirs(root + rel.substr(0, rel.rfind('/')));
    // Sizes vary around the mean; the bytes differ per file.
    const size_t size = each / 2 + (static_cast<size_t>(i) * 7919u) % each;
    block[i % 4096] = static_cast<char>(i);
    std::ofstream(root + rel, std::ios::binary)
        .write(block.data() + (i % 4096), static_cast<std::streamsize>(size));
    rels.push_back(rel);
  }
}

void bench_sign(double mb, int rounds) {
  testsupport::TempDir dir;
  std::vector<std::string> rels;
  make_tree(dir.path(), 400, mb, rels);
  dest_dir_path = dir.path();
  sim_info.files.clear();
  std::string list;
  for (const auto& rel : rels) {
    file_history_struct h;
    file_version_struct v;
    v.path = "X/" + rel;
    v.sig_want = "GONE";
    h.versions.push_back(v);
    sim_info.files.push_back(h);
    list += dir.path() + rel + '\n';
  }
  testsupport::write_file(dir / "list", list);
  const std::string md5sum_cmd =
      "tr '\\n' '\\0' < " + shell_quote(dir / "list") + " | xargs -0 md5sum > /dev/null";
  run(md5sum_cmd);  // warm the cache
  double ours = 1e9, theirs = 1e9;
  for (int r = 0; r < rounds; ++r) {
    auto t = Clock::now();
    examine_disk("bench");
    ours = std::min(ours, seconds_since(t));
    t = Clock::now();
    run(md5sum_cmd);
    theirs = std::min(theirs, seconds_since(t));
  }
  std::printf(
      "disk examination: %zu files, %.0f MB, best of %d: ours %.3f s (%.0f MB/s), md5sum %.3f s (%.0f MB/s), "
      "ours at %.0f %% of md5sum's throughput\n",
      rels.size(), mb, rounds, ours, mb / ours, theirs, mb / theirs, 100.0 * theirs / ours);
}

// A release signature check: a manifest-sized archive (`mb` MB) and its
// prehashed minisign signature, made by the minisign tool with the demo key.
void bench_signature(double mb, int rounds) {
  testsupport::TempDir dir;
  std::string data(static_cast<size_t>(mb * 1e6), '\0');
  uint32_t x = 2463534242u;
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  testsupport::write_file(dir / "directory.txt.zip", data);
  const std::string keys = std::string(SKYVANE_SOURCE_DIR) + "/keys/";
  if (run("minisign -S -s " + shell_quote(keys + "demo.secret-key") + " -m " +
          shell_quote(dir / "directory.txt.zip") + " -t 'time=1 release=R' > /dev/null 2>&1") != 0) {
    std::printf("signature: minisign failed\n");
    return;
  }
  minisign_key key;
  std::ifstream pub(keys + "demo.pub");
  const std::string pub_text((std::istreambuf_iterator<char>(pub)), std::istreambuf_iterator<char>());
  if (!minisign_parse_key(pub_text, key).empty()) return;
  double best = 1e9;
  for (int r = 0; r < rounds * 10; ++r) {
    const auto t = Clock::now();
    const minisign_result ok =
        minisign_verify_file({key}, dir / "directory.txt.zip", dir / "directory.txt.zip.minisig", nullptr);
    best = std::min(best, seconds_since(t));
    if (ok != minisign_result::kOk) std::printf("signature: did not verify\n");
  }
  std::printf("release signature check: %.1f MB file, best of %d: %.3f ms\n", mb, rounds * 10, best * 1e3);
}

void bench_install(int files, double mb, int rounds) {
  testsupport::TempDir dir;
  std::vector<std::string> rels;
  make_tree(dir / "product/", files, mb, rels);
  testsupport::Nginx web(dir / "www/");
  std::string out;
  if (run(shell_quote(std::string(SKYVANE_BINARY_DIR) + "/tools/skyvane-publish") + " --product " +
          shell_quote(dir / "product/") + " --release R --out " + shell_quote(dir / "www/") + " --mirror " +
          shell_quote(web.host() + "|/files/|bench") + " --sign " +
          shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key") + " > /dev/null 2>&1") !=
      0) {
    std::printf("install: publishing failed\n");
    return;
  }
  // curl's side: the same archives, four at a time, then unzip each.
  std::string urls;
  for (const auto& rel : rels) {
    std::string enc;
    for (char c : "/files/R/" + rel + ".zip") enc += c == ' ' ? std::string("%20") : std::string(1, c);
    urls +=
        "url = \"http://" + web.host() + enc + "\"\noutput = \"" + dir.path() + "curl/" + rel + ".zip\"\n";
  }
  testsupport::write_file(dir / "curl.cfg", urls);
  const std::string curl_cmd =
      "rm -rf " + shell_quote(dir / "curl") + " " + shell_quote(dir / "unz") +
      " && curl -s --no-progress-meter --create-dirs --parallel --parallel-max 4 -K " +
      shell_quote(dir / "curl.cfg") + " > /dev/null 2>&1 && cd " + shell_quote(dir / "curl") +
      " && find . -name '*.zip' -print0 | xargs -0 -n1 sh -c 'mkdir -p \"" + dir.path() +
      "unz/$(dirname \"$0\")\" && unzip -qo \"$0\" -d \"" + dir.path() + "unz/$(dirname \"$0\")\"'";

  std::srand(1);
  alert_set_observer(
      [](const alert_record& r) { std::printf("alert: %s / %s\n", r.l1.c_str(), r.l2.c_str()); });
  set_dir_progress_bar_handler(nullptr);
  set_select_alert_handler(nullptr);
  double ours = 1e9, theirs = 1e9;
  for (int r = 0; r < rounds; ++r) {
    run("rm -rf " + shell_quote(dir / "dest") + " " + shell_quote(dir / "tmp") + " && mkdir -p " +
        shell_quote(dir / "tmp"));
    stg = stg_class{};
    stg.rename_folder = 0;
    install_name = no_install_name;
    temp_path = dir / "tmp/";
    dest_dir_path = dir / "dest/";
    auto t = Clock::now();
    std::string dir_path = bench_fetch_manifest(web.host());
    if (dir_path.empty()) return;
    read_directory(dir_path, "bench");
    bench_grab_in_slices();
    ours = std::min(ours, seconds_since(t));
    if (stg.got_failed_install) std::printf("install: failed\n");
    t = Clock::now();
    if (run(curl_cmd) != 0) std::printf("install: curl side failed\n");
    theirs = std::min(theirs, seconds_since(t));
  }
  std::printf("fresh install: %d files, %.0f MB, best of %d: ours %.2f s, curl+unzip %.2f s, ratio %.2f\n",
              files, mb, rounds, ours, theirs, ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  MACIBM_wire_lower_layers();
  installer_wire_lower_layers();
  const int rounds = arg_int(argc, argv, "rounds", 3);
  bench_manifest(arg_int(argc, argv, "rows", 100000), rounds);
  bench_sign(arg_int(argc, argv, "sign-mb", 400), rounds);
  bench_signature(arg_int(argc, argv, "signature-mb", 1), rounds);
  const int install_files = arg_int(argc, argv, "install-files", 1500);
  if (install_files > 0) bench_install(install_files, arg_int(argc, argv, "install-mb", 600), rounds);
  return 0;
}
