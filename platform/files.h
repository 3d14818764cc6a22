#pragma once
// The file-system calls of the Linux layer: opening and mapping files,
// deleting, renaming, making folders, permissions, folder listing, free space
// and the system's error texts. Plain declarations only; the system headers
// stay in files.cpp.
//
// Every call that can fail returns 0 or the errno value of the failure, so the
// codes share the number space of error_str.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Opens an existing regular file read-only (never creates, never blocks on a
// FIFO). On success `*fd` holds the descriptor and `*size` the file size in
// bytes. Anything that is not a regular file fails with EINVAL (directories
// EISDIR).
int platform_open_read(const std::string& path, int* fd, uint64_t* size);
void platform_close(int fd);
// Reads up to `n` bytes from the descriptor's position into `buf`, as many as
// there are before the end of the file. 0 or errno; `*got` the bytes read.
int platform_read(int fd, void* buf, size_t n, size_t* got);

// Maps `size` bytes (> 0) of `fd` read-only and shared. `*data` is null on
// failure. Release with platform_unmap and the same size.
int platform_map_read(int fd, uint64_t size, const unsigned char** data);
void platform_unmap(const unsigned char* data, uint64_t size);

// Runs `fn(ctx)`, which reads mapped file data. Unlike a mapping on the
// original platform, a mapped file here can be shortened by another program
// while it is read, and touching the lost pages raises SIGBUS. Inside this
// guard that fault ends `fn` early and the call returns false instead of the
// process dying. `fn` must hold nothing that needs destroying when it is cut
// short (plain loops over the bytes). Any thread; guards may nest.
bool platform_guard_mapped_reads(void (*fn)(void* ctx), void* ctx);

// Removes a file (not a folder) / an empty folder.
int platform_unlink(const std::string& path);
int platform_rmdir(const std::string& path);

// Moves `from` to `to`; fails with EEXIST when `to` exists (never replaces).
int platform_rename_noreplace(const std::string& from, const std::string& to);

// Puts the complete file `from` in the place of `to` (which may exist): its
// bytes are flushed to the disk first and the rename itself after, so a
// crash or a power cut leaves either the old file or the new one. Returns 0
// or errno; on failure `to` is untouched.
int platform_replace_durably(const std::string& from, const std::string& to);

// Creates one folder (the parent must exist), permissions 0777 less umask.
int platform_mkdir(const std::string& path);

struct platform_file_info {
  bool is_dir = false;   // a folder (not through a symbolic link)
  bool is_link = false;  // a symbolic link itself
  unsigned mode = 0;     // permission bits (07777)
  uint64_t size = 0;     // bytes
};
// Facts about the entry itself (a symbolic link is not followed).
int platform_lstat(const std::string& path, platform_file_info* info);
// What tells one version of a file from another without reading it: any
// write changes the ctime, even one that puts the old mtime back.
struct platform_file_identity {
  uint64_t size = 0;
  uint64_t inode = 0;
  int64_t mtime_ns = 0;  // since 1970, in nanoseconds
  int64_t ctime_ns = 0;
};
// The identity of the file `path` names (links followed). 0 or errno;
// anything but a regular file gives EINVAL.
int platform_file_identity_of(const std::string& path, platform_file_identity* id);
// True when `path` names a folder, following symbolic links.
bool platform_is_folder(const std::string& path);
// Sets the permission bits of an entry (never through a symbolic link's
// target: callers check is_link first).
int platform_chmod(const std::string& path, unsigned mode);
// The permission bit that lets the owner write (POSIX S_IWUSR).
extern const unsigned kPlatformOwnerWriteBit;

struct platform_dir_entry {
  std::string name;
  bool is_dir = false;  // a real folder; symbolic links never count as folders
};
// All entries of a folder except "." and "..", in the order the system
// returns them.
int platform_list_folder(const std::string& path, std::vector<platform_dir_entry>* out);

// Bytes available to an unprivileged user on the file system holding `path`.
int platform_free_bytes(const std::string& path, uint64_t* bytes);

// The system's text for an errno value ("Unknown error N" for others).
std::string platform_error_text(int code);
