#include "platform/sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

sock_err_kind sock_classify(int err, bool sending) {
  if (err == EWOULDBLOCK || err == EAGAIN || err == EINTR) return sock_err_kind::would_block;
  switch (err) {
    case ECONNABORTED:
    case ECONNRESET:
    case ENOTCONN:
    case ETIMEDOUT:
      return sock_err_kind::disconnected;
    case EPIPE:
    case ESHUTDOWN:
      return sending ? sock_err_kind::disconnected : sock_err_kind::other;
    default:
      return sock_err_kind::other;
  }
}

int sock_open_tcp4(int* fd) {
  *fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return *fd < 0 ? errno : 0;
}

void sock_close(int fd) {
  if (fd >= 0) ::close(fd);
}

int sock_set_nodelay(int fd) {
  int one = 1;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0 ? 0 : errno;
}

int sock_set_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return errno;
  return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : errno;
}

int sock_bind_any(int fd, uint16_t port_host) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port_host);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
}

int sock_listen(int fd, int backlog) {
  return ::listen(fd, backlog) == 0 ? 0 : errno;
}

int sock_connect(int fd, uint32_t ip_net, uint16_t port_host) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = ip_net;
  a.sin_port = htons(port_host);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
}

bool sock_in_progress(int err) {
  return err == EINPROGRESS || err == EWOULDBLOCK || err == EAGAIN;
}

sock_poll_out sock_poll(int fd, bool want_read, bool want_write) {
  sock_poll_out out;
  pollfd p{};
  p.fd = fd;
  p.events = static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0));
  int n = ::poll(&p, 1, 0);
  if (n < 0) {
    if (errno == EINTR) return out;  // nothing reported; the caller polls again next pass
    out.result = -1;
    out.err = errno;
    return out;
  }
  if (p.revents & POLLNVAL) {  // not an open descriptor
    out.result = -1;
    out.err = EBADF;
    return out;
  }
  if (n == 0 || p.revents == 0) return out;
  out.result = 1;
  out.readable = (p.revents & POLLIN) != 0;
  out.writable = (p.revents & POLLOUT) != 0;
  out.exceptional = (p.revents & (POLLERR | POLLHUP | POLLPRI)) != 0;
  return out;
}

int sock_pending_error(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

long sock_recv(int fd, void* buf, size_t len, int* err) {
  ssize_t n = ::recv(fd, buf, len, MSG_DONTWAIT);
  if (n < 0) *err = errno;
  return static_cast<long>(n);
}

long sock_send(int fd, const void* buf, size_t len, int* err) {
  ssize_t n = ::send(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0) *err = errno;
  return static_cast<long>(n);
}

int sock_shutdown_send(int fd) {
  return ::shutdown(fd, SHUT_WR) == 0 ? 0 : errno;
}

bool sock_parse_ipv4(const std::string& text, uint32_t* ip_net) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *ip_net = a.s_addr;
  return true;
}

bool sock_resolve_ipv4(const std::string& name, uint32_t* ip_net) {
  if (name.empty()) return false;
  if (sock_parse_ipv4(name, ip_net)) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  bool found = false;
  for (addrinfo* r = res; r; r = r->ai_next) {
    if (r->ai_family == AF_INET && r->ai_addr) {
      *ip_net = reinterpret_cast<sockaddr_in*>(r->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeaddrinfo(res);
  return found;
}

struct sock_lookup::state {
  std::mutex mu;
  int result = 0;
  uint32_t ip = 0;
};

sock_lookup::sock_lookup(const std::string& name) : state_(std::make_shared<state>()) {
  auto work = [st = state_, name] {
    uint32_t ip = 0;
    const bool ok = sock_resolve_ipv4(name, &ip);
    std::lock_guard<std::mutex> lock(st->mu);
    st->ip = ip;
    st->result = ok ? 1 : -1;
  };
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    work();  // no thread to be had: resolve here rather than not at all
  }
}

sock_lookup::~sock_lookup() = default;

int sock_lookup::poll(uint32_t* ip_net) {
  std::lock_guard<std::mutex> lock(state_->mu);
  if (state_->result == 1) *ip_net = state_->ip;
  return state_->result;
}

std::string sock_ipv4_text(uint32_t ip_net) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = ip_net;
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}
