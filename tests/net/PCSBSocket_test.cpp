// The socket wrapper against real loopback peers.
#include "net/PCSBSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "net_test_util.h"
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
  int port = testsupport::free_port();
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
  int port = testsupport::free_port();
  PCSBSocket server(static_cast<uint16_t>(port), true);
  ASSERT_EQ(server.GetStatus(), pcsbstatus_Ready) << "no client yet: the server stays Ready";
  PCSBSocket client(0, false);
  client.Connect(loopback(), static_cast<uint16_t>(port));
  EXPECT_TRUE(nettest::poll_until([&] { return server.GetStatus() == pcsbstatus_Connecting; }))
      << "a pending connection makes the listening socket Connecting";
}

}  // namespace
