// Download speed of net_check against curl on the same files from the same
// nginx on loopback, in the same run:
//   1. one large file (1 GiB by default): one slot polled in 10 ms slices, as
//      the installer's grab engine polls, against `curl -o`;
//   2. many files of mixed sizes over four slots against
//      `curl --parallel --parallel-max 4`.
// Each side runs `--rounds` times; the best time of each side is compared.
// Also reports the download objects' buffer memory and the process's peak
// resident memory around our runs.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "net/http.h"
#include "support/test_support.h"
#include "ui/hl_init.h"
#include "util/xtim.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

long peak_rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Largest buffer memory any download object held while polled.
size_t g_max_buffers = 0;
void note_buffers(int slot) {
  if (down_class* d = http.down[slot].get())
    g_max_buffers = std::max(g_max_buffers, d->mInBuf.capacity() + d->mOutBuf.capacity());
}

void write_pattern_file(const std::string& path, uint64_t size, uint32_t seed) {
  std::string block = testsupport::random_bytes(1 << 20, seed);
  std::ofstream out(path, std::ios::binary);
  for (uint64_t left = size; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
    block[0] = static_cast<char>(block[0] + 1);  // no two blocks alike
  }
}

uint64_t file_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

bool same_files(const std::string& a, const std::string& b) {
  return testsupport::run("cmp -s " + testsupport::shell_quote(a) + " " + testsupport::shell_quote(b)) == 0;
}

struct Job {
  std::string file;  // path on the server
  std::string dest;
};

// The installer's way: each pass advances the clock, then for 10 ms every
// active stream gets one net_check per round. Returns false on any failure.
bool run_streams(const std::vector<Job>& jobs, int streams, const std::string& host) {
  size_t next = 0;
  std::vector<int> current(static_cast<size_t>(streams), -1);
  size_t done = 0;
  bool ok = true;
  while (done < jobs.size()) {
    xtim.advance_clock();
    const auto slice = Clock::now();
    do {
      for (int s = 0; s < streams; ++s) {
        int& j = current[static_cast<size_t>(s)];
        if (j < 0) {
          if (next >= jobs.size()) continue;
          j = static_cast<int>(next++);
        }
        const int slot = s + 2;
        const int r =
            http.net_check(slot, host, jobs[static_cast<size_t>(j)].file, jobs[static_cast<size_t>(j)].dest);
        note_buffers(slot);
        if (r == 0) continue;
        if (r == 2) ok = false;
        ++done;
        j = -1;
      }
    } while (done < jobs.size() && seconds_since(slice) < 0.010);
  }
  return ok;
}

void print_side(const char* who, double secs, uint64_t bytes) {
  std::printf("  %-34s %8.3f s  %9.1f MB/s\n", who, secs, static_cast<double>(bytes) / secs / 1e6);
}

