// The socket wrapper against real loopback peers.
#include "net/PCSBSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "net_test_util.h"
#include "platform/sockets.h"
#include "support/test_support.h"

namespace {

// A blocking loopback listener of the test's own (the peer of the socket under test).
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
  int Accept() { return ::accept(fd, nullptr, nullptr); }
};

uint32_t loopback() {
  return htonl(INADDR_LOOPBACK);
}

// Connects `s` to the listener and returns the accepted peer.
int connect_pair(PCSBSocket& s, Listener& l) {
  s.Connect(loopback(), static_cast<uint16_t>(l.port));
  int peer = l.Accept();
  EXPECT_TRUE(nettest::poll_until([&] { return s.GetStatus() != pcsbstatus_Connecting; }))
      << "a loopback connect must finish";
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Connected) << "an accepted connect must read as Connected";
  return peer;
}

TEST(PCSBSocket, LookupAddress) {
  EXPECT_EQ(PCSBSocket::LookupAddress("127.0.0.1"), loopback()) << "dotted text is taken as it is";
  EXPECT_EQ(PCSBSocket::LookupAddress("10.1.2.3"), htonl(0x0a010203))
      << "dotted text must give the address in network byte order";
  EXPECT_EQ(PCSBSocket::LookupAddress("localhost"), loopback()) << "names go to the resolver";
  EXPECT_EQ(PCSBSocket::LookupAddress("no-such-host.invalid"), 0u) << "an unknown name must give 0";
  EXPECT_EQ(PCSBSocket::LookupAddress(""), 0u) << "an empty name is not an address";
  EXPECT_TRUE(PCSBSocket::StartupNetworking(true)) << "networking needs no start-up here";
}

TEST(PCSBSocket, ConnectToClosedPortEndsDisconnectedNotError) {
  const testsupport::RefusingPort refusing;
  const int port = refusing.port();
  PCSBSocket s(0, false);
  ASSERT_EQ(s.GetStatus(), pcsbstatus_Ready) << "a new socket starts Ready";
  s.Connect(loopback(), static_cast<uint16_t>(port));
  ASSERT_TRUE(nettest::poll_until([&] { return s.GetStatus() != pcsbstatus_Connecting; }))
      << "a refused connect must be noticed by polling";
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Disconnected) << "a refused connect is Disconnected, not Error";
  EXPECT_EQ(s.GetOSError(), 0) << "only Error carries an OS code";
}

TEST(PCSBSocket, ReadWriteAndPeerRelease) {
  Listener l;
  PCSBSocket s(0, false);
  int peer = connect_pair(s, l);
  char buf[64];
  EXPECT_EQ(s.ReadData(buf, sizeof buf), 0) << "nothing sent yet: a read must not wait and must give 0";
  ASSERT_EQ(s.http_WriteData("ping", 4), 4) << "a small write is accepted whole";
  char got[4];
  ASSERT_EQ(::recv(peer, got, 4, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(got, 4), "ping") << "the peer must receive the bytes written";

  ::send(peer, "pong", 4, 0);
  int32_t n = 0;
  ASSERT_TRUE(nettest::poll_until([&] { return (n = s.ReadData(buf, sizeof buf)) != 0; }));
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "pong") << "ReadData returns the bytes received";

  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(nettest::poll_until([&] {
    s.ReadData(buf, sizeof buf);
    return s.ReceivedRelease();
  })) << "the peer's orderly close must be seen";
  EXPECT_EQ(s.ReadData(buf, sizeof buf), 0) << "after the peer's release a read gives 0, not -1";
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Connected) << "the peer's release alone does not end the status";
  s.Disconnect();
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Disconnected) << "Disconnect ends the stream";
  ::close(peer);
}

TEST(PCSBSocket, WriteToResetPeerIsDisconnectedWithoutSigpipe) {
  // With the default action restored, a send that raised SIGPIPE would end
  // the test program.
  struct sigaction old {
  }, dfl{};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &dfl, &old);
  Listener l;
  PCSBSocket s(0, false);
  int peer = connect_pair(s, l);
  linger lg{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  ::close(peer);  // reset
  std::string block(65536, 'x');
  int32_t r = 0;
  EXPECT_TRUE(nettest::poll_until([&] { return (r = s.http_WriteData(block.data(), 65536)) < 0; }))
      << "writes to a reset peer must eventually fail";
  EXPECT_EQ(r, -1);
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Disconnected) << "reset and broken pipe are the disconnected class";
  ::sigaction(SIGPIPE, &old, nullptr);
}

TEST(PCSBSocket, FailedBindIsErrorAndDisconnectKeepsIt) {
  Listener l;  // holds the port
  PCSBSocket s(static_cast<uint16_t>(l.port), false);
  ASSERT_EQ(s.GetStatus(), pcsbstatus_Error) << "binding a port in use must fail";
  int code = s.GetOSError();
  EXPECT_NE(code, 0) << "Error carries the OS code";
  s.Disconnect();
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Error) << "Disconnect must not hide an Error";
  EXPECT_EQ(s.GetOSError(), code) << "Disconnect must keep the code";
  char buf[8];
  EXPECT_EQ(s.ReadData(buf, 8), -1) << "a failed socket fails reads harmlessly";
  EXPECT_EQ(s.http_WriteData("x", 1), -1) << "and writes";
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Error) << "a failed read must not turn Error into Disconnected";
  EXPECT_EQ(s.GetOSError(), code) << "nor replace the first failure's code";
}

