// Fuzzes the download object's response parsing (header lines, interim
// responses, lengths, chunked bodies, early ends) with the real object on a
// real loopback connection: the input is the server's answer, sent to it first
// byte by byte, then in chunks of random sizes, with one DoProcessing per
// piece, and finally with the server's side closed. The first two bytes choose
// how many bytes go one at a time and seed the chunk sizes.
//
// Checks: the file never holds more than the announced length, the file on
// disk holds exactly the bytes counted as received, the buffered header text
// stays bounded, and the object never reports a complete download that the
// manager would take for an archive while it is still reading.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "fuzz_support.h"
#include "net/http.h"
#include "util/xtim.h"

namespace {

int g_listen = -1;
uint16_t g_port = 0;

void start_listener() {
  g_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (g_listen < 0 || ::bind(g_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(g_listen, 8) != 0 || ::getsockname(g_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    fuzzsupport::fail("cannot listen on 127.0.0.1");
  g_port = ntohs(a.sin_port);
}

// Closes the server's side with a reset, so no connection lingers in
// TIME_WAIT and thousands of inputs a second never run out of ports.
void close_with_reset(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

void drain(int fd) {
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

void check(down_class& d, const std::string& dest) {
  if (d.mIncomingLength >= 0 && d.mReceivedPayload > d.mIncomingLength)
    fuzzsupport::fail("more body bytes kept than announced");
  if (d.mInBuf.size() > 2 * 65536 + 16) fuzzsupport::fail("unbounded header buffer");
  if (!d.mDestFile && d.mFileErr == 0 && d.mGotWholeHeader) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(dest, ec);
    if (!ec && static_cast<int64_t>(size) != d.mReceivedPayload)
      fuzzsupport::fail("the file does not hold the bytes counted as received");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  if (g_listen < 0) start_listener();
  static const std::string dest = fuzzsupport::scratch() + "body.bin";
  std::error_code ec;
  std::filesystem::remove(dest, ec);

  size_t one_by_one = 0;
  unsigned seed = 0;
  if (size >= 2) {
    one_by_one = data[0] * 2u;  // 0..510 bytes sent singly
    seed = data[1];
    data += 2;
    size -= 2;
  }

  down_class d("127.0.0.1", g_port, "/files/R1/Master/a file.txt.zip", false,
               {{"Connection", "close"}, {"Host", "127.0.0.1"}, {"User-agent", "fuzz"}}, nullptr, 0,
               dest.c_str());
  const int server = ::accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC);
  if (server < 0) fuzzsupport::fail("accept failed");
  for (int i = 0; i < 1000 && d.GetStat() == 1; ++i) d.DoProcessing();
  for (int i = 0; i < 1000 && d.GetStat() == 4; ++i) d.DoProcessing();
  drain(server);

  std::minstd_rand rng(seed + 1);
  size_t pos = 0;
  bool reading = d.GetStat() == 6 || d.GetStat() == 5;
  while (pos < size && reading) {
    size_t n = pos < one_by_one ? 1 : 1 + rng() % 700;
    if (n > size - pos) n = size - pos;
    const ssize_t sent = ::send(server, data + pos, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent <= 0) break;
    pos += static_cast<size_t>(sent);
    xtim.advance_clock();
    d.DoProcessing();
    check(d, dest);
    const int st = d.GetStat();
    reading = st == 5 || st == 6;
    if (!reading && d.IsComplete() && d.mGotWholeHeader && d.mIncomingLength >= 0 &&
        d.mReceivedPayload != d.mIncomingLength)
      fuzzsupport::fail("complete with a short body");
  }
  // The server ends its answer: an orderly close, seen by the next passes.
  ::shutdown(server, SHUT_WR);
  for (int i = 0; i < 8 && (d.GetStat() == 5 || d.GetStat() == 6); ++i) d.DoProcessing();
  check(d, dest);
  if (d.GetStat() == 3 && d.IsComplete() && d.mGotWholeHeader && !d.IsErr()) {
    (void)std::filesystem::file_size(dest, ec);
    // A redirect's page is counted but never written.
    if (ec && !d.mDestFileName.empty() && d.mReceivedPayload > 0 && !d.mDiscardBody)
      fuzzsupport::fail("complete without a file");
  }
  d.GetPercentDone();
  d.GetOSErr();
  close_with_reset(server);
  return 0;
}