void print_ratio(double ours, double curl, double target) {
  const double ratio = curl / ours;
  std::printf("  ratio (ours / curl throughput)     %8.2f  (target >= %.2f: %s)\n", ratio, target,
              ratio >= target ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  MACIBM_wire_lower_layers();
  uint64_t big_mib = 1024;
  int files = 200;
  int rounds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::sscanf(argv[i], "--big-mib=%lu", &big_mib) == 1) continue;
    if (std::sscanf(argv[i], "--files=%d", &files) == 1) continue;
    if (std::sscanf(argv[i], "--rounds=%d", &rounds) == 1) continue;
    std::fprintf(stderr, "usage: %s [--big-mib=N] [--files=N] [--rounds=N]\n", argv[0]);
    return 2;
  }

  testsupport::TempDir root, out;
  std::printf("net_bench: preparing files in %s\n", root.path().c_str());
  const uint64_t big_size = big_mib << 20;
  write_pattern_file(root / "big.bin", big_size, 1);
  testsupport::make_dirs(root / "mixed");
  std::vector<uint64_t> sizes;
  uint64_t mixed_total = 0;
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> logsize(std::log(1000.0), std::log(16e6));  // 1 kB .. 16 MB
  for (int i = 0; i < files; ++i) {
    sizes.push_back(static_cast<uint64_t>(std::exp(logsize(rng))));
    mixed_total += sizes.back();
    write_pattern_file(root / ("mixed/f" + std::to_string(i) + ".bin"), sizes.back(),
                       100u + static_cast<uint32_t>(i));
  }
  testsupport::Nginx nginx(root.path());
  const std::string host = nginx.host();
  const std::string url = "http://" + host;

  // 1. One large file.
  std::printf("\n1. one file of %lu MiB, loopback nginx, best of %d\n", big_mib, rounds);
  double best_curl = 1e9, best_ours = 1e9;
  const long rss_before = peak_rss_kib();
  // The two sides take turns going first, so neither always meets a cold cache.
  auto curl_big = [&] {
    const std::string dest = out / "big.curl";
    const auto t = Clock::now();
    if (testsupport::run("curl -s -f -o " + testsupport::shell_quote(dest) + " " + url + "/big.bin") != 0) {
      std::fprintf(stderr, "curl failed\n");
      std::exit(1);
    }
    best_curl = std::min(best_curl, seconds_since(t));
    std::remove(dest.c_str());
  };
  bool checked = false;
  auto ours_big = [&] {
    const std::string ours = out / "big.ours";
    const auto t = Clock::now();
    if (!run_streams({{"/big.bin", ours}}, 1, host)) {
      std::fprintf(stderr, "net_check failed on the large file\n");
      std::exit(1);
    }
    best_ours = std::min(best_ours, seconds_since(t));
    if (!checked && !same_files(ours, root / "big.bin")) {
      std::fprintf(stderr, "the large file arrived damaged\n");
      std::exit(1);
    }
    checked = true;
    std::remove(ours.c_str());
  };
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 0) {
      curl_big();
      ours_big();
    } else {
      ours_big();
      curl_big();
    }
  }
  const long rss_after = peak_rss_kib();
  print_side("curl -o", best_curl, big_size);
  print_side("net_check, 10 ms slices", best_ours, big_size);
  print_ratio(best_ours, best_curl, 0.80);

  // 2. Many files of mixed sizes, four at a time.
  std::printf("\n2. %d files of 1 kB..16 MB (%.1f MB in all), 4 at a time, best of %d\n", files,
              static_cast<double>(mixed_total) / 1e6, rounds);
  std::string cfg;
  std::vector<Job> jobs;
  for (int i = 0; i < files; ++i) {
    const std::string name = "/mixed/f" + std::to_string(i) + ".bin";
    cfg += "url = \"" + url + name + "\"\noutput = \"" + out.path() + "c" + std::to_string(i) + ".bin\"\n";
    jobs.push_back({name, out.path() + "o" + std::to_string(i) + ".bin"});
  }
  testsupport::write_file(root / "curl.cfg", cfg);
  best_curl = best_ours = 1e9;
  auto curl_mixed = [&] {
    const auto t = Clock::now();
    if (testsupport::run("curl -s -f --parallel --parallel-max 4 -K " +
                         testsupport::shell_quote(root / "curl.cfg")) != 0) {
      std::fprintf(stderr, "curl --parallel failed\n");
      std::exit(1);
    }
    best_curl = std::min(best_curl, seconds_since(t));
  };
  auto ours_mixed = [&] {
    const auto t = Clock::now();
    if (!run_streams(jobs, 4, host)) {
      std::fprintf(stderr, "net_check failed on a mixed file\n");
      std::exit(1);
    }
    best_ours = std::min(best_ours, seconds_since(t));
    for (int i = 0; i < files; ++i) {
      const std::string o = out.path() + "o" + std::to_string(i) + ".bin";
      if (file_size(o) != sizes[static_cast<size_t>(i)]) {
        std::fprintf(stderr, "mixed file %d arrived with the wrong size\n", i);
        std::exit(1);
      }
    }
  };
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 0) {
      curl_mixed();
      ours_mixed();
    } else {
      ours_mixed();
      curl_mixed();
    }
    testsupport::run("rm -f " + testsupport::shell_quote(out.path()) + "*.bin");
  }
  print_side("curl --parallel --parallel-max 4", best_curl, mixed_total);
  print_side("net_check, 4 slots, 10 ms slices", best_ours, mixed_total);
  print_ratio(best_ours, best_curl, 0.90);

  std::printf(
      "\nmemory: largest buffers of one download object %zu bytes; peak RSS %ld KiB before the\n"
      "large downloads, %ld KiB after (growth %ld KiB for %lu MiB downloaded)\n",
      g_max_buffers, rss_before, rss_after, rss_after - rss_before, big_mib * static_cast<uint64_t>(rounds));
  return 0;
}
