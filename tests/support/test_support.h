#pragma once
// Shared helpers for the test programs: private folders, running real tools,
// and a real nginx on 127.0.0.1.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// Thrown by the alert exit hook that every test program installs, so a fatal
// alert unwinds the test instead of ending the process.
struct fatal_alert_exit : std::runtime_error {
  int code;
  explicit fatal_alert_exit(int c) : std::runtime_error("fatal alert"), code(c) {}
};

// A fresh folder under the test's TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Absolute path ending in '/'.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + rel; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);  // like mkdir -p

// Runs a shell command; returns its exit status. Output goes to `out` when given.
int run(const std::string& shell_command, std::string* out = nullptr);
std::string shell_quote(const std::string& s);

// MD5 of a file as `md5sum` prints it (the independent reference).
std::string md5sum_of(const std::string& path);
// Relative path ("./a/b") -> MD5 of every file below `dir`, by one md5sum
// run; empty when `dir` does not exist.
std::map<std::string, std::string> md5sum_tree(const std::string& dir);

// A whole number from the environment, `fallback` when unset or empty.
unsigned env_number(const char* name, unsigned fallback);

// Deterministic pseudo-random bytes.
std::string random_bytes(size_t n, uint32_t seed);

// A free TCP port on 127.0.0.1 at the time of the call.
int free_port();

// A loopback port where nothing listens, for the object's life: bound but
// never listening, so a connection is refused and no other process can take
// the port meanwhile (a port from free_port() could be taken by a server of
// another test running at the same time).
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A listening TCP socket on 127.0.0.1 at a free port (stored in *port);
// throws when it cannot listen. The caller closes it.
int listen_loopback(int backlog, int* port);

// A server certificate and its key, as files.
struct CertFiles {
  std::string cert, key;
};

// A throw-away certificate authority made with the openssl tool, and the
// server certificates it signs. Point SSL_CERT_FILE at ca_file() to trust it.
class TestCa {
 public:
  TestCa();
  const std::string& ca_file() const { return ca_; }
  enum class kind { good, expired, self_signed };
  // A certificate for `names` (subjectAltName entries: "DNS:localhost,IP:127.0.0.1").
  // expired: signed by the CA, valid only until yesterday; self_signed:
  // signed by its own key, which nobody trusts.
  CertFiles issue(const std::string& names, kind k = kind::good);

 private:
  TempDir dir_;
  std::string ca_;
  int serial_ = 0;
};

// A real nginx serving `root` on 127.0.0.1 at a free port, with a private
// configuration, stopped on destruction. `extra_server_conf` is added inside
// the server block (locations that return errors, and the like); the log
// format "conn" names each request's connection ("access_log FILE conn;")
// and ends with "p" for a request that came pipelined, "." otherwise.
class Nginx {
 public:
  // `listen_ip`: "127.0.0.1", or "::1" for a server reached over IPv6 only.
  // `tls`: a certificate and key to serve https with (empty: plain http).
  explicit Nginx(const std::string& root, const std::string& extra_server_conf = "",
                 const std::string& listen_ip = "127.0.0.1", const CertFiles& tls = {});
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  int port() const { return port_; }
  std::string host() const;  // "127.0.0.1:PORT" or "[::1]:PORT"
  // Stops the server gracefully; its access log then holds every request it
  // answered (it writes a line only after answering).
  void stop();

 private:
  TempDir dir_;
  int port_ = 0;
  int pid_ = -1;
  std::string listen_ip_;
};

// True when this machine can listen on and connect to ::1 (some containers
// have no IPv6 at all).
bool have_ipv6_loopback();

}  // namespace testsupport
