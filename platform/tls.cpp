// TLS sessions through OpenSSL over the socket layer's descriptors.
#include "platform/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace {

// The socket under a session. OpenSSL's own socket BIO writes without
// MSG_NOSIGNAL, so a peer that resets the stream would raise SIGPIPE; this one
// sends and receives as the socket layer does.
struct fd_bio {
  int fd = -1;
  int last_errno = 0;  // of the last failed send or receive
  bool eof = false;    // a receive returned 0: the peer closed its side
};

int bio_write(BIO* b, const char* data, int len) {
  auto* s = static_cast<fd_bio*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  const ssize_t n = ::send(s->fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return static_cast<int>(n);
  s->last_errno = errno;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(b);
  return -1;
}

int bio_read(BIO* b, char* data, int len) {
  auto* s = static_cast<fd_bio*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  const ssize_t n = ::recv(s->fd, data, static_cast<size_t>(len), MSG_DONTWAIT);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) {
    s->eof = true;
    return 0;
  }
  s->last_errno = errno;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_read(b);
  return -1;
}

long bio_ctrl(BIO* b, int cmd, long, void*) {
  if (cmd == BIO_CTRL_FLUSH) return 1;
  if (cmd == BIO_CTRL_EOF) return static_cast<fd_bio*>(BIO_get_data(b))->eof ? 1 : 0;
  return 0;
}

int bio_create(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* fd_bio_method() {
  static BIO_METHOD* m = [] {
    BIO_METHOD* meth = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "skyvane socket");
    BIO_meth_set_write(meth, bio_write);
    BIO_meth_set_read(meth, bio_read);
    BIO_meth_set_ctrl(meth, bio_ctrl);
    BIO_meth_set_create(meth, bio_create);
    return meth;
  }();
  return m;
}

std::string queue_text() {
  std::string text;
  while (const unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text;
}

// One client context for every session, made again when SSL_CERT_FILE or
// SSL_CERT_DIR changes: loading the trust store once keeps each new
// connection cheap, and a changed store is still honoured.
struct shared_context {
  std::mutex m;
  SSL_CTX* ctx = nullptr;
  std::string file, dir;
};

std::string env_text(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

SSL_CTX* client_context(std::string* why) {
  static shared_context shared;
  std::lock_guard<std::mutex> lock(shared.m);
  const std::string file = env_text("SSL_CERT_FILE"), dir = env_text("SSL_CERT_DIR");
  if (shared.ctx && file == shared.file && dir == shared.dir) return shared.ctx;
  SSL_CTX_free(shared.ctx);  // sessions made from it hold their own reference
  shared.ctx = nullptr;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(ctx) != 1) {
    *why = "the TLS context could not be set up: " + queue_text();
    SSL_CTX_free(ctx);
    return nullptr;
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // The HTTP framing tells a cut body; a server that skips close_notify is common.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  shared.ctx = ctx;
  shared.file = file;
  shared.dir = dir;
  return ctx;
}

bool is_ip_literal(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

struct tls_session::impl {
  SSL* ssl = nullptr;
  fd_bio io;
  tls_result held = tls_result::ok;  // a failure met after a read's first bytes
};

tls_session::tls_session(int fd, const std::string& host) : p_(std::make_unique<impl>()) {
  ERR_clear_error();
  SSL_CTX* ctx = client_context(&error_);
  if (!ctx) return;
  p_->ssl = SSL_new(ctx);
  BIO* bio = p_->ssl ? BIO_new(fd_bio_method()) : nullptr;
  if (!bio) {
    error_ = "the TLS session could not be set up: " + queue_text();
    return;
  }
  p_->io.fd = fd;
  BIO_set_data(bio, &p_->io);
  SSL_set_bio(p_->ssl, bio, bio);
  bool named = true;
  if (is_ip_literal(host)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(p_->ssl), host.c_str()) == 1;
  } else {
    named = SSL_set_tlsext_host_name(p_->ssl, host.c_str()) == 1 && SSL_set1_host(p_->ssl, host.c_str()) == 1;
  }
  if (!named) {
    error_ = "the host name " + host + " cannot be checked: " + queue_text();
    SSL_free(p_->ssl);
    p_->ssl = nullptr;
    return;
  }
  SSL_set_connect_state(p_->ssl);
}

tls_session::~tls_session() {
  SSL_free(p_->ssl);  // frees the BIO as well
}

tls_result tls_session::result_of(int ret) {
  const int e = SSL_get_error(p_->ssl, ret);
  switch (e) {
    case SSL_ERROR_WANT_READ:
      return tls_result::want_read;
    case SSL_ERROR_WANT_WRITE:
      return tls_result::want_write;
    case SSL_ERROR_ZERO_RETURN:
      return tls_result::closed;
    case SSL_ERROR_SYSCALL:
      if (p_->io.last_errno != 0 && !p_->io.eof) {
        ERR_clear_error();
        errno_ = p_->io.last_errno;
        return tls_result::sys_error;
      }
      if (ERR_peek_error() == 0) return tls_result::closed;
      break;
    default:
      break;
  }
  const long verdict = SSL_get_verify_result(p_->ssl);
  const std::string queue = queue_text();
  if (verdict != X509_V_OK) {
    error_ = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict);
  } else {
    error_ = queue.empty() ? "TLS failure " + std::to_string(e) : queue;
  }
  return tls_result::error;
}

tls_result tls_session::handshake() {
  if (!p_->ssl) {
    if (error_.empty()) error_ = "no TLS session";
    return tls_result::error;
  }
  ERR_clear_error();
  p_->io.last_errno = 0;
  const int ret = SSL_do_handshake(p_->ssl);
  return ret == 1 ? tls_result::ok : result_of(ret);
}

tls_result tls_session::read(void* buf, size_t len, size_t* moved) {
  *moved = 0;
  if (!p_->ssl) return tls_result::error;
  if (p_->held != tls_result::ok) return std::exchange(p_->held, tls_result::ok);
  // One record is at most 16 kB: reading on while more are waiting moves as
  // much per call as a plain socket's read, which keeps an encrypted
  // download's passes as few as a plain one's.
  auto* out = static_cast<unsigned char*>(buf);
  while (*moved < len) {
    ERR_clear_error();
    p_->io.last_errno = 0;
    size_t got = 0;
    if (SSL_read_ex(p_->ssl, out + *moved, len - *moved, &got) == 1) {
      *moved += got;
      continue;
    }
    const tls_result r = result_of(0);
    if (*moved == 0) return r;
    // Waiting is asked again by the next read; an end or a failure is not.
    if (r != tls_result::want_read && r != tls_result::want_write) p_->held = r;
    break;
  }
  return tls_result::ok;
}

tls_result tls_session::write(const void* buf, size_t len, size_t* moved) {
  *moved = 0;
  if (!p_->ssl) return tls_result::error;
  ERR_clear_error();
  p_->io.last_errno = 0;
  if (SSL_write_ex(p_->ssl, buf, len, moved) == 1) return tls_result::ok;
  return result_of(0);
}

void tls_session::close_notify() {
  if (!p_->ssl || !SSL_is_init_finished(p_->ssl)) return;
  ERR_clear_error();
  (void)SSL_shutdown(p_->ssl);  // one attempt; the peer's answer is not waited for
  ERR_clear_error();
}
