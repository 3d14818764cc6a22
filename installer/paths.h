#pragma once
// Path helpers shared by the installer. Paths are byte strings with '/' as
// separator; folder paths end in '/'.
#include <string>
#include <string_view>

// Last component of a path: the text after the last '/' or '\'; a separator at
// the very end is stepped over ("a/b/" gives "b/").
std::string get_file_with_path(std::string_view path);

// Folder of a path: the path without its last component, trailing separator
// kept ("a/b/c.txt" gives "a/b/"). A path of three characters or fewer is its
// own folder.
std::string path_folder(std::string_view path);

// 1 when the last character of the path is '/' (an empty path names no file
// either), else 0.
int path_has_no_file(std::string_view path);

// Removes everything up to and including the first '/' (the master folder of
// a manifest path); a path without '/' is left unchanged.
void trim_dest_folder(std::string& path);

// True when a manifest path (master folder included) is safe to act on below
// the destination and the server directory: no ".." component, no '\', and a
// relative remainder after the master folder (no empty first component).
bool manifest_path_is_safe(std::string_view full_path);
