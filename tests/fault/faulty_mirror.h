#pragma once
// A download mirror on 127.0.0.1 that serves the files below a folder as a
// plain HTTP/1.1 server would (keeping the connection open after a whole
// answer), except for one chosen request path, for which the first `times`
// answers are broken in a chosen way: what nginx cannot be made to do on
// purpose. A broken answer closes its connection. Each connection is served
// on its own thread, so a stalled answer never holds up the others.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace faulttest {

enum class Fault {
  kNone,
  kCloseMidBody,  // announces the whole length, sends half, closes in order (fewer bytes than announced)
  kResetMidBody,  // announces the whole length, sends half, then resets the connection
  kExtraBytes,    // the right length and body, then junk after it (more bytes than announced)
  kShortLength,   // announces 100 bytes less than the file and sends the whole file
  kStall,         // sends the header and half the body, then stays silent
  kError500,      // "500 Internal Server Error" with a small body
  kEndlessBody,   // no length, then junk until the client stops reading (at most kEndlessCap bytes)
  kRedirectLoop,  // "302 Found" back to the same path
  kWrongRange,    // like kCloseMidBody; a request for the rest gets a 206 of the whole file from byte 0
  // A request (any path) on a kept connection: the connection is closed
  // without an answer, as a server does that closed it in between.
  kCloseKeptConnection,
  // Two requests that arrive together (pipelined; any path): the second is
  // answered first.
  kPipelinedOutOfOrder,
  // Two requests that arrive together: the first is answered, then the
  // connection is closed (kPipelinedDropClose) or held silent until the
  // client gives up (kPipelinedDropStall, counted in stalled_now).
  kPipelinedDropClose,
  kPipelinedDropStall,
};

inline bool pipelined_fault(Fault f) {
  return f == Fault::kPipelinedOutOfOrder || f == Fault::kPipelinedDropClose ||
         f == Fault::kPipelinedDropStall;
}

// Where kEndlessBody gives up by itself, so that a client that never stops
// cannot fill the disk.
constexpr size_t kEndlessCap = 64u << 20;

class FaultyMirror {
 public:
  FaultyMirror(std::string root, std::string fault_path, Fault fault, int times = 1)
      : root_(std::move(root)), fault_path_(std::move(fault_path)), fault_(fault), times_(times) {
    listen_fd_ = testsupport::listen_loopback(32, &port_);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~FaultyMirror() {
    stop_ = true;
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mu_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    ::close(listen_fd_);
  }
  FaultyMirror(const FaultyMirror&) = delete;
  FaultyMirror& operator=(const FaultyMirror&) = delete;

  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Broken answers given so far.
  int faults_given() const { return faults_given_; }
  // Body bytes the last kEndlessBody answer got out before the client stopped
  // it (or the cap was reached); waits up to 20 s for the answer to end.
  size_t endless_sent() const {
    for (int i = 0; i < 2000 && !endless_ended_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return endless_ended_ ? endless_sent_.load() : SIZE_MAX;
  }
  // Connections currently held silent by kStall.
  int stalled_now() const { return stalled_now_; }
  // Requests per path (decoded), broken ones included.
  std::map<std::string, int> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  void Accept() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mu_);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  // Sends all of `s`; false when the client closed first.
  static bool SendAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
      const ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }

