#pragma once
// Signed releases: the release keys this run trusts, and what a signed server
// list or manifest must show before it is used. The publisher signs
// serverlist9.txt and each mirror's directory.txt.zip with minisign
// (signatures "<file>.minisig" beside them) and the trusted comment
// "time=<unix seconds> release=<FINAL name>", one time per publication.
//
// Keys: those of keys/*.pub, built into the program; --release_key=FILE
// replaces them for one run; --release_key=none accepts unsigned releases.
// Main thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "io/minisign.h"

// The key files of keys/*.pub as built in: file name and text.
struct built_in_key_file {
  const char* name;
  const char* text;
};
extern const built_in_key_file kBuiltInReleaseKeys[];
extern const size_t kBuiltInReleaseKeyCount;

struct release_keys {
  bool check = true;               // false for --release_key=none
  std::vector<minisign_key> keys;  // empty while checking: nothing verifies
  std::string source;              // "built-in", the FILE given, or "none"
  std::string error;               // why no key could be read, or empty
};
// The keys in force, read on first use from --release_key or the built-in
// files (logged once, and the unchecked mode with one line).
const release_keys& release_keys_in_force();
// Forgets what release_keys_in_force read (a test changes the option).
void release_keys_reset();

// "time=<seconds> release=<name>".
std::string release_comment(int64_t time, const std::string& release);
// Splits a trusted comment of that form; false for any other text.
bool parse_release_comment(const std::string& comment, int64_t& time, std::string& release);

struct release_check {
  bool ok = false;
  std::string why;  // the reason for the log and the alert when not ok
  int64_t time = 0;
};
// Checks `file_path` against its signature `sig_path` (empty: there is none)
// with the keys in force: the signature must verify and its trusted comment
// name `release`. `what` names the signature in the reasons
// ("serverlist9.txt.minisig").
release_check check_release_signature(const std::string& file_path, const std::string& sig_path,
                                      const std::string& release, const std::string& what);
