#pragma once
// The program's own result codes. They share one number space with errno
// values: a call returns 0, one of these or an errno value, and error_str
// turns any of them into the sentence shown to the user. Every code here has a
// text there; a code added without one fails the build (-Werror=switch).
//
// Unscoped with a fixed type so a code still travels as the plain int that
// every disk, archive and network call returns.
#include <cstdint>

enum err_code : int32_t {
  kErrZipOpen = 20001,        // an archive cannot be opened or is not of its format
  kErrZipRead = 20002,        // a member could not be read in full (damaged, wrong checksum, unsafe name)
  kErrZipCreate = 20003,      // an archive cannot be created
  kErrZipWrite = 20004,       // an extracted file was not written in full
  kErrZipForkTooBig = 20005,  // a source file too large to compress
  kErrOpenRead = 20006,       // a file cannot be opened to be read
  kErrNetReconnect = 20007,   // an internal reconnect error
  kErrNetBadState = 20008,    // a connection in a bad state
  kErrNetAlloc = 20009,       // no connection could be allocated
  kErrNetWriteDisk = 20010,   // a download could not be written to disk
  kErrNetNoServer = 20011,    // the server's name did not resolve
  kErrZipForkHeader = 20012,  // a damaged part of a downloaded archive
  kErrNetSecure = 20013,      // an https:// server's certificate or TLS handshake was refused
};

// The first and last of the program's codes.
inline constexpr int32_t kErrFirstOwn = kErrZipOpen;
inline constexpr int32_t kErrLastOwn = kErrNetSecure;