  static std::string Decode(const std::string& path) {
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '%' && i + 2 < path.size()) {
        out += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += path[i];
      }
    }
    return out;
  }

  // Answers the requests of one connection in turn while the answers keep it.
  void Serve(int fd) {
    std::string in;
    for (bool first = true; !stop_; first = false) {
      char buf[4096];
      while (in.find("\r\n\r\n") == std::string::npos && !stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, static_cast<size_t>(n));
      }
      const size_t end = in.find("\r\n\r\n");
      if (end == std::string::npos) break;
      const std::string req = in.substr(0, end + 4);
      in.erase(0, end + 4);
      if (pipelined_fault(fault_) && faults_given_ < times_) {
        // A request sent right behind this one shows within a moment.
        for (int i = 0; i < 10 && in.find("\r\n\r\n") == std::string::npos && !stop_; ++i) {
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 10) <= 0) continue;
          const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
          if (n <= 0) break;
          in.append(buf, static_cast<size_t>(n));
        }
        const size_t end2 = in.find("\r\n\r\n");
        if (end2 != std::string::npos) {
          const std::string req2 = in.substr(0, end2 + 4);
          in.erase(0, end2 + 4);
          ++faults_given_;
          if (fault_ == Fault::kPipelinedOutOfOrder) {
            if (Answer(fd, req2, false) && Answer(fd, req, first)) continue;
          } else if (Answer(fd, req, first) && fault_ == Fault::kPipelinedDropStall) {
            StallUntilClosed(fd);
          }
          break;
        }
      }
      if (!Answer(fd, req, first)) break;
    }
    LingeringClose(fd);
  }

  // Closes as nginx does: requests still unread (sent ahead) would make the
  // kernel reset the connection and drop the answer not yet delivered, so
  // our side is shut first and the rest is read away until the client
  // closes. A connection set to reset (SO_LINGER 0) is closed at once.
  void LingeringClose(int fd) {
    linger l{};
    socklen_t len = sizeof l;
    if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len) == 0 && !(l.l_onoff && l.l_linger == 0)) {
      ::shutdown(fd, SHUT_WR);
      char buf[4096];
      for (int i = 0; i < 100 && !stop_; ++i) {  // at most about 2 s
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) break;
      }
    }
    ::close(fd);
  }

  // Silent until the client gives up (closes) or the server stops.
  void StallUntilClosed(int fd) {
    ++stalled_now_;
    char buf[4096];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
    --stalled_now_;
  }

  // Answers one request; true when the connection stays open for another.
  bool Answer(int fd, const std::string& req, bool first) {
    const size_t sp1 = req.find(' '), sp2 = req.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
    const std::string target = req.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string path = Decode(target);
    const bool ranged = req.find("\r\nRange: bytes=") != std::string::npos;
    bool broken = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++requests_[path];
      if (fault_ == Fault::kCloseKeptConnection) {
        if (!first && faults_given_ < times_) {
          ++faults_given_;
          return false;
        }
      } else if (fault_ != Fault::kNone && !pipelined_fault(fault_) && path == fault_path_ &&
                 faults_given_ < times_) {
        ++faults_given_;
        broken = true;
      }
    }
    std::ifstream f(root_ + path, std::ios::binary);
    if (!f || path.find("..") != std::string::npos) {
      SendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
      return false;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    const std::string body = ss.str();
    auto header = [](size_t length, bool keep = false) {
      return "HTTP/1.1 200 OK\r\nServer: faulty-mirror\r\nContent-Type: application/octet-stream\r\n"
             "Content-Length: " +
             std::to_string(length) + (keep ? "" : "\r\nConnection: close") + "\r\n\r\n";
    };
    const Fault fault = broken ? fault_ : Fault::kNone;
    switch (fault) {
      case Fault::kNone:
      case Fault::kCloseKeptConnection:
      case Fault::kPipelinedOutOfOrder:
      case Fault::kPipelinedDropClose:
      case Fault::kPipelinedDropStall:
        return SendAll(fd, header(body.size(), true) + body);
      case Fault::kCloseMidBody:
        SendAll(fd, header(body.size()) + body.substr(0, body.size() / 2));
        break;
      case Fault::kRedirectLoop:
        SendAll(fd, "HTTP/1.1 302 Found\r\nLocation: " + target +
                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        break;
      case Fault::kWrongRange:
        if (ranged) {
          SendAll(fd, "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-" +
                          std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) +
                          "\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body);
        } else {
          SendAll(fd, header(body.size()) + body.substr(0, body.size() / 2));
        }
        break;
      case Fault::kResetMidBody: {
        SendAll(fd, header(body.size()) + body.substr(0, body.size() / 2));
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        break;
      }
      case Fault::kExtraBytes:
        SendAll(fd, header(body.size()) + body + std::string(1000, 'J'));
        break;
      case Fault::kShortLength:
        SendAll(fd, header(body.size() > 100 ? body.size() - 100 : 0) + body);
        break;
      case Fault::kStall: {
        SendAll(fd, header(body.size()) + body.substr(0, body.size() / 2));
        StallUntilClosed(fd);
        break;
      }
      case Fault::kEndlessBody: {
        SendAll(fd, "HTTP/1.1 200 OK\r\nServer: faulty-mirror\r\nConnection: close\r\n\r\n");
        const std::string junk = testsupport::random_bytes(1 << 16, 5);
        size_t sent = 0;
        while (!stop_ && sent < kEndlessCap && SendAll(fd, junk)) sent += junk.size();
        endless_sent_ = sent;
        endless_ended_ = true;
        break;
      }
      case Fault::kError500:
        SendAll(fd,
                "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 12\r\nConnection: close\r\n\r\nserver "
                "error");
        break;
    }
    return false;
  }

  std::string root_, fault_path_;
  Fault fault_;
  int times_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> faults_given_{0};
  std::atomic<int> stalled_now_{0};
  std::atomic<size_t> endless_sent_{0};
  std::atomic<bool> endless_ended_{false};
  std::mutex mu_;
  std::map<std::string, int> requests_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

}  // namespace faulttest
