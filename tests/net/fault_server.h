#pragma once
// A scripted HTTP server on 127.0.0.1 for what nginx will not do: interim
// responses, odd header spellings, missing lengths, early closes and stalls.
// It runs on its own thread, accepts connections one after another, records
// each request (up to the blank line) and then plays its script; a script may
// wait for further requests on the same connection (NextRequest).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace nettest {

struct Step {
  enum Kind {
    kSend,   // send `bytes`
    kGate,   // wait until the test calls open_gate()
    kHold,   // keep the connection open and silent until the server stops
    kReset,  // abort the connection (RST)
    kNext,   // read the next request on the same connection (a kept one), recording it
  } kind;
  std::string bytes;
};
inline Step Send(std::string b) {
  return {Step::kSend, std::move(b)};
}
inline Step Gate() {
  return {Step::kGate, {}};
}
inline Step Hold() {
  return {Step::kHold, {}};
}
inline Step Reset() {
  return {Step::kReset, {}};
}
inline Step NextRequest() {
  return {Step::kNext, {}};
}

// One script per connection, in order; the last one plays for every
// connection after.
struct PerConnection {
  std::vector<std::vector<Step>> scripts;
};

class FaultServer {
 public:
  // After the script the connection is closed in an orderly way.
  explicit FaultServer(std::vector<Step> script) : FaultServer(PerConnection{{std::move(script)}}) {}
  explicit FaultServer(PerConnection scripts) : scripts_(std::move(scripts.scripts)) {
    listen_fd_ = testsupport::listen_loopback(16, &port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~FaultServer() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
    ::close(listen_fd_);
  }
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  // Lets the script pass one Gate (openings are counted, none is lost).
  void open_gate() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++gates_open_;
    }
    cv_.notify_all();
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  int connections() const { return connections_.load(); }

 private:
  void Run() {
    while (!stopped()) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const size_t n = static_cast<size_t>(connections_++);
      Serve(fd, scripts_[n < scripts_.size() ? n : scripts_.size() - 1]);
    }
  }
  bool stopped() {
    std::lock_guard<std::mutex> lock(mu_);
    return stop_;
  }
  // Reads one request (up to its blank line) and records it; an empty read
  // (the client closed) is recorded only for the connection's first.
  // GET requests that arrived together (pipelined) are recorded one by
  // one: `in` keeps the ones read beyond the request.
  void ReadRequest(int fd, bool first, std::string& in) {
    char buf[4096];
    while (in.find("\r\n\r\n") == std::string::npos && !stopped()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
    }
    const size_t end = in.find("\r\n\r\n");
    std::string req = in.substr(0, end == std::string::npos ? std::string::npos : end + 4);
    in.erase(0, req.size());
    if (in.compare(0, 4, "GET ") != 0) {  // a request's body stays with it
      req += in;
      in.clear();
    }
    if (req.empty() && !first) return;
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(req);
  }
  void Serve(int fd, const std::vector<Step>& script) {
    std::string in;
    ReadRequest(fd, true, in);
    bool reset = false;
    for (const Step& s : script) {
      if (s.kind == Step::kNext) {
        ReadRequest(fd, false, in);
      } else if (s.kind == Step::kSend) {
        size_t off = 0;
        while (off < s.bytes.size()) {
          ssize_t n = ::send(fd, s.bytes.data() + off, s.bytes.size() - off, MSG_NOSIGNAL);
          if (n <= 0) break;
          off += static_cast<size_t>(n);
        }
      } else if (s.kind == Step::kGate || s.kind == Step::kHold) {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return stop_ || (s.kind == Step::kGate && gates_open_ > 0); });
        if (s.kind == Step::kGate && gates_open_ > 0) --gates_open_;
      } else if (s.kind == Step::kReset) {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        reset = true;
        break;
      }
    }
    if (!reset) ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }

  std::vector<std::vector<Step>> scripts_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  int gates_open_ = 0;
  std::vector<std::string> requests_;
  std::atomic<int> connections_{0};
};

}  // namespace nettest
