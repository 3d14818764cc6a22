#include "net/PCSBSocket.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/tls.h"
#include "util/error_codes.h"

namespace {
// A proxy's answer to CONNECT longer than this is no proxy we can use.
constexpr size_t kMaxTunnelAnswer = 16384;
}  // namespace

PCSBSocket::PCSBSocket(uint16_t inPort, bool inServer) : mBindPort(inPort) {
  int err = sock_open_tcp4(&mWinSocket);
  if (err != 0) {
    mWinSocket = -1;
    SetError(err);
    return;
  }
  (void)sock_set_nodelay(mWinSocket);  // small request writes go out at once; a failure only costs latency
  err = sock_bind_any(mWinSocket, inPort);
  if (err != 0) {
    SetError(err);
    return;
  }
  (void)sock_set_nonblocking(mWinSocket);  // every call passes MSG_DONTWAIT as well
  if (inServer) {
    mIsAServer = true;
    err = sock_listen(mWinSocket, INT_MAX);  // the kernel caps it at its own maximum
    if (err != 0) SetError(err);
  }
}

PCSBSocket::~PCSBSocket() {
  mTls.reset();  // before the descriptor it writes to is closed
  sock_close(mWinSocket);
}

void PCSBSocket::SetError(int code) {
  mSocketStatus = pcsbstatus_Error;
  mSocketError = code;
}

bool PCSBSocket::StartupNetworking(bool) {
  return true;
}

uint32_t PCSBSocket::LookupAddress(const char* inAddress) {
  uint32_t ip = 0;
  if (!inAddress || !sock_resolve_ipv4(inAddress, &ip)) return 0;
  return ip;
}

void PCSBSocket::Connect(uint32_t inIP, uint16_t inPort) {
  if (mSocketStatus == pcsbstatus_Error) return;  // no usable handle; keep the first failure's code
  mSocketStatus = pcsbstatus_Connecting;
  int err = sock_connect(mWinSocket, inIP, inPort);
  if (err == 0)
    TcpConnected();
  else if (!sock_in_progress(err))
    SetError(err);
}

void PCSBSocket::ConnectAny(const std::vector<sock_address>& inAddrs, uint16_t inPort) {
  mAddrs = inAddrs;
  mNextAddr = 0;
  mPort = inPort;
  if (mAddrs.empty()) {
    SetError(EDESTADDRREQ);
    return;
  }
  ConnectNext();
}

void PCSBSocket::ConnectNext() {
  while (mNextAddr < mAddrs.size()) {
    const sock_address& a = mAddrs[mNextAddr++];
    // A socket whose connect failed cannot be used for another: each attempt
    // after the first (or of another family) gets a fresh one.
    if (mAttempts > 0 || a.family != mFamily || mWinSocket < 0 || mSocketStatus == pcsbstatus_Error) {
      sock_close(mWinSocket);
      mWinSocket = -1;
      mFamily = a.family;
      int err = sock_open_tcp(a.family, &mWinSocket);
      if (err == 0) {
        (void)sock_set_nodelay(mWinSocket);
        err = sock_bind_any_family(mWinSocket, a.family, mBindPort);
      }
      if (err != 0) {
        sock_close(mWinSocket);
        mWinSocket = -1;
        ++mAttempts;
        SetError(err);
        continue;
      }
      (void)sock_set_nonblocking(mWinSocket);
      mSocketStatus = pcsbstatus_Ready;
      mSocketError = 0;
    }
    ++mAttempts;
    mSocketStatus = pcsbstatus_Connecting;
    mSocketError = 0;
    const int err = sock_connect_to(mWinSocket, a, mPort);
    if (err == 0) {
      TcpConnected();
      return;
    }
    if (sock_in_progress(err)) return;
    SetError(err);  // refused at once, unreachable, or a family this machine lacks
  }
}

bool PCSBSocket::TryNextAddress() {
  if (mSocketStatus != pcsbstatus_Connecting || mTcpUp || mIsAServer || mNextAddr >= mAddrs.size())
    return false;
  ConnectNext();
  return true;
}

std::string PCSBSocket::CurrentAddress() const {
  return mNextAddr > 0 && mNextAddr <= mAddrs.size() ? sock_address_text(mAddrs[mNextAddr - 1])
                                                     : std::string();
}

