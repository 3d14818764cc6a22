#pragma once
// The publisher's command line:
//   skyvane-publish --product DIR --release NAME --out DIR
//                   --mirror "HOST[:PORT]|/DIRECTORY/|DESCRIPTION" [--mirror ...]
//                   [--previous DIR] [--platforms FILE] [--sign SECRET_KEY_FILE]
#include <string>
#include <vector>

namespace publish {

struct mirror_spec {
  std::string host;         // HOST or HOST:PORT, as the server list names it
  std::string directory;    // starts and ends with '/'
  std::string description;  // one line shown next to the server's button
};

struct options {
  std::string product;  // folder whose first level holds the master folders; ends in '/'
  std::string release;  // release name: the FINAL line and the release folder's name
  std::string out;      // root of the static HTTP server to fill; ends in '/'
  std::vector<mirror_spec> mirrors;
  std::string previous;   // earlier --out folder whose manifest continues, or empty
  std::string platforms;  // rules file, or empty (every file gets platform 0)
  std::string sign;       // unencrypted minisign secret key file, or empty (nothing signed)
  bool help = false;
};

// Most servers the installer's server table holds.
inline constexpr size_t kMaxMirrors = 10;

// Parses argv[1..]. On a usage error returns false with a message in `error`.
bool parse_options(int argc, const char* const* argv, options& out, std::string& error);

// Parses one --mirror value. Returns an empty string when it is usable, else
// why not.
std::string parse_mirror(const std::string& text, mirror_spec& out);

// Empty when `name` can be a release name (a folder on the servers and the
// installation folder's new name, and the rest of a FINAL line), else why not.
std::string check_release_name(const std::string& name);

const char* usage_text();

}  // namespace publish
