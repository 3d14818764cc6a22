#pragma once
// Archive expansion: zip archives (the manifest, and every product file outside
// the global scenery) and 7z archives (the global scenery files) expanded into
// a folder.
//
// The calls return 0 on success or a result code that error_str turns into a
// sentence: kErrZipOpen the archive cannot be opened or is not of its format,
// kErrZipRead a member could not be read in full (damaged data, wrong
// checksum in a 7z archive, a member name that would write outside the
// destination folder, or an archive of one product file that is not that
// file), kErrZipWrite an extracted file was not written in full, 12 out of
// memory, a C library errno (a file or folder could not be created), or one of
// minizip's negative codes (UNZ_CRCERROR -105 and friends) for a damaged zip
// member. Nothing is shown to the user here; failures are written to the log.
//
// Safety on this platform:
// - a member whose name is absolute, holds a ".." component or a backslash is
//   refused (kErrZipRead and a log line); nothing is written for it;
// - symbolic-link members and Mac resource-fork members ("__MACOSX/...") are
//   written as nothing and do not fail;
// - every file is written under a temporary name next to its final place
//   (NAME.skyvane-part, or .skyvane-N.skyvane-part in the same folder when
//   NAME is too long for the suffix) and renamed over the old file only once
//   it is complete, so a failed or interrupted expansion never leaves a
//   half-written file in place of a good one (a stale "*.skyvane-part" file
//   may remain after a crash).
// - a member stored with an executable mode keeps its execute bits.
//
// Files written before a failing member stay on disk. The archive itself is
// never deleted here. Folder entries of a zip archive are created; file
// entries never create their folders (the destination's folders come from the
// manifest), so a file whose folder does not exist fails with errno 2.
#include <cstdint>
#include <string>

// The suffix that marks a file being written; it is renamed away on success.
inline constexpr const char* kArchivePartSuffix = ".skyvane-part";

// Expands the zip archive `zip_file` into `out_directory` (a folder path ending
// in '/'; paths are used unchanged).
// `out_file`: null, or receives the name of the first member as stored in the
// archive. `force_name`: when non-zero every file is written as
// out_directory + the name *out_file held on entry, instead of its own name
// (out_file must then be given).
int zip_to_file(const std::string& zip_file, const std::string& out_directory, std::string* out_file,
                int force_name);

// Expands the 7z archive `zip_file` into `out_directory` (ending in '/').
// The archive is read as a stream, block by block, never whole into memory.
// `out_file`: null, or receives the full output path of each file written (so
// the last one remains). `force_name` as for zip_to_file. A missing archive
// gives errno 2; a file that is not a readable 7z archive gives kErrZipOpen.
// Folder items are skipped and no folders are created.
int p7z_to_file(const std::string& zip_file, const std::string& out_directory, std::string* out_file,
                int force_name);

// What the archive of one product file must hold: exactly one member, an
// ordinary file named `name`, of at most `max_bytes` bytes and, when `md5` is
// not empty, with that signature.
struct archive_one_file {
  std::string name;  // the file's own name, no folder
  std::string md5;   // its published signature; empty: not checked
  uint64_t max_bytes = UINT64_MAX;
};

// Expand the archive of one product file to exactly `out_path` (a file path;
// used unchanged). Any other member (another name, a folder, a link, a
// device, a second member), no member, a file longer than want.max_bytes or
// one with another signature makes the archive damaged: kErrZipRead, logged,
// nothing renamed into place, so the file at `out_path` stays as it was. The
// bytes are signed as they are written, never read again. Other results as
// for zip_to_file and p7z_to_file.
int zip_to_one_file(const std::string& zip_file, const std::string& out_path, const archive_one_file& want);
int p7z_to_one_file(const std::string& zip_file, const std::string& out_path, const archive_one_file& want);

// True when `name` (an archive member name, '/'-separated) may be written below
// a destination folder: not empty, not absolute, no ".." component, no
// backslash, no NUL byte.
bool archive_member_name_is_safe(const std::string& name);
