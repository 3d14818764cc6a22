#pragma once
// BSD sockets for the socket wrapper: IPv4 TCP, non-blocking, zero-time-out
// polls. Handles are file descriptors (-1 = none); every error result is the
// system's errno value. Nothing here waits for the network, except a host-name
// look-up (see sock_resolve_ipv4).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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
  // 0 still running; 1 resolved, `*ip_net` set (network byte order); -1 not found.
  int poll(uint32_t* ip_net);

 private:
  struct state;
  std::shared_ptr<state> state_;
};

// Dotted text of an address in network byte order.
std::string sock_ipv4_text(uint32_t ip_net);
