#pragma once
// BSD sockets for the socket wrapper: TCP over IPv4 or IPv6, non-blocking,
// zero-time-out polls. Handles are file descriptors (-1 = none); every error result is the
// system's errno value. Nothing here waits for the network, except a host-name
// look-up (see sock_resolve_ipv4).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How the socket wrapper treats a failed send or receive.
enum class sock_err_kind {
  would_block,   // nothing moved now; try again later
  disconnected,  // the stream is over (aborted, reset, not connected, shut down, timed out)
  other,         // an unexpected failure
};

// Classes an errno of a receive (`sending` false) or a send (`sending` true).
// EPIPE and ESHUTDOWN are "disconnected" only for sends.
sock_err_kind sock_classify(int err, bool sending);

// Creates an IPv4 TCP stream socket. Returns 0 and sets `*fd`, or an errno.
int sock_open_tcp4(int* fd);

// An address of either family, in a form the layers above can hold without
// the system's headers.
struct sock_address {
  int family = 0;          // 4 or 6; 0 = none
  uint8_t bytes[16] = {};  // IPv4: the first 4 bytes, in network order
  uint32_t scope_id = 0;   // IPv6 zone (link-local addresses)
};

// A TCP stream socket of the address's family (4 or 6). 0 and `*fd`, or an errno.
int sock_open_tcp(int family, int* fd);
// Binds to any local address of the family (4 or 6) and `port_host`.
int sock_bind_any_family(int fd, int family, uint16_t port_host);
// Starts a connection to `addr`, `port_host`; answers as sock_connect.
int sock_connect_to(int fd, const sock_address& addr, uint16_t port_host);
void sock_close(int fd);
int sock_set_nodelay(int fd);      // TCP_NODELAY = 1; 0 or errno
int sock_set_nonblocking(int fd);  // 0 or errno
int sock_bind_any(int fd, uint16_t port_host);
int sock_listen(int fd, int backlog);

// Starts a connection to `ip_net` (network byte order), `port_host`. Returns 0
// when connected at once, or an errno; `sock_in_progress` tells the normal
// "started, not done yet" answer of a non-blocking socket.
int sock_connect(int fd, uint32_t ip_net, uint16_t port_host);
bool sock_in_progress(int err);

// One poll with a zero time-out. `result` is -1 when the poll failed (`err`
// set), 0 when nothing is reported, 1 when the flags below are.
struct sock_poll_out {
  int result = 0;
  int err = 0;
  bool readable = false;
  bool writable = false;
  bool exceptional = false;  // error or hang-up on the socket (e.g. a refused connect)
};
sock_poll_out sock_poll(int fd, bool want_read, bool want_write);

// The pending error of a connect (SO_ERROR); 0 when there is none.
int sock_pending_error(int fd);

// One non-blocking receive/send. Result: bytes moved (>= 0; a receive of 0 is
// the peer's orderly release), or -1 with `*err` set. Sends never raise SIGPIPE.
long sock_recv(int fd, void* buf, size_t len, int* err);
long sock_send(int fd, const void* buf, size_t len, int* err);

// Shuts down the sending direction only. 0 or errno.
int sock_shutdown_send(int fd);

// Dotted IPv4 text to an address in network byte order; false when the text is
// not a dotted address. Never consults a resolver.
bool sock_parse_ipv4(const std::string& text, uint32_t* ip_net);

// A numeric address: dotted IPv4, or IPv6 with or without brackets ("::1",
// "[::1]", "fe80::1%eth0"). Never consults a resolver.
bool sock_parse_numeric(const std::string& text, sock_address* out);

// Every address of a host name, of either family, in the resolver's order of
// preference (getaddrinfo, duplicates dropped). A numeric address is answered
// without a look-up. False when the name does not resolve.
bool sock_resolve(const std::string& name, std::vector<sock_address>* out);

// "1.2.3.4" or "[::1]".
std::string sock_address_text(const sock_address& addr);

// First IPv4 address of a host name (getaddrinfo, AF_INET). False when the name
// does not resolve. A numeric address is answered without a look-up; a name
// goes to the system resolver, which may wait briefly (hosts file, DNS).
bool sock_resolve_ipv4(const std::string& name, uint32_t* ip_net);

// A host-name look-up that runs on a helper thread, so that the caller's pass
// never waits for the resolver (a name server that does not answer can take
// many seconds). Destroying the object abandons the look-up; the helper thread
// finishes on its own and frees what it used.
class sock_lookup {
 public:
  explicit sock_lookup(const std::string& name);
  ~sock_lookup();
  sock_lookup(const sock_lookup&) = delete;
  sock_lookup& operator=(const sock_lookup&) = delete;
  // 0 still running; 1 resolved, `*addrs` set (every address, both families,
  // in the resolver's order); -1 not found.
  int poll(std::vector<sock_address>* addrs);

 private:
  struct state;
  std::shared_ptr<state> state_;
};

// Dotted text of an address in network byte order.
std::string sock_ipv4_text(uint32_t ip_net);

// The proxy settings of the environment (the Linux convention): `proxy` from
// http_proxy, else HTTP_PROXY (for `https`: https_proxy, else HTTPS_PROXY);
// `no_proxy` from no_proxy, else NO_PROXY. Empty when unset; `proxy_var`
// names the variable `proxy` came from.
struct sock_proxy_env {
  std::string proxy, proxy_var, no_proxy;
};
sock_proxy_env sock_proxy_environment(bool https = false);
