#pragma once
// Writes the archive of one product file while signing it, so each file is
// read once: a zip archive (deflate, through minizip's zip calls) or a 7z
// archive (LZMA2, through libarchive's 7z writer). Either holds the one file
// under its own name (the last component of its path), with its execute bits,
// and a fixed time stamp so that the same input gives the same archive.
#include <cstdint>
#include <string>

namespace publish {

enum class archive_kind { zip, seven_zip };

struct packed_file {
  std::string sig;             // MD5 text of the source's contents
  uint64_t file_bytes = 0;     // bytes read from the source
  uint64_t archive_bytes = 0;  // size of the archive written
};

// Reads `source`, signs it and writes `archive_path` holding it as
// `member_name`. Returns an empty string on success, else what failed.
std::string pack_file(const std::string& source, const std::string& member_name, bool executable,
                      archive_kind kind, const std::string& archive_path, packed_file& out);

// Signs `source` only (for files whose archive may be reused).
std::string sign_file(const std::string& source, std::string& sig, uint64_t& bytes);

// Writes `bytes` as a zip archive holding one member (the manifest).
std::string write_zip_bytes(const std::string& archive_path, const std::string& member_name,
                            const std::string& bytes);

// The 7z compression the publisher uses, for its report ("LZMA2 via libarchive").
const char* seven_zip_method();

}  // namespace publish
