#include "net/PCSBSocket.h"

#include <cerrno>
#include <climits>

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
    mSocketStatus = pcsbstatus_Connected;
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
      mSocketStatus = pcsbstatus_Connected;
      return;
    }
    if (sock_in_progress(err)) return;
    SetError(err);  // refused at once, unreachable, or a family this machine lacks
  }
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
  if (mSocketStatus == pcsbstatus_Connecting && !mIsAServer) {
    sock_poll_out p = sock_poll(mWinSocket, false, true);
    if (p.result < 0) {
      SetError(p.err);
    } else if (p.result > 0) {
      // A refused or unreachable connect shows as an error/hang-up; the pending
      // error is checked as well so that no failed connect ever counts as made.
      bool ok = p.writable && !p.exceptional && sock_pending_error(mWinSocket) == 0;
      mSocketStatus = ok ? pcsbstatus_Connected : pcsbstatus_Disconnected;
      if (!ok && mNextAddr < mAddrs.size()) ConnectNext();  // another address of the name may answer
    }
  }
  return mSocketStatus;
}

int32_t PCSBSocket::ReadData(void* outBuf, int32_t inLength) {
  if (mSocketStatus == pcsbstatus_Error) return -1;  // keep the first failure and its code
  if (sReadBudget >= 0 && sReadBudget < inLength) inLength = static_cast<int32_t>(sReadBudget);
  if (inLength <= 0) return 0;
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
  (void)sock_shutdown_send(mWinSocket);
  if (mSocketStatus != pcsbstatus_Error) mSocketStatus = pcsbstatus_Disconnected;
}
