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

#include <cstdlib>
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

int sock_open_tcp(int family, int* fd) {
  if (family != 4 && family != 6) {
    *fd = -1;
    return EAFNOSUPPORT;
  }
  *fd = ::socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return *fd < 0 ? errno : 0;
}

int sock_bind_any_family(int fd, int family, uint16_t port_host) {
  if (family != 6) return sock_bind_any(fd, port_host);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_any;
  a.sin6_port = htons(port_host);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
}

int sock_connect_to(int fd, const sock_address& addr, uint16_t port_host) {
  if (addr.family == 4) {
    uint32_t ip = 0;
    std::memcpy(&ip, addr.bytes, 4);
    return sock_connect(fd, ip, port_host);
  }
  if (addr.family != 6) return EAFNOSUPPORT;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  std::memcpy(&a.sin6_addr, addr.bytes, 16);
  a.sin6_scope_id = addr.scope_id;
  a.sin6_port = htons(port_host);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
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

namespace {

bool address_of(const sockaddr* sa, sock_address* out) {
  *out = sock_address{};
  if (sa->sa_family == AF_INET) {
    out->family = 4;
    std::memcpy(out->bytes, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, 4);
    return true;
  }
  if (sa->sa_family == AF_INET6) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(sa);
    out->family = 6;
    std::memcpy(out->bytes, &a6->sin6_addr, 16);
    out->scope_id = a6->sin6_scope_id;
    return true;
  }
  return false;
}

bool same_address(const sock_address& a, const sock_address& b) {
  return a.family == b.family && a.scope_id == b.scope_id && std::memcmp(a.bytes, b.bytes, 16) == 0;
}

}  // namespace

bool sock_parse_numeric(const std::string& text, sock_address* out) {
  std::string t = text;
  const bool bracketed = t.size() >= 2 && t.front() == '[' && t.back() == ']';
  if (bracketed) t = t.substr(1, t.size() - 2);
  if (t.empty()) return false;
  uint32_t ip = 0;
  if (t.find(':') == std::string::npos) {
    if (bracketed) return false;  // brackets hold IPv6 only
    if (!sock_parse_ipv4(t, &ip)) return false;
    *out = sock_address{};
    out->family = 4;
    std::memcpy(out->bytes, &ip, 4);
    return true;
  }
  // An IPv6 literal, possibly with a zone ("%eth0"): getaddrinfo with
  // AI_NUMERICHOST parses both and never asks a name server.
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* res = nullptr;
  if (::getaddrinfo(t.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  const bool ok = res->ai_addr && address_of(res->ai_addr, out);
  ::freeaddrinfo(res);
  return ok;
}

bool sock_resolve(const std::string& name, std::vector<sock_address>* out) {
  out->clear();
  if (name.empty()) return false;
  sock_address numeric;
  if (sock_parse_numeric(name, &numeric)) {
    out->push_back(numeric);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No AI_ADDRCONFIG: it hides ::1 on a machine whose only IPv6 is the
  // loopback; an address of a family the machine cannot reach fails its
  // connect at once and the next one is tried.
  addrinfo* res = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  for (addrinfo* r = res; r; r = r->ai_next) {
    sock_address a;
    if (!r->ai_addr || !address_of(r->ai_addr, &a)) continue;
    bool seen = false;
    for (const sock_address& b : *out) seen = seen || same_address(a, b);
    if (!seen) out->push_back(a);
  }
  ::freeaddrinfo(res);
  return !out->empty();
}

std::string sock_address_text(const sock_address& addr) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (addr.family == 4) {
    ::inet_ntop(AF_INET, addr.bytes, buf, sizeof buf);
    return buf;
  }
  if (addr.family == 6) {
    ::inet_ntop(AF_INET6, addr.bytes, buf, sizeof buf);
    return std::string("[") + buf + "]";
  }
  return "";
}

struct sock_lookup::state {
  std::mutex mu;
  int result = 0;
  std::vector<sock_address> addrs;
};

sock_lookup::sock_lookup(const std::string& name) : state_(std::make_shared<state>()) {
  auto work = [st = state_, name] {
    std::vector<sock_address> addrs;
    const bool ok = sock_resolve(name, &addrs);
    std::lock_guard<std::mutex> lock(st->mu);
    st->addrs = std::move(addrs);
    st->result = ok ? 1 : -1;
  };
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    work();  // no thread to be had: resolve here rather than not at all
  }
}

sock_lookup::~sock_lookup() = default;

int sock_lookup::poll(std::vector<sock_address>* addrs) {
  std::lock_guard<std::mutex> lock(state_->mu);
  if (state_->result == 1) *addrs = state_->addrs;
  return state_->result;
}

std::string sock_ipv4_text(uint32_t ip_net) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = ip_net;
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

sock_proxy_env sock_proxy_environment(bool https) {
  sock_proxy_env e;
  const char* const plain[] = {"http_proxy", "HTTP_PROXY"};
  const char* const secure[] = {"https_proxy", "HTTPS_PROXY"};
  for (const char* name : https ? secure : plain) {
    const char* v = std::getenv(name);
    if (v && *v) {
      e.proxy = v;
      e.proxy_var = name;
      break;
    }
  }
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      e.no_proxy = v;
      break;
    }
  }
  return e;
}
