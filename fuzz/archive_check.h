#pragma once
// The shared body of the two archive targets: the input is written as the
// archive, expanded into box/out/ below the scratch folder, and the scratch
// folder is then compared with what may be there.
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_support.h"

// `member_names(archive)` lists the archive's own member names (a product
// file may itself be called "X.skyvane-part"); only other such names are
// leftovers of the expander.
template <typename Expand, typename Names>
int fuzz_expand(const uint8_t* data, size_t size, const char* archive_name, Expand expand,
                Names member_names) {
  fuzzsupport::init();
  const std::string& root = fuzzsupport::scratch();
  const std::string archive = root + archive_name;
  const std::string box = root + "box/";
  const std::string out = box + "out/";
  fuzzsupport::remove_tree(box);
  fuzzsupport::make_dirs(out);
  fuzzsupport::write_file(archive, data, size);

  expand(archive, out);
  const std::set<std::string> members = member_names(archive);

  // Everything under the scratch root must be the archive, box/ and what is in
  // box/out/.
  for (const std::string& e : fuzzsupport::list_entries(root)) {
    if (e == archive_name || e == "box/" || e == "box/out/") continue;
    if (e.rfind("box/out/", 0) != 0) fuzzsupport::fail("written outside the destination folder: " + e);
    if (e.back() == '@') fuzzsupport::fail("symbolic link created: " + e);
    if (e.size() > 13 && e.compare(e.size() - 13, 13, ".skyvane-part") == 0 && !members.count(e.substr(8)))
      fuzzsupport::fail("temporary part file left: " + e);
  }
  fuzzsupport::take_alert_count();
  return 0;
}
