#pragma once
// TLS (1.2 or later) over a connected non-blocking TCP socket, through
// OpenSSL. Nothing here waits: every step does what it can at once and says
// which direction it waits for. The peer's certificate is checked against the
// system's trust store (OpenSSL's default paths; SSL_CERT_FILE and
// SSL_CERT_DIR replace them) and against the host name or IP address asked for.
#include <cstddef>
#include <memory>
#include <string>

enum class tls_result {
  ok,          // done (a read or write moved the bytes it returns)
  want_read,   // nothing more now: wait for the socket to become readable
  want_write,  // nothing more now: wait for the socket to become writable
  closed,      // the peer ended the stream (close_notify or end of stream)
  sys_error,   // the socket failed: `tls_session::sys_errno` holds the errno
  error,       // a TLS failure: `tls_session::error_text` says what
};

class tls_session {
 public:
  // A client session over `fd` for `host` (a name, or an IPv4/IPv6 literal
  // without brackets): SNI names a host name, the certificate must name it.
  // A session that could not be set up fails its first handshake step.
  tls_session(int fd, const std::string& host);
  ~tls_session();
  tls_session(const tls_session&) = delete;
  tls_session& operator=(const tls_session&) = delete;

  // One step of the handshake: ok once it is done.
  tls_result handshake();
  // Decrypted bytes: `*moved` bytes read (ok), else the reason none were.
  // Reads every record waiting, up to `len`; a failure met after some bytes
  // is given by the next call.
  tls_result read(void* buf, size_t len, size_t* moved);
  // Bytes to encrypt and send; a write after want_* repeats at least the
  // bytes not yet taken (the buffer may have moved).
  tls_result write(const void* buf, size_t len, size_t* moved);
  // Sends close_notify if it can, without waiting for the peer's.
  void close_notify();

  // Why the last step failed: the certificate check's verdict when the
  // certificate was refused, else OpenSSL's error queue.
  const std::string& error_text() const { return error_; }
  int sys_errno() const { return errno_; }

 private:
  tls_result result_of(int ret);
  struct impl;
  std::unique_ptr<impl> p_;
  std::string error_;
  int errno_ = 0;
};
