#pragma once
// The signature cache: what an examination learnt about each file of one
// destination (its identity on the disk and its signature), so that a later
// start takes the signature of an unchanged file without reading it, the way
// version-control indexes and rsync's quick check skip unchanged files.
//
// One file per destination, named after the destination's absolute path.
// Layout, in this machine's byte order (the version word tells another
// order apart):
//   "SKYVSIGS" | uint32 version | uint32 destination length | destination
//   | uint64 record count | records, sorted by path hash | uint32 CRC-32 of
//   every byte before it.
// A record holds the 64-bit hash of the file's path relative to the
// destination rather than the path itself, which keeps the cache at 56
// bytes per file in memory. Two paths of one hash can only be confused when
// their inode, size and both times agree too: then they are the same file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

struct sig_record {
  uint64_t path_hash = 0;
  platform_file_identity id;
  unsigned char md5[16] = {};
};

// The hash a record keeps of a path relative to the destination (FNV-1a).
uint64_t sig_path_hash(std::string_view rel);

// Sets the record's signature from its 32-digit text; false (and nothing
// set) for any other text, such as "NONE".
bool sig_record_set_md5(sig_record& r, const std::string& sig);

// A change this close to the cache's own writing may share a timestamp with
// it (coarse file systems keep 1 or 2 s): such a file is signed again.
inline constexpr int64_t kSigCacheSettleNs = 2000000000;

class sig_cache {
 public:
  // Forgets what was loaded, then reads `file` as the cache of `dest`. An
  // empty result: loaded. Otherwise the cache stays empty and the text says
  // why, for the log: missing, larger than `max_bytes`, of another format
  // version or destination, or damaged.
  std::string load(const std::string& file, const std::string& dest, uint64_t max_bytes);

  // The recorded signature of the file at `rel` when `id` equals its record
  // and its last change (ctime) is at least kSigCacheSettleNs older than the
  // cache file's writing; else empty: the file must be read.
  std::string lookup(std::string_view rel, const platform_file_identity& id) const;

  size_t size() const { return records_.size(); }

 private:
  std::vector<sig_record> records_;  // sorted by path_hash
  int64_t written_ns_ = 0;           // the cache file's mtime
};

// Writes `records` (any order) as the cache of `dest` to `file`: a new file
// beside it first, renamed into place, so a reader sees the old cache or the
// new one. The folder is made when missing. 0 or errno.
int sig_cache_save(const std::string& file, const std::string& dest, std::vector<sig_record> records);

// The cache file of destination `dest` (absolute) in `folder` (ending in '/').
std::string sig_cache_file(const std::string& folder, const std::string& dest);

// The most bytes a sane cache of `files` records for `dest` can have.
uint64_t sig_cache_bound(const std::string& dest, size_t files);