PCSB_Status PCSBSocket::GetStatus() {
  if (mSocketStatus == pcsbstatus_Ready && mIsAServer) {
    sock_poll_out p = sock_poll(mWinSocket, true, false);
    if (p.result < 0) {
      SetError(p.err);
      return mSocketStatus;
    }
    if (p.result > 0) {
      mSocketStatus = p.readable ? pcsbstatus_Connecting : pcsbstatus_Disconnected;
      return mSocketStatus;
    }
  }
  if (mSocketStatus == pcsbstatus_Connecting && !mIsAServer && !mTcpUp) {
    sock_poll_out p = sock_poll(mWinSocket, false, true);
    if (p.result < 0) {
      SetError(p.err);
    } else if (p.result > 0) {
      // A refused or unreachable connect shows as an error/hang-up; the pending
      // error is checked as well so that no failed connect ever counts as made.
      bool ok = p.writable && !p.exceptional && sock_pending_error(mWinSocket) == 0;
      if (ok) {
        TcpConnected();
      } else {
        mSocketStatus = pcsbstatus_Disconnected;
        if (mNextAddr < mAddrs.size()) ConnectNext();  // another address of the name may answer
      }
    }
  }
  if (mSocketStatus == pcsbstatus_Connecting && mTcpUp) StepTls();
  return mSocketStatus;
}

int32_t PCSBSocket::ReadData(void* outBuf, int32_t inLength) {
  if (mSocketStatus == pcsbstatus_Error) return -1;  // keep the first failure and its code
  if (sReadBudget >= 0 && sReadBudget < inLength) inLength = static_cast<int32_t>(sReadBudget);
  if (inLength <= 0) return 0;
  if (mTlsPhase != tls_phase::kNone) {
    if (mTlsPhase != tls_phase::kUp) return 0;  // the handshake is not done: no data yet
    size_t got = 0;
    switch (mTls->read(outBuf, static_cast<size_t>(inLength), &got)) {
      case tls_result::ok:
        if (sReadBudget >= 0) sReadBudget -= static_cast<int64_t>(got);
        return static_cast<int32_t>(got);
      case tls_result::want_read:
      case tls_result::want_write:
        return 0;
      case tls_result::closed:
        mReceivedRelease = true;
        return 0;
      case tls_result::sys_error:
        return IoFailure(mTls->sys_errno(), false);
      case tls_result::error:
        break;
    }
    TlsFail(mTls->error_text(), kErrNetSecure);
    return -1;
  }
  int err = 0;
  long n = sock_recv(mWinSocket, outBuf, static_cast<size_t>(inLength), &err);
  if (n > 0) {
    if (sReadBudget >= 0) sReadBudget -= n;
    return static_cast<int32_t>(n);
  }
  if (n == 0) {
    mReceivedRelease = true;
    if (mSentRelease) {
      mSocketStatus = pcsbstatus_Disconnected;
      return -1;
    }
    return 0;
  }
  return IoFailure(err, false);
}

int32_t PCSBSocket::http_WriteData(const void* inBuf, int32_t inLength) {
  if (mSocketStatus == pcsbstatus_Error) return -1;  // keep the first failure and its code
  if (inLength <= 0) return 0;
  if (mTlsPhase != tls_phase::kNone) {
    if (mTlsPhase != tls_phase::kUp) return 0;
    size_t sent = 0;
    switch (mTls->write(inBuf, static_cast<size_t>(inLength), &sent)) {
      case tls_result::ok:
        return static_cast<int32_t>(sent);
      case tls_result::want_read:
      case tls_result::want_write:
        return 0;
      case tls_result::closed:
        mSocketStatus = pcsbstatus_Disconnected;
        return -1;
      case tls_result::sys_error:
        return IoFailure(mTls->sys_errno(), true);
      case tls_result::error:
        break;
    }
    TlsFail(mTls->error_text(), kErrNetSecure);
    return -1;
  }
  int err = 0;
  long n = sock_send(mWinSocket, inBuf, static_cast<size_t>(inLength), &err);
  if (n >= 0) return static_cast<int32_t>(n);
  return IoFailure(err, true);
}

int32_t PCSBSocket::IoFailure(int err, bool sending) {
  switch (sock_classify(err, sending)) {
    case sock_err_kind::would_block:
      return 0;
    case sock_err_kind::disconnected:
      mSocketStatus = pcsbstatus_Disconnected;
      return -1;
    case sock_err_kind::other:
      break;
  }
  SetError(err);
  return -1;
}