TEST(PCSBSocket, ServerSeesPendingConnection) {
  // A free port may be taken by another test before the bind: another one then.
  int port = 0;
  std::unique_ptr<PCSBSocket> listening;
  for (int attempt = 0; attempt < 5 && (!listening || listening->GetStatus() == pcsbstatus_Error);
       ++attempt) {
    port = testsupport::free_port();
    listening = std::make_unique<PCSBSocket>(static_cast<uint16_t>(port), true);
  }
  PCSBSocket& server = *listening;
  ASSERT_EQ(server.GetStatus(), pcsbstatus_Ready) << "no client yet: the server stays Ready";
  PCSBSocket client(0, false);
  client.Connect(loopback(), static_cast<uint16_t>(port));
  EXPECT_TRUE(nettest::poll_until([&] { return server.GetStatus() == pcsbstatus_Connecting; }))
      << "a pending connection makes the listening socket Connecting";
}

TEST(PCSBSocket, NumericAddressesOfBothFamilies) {
  struct Case {
    const char* text;
    int family;  // 0: not a numeric address
  } cases[] = {
      {"127.0.0.1", 4},
      {"::1", 6},
      {"[::1]", 6},
      {"fe80::1%lo", 6},
      {"[2001:db8::7]", 6},
      {"localhost", 0},
      {"", 0},
      {"[::1", 0},
      {"[]", 0},
      {"[127.0.0.1]", 0},
      {"1.2.3", 0},
      {"mirror.example", 0},
      {"::1]", 0},
  };
  for (const Case& c : cases) {
    sock_address a;
    EXPECT_EQ(sock_parse_numeric(c.text, &a) ? a.family : 0, c.family) << c.text;
  }
  sock_address v6;
  ASSERT_TRUE(sock_parse_numeric("[::1]", &v6));
  EXPECT_EQ(sock_address_text(v6), "[::1]");
  std::vector<sock_address> all;
  ASSERT_TRUE(sock_resolve("localhost", &all)) << "a name is looked up in every family";
  bool v4_loopback = false;
  for (const sock_address& a : all) v4_loopback = v4_loopback || sock_address_text(a) == "127.0.0.1";
  EXPECT_TRUE(v4_loopback);
  EXPECT_FALSE(sock_resolve("no-such-host.invalid", &all));
}

// A name's addresses are tried in turn: one that refuses (an IPv6 address
// where nothing listens, or no IPv6 on this machine at all; another loopback
// address) gives way to the next, and only the last failure ends the attempt.
TEST(PCSBSocket, ConnectAnyTriesTheNextAddressWhenAConnectFails) {
  Listener l;  // on 127.0.0.1 only
  sock_address v6, other4, good;
  ASSERT_TRUE(sock_parse_numeric("::1", &v6));
  ASSERT_TRUE(sock_parse_numeric("127.0.0.2", &other4));
  ASSERT_TRUE(sock_parse_numeric("127.0.0.1", &good));
  PCSBSocket s(0, false);
  s.ConnectAny({v6, other4, good}, static_cast<uint16_t>(l.port));
  ASSERT_TRUE(nettest::poll_until([&] { return s.GetStatus() != pcsbstatus_Connecting; }));
  ASSERT_EQ(s.GetStatus(), pcsbstatus_Connected) << "the third address listens";
  EXPECT_EQ(s.ConnectAttempts(), 3);
  const int peer = l.Accept();
  ASSERT_GE(peer, 0);
  EXPECT_EQ(s.http_WriteData("ping", 4), 4) << "the connection that was made carries data";
  char buf[8] = {};
  EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 4);
  ::close(peer);

  PCSBSocket none(0, false);
  none.ConnectAny({v6, other4}, static_cast<uint16_t>(l.port));
  ASSERT_TRUE(nettest::poll_until([&] { return none.GetStatus() != pcsbstatus_Connecting; }));
  EXPECT_NE(none.GetStatus(), pcsbstatus_Connected) << "every address refused";
  EXPECT_EQ(none.ConnectAttempts(), 2);

  // An address that drops connection requests (a listener whose queue is
  // full) leaves the attempt pending; the caller gives it up for the next.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(l.port));
  ::inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(silent, 0), 0);
  const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << "the queue's one place";
  PCSBSocket slow(0, false);
  EXPECT_FALSE(slow.TryNextAddress()) << "nothing to give up before a connect";
  slow.ConnectAny({other4, good}, static_cast<uint16_t>(l.port));
  EXPECT_FALSE(nettest::poll_until([&] { return slow.GetStatus() != pcsbstatus_Connecting; }, 3000))
      << "the full queue drops the request";
  EXPECT_EQ(slow.CurrentAddress(), "127.0.0.2");
  ASSERT_TRUE(slow.TryNextAddress());
  EXPECT_EQ(slow.CurrentAddress(), "127.0.0.1");
  ASSERT_TRUE(nettest::poll_until([&] { return slow.GetStatus() != pcsbstatus_Connecting; }));
  EXPECT_EQ(slow.GetStatus(), pcsbstatus_Connected);
  EXPECT_EQ(slow.ConnectAttempts(), 2);
  EXPECT_FALSE(slow.TryNextAddress()) << "a made connection is kept";
  const int peer2 = l.Accept();
  EXPECT_GE(peer2, 0);
  ::close(peer2);
  ::close(filler);
  ::close(silent);
}

TEST(PCSBSocket, ConnectsOverIPv6) {
  if (!testsupport::have_ipv6_loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  sock_address v6;
  ASSERT_TRUE(sock_parse_numeric("[::1]", &v6));
  PCSBSocket s(0, false);
  s.ConnectAny({v6}, ntohs(a.sin6_port));
  ASSERT_TRUE(nettest::poll_until([&] { return s.GetStatus() != pcsbstatus_Connecting; }));
  EXPECT_EQ(s.GetStatus(), pcsbstatus_Connected);
  EXPECT_EQ(s.ConnectAttempts(), 1);
  ::close(fd);
}

}  // namespace
