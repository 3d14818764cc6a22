#pragma once
// Publishing one release: scans the product folder, signs and compresses every
// file on all cores, continues the previous release's version history, and
// writes the release folders, the manifest and the server list under the
// output folder. The server list is written last (by rename), so a server
// that already serves the output folder never names a half-written release.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/publish/options.h"

namespace publish {

struct publish_report {
  size_t files = 0;         // files in the product
  size_t packed = 0;        // archives written
  size_t reused = 0;        // archives taken unchanged from the previous release
  size_t new_versions = 0;  // history rows added for changed or new files
  size_t gone = 0;          // "GONE" rows added for files removed since the previous release
  int version = 0;          // the version number of this release's rows
  uint64_t bytes_in = 0;    // bytes read from the product
  uint64_t bytes_out = 0;   // bytes of archives written
  double seconds = 0.0;     // wall time of the whole publish
  unsigned threads = 0;
  std::vector<std::string> release_folders;  // one per distinct mirror directory
};

// Publishes as `o` says. Returns an empty string on success, else the reason
// (several lines when the product holds several unpublishable names). Notes
// and warnings go to `log`.
std::string publish_release(const options& o, publish_report& report, std::ostream& log);

}  // namespace publish