void PCSBSocket::Disconnect() {
  if (mTls && mTlsPhase == tls_phase::kUp) mTls->close_notify();
  (void)sock_shutdown_send(mWinSocket);
  if (mSocketStatus != pcsbstatus_Error) mSocketStatus = pcsbstatus_Disconnected;
}

// ---------------------------------------------------------------------------
// TLS

void PCSBSocket::UseTls(const std::string& host, const std::string& tunnel) {
  mTlsHost = host;
  mTunnelOut = tunnel;
  mTlsPhase = tunnel.empty() ? tls_phase::kHandshake : tls_phase::kTunnel;
}

void PCSBSocket::TcpConnected() {
  if (mTlsPhase == tls_phase::kNone) {
    mSocketStatus = pcsbstatus_Connected;
    return;
  }
  mTcpUp = true;  // still Connecting: the tunnel and the handshake come first
  mSocketStatus = pcsbstatus_Connecting;
}

void PCSBSocket::TlsFail(const std::string& why, int code) {
  mTlsError = why;
  SetError(code);
}

void PCSBSocket::StepTls() {
  if (mTlsPhase == tls_phase::kTunnel) StepTunnel();
  if (mTlsPhase != tls_phase::kHandshake || mSocketStatus != pcsbstatus_Connecting) return;
  if (!mTls) mTls = std::make_unique<tls_session>(mWinSocket, mTlsHost);
  switch (mTls->handshake()) {
    case tls_result::ok:
      mTlsPhase = tls_phase::kUp;
      mSocketStatus = pcsbstatus_Connected;
      return;
    case tls_result::want_read:
    case tls_result::want_write:
      return;
    case tls_result::closed:
      TlsFail("the server closed the connection during the TLS handshake", kErrNetSecure);
      return;
    case tls_result::sys_error:
      TlsFail(
          "the connection failed during the TLS handshake: " + std::string(std::strerror(mTls->sys_errno())),
          mTls->sys_errno());
      return;
    case tls_result::error:
      TlsFail(mTls->error_text(), kErrNetSecure);
      return;
  }
}

// The proxy's answer to CONNECT is a header only; nothing follows it until
// the handshake starts, so every byte read belongs to it.
void PCSBSocket::StepTunnel() {
  int err = 0;
  if (!mTunnelOut.empty()) {
    const long n = sock_send(mWinSocket, mTunnelOut.data(), mTunnelOut.size(), &err);
    if (n < 0) {
      if (sock_classify(err, true) != sock_err_kind::would_block)
        TlsFail("the proxy's connection failed while sending CONNECT: " + std::string(std::strerror(err)),
                err);
      return;
    }
    mTunnelOut.erase(0, static_cast<size_t>(n));
    if (!mTunnelOut.empty()) return;
  }
  char buf[1024];
  const long n = sock_recv(mWinSocket, buf, sizeof buf, &err);
  if (n < 0) {
    if (sock_classify(err, false) != sock_err_kind::would_block)
      TlsFail("the proxy's connection failed before it answered CONNECT: " + std::string(std::strerror(err)),
              err);
    return;
  }
  if (n == 0) {
    TlsFail("the proxy closed the connection before it answered CONNECT", kErrNetSecure);
    return;
  }
  mTunnelIn.append(buf, static_cast<size_t>(n));
  size_t end = mTunnelIn.find("\r\n\r\n");
  size_t end_len = 4;
  if (end == std::string::npos) {
    end = mTunnelIn.find("\n\n");
    end_len = 2;
  }
  if (end == std::string::npos) {
    if (mTunnelIn.size() > kMaxTunnelAnswer)
      TlsFail("the proxy's answer to CONNECT is too long", kErrNetSecure);
    return;
  }
  const std::string line = mTunnelIn.substr(0, mTunnelIn.find_first_of("\r\n"));
  // "HTTP/x.y 200 reason"
  if (line.size() >= 12 && line.compare(0, 5, "HTTP/") == 0 && line[8] == ' ') {
    const std::string code = line.substr(9, 3);
    if (code.find_first_not_of("0123456789") == std::string::npos) mTunnelStatus = std::stoi(code);
  }
  if (mTunnelStatus < 200 || mTunnelStatus > 299) {
    TlsFail("the proxy refused the tunnel: \"" + line + "\"", kErrNetSecure);
    return;
  }
  if (end + end_len != mTunnelIn.size()) {
    TlsFail("the proxy sent bytes after its answer to CONNECT", kErrNetSecure);
    return;
  }
  mTunnelIn.clear();
  mTlsPhase = tls_phase::kHandshake;
}
