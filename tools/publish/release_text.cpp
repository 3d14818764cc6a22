#include "tools/publish/release_text.h"

#include <algorithm>

namespace publish {

namespace {

constexpr const char* kPackNames[] = {"900 red terrain", "Earth Orbit Textures"};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool names_pack(const std::string& text) {
  for (const char* p : kPackNames) {
    if (text.find(p) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

int64_t kb_of(uint64_t bytes) {
  return static_cast<int64_t>((bytes + 999) / 1000);
}

std::string check_manifest_path(const std::string& path) {
  if (path.find('\\') != std::string::npos) return "the name holds a backslash (\"\\\")";
  if (path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return "the name holds a line end";
  if (path.find('/') == std::string::npos) return "files must be inside a master folder, not at the top";
  if (is_blank(path.front())) return "the master folder's name starts with a blank";
  return "";
}

std::string dir_prefix_for(const std::string& path) {
  const bool pack = names_pack(path);
  size_t cut = path.rfind('/');
  while (cut != std::string::npos) {
    const std::string text = path.substr(cut + 1);
    if (!text.empty() && !is_blank(text.front()) && (!pack || names_pack(text)))
      return path.substr(0, cut + 1);
    if (cut == 0) break;
    cut = path.rfind('/', cut - 1);
  }
  return "";
}

std::string manifest_text(std::vector<manifest_entry> entries) {
  struct keyed {
    std::string dir;
    const manifest_entry* e;
  };
  std::vector<keyed> order;
  order.reserve(entries.size());
  for (const manifest_entry& e : entries) order.push_back({dir_prefix_for(e.path), &e});
  std::sort(order.begin(), order.end(), [](const keyed& a, const keyed& b) {
    if (a.dir != b.dir) return a.dir < b.dir;  // "" first: rows before any DIR line
    return a.e->path < b.e->path;
  });

  std::string out = "I\n900\nINSTALLER\n\n";
  std::string crt_dir;
  for (const keyed& k : order) {
    if (k.dir != crt_dir) {
      out += "DIR " + k.dir + "\n";
      crt_dir = k.dir;
    }
    const std::string text = k.e->path.substr(k.dir.size());
    for (const manifest_row& r : k.e->versions) {
      out += "FILE " + std::to_string(r.use_type) + " " + std::to_string(r.os_type) + " " +
             std::to_string(r.version_num) + " " + std::to_string(r.down_kb) + " " +
             std::to_string(r.disk_kb) + " " + r.sig + " " + text + "\n";
    }
  }
  return out;
}

std::string server_list_text(const std::string& release, const std::vector<mirror_spec>& mirrors) {
  std::string out = "I\n820\nSERVERS\n\nFINAL " + release + "\n\n";
  for (const mirror_spec& m : mirrors) {
    out += "SERVER " + m.host + "\n" + m.directory + "\n" + m.description + "\n\n";
  }
  out += "ENDOFLIST\n";
  return out;
}

}  // namespace publish
