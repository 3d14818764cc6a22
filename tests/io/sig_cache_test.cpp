// The signature cache file: what it takes for a record to vouch for a file,
// and every way a cache file is refused whole.
#include "io/sig_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

constexpr int64_t kSecond = 1000000000;
const std::string kSig = "0123456789abcdef0123456789abcdef";

sig_record record_of(const std::string& rel, const platform_file_identity& id) {
  sig_record r;
  r.path_hash = sig_path_hash(rel);
  r.id = id;
  EXPECT_TRUE(sig_record_set_md5(r, kSig));
  return r;
}

// A record vouches for a file only while every part of its identity is
// unchanged and its last change is well before the cache was written.
TEST(SigCache, ARecordVouchesOnlyForTheSameUnchangedFile) {
  TempDir dir;
  const std::string dest = "/somewhere/Skyvane 9/", file = dir / "c.sigs";
  platform_file_identity old;
  old.size = 4096;
  old.inode = 77;
  old.mtime_ns = 1000 * kSecond;
  old.ctime_ns = 1000 * kSecond + 5;
  std::vector<sig_record> records = {record_of("Resources/a.txt", old), record_of("b.dat", old)};
  ASSERT_EQ(sig_cache_save(file, dest, records), 0);

  sig_cache cache;
  ASSERT_EQ(cache.load(file, dest, sig_cache_bound(dest, 2)), "");
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache.lookup("Resources/a.txt", old), kSig);
  EXPECT_EQ(cache.lookup("b.dat", old), kSig);

  struct Case {
    const char* name;
    std::string rel;
    std::function<void(platform_file_identity&)> change;
  };
  const std::vector<Case> cases = {
      {"another path", "Resources/c.txt", [](platform_file_identity&) {}},
      {"another size", "b.dat", [](platform_file_identity& i) { i.size += 1; }},
      {"another inode (replaced)", "b.dat", [](platform_file_identity& i) { i.inode += 1; }},
      {"another mtime", "b.dat", [](platform_file_identity& i) { i.mtime_ns += 1; }},
      {"mtime put back, ctime moved", "b.dat", [](platform_file_identity& i) { i.ctime_ns += kSecond; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_file_identity now = old;
    c.change(now);
    EXPECT_EQ(cache.lookup(c.rel, now), "");
  }

  // A file changed just before the cache was written may have changed again
  // within the same timestamp: it is read, whatever its record says. One
  // changed 3 s before is trusted.
  write_file(dir / "now", "x");
  platform_file_identity now, recent = old, settled = old;
  ASSERT_EQ(platform_file_identity_of(dir / "now", &now), 0);
  recent.ctime_ns = now.ctime_ns;
  settled.ctime_ns = now.ctime_ns - 3 * kSecond;
  ASSERT_EQ(sig_cache_save(file, dest, {record_of("recent", recent), record_of("settled", settled)}), 0);
  ASSERT_EQ(cache.load(file, dest, sig_cache_bound(dest, 2)), "");
  EXPECT_EQ(cache.lookup("recent", recent), "");
  EXPECT_EQ(cache.lookup("settled", settled), kSig);
}

// A cache that is not whole, not this version's, not this folder's or too
// large is refused whole, and says why.
TEST(SigCache, AnyDoubtfulCacheIsRefusedWhole) {
  TempDir dir;
  const std::string dest = "/home/u/Skyvane 9/", file = dir / "c.sigs";
  platform_file_identity id;
  id.size = 1;
  std::vector<sig_record> records;
  for (int i = 0; i < 10; ++i) records.push_back(record_of("f" + std::to_string(i), id));
  ASSERT_EQ(sig_cache_save(file, dest, records), 0);
  const std::string good = read_file(file);
  const size_t header = 8 + 4 + 4 + dest.size() + 8;
  ASSERT_EQ(good.size(), header + 10 * sizeof(sig_record) + 4);

  struct Case {
    const char* name;
    std::string bytes;  // written as the cache; empty: no file
    std::string dest;
    size_t files;  // for the size bound
    std::string why;
  };
  std::string flipped = good, version = good, count = good;
  flipped[header + 3 * sizeof(sig_record) + 20] ^= 1;
  version[8] = 9;
  count[header - 8] = 11;
  const std::vector<Case> cases = {
      {"whole", good, dest, 10, ""},
      {"missing", "", dest, 10, "there is none"},
      {"garbage", std::string(500, 'x'), dest, 10, "it is not a signature cache"},
      {"cut short", good.substr(0, good.size() - 30), dest, 10, "it is damaged"},
      {"a byte changed", flipped, dest, 10, "it is damaged"},
      {"another count", count, dest, 10, "it is damaged"},
      {"another version", version, dest, 10, "it is of another version"},
      {"another folder", good, "/home/u/Skyvane 8/", 10, "it is of another folder"},
      {"larger than the manifest allows", good + std::string(70 * sizeof(sig_record), '\0'), dest, 10,
       "it is larger than " + std::to_string(sig_cache_bound(dest, 10)) + " bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(file.c_str());
    if (!c.bytes.empty()) write_file(file, c.bytes);
    sig_cache cache;
    EXPECT_EQ(cache.load(file, c.dest, sig_cache_bound(c.dest, c.files)), c.why);
    EXPECT_EQ(cache.size(), c.why.empty() ? 10u : 0u);
  }
}

}  // namespace
