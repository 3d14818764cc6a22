#include "installer/paths.h"

std::string get_file_with_path(std::string_view path) {
  if (path.empty()) return {};
  // Step over a separator at the very end so a folder path names its folder.
  size_t search_end = path.size() - 1;
  if (search_end > 0 && (path[search_end] == '/' || path[search_end] == '\\')) --search_end;
  const size_t cut = path.find_last_of("/\\", search_end);
  if (cut == std::string_view::npos) return std::string(path);
  return std::string(path.substr(cut + 1));
}

std::string path_folder(std::string_view path) {
  if (path.size() <= 3) return std::string(path);
  const std::string last = get_file_with_path(path);
  return std::string(path.substr(0, path.size() - last.size()));
}

int path_has_no_file(std::string_view path) {
  return path.empty() || path.back() == '/' ? 1 : 0;
}

void trim_dest_folder(std::string& path) {
  const size_t slash = path.find('/');
  if (slash != std::string::npos) path.erase(0, slash + 1);
}

bool manifest_path_is_safe(std::string_view full_path) {
  if (full_path.find('\\') != std::string_view::npos) return false;
  // Every component, master folder included: the full path is also used on the
  // server and on the disc.
  size_t start = 0;
  while (start <= full_path.size()) {
    size_t end = full_path.find('/', start);
    if (end == std::string_view::npos) end = full_path.size();
    if (full_path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  // Below the master folder the path must be relative: "M//etc/x" would
  // otherwise name a path with an empty component right under the destination.
  const size_t slash = full_path.find('/');
  const std::string_view rel = slash == std::string_view::npos ? full_path : full_path.substr(slash + 1);
  return !rel.empty() && rel.front() != '/';
}
