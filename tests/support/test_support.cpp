#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string tmpl = base + "/sv-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  // Undo read-only folders that a test may have left so removal succeeds.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string& path) {
  std::filesystem::create_directories(path);
}

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

int run(const std::string& shell_command, std::string* out) {
  FILE* p = ::popen((shell_command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
    if (out) out->append(buf, n);
  }
  int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string md5sum_of(const std::string& path) {
  std::string out;
  if (run("md5sum " + shell_quote(path), &out) != 0 || out.size() < 32) return "";
  return out.substr(0, 32);
}

std::map<std::string, std::string> md5sum_tree(const std::string& dir) {
  std::map<std::string, std::string> out;
  if (!file_exists(dir)) return out;
  std::string text;
  if (run("cd " + shell_quote(dir) + " && find . -type f -print0 | xargs -0 -r md5sum", &text) != 0)
    throw std::runtime_error("md5sum failed in " + dir);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 36) out[line.substr(36)] = line.substr(0, 32);  // "MD5  ./path"
  return out;
}

unsigned env_number(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

std::string random_bytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint64_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    s[i] = static_cast<char>(x & 0xff);
  }
  return s;
}

RefusingPort::RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    const std::string why = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot bind a loopback port: " + why);
  }
  port_ = ntohs(a.sin_port);
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) ::close(fd_);
}

int free_port() {
  return RefusingPort().port();  // released at once: the port is free until someone binds it
}

int listen_loopback(int backlog, int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  *port = ntohs(a.sin_port);
  return fd;
}

static bool port_accepts(int port, bool v6 = false) {
  if (v6) {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

bool have_ipv6_loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof a;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  const int port = ok ? ntohs(a.sin6_port) : 0;
  ok = ok && port_accepts(port, true);
  ::close(fd);
  return ok;
}

TestCa::TestCa() {
  ca_ = dir_ / "ca.pem";
  const std::string cmd = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                          shell_quote(dir_ / "ca.key") + " -out " + shell_quote(ca_) +
                          " -subj /CN=Skyvane-Test-CA -days 2 -addext basicConstraints=critical,CA:TRUE"
                          " -addext keyUsage=critical,keyCertSign,cRLSign";
  std::string out;
  if (run(cmd + " 2>&1", &out) != 0) throw std::runtime_error("openssl could not make the CA: " + out);
}

CertFiles TestCa::issue(const std::string& names, kind k) {
  const std::string n = std::to_string(++serial_);
  CertFiles f{dir_ / ("server" + n + ".pem"), dir_ / ("server" + n + ".key")};
  const std::string ext = dir_ / ("server" + n + ".ext");
  write_file(ext, "subjectAltName=" + names + "\n");
  std::string cmd;
  const std::string key_opts =
      " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + shell_quote(f.key);
  if (k == kind::self_signed) {
    cmd = "openssl req -x509" + key_opts + " -out " + shell_quote(f.cert) + " -subj /CN=self-signed -days 2" +
          " -addext " + shell_quote("subjectAltName=" + names);
  } else {
    const std::string csr = dir_ / ("server" + n + ".csr");
    cmd = "openssl req" + key_opts + " -out " + shell_quote(csr) + " -subj /CN=server" + n +
          " && openssl x509 -req -in " + shell_quote(csr) + " -CA " + shell_quote(ca_) + " -CAkey " +
          shell_quote(dir_ / "ca.key") + " -set_serial " + n + " -out " + shell_quote(f.cert) + " -extfile " +
          shell_quote(ext) + (k == kind::expired ? " -days -1" : " -days 2");
  }
  std::string out;
  if (run("(" + cmd + ") 2>&1", &out) != 0)
    throw std::runtime_error("openssl could not make a certificate: " + out);
  return f;
}

Nginx::Nginx(const std::string& root, const std::string& extra_server_conf, const std::string& listen_ip,
             const CertFiles& tls)
    : listen_ip_(listen_ip) {
  const bool v6 = listen_ip.find(':') != std::string::npos;
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = free_port();
    std::string conf = dir_ / "nginx.conf";
    std::ostringstream c;
    if (::geteuid() == 0) c << "user root;\n";
    c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      << "error_log " << dir_.path() << "error.log warn;\n"
      << "pid " << dir_.path() << "nginx.pid;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
      // "access_log FILE conn;" logs which connection carried each request,
      // and "p" after the status for one that came pipelined.
      << "  log_format conn '$connection $connection_requests \"$request\" $status $pipe';\n"
      << "  default_type application/octet-stream;\n"
      << "  client_body_temp_path " << dir_.path() << "body;\n"
      << "  proxy_temp_path " << dir_.path() << "proxy;\n"
      << "  fastcgi_temp_path " << dir_.path() << "fastcgi;\n"
      << "  uwsgi_temp_path " << dir_.path() << "uwsgi;\n"
      << "  scgi_temp_path " << dir_.path() << "scgi;\n"
      << "  server {\n    listen " << (v6 ? "[" + listen_ip + "]" : listen_ip) << ":" << port_
      << (tls.cert.empty() ? "" : " ssl") << ";\n    root " << root << ";\n";
    if (!tls.cert.empty())
      c << "    ssl_certificate " << tls.cert << ";\n    ssl_certificate_key " << tls.key << ";\n";
    c << extra_server_conf << "\n  }\n}\n";
    write_file(conf, c.str());
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execlp("nginx", "nginx", "-p", dir_.path().c_str(), "-c", conf.c_str(), (char*)nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      int st;
      if (::waitpid(pid, &st, WNOHANG) == pid) break;  // failed to start (port taken?)
      // nginx writes its pid file only once it has bound the port, so a
      // connection is not taken for ours when another process got the port
      // between free_port() and nginx's bind.
      if (file_exists(dir_.path() + "nginx.pid") && port_accepts(port_, v6)) {
        pid_ = pid;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ < 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("nginx did not start; see " + dir_.path() + "error.log");
}

Nginx::~Nginx() {
  stop();
}

void Nginx::stop() {
  if (pid_ <= 0) return;
  const pid_t pid = pid_;
  pid_ = -1;
  ::kill(pid, SIGQUIT);
  int st;
  for (int i = 0; i < 300; ++i) {
    if (::waitpid(pid, &st, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &st, 0);
}

std::string Nginx::host() const {
  const bool v6 = listen_ip_.find(':') != std::string::npos;
  return (v6 ? "[" + listen_ip_ + "]" : listen_ip_) + ":" + std::to_string(port_);
}

}  // namespace testsupport
