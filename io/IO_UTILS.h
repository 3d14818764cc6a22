#pragma once
// File and folder operations and the shared error texts.
//
// Every disk call returns 0 on success or an error code; nothing here shows a
// message (except the fatal path-form alerts). Codes share one number space:
// the program's own codes (util/error_codes.h), and on this platform errno values,
// which also stand where the system's error codes would. error_str turns any
// of them into the sentence shown to the user.
#include <cstdint>
#include <string>
#include <vector>

#include "util/error_codes.h"  // the program's own codes

struct error_msg_info {
  int32_t err;
  const char* msg;  // null in the closing record
};
// Every code with a text of its own: the errno values the table words
// itself, then the program's codes. Searched from the start; the first
// record with the code wins.
extern const error_msg_info kErrMsgs[];

// The text for any result code: the program's own text; for a system code
// the system's own text (the table's row only where it is that text with
// advice added, as for a full disk: the table's numbers are another C
// library's, and on Linux some of them name other errors).
std::string error_str(int code);

// Where the calling thread's last failing call of this module gave up (for
// log lines; per thread, as archives are expanded on workers).
extern thread_local const char* sErrFile;  // "IO_UTILS"
extern thread_local int sErrLine;

// Deletes app_path + `path`: a path ending in '/' removes that (empty)
// folder, any other path a file. An empty path gives 2. A write-protected
// file is not unlocked here.
int delete_file(std::string path);

// Gives the owner write permission back when it is missing (the write
// protection the installer clears before replacing or deleting a file).
// Symbolic links are left alone. 0 also when nothing had to change.
int unlock_file(const std::string& path);

// Moves `folder` + `old_name` to `folder` + `new_name` (plain concatenation).
// Fails with EEXIST when the target exists; never replaces anything.
int rename_file(const std::string& folder, const std::string& old_name, const std::string& new_name);

// Creates one folder (one trailing '/' removed; the parent must exist).
// An existing folder gives EEXIST (17); an existing entry that is not a
// folder gives ENOTDIR, which is a real failure.
int make_folder(const std::string& inFolder);

// Always 0: failed deletes are never reported through it.
int show_del_err(int code);
// 0 when `code` means success or an existing folder (0, 183, 17), else 1.
int show_make_dir_err(int code);

// Lists the folder app_path + `wrk_path` (which must end in '/' when it has
// four or more characters: otherwise a fatal alert). Entries accepted by
// opensave_takeit with `file_type` fill the two vectors in parallel, sorted
// by name compared byte by byte in lower case (a prefix first). Type codes:
// 1 folder, 0 file, or the code of the name's ending. Returns the count; a
// missing folder gives 0. Filters 20 and 21 do not read the disk: 20 lists
// nothing, 21 the command registry's names below `wrk_path` (sub-paths
// without their trailing '/', type 1).
int opensave_getitems(const std::string& wrk_path, int file_type, std::vector<std::string>& out_files,
                      std::vector<int32_t>& out_file_types);

// Accepts (1) or drops (0) one listed entry; may replace `*io_file_type` by
// the type code of the name's ending. Names that are empty or start with '.'
// are always dropped.
int opensave_takeit(const std::string& in_work_path, const std::string& in_file_name, int req_file_type,
                    int32_t* io_file_type);

// The name order of listings: byte by byte with letters in lower case; a
// name that is a prefix of another sorts first. True when a sorts before b.
bool opensave_name_less(const std::string& a, const std::string& b);

// Free space for an unprivileged user on the disk that holds `path`, in
// bytes. A path that does not exist yet is measured at its nearest existing
// ancestor folder. Returns 0 or an error code (bytes 0 then).
int disk_free_bytes(const std::string& path, uint64_t* bytes);
// The same in kilobytes of 1000 bytes, the unit of the manifest's sizes;
// -1 when it cannot be measured.
float disk_free_kb(const std::string& path);
