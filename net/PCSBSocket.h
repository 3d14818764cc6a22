#pragma once
// One TCP stream socket (IPv4 or IPv6), safe to drive from the installer's per-frame
// pass: every operation returns at once and the socket carries a coarse state
// that the caller polls. Failures never throw and never show anything; they
// are recorded in the status (and, for pcsbstatus_Error, in GetOSError).
// net/ includes only util/ and platform/ (order: platform < util < io, net <
// ui < prefs < installer; io/ and net/ share a level and include neither each
// other).
//
// Client use: StartupNetworking once per process, LookupAddress, construct with
// port 0 and inServer false, Connect, then each pass GetStatus and, while
// connected, http_WriteData / ReadData; Disconnect when the expected data are
// in; delete through the virtual destructor.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sockets.h"

class tls_session;

enum PCSB_Status : uint8_t {
  pcsbstatus_Ready = 1,         // created, not connecting (initial state)
  pcsbstatus_Connecting = 2,    // connection attempt under way (client) / connection pending (server)
  pcsbstatus_Connected = 3,     // the stream is established
  pcsbstatus_Disconnected = 4,  // the stream is over: closed, reset, refused, or shut down by us
  pcsbstatus_Error = 5,         // an OS call failed; GetOSError holds the code
};

class PCSBSocket {
 public:
  // `inPort`: local port in host order (0 = any). `inServer`: listen instead of
  // connecting (never used by the installer). A failure leaves the object in
  // pcsbstatus_Error, where every other operation fails harmlessly.
  PCSBSocket(uint16_t inPort, bool inServer);
  virtual ~PCSBSocket();
  PCSBSocket(const PCSBSocket&) = delete;
  PCSBSocket& operator=(const PCSBSocket&) = delete;

  // True when the networking layer is ready (always, on this platform).
  static bool StartupNetworking(bool inFlag);

  // IPv4 address in network byte order of dotted text or a host name; 0 when
  // the name does not resolve. Dotted text never reaches a resolver; a name may
  // make the system resolver wait briefly.
  static uint32_t LookupAddress(const char* inAddress);

  // Starts a connection; the outcome shows in GetStatus. `inIP` as returned by
  // LookupAddress, `inPort` in host order.
  void Connect(uint32_t inIP, uint16_t inPort);

  // Starts a connection to the first of `inAddrs` (either family), `inPort` in
  // host order. When an attempt fails (refused, unreachable, no such family on
  // this machine) the next address is tried, here or in a later GetStatus,
  // and the socket stays Connecting meanwhile; the last attempt's outcome is
  // the socket's. An empty list leaves the socket in Error (EDESTADDRREQ).
  void ConnectAny(const std::vector<sock_address>& inAddrs, uint16_t inPort);
  // Connection attempts started by ConnectAny so far (1 when the first
  // address answered).
  int ConnectAttempts() const { return mAttempts; }
  // Gives up the address being connected to when it has not answered yet
  // (it may drop connection requests silently) and another of ConnectAny's
  // remains: the next one is tried. False, and nothing changed, otherwise.
  bool TryNextAddress();
  // The address ConnectAny is trying or reached; empty before.
  std::string CurrentAddress() const;

  // The status after one zero-time-out poll (only Ready servers and Connecting
  // sockets are polled; other states are returned unchanged).
  PCSB_Status GetStatus();

  // One receive of at most `inLength` bytes: > 0 bytes read, 0 nothing now (or
  // the peer released its side: see ReceivedRelease), -1 stream over or failed.
  int32_t ReadData(void* outBuf, int32_t inLength);

  // One send of up to `inLength` bytes: bytes accepted (>= 0, may be fewer than
  // asked), -1 stream over or failed.
  int32_t http_WriteData(const void* inBuf, int32_t inLength);

  // Shuts down our sending direction; the status becomes Disconnected unless it
  // is Error. The handle stays open until destruction.
  void Disconnect();

  // The bytes every ReadData together may still take (-1: no limit). The
  // client manager sets it around one download's slice to apply its rate
  // limit; a read takes at most what is left and counts what it took, and
  // with nothing left it reads nothing (returns 0). Reads run on one thread.
  static void SetReadBudget(int64_t bytes) { sReadBudget = bytes; }
  static int64_t ReadBudget() { return sReadBudget; }

  // Makes this a TLS connection (1.2 or later) to `host`; called before
  // Connect or ConnectAny. `tunnel`, when not empty, is a proxy's CONNECT
  // request, sent in the clear once the proxy is reached; a 2xx answer opens
  // the tunnel the handshake then runs in. The socket reads as Connecting
  // until the handshake is done; ReadData and http_WriteData then move
  // decrypted bytes (the read budget counts those). A refused tunnel,
  // certificate or handshake leaves it in Error (kErrNetSecure) with the
  // reason in TlsError.
  void UseTls(const std::string& host, const std::string& tunnel = std::string());
  bool IsTls() const { return mTlsPhase != tls_phase::kNone; }
  const std::string& TlsError() const { return mTlsError; }
  // The status code of the proxy's answer to CONNECT; 0 before one arrived.
  int TunnelStatus() const { return mTunnelStatus; }

  int32_t GetOSError() const { return mSocketError; }
  bool ReceivedRelease() const { return mReceivedRelease; }

 private:
  void SetError(int code);
  // A failed read or write: 0 when it would block, -1 (Disconnected or
  // Error) otherwise.
  int32_t IoFailure(int err, bool sending);
  // Tries the addresses of ConnectAny from mNextAddr on until one connects
  // or is under way; the last failure stays when none is left.
  void ConnectNext();
  // The TCP connection is made: Connected, or on to the tunnel and handshake.
  void TcpConnected();
  // One step of the CONNECT exchange or the handshake, without waiting.
  void StepTls();
  void StepTunnel();
  void TlsFail(const std::string& why, int code);

  int mWinSocket = -1;  // file descriptor; -1 when creation failed
  PCSB_Status mSocketStatus = pcsbstatus_Ready;
  int32_t mSocketError = 0;       // OS code of the failure that set pcsbstatus_Error
  bool mReceivedRelease = false;  // a receive returned 0 bytes: the peer closed its side
  bool mSentRelease = false;      // never set by this system; read by ReadData
  bool mIsAServer = false;
  static inline int64_t sReadBudget = -1;
  // ConnectAny: the addresses, the next one to try, the port, the attempts.
  std::vector<sock_address> mAddrs;
  size_t mNextAddr = 0;
  uint16_t mPort = 0;
  uint16_t mBindPort = 0;  // the constructor's local port, for a socket made again
  int mFamily = 4;         // the family of mWinSocket
  int mAttempts = 0;
  // TLS: where the connection is in its setup, the host, the session.
  enum class tls_phase : uint8_t { kNone, kTunnel, kHandshake, kUp };
  tls_phase mTlsPhase = tls_phase::kNone;
  bool mTcpUp = false;  // the TCP connection under a TLS one is made
  std::string mTlsHost;
  std::string mTunnelOut, mTunnelIn;  // the CONNECT request not yet sent; the answer so far
  int mTunnelStatus = 0;
  std::unique_ptr<tls_session> mTls;
  std::string mTlsError;
};
