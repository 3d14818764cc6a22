// The download object against a scripted server: request text, header
// parsing, and the responses a real server may send that nginx will not.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "fault_server.h"
#include "net/PCSBSocket.h"
#include "net/http.h"
#include "net_test_util.h"
#include "support/test_support.h"
#include "util/error_codes.h"

namespace {

using nettest::FaultServer;
using nettest::Gate;
using nettest::Hold;
using nettest::Send;

class DownClass : public ::testing::Test {
 protected:
  std::unique_ptr<down_class> Start(FaultServer& srv, const char* url = "/f") {
    std::map<std::string, std::string> fields = {
        {"Host", srv.host()}, {"User-agent", http_agent_text()}, {"Connection", "close"}};
    return std::make_unique<down_class>("127.0.0.1", static_cast<uint16_t>(srv.port()), url, false, fields,
                                        nullptr, 0, dest.c_str());
  }
  // Drives the object until the transfer is over or failed.
  static bool Run(down_class& d) {
    return nettest::poll_until([&] {
      d.DoProcessing();
      return d.IsDone() || d.IsErr();
    });
  }
  testsupport::TempDir dir;
  std::string dest = dir / "out.bin";
  nettest::LogCapture log;
};

TEST_F(DownClass, PostRequestBytesAndStatusLine) {
  FaultServer srv({Send("HTTP/1.1 201 Created Here\r\nContent-Length: 5\r\n\r\nhello")});
  const char body[] = "abc";
  down_class d("127.0.0.1", static_cast<uint16_t>(srv.port()), "/up load", true, {{"B", "2"}, {"A", "1"}},
               body, 3, dest.c_str());
  EXPECT_EQ(d.mResponseNum, -1) << "a started connection marks the response number -1";
  ASSERT_TRUE(Run(d));
  // The server records up to the blank line; the body follows it.
  ASSERT_EQ(srv.requests().size(), 1u);
  EXPECT_EQ(srv.requests()[0], "POST /up%20load HTTP/1.1\r\nA: 1\r\nB: 2\r\nContent-Length: 3\r\n\r\nabc")
      << "request line, fields in name order, length line, blank line, then the content";
  EXPECT_EQ(d.mResponseNum, 201);
  EXPECT_EQ(d.GetResponseName(), "Created Here") << "the reason phrase is the rest of the status line";
  EXPECT_TRUE(d.IsDone() && d.IsComplete() && !d.IsErr()) << "a whole body ends the transfer";
  EXPECT_EQ(d.GetStat(), 3);
  EXPECT_EQ(testsupport::read_file(dest), "hello") << "the body goes to the destination file";
  EXPECT_FLOAT_EQ(d.GetPercentDone(), 100.0f);
}

TEST_F(DownClass, LineBreaksCannotSplitTheRequest) {
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
  down_class d("127.0.0.1", static_cast<uint16_t>(srv.port()), "/a\r\nX-Evil: 1\tb", false,
               {{"Host", "h\r\nX-Evil: 2"}}, nullptr, 0, dest.c_str());
  ASSERT_TRUE(Run(d));
  ASSERT_EQ(srv.requests().size(), 1u);
  EXPECT_EQ(srv.requests()[0], "GET /a%0D%0AX-Evil%3A%201%09b HTTP/1.1\r\nHost: h  X-Evil: 2\r\n\r\n")
      << "control bytes in the path are escaped and field values stay on one line";
}

TEST_F(DownClass, InterimResponseInTheSameReadIsSkipped) {
  // 100 Continue, then the final response, all in one packet and then the
  // close: nothing more arrives to restart a stopped scan.
  FaultServer srv(
      {Send("HTTP/1.1 100 Continue\r\nContent-Length: 99\r\n\r\n"
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc")});
  auto d = Start(srv);
  ASSERT_TRUE(Run(*d));
  EXPECT_EQ(d->mResponseNum, 200) << "the final status replaces the interim one";
  EXPECT_EQ(d->mIncomingLength, 3) << "the interim response's fields must not shadow the final ones";
  EXPECT_TRUE(d->IsComplete()) << "the final response must be read in the same pass";
  EXPECT_EQ(testsupport::read_file(dest), "abc");
}

TEST_F(DownClass, InterimResponseThenFinalInALaterRead) {
  FaultServer srv({Send("HTTP/1.1 100 Continue\r\n\r\n"), Gate(),
                   Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), Hold()});
  auto d = Start(srv);
  ASSERT_TRUE(nettest::poll_until([&] {
    d->DoProcessing();
    return d->mResponseNum == 100;
  }));
  EXPECT_FALSE(d->mGotWholeHeader) << "an interim response does not complete the header";
  EXPECT_EQ(d->GetStat(), 6) << "still waiting for the header";
  EXPECT_FALSE(testsupport::file_exists(dest)) << "no destination before the final header";
  srv.open_gate();
  ASSERT_TRUE(Run(*d));
  EXPECT_EQ(d->mResponseNum, 200);
  EXPECT_TRUE(d->IsComplete()) << "the length ends the transfer even while the server keeps the connection";
  EXPECT_EQ(testsupport::read_file(dest), "ok");
}

TEST_F(DownClass, FieldNamesAreCaseInsensitiveAndSpaceIsOptional) {
  for (const char* field : {"content-length: 4", "CONTENT-LENGTH:4", "Content-Length:\t4  "}) {
    FaultServer srv({Send(std::string("HTTP/1.1 200 OK\r\n") + field + "\r\n\r\nbody"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << field;
    EXPECT_EQ(d->mIncomingLength, 4) << "a valid length field must be read: " << field;
    EXPECT_TRUE(d->IsComplete()) << "the download must end by its length, not a time-out: " << field;
  }
}

TEST_F(DownClass, EmptyReasonPhraseIsAStatusLine) {
  for (const char* status : {"HTTP/1.1 200 ", "HTTP/1.1 200"}) {
    FaultServer srv({Send(std::string(status) + "\r\nContent-Length: 2\r\n\r\nok"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << status;
    EXPECT_EQ(d->mResponseNum, 200) << "a status line without reason must count: '" << status << "'";
    EXPECT_EQ(d->GetResponseName(), "");
    EXPECT_TRUE(d->IsComplete());
  }
}

TEST_F(DownClass, BodyWithoutLengthEndsWithTheConnection) {
  std::string body = testsupport::random_bytes(300000, 7);
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n" + body)});
  auto d = Start(srv);
  ASSERT_TRUE(Run(*d));
  EXPECT_TRUE(d->IsComplete()) << "without Content-Length the close ends the body (RFC 9112 6.3)";
  EXPECT_FALSE(d->IsErr());
  EXPECT_EQ(d->mReceivedPayload, 300000);
  EXPECT_TRUE(testsupport::read_file(dest) == body) << "every body byte must reach the file";
}

// The destination is overwritten in place: whichever way the body ends, a
// longer file that was there before is cut to the new body.
TEST_F(DownClass, ALongerOldFileIsCutToTheNewBody) {
  const std::string old_bytes = testsupport::random_bytes(200000, 9);
  const std::pair<const char*, std::string> cases[] = {
      {"announced length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh"},
      {"closed connection", "HTTP/1.1 200 OK\r\n\r\nfresh"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nfresh\r\n0\r\n\r\n"},
      {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
  };
  for (const auto& [how, reply] : cases) {
    testsupport::write_file(dest, old_bytes);
    FaultServer srv({Send(reply)});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << how;
    EXPECT_TRUE(d->IsComplete()) << how;
    EXPECT_EQ(testsupport::read_file(dest), d->mReceivedPayload == 0 ? "" : "fresh") << how;
  }
  // A longer body over a shorter file needs no cut and gets none wrong.
  testsupport::write_file(dest, "old");
  const std::string body = testsupport::random_bytes(100000, 10);
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body)});
  auto d = Start(srv);
  ASSERT_TRUE(Run(*d));
  EXPECT_TRUE(testsupport::read_file(dest) == body);
}

TEST_F(DownClass, CloseBeforeTheAnnouncedLengthFailsAtOnce) {
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'x')), Gate()});
  auto d = Start(srv);
  ASSERT_TRUE(nettest::poll_until([&] {
    d->DoProcessing();
    return d->mReceivedPayload == 500;
  }));
  EXPECT_EQ(d->GetStat(), 5) << "header complete, body arriving";
  EXPECT_FLOAT_EQ(d->GetPercentDone(), 50.0f) << "progress is received/announced";
  srv.open_gate();  // the server closes now
  ASSERT_TRUE(Run(*d)) << "the close must end the transfer without waiting for a time-out";
  EXPECT_TRUE(d->IsDone());
  EXPECT_FALSE(d->IsComplete()) << "a short body is not complete";
  EXPECT_NE(log.text().find("after 500 of 1000 body bytes"), std::string::npos) << "the log says why";
}

TEST_F(DownClass, ResetMidBodyIsNotComplete) {
  FaultServer srv({Send("HTTP/1.1 200 OK\r\n\r\n" + std::string(100, 'x')), nettest::Reset()});
  auto d = Start(srv);
  ASSERT_TRUE(Run(*d));
  EXPECT_FALSE(d->IsComplete()) << "a reset never counts as the end of a close-delimited body";
}

TEST_F(DownClass, BadContentLengthAbandonsTheResponse) {
  for (const char* value : {"-5", "abc", "12abc", "", "99999999999999999999", "3, 4"}) {
    FaultServer srv(
        {Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value + "\r\n\r\nabc"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << "a bad length must end the transfer at once: '" << value << "'";
    EXPECT_TRUE(d->IsDone());
    EXPECT_FALSE(d->IsComplete()) << "a response of unknown length is never complete: '" << value << "'";
  }
  EXPECT_NE(log.text().find("bad Content-Length \"-5\""), std::string::npos) << "the log names the value";
}

TEST_F(DownClass, HeaderFormsOddServersSend) {
  struct Case {
    const char* what;
    std::string response;
    bool complete;
    const char* body;
  };
  const Case cases[] = {
      {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 4\n\nbody", true, "body"},
      {"CR LF and bare LF mixed", "HTTP/1.1 200 OK\r\nServer: x\nContent-Length: 4\r\n\nbody", true, "body"},
      {"a folded field joined to the one before", "HTTP/1.1 200 OK\r\nContent-Length:\r\n \t4\r\n\r\nbody",
       true, "body"},
      {"a folded line continues a value", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n 4\r\n\r\nbody", false,
       ""},
      {"different lengths, different case",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\ncontent-length: 4\r\n\r\nabcd", false, ""},
      {"different lengths, same case",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", false, ""},
      {"a repeated equal length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\ncontent-length: 3\r\n\r\nabc",
       true, "abc"},
  };
  for (const Case& c : cases) {
    FaultServer srv({Send(c.response), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << c.what;
    EXPECT_EQ(d->IsComplete(), c.complete) << c.what;
    if (c.complete) {
      EXPECT_EQ(testsupport::read_file(dest), c.body) << c.what;
    }
  }
}

TEST_F(DownClass, LengthBeyond32BitsIsKept) {
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\nabcd"), Hold()});
  auto d = Start(srv);
  ASSERT_TRUE(nettest::poll_until([&] {
    d->DoProcessing();
    return d->mReceivedPayload == 4;
  }));
  EXPECT_EQ(d->mIncomingLength, 5000000000LL) << "a length past 2^31 must not wrap";
  EXPECT_FALSE(d->IsDone() || d->IsErr()) << "the transfer goes on";
  EXPECT_GT(d->GetPercentDone(), 0.0f);
  EXPECT_LT(d->GetPercentDone(), 0.001f);
}

TEST_F(DownClass, ZeroLengthAndSurplusBytes) {
  {
    FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d));
    EXPECT_TRUE(d->IsDone() && d->IsComplete()) << "length 0 ends the transfer with the header";
    EXPECT_TRUE(testsupport::file_exists(dest) && testsupport::read_file(dest).empty())
        << "an empty destination file is created";
  }
  {
    FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d));
    EXPECT_TRUE(d->IsComplete()) << "bytes past the announced length do not spoil the download";
    EXPECT_EQ(testsupport::read_file(dest), "abc") << "only the announced body is stored";
  }
}

TEST_F(DownClass, ChunkedBodyIsDecoded) {
  // Framing split at awkward places across reads: inside a size line, inside
  // the data, between data and its CR LF.
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 999\r\n\r\n1"),
                   Gate(), Send("0;ext=1\r\n0123456789abc"), Gate(), Send("def\r"), Gate(),
                   Send("\n0\r\nX-Trailer: t\r\n\r\n"), Hold()});
  auto d = Start(srv);
  for (int part = 0; part < 3; ++part) {
    const int64_t stored = part == 0 ? 0 : part == 1 ? 13 : 16;
    ASSERT_TRUE(nettest::poll_until([&] {
      d->DoProcessing();
      return d->mGotWholeHeader && d->mReceivedPayload == stored;
    })) << "part "
        << part;
    EXPECT_FALSE(d->IsDone()) << "the body is not over before the last chunk";
    EXPECT_FLOAT_EQ(d->GetPercentDone(), -1.0f) << "a chunked body has no known length";
    srv.open_gate();
  }
  ASSERT_TRUE(Run(*d));
  EXPECT_TRUE(d->IsComplete() && !d->IsErr()) << "the zero chunk and trailer end the body";
  EXPECT_EQ(testsupport::read_file(dest), "0123456789abcdef") << "only chunk data reaches the file";
}

TEST_F(DownClass, BadOrCutChunkedBodyFails) {
  for (const char* body : {"zz\r\nabc\r\n0\r\n\r\n", "3\r\nabcX\r\n0\r\n\r\n", "3\r\nabc\r\n"}) {
    FaultServer srv({Send(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + body)});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d));
    EXPECT_FALSE(d->IsComplete()) << "broken or cut framing must fail: " << body;
  }
}

TEST_F(DownClass, UnreadableResponsesAreAbandoned) {
  {
    FaultServer srv(
        {Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d));
    EXPECT_FALSE(d->IsComplete()) << "a coding we cannot undo must never be stored as the file";
  }
  {
    std::string pad;
    while (pad.size() < 70000) pad += "X-Pad: " + std::string(100, 'p') + "\r\n";
    FaultServer srv({Send("HTTP/1.1 200 OK\r\n" + pad), Hold()});
    auto d = Start(srv);
    ASSERT_TRUE(Run(*d)) << "an endless header must not grow memory without bound";
    EXPECT_FALSE(d->IsComplete());
    EXPECT_TRUE(d->mInBuf.empty()) << "the header text is dropped";
  }
}

TEST_F(DownClass, DestinationThatCannotBeOpened) {
  dest = dir / "no/such/folder/out.bin";
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"), Hold()});
  auto d = Start(srv);
  ASSERT_TRUE(Run(*d));
  EXPECT_TRUE(d->IsErr()) << "a destination that cannot be created is an error";
  EXPECT_EQ(d->GetOSErr(), ENOENT) << "the C library's code is reported";
}

TEST_F(DownClass, WithoutDestinationTheBodyStaysInMemory) {
  FaultServer srv({Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel"), Gate(), Send("lo"), Hold()});
  down_class d("127.0.0.1", static_cast<uint16_t>(srv.port()), "/f", false, {}, nullptr, 0, nullptr);
  ASSERT_TRUE(nettest::poll_until([&] {
    d.DoProcessing();
    return d.mInBuf.size() == 3;
  }));
  srv.open_gate();
  ASSERT_TRUE(Run(d));
  EXPECT_EQ(std::string(d.mInBuf.begin(), d.mInBuf.end()), "hello") << "the body is kept whole, in order";
  EXPECT_EQ(d.mReceivedPayload, 0) << "nothing was written to a file";
}

TEST_F(DownClass, UnresolvableServer) {
  down_class d("no-such-host.invalid", 80, "/f", false, {{"Host", "no-such-host.invalid"}}, nullptr, 0,
               dest.c_str());
  EXPECT_EQ(d.GetStat(), 1) << "a name look-up in progress reads as connecting";
  EXPECT_FALSE(d.IsErr()) << "a running look-up is not a failure";
  ASSERT_TRUE(nettest::poll_until([&] {
    d.DoProcessing();
    return d.GetStat() != 1;
  }));
  EXPECT_EQ(d.GetStat(), 0) << "no socket without an address";
  EXPECT_TRUE(d.IsErr());
  EXPECT_EQ(d.GetOSErr(), kErrNetNoServer) << "the 'could not find the server' code";
  EXPECT_EQ(d.mResponseNum, 0) << "no connection was started";
  EXPECT_TRUE(d.mOutBuf.empty()) << "no request is built";
  d.DoProcessing();  // harmless
  EXPECT_EQ(d.GetStat(), 0);
  EXPECT_NE(log.text().find("Translated server no-such-host.invalid to IP addy: 0.0.0.0 and port = 80\n"),
            std::string::npos)
      << "the look-up failure is logged";
}

}  // namespace
