// down_class: one HTTP/1.1 request and its response, streamed to a file.
//
// Sections: construction and the request text; DoProcessing; header parsing;
// body and end of transfer; state queries.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "net/PCSBSocket.h"
#include "net/http.h"
#include "platform/sockets.h"
#include "util/error_codes.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

// One receive buffer shared by every download object: all of them run on the
// installer's main thread, so reads never overlap.
constexpr int32_t kReadChunk = 65536;
char readChunk[kReadChunk];

// Header text beyond this is not a server we can talk to; the response is
// abandoned instead of letting the buffer grow without bound.
constexpr size_t kMaxHeaderBytes = 65536;
constexpr size_t kMaxChunkLine = 4096;  // likewise for one line of chunk framing or trailer

bool iequals(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool is_ows(char c) {
  return c == ' ' || c == '\t';
}

// A Content-Length value: decimal digits only (RFC 9110 8.6), no sign, no
// overflow. Returns false for anything else.
bool parse_length(const std::string& v, int64_t* out) {
  if (v.empty() || v.size() > 18) return false;  // 18 digits always fit in 63 bits
  int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *out = n;
  return true;
}

// The path as a request target: every byte outside RFC 3986's unreserved
// characters and '/' is percent-encoded. A file named "100%.zip", "a#b.zip"
// or "a?b.zip" then reaches the server as that name instead of being read as
// an escape, a fragment or a query; control bytes cannot end the request line.
std::string escaped_path(const char* p) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// "bytes FIRST-LAST/TOTAL" (RFC 9110 14.4); TOTAL may be "*" (-1).
bool parse_content_range(const std::string& v, int64_t* first, int64_t* last, int64_t* total) {
  if (v.compare(0, 6, "bytes ") != 0) return false;
  const size_t dash = v.find('-', 6), slash = v.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || dash > slash) return false;
  if (!parse_length(v.substr(6, dash - 6), first) ||
      !parse_length(v.substr(dash + 1, slash - dash - 1), last))
    return false;
  const std::string t = v.substr(slash + 1);
  if (t == "*") {
    *total = -1;
  } else if (!parse_length(t, total)) {
    return false;
  }
  return *first <= *last && (*total == -1 || *last < *total);
}

// Whether a kept connection can carry another request: still connected,
// and the server has neither closed it nor sent anything unasked (a byte
// there could be taken for the next answer's). One read of one byte; a
// closed one is said once per server in the log, as servers that close
// every connection after an answer would otherwise fill it.
bool still_open(kept_connection* kept) {
  PCSBSocket& s = *kept->socket;
  const char* why = nullptr;
  char c = 0;
  if (s.GetStatus() != pcsbstatus_Connected) {
    why = "is no longer connected";
  } else {
    const int32_t got = s.ReadData(&c, 1);
    if (got > 0)
      why = "carried bytes nobody asked for";
    else if (got < 0 || s.ReceivedRelease())
      why = "was closed by the server";
  }
  if (!why) return true;
  static std::set<std::string> said;
  if (said.insert(kept->key).second)
    xer << "HTTP: the kept connection to " << kept->key << " " << why << "; connecting again\n";
  kept->socket.reset();
  return false;
}

// A field value with CR and LF turned into spaces, so that it stays one line.
std::string without_line_breaks(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

// The request: its line, the fields in name order, a blank line and the
// body, if any.
// `proxied`: the request goes to an http proxy (absolute form, with the
// proxy's credentials).
std::vector<char> request_bytes(bool proxied, const http_proxy_choice& proxy, bool inIsPost,
                                const char* inURL, const std::map<std::string, std::string>& inExtraFields,
                                const char* inContentBuffer, int32_t inContentBufferLength) {
  std::string req = inIsPost ? "POST " : "GET ";
  if (proxied) {
    auto host = inExtraFields.find("Host");
    req += "http://";
    if (host != inExtraFields.end()) req += host->second;
  }
  req += escaped_path(inURL ? inURL : "");
  req += " HTTP/1.1\r\n";
  for (const auto& [name, value] : inExtraFields) req += name + ": " + without_line_breaks(value) + "\r\n";
  if (proxied && !proxy.auth.empty()) req += "Proxy-Authorization: " + proxy.auth + "\r\n";
  if (inContentBuffer) req += "Content-Length: " + std::to_string(inContentBufferLength) + "\r\n";
  req += "\r\n";
  std::vector<char> out(req.begin(), req.end());
  if (inContentBuffer && inContentBufferLength > 0)
    out.insert(out.end(), inContentBuffer, inContentBuffer + inContentBufferLength);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and the request text

down_class::down_class(const char* inServerIP, uint16_t inPort, const char* inURL, bool inIsPost,
                       const std::map<std::string, std::string>& inExtraFields, const char* inContentBuffer,
                       int32_t inContentBufferLength, const char* rel_path, kept_connection* reuse, bool tls)
    : mServerName(inServerIP ? inServerIP : ""), mServerPort(inPort), mTls(tls) {
  if (rel_path) mDestFileName = rel_path;  // the program-folder prefix is empty in the installer
  last_read_time = xtim.real_time;

  const http_proxy_choice proxy = http.ProxyFor(mServerName, tls);
  const bool proxied = proxy.use;
  const std::string contact = proxied ? proxy.host : mServerName;
  // A proxy port outside 1..65535 (a damaged preferences file) must not wrap
  // round to some other port; the download fails like an unknown proxy.
  const bool bad_proxy_port = proxied && (proxy.port < 1 || proxy.port > 65535);
  mConnectPort = proxied ? static_cast<uint16_t>(proxy.port) : inPort;
  const bool v6 = contact.find(':') != std::string::npos;
  mConnectionKey = (proxied ? "the proxy " : "") + (v6 ? "[" + contact + "]" : contact) + ":" +
                   std::to_string(mConnectPort);
  if (tls) {
    // A TLS connection leads to its server alone, through the proxy or not;
    // an http:// one is never taken for it.
    const bool name_v6 = mServerName.find(':') != std::string::npos && mServerName.front() != '[';
    const std::string origin =
        (name_v6 ? "[" + mServerName + "]" : mServerName) + ":" + std::to_string(inPort);
    mConnectionKey = "https://" + origin + (proxied ? " through " + mConnectionKey : "");
    if (proxied) {
      mTunnel = "CONNECT " + origin + " HTTP/1.1\r\nHost: " + origin + "\r\n";
      if (!proxy.auth.empty()) mTunnel += "Proxy-Authorization: " + proxy.auth + "\r\n";
      mTunnel += "\r\n";
    }
  }

  // Through a tunnel the request is the server's own: origin form, no
  // proxy credentials.
  mOutBuf = request_bytes(proxied && !tls, proxy, inIsPost, inURL, inExtraFields, inContentBuffer,
                          inContentBufferLength);

  // Dotted addresses connect at once. Names are looked up off this thread, so
  // a slow or absent name server never freezes the installer's pass; until the
  // answer comes the object reads as connecting.
  sock_address numeric;
  if (bad_proxy_port) {
    xer << "HTTP: proxy port " << proxy.port << " is not a port\n";
    LookupFailed();
  } else if (reuse && reuse->socket && reuse->key == mConnectionKey && reuse->ahead > 0) {
    // Sent ahead on this connection: the next answer on it is this one's.
    mSocket = std::move(reuse->socket);
    mOutBuf = std::move(reuse->unsent);
    mPending = std::move(reuse->received);
    mAhead = reuse->ahead - 1;
    mSentAhead = true;
    mReused = true;
    mResponseNum = -1;
    SetState(mOutBuf.empty() ? state::kAwaitingHeader : state::kSending);
  } else if (reuse && reuse->socket && reuse->key == mConnectionKey && still_open(reuse)) {
    mSocket = std::move(reuse->socket);
    mReused = true;
    mResponseNum = -1;
    SetState(state::kSending);
  } else if (sock_parse_numeric(contact, &numeric)) {
    StartConnection({numeric});
  } else if (contact.empty()) {
    LookupFailed();
  } else {
    mLookup = std::make_unique<sock_lookup>(contact);
    SetState(state::kResolving);
  }
}

down_class::~down_class() {
  if (mDestFile) std::fclose(mDestFile);
}

// Every address of the name is tried in turn until one connects.
void down_class::StartConnection(const std::vector<sock_address>& addrs) {
  mResponseNum = -1;
  SetState(state::kConnecting);
  mSocket = std::make_unique<PCSBSocket>(0, false);
  if (mTls) {
    std::string name = mServerName;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    mSocket->UseTls(name, mTunnel);
  }
  mAttemptSince = xtim.real_time;
  mSocket->ConnectAny(addrs, mConnectPort);
}

void down_class::LookupFailed() {
  if (!mQuiet) {
    xer << "Translated server " << mServerName << " to IP addy: " << sock_ipv4_text(0)
        << " and port = " << mServerPort << "\n";
    xer.flush();
  }
  mFileErr = kErrNetNoServer;
  mOutBuf.clear();  // no connection, no request
  SetState(state::kUnresolved);
}

// The one place the state changes.
void down_class::SetState(state to) {
  mState = to;
}

PCSB_Status down_class::FollowSocket() {
  const PCSB_Status st = mSocket->GetStatus();
  switch (st) {
    case pcsbstatus_Error:
      SetState(state::kFailed);
      break;
    case pcsbstatus_Disconnected:
      SetState(state::kOver);
      break;
    case pcsbstatus_Connecting:
      break;
    case pcsbstatus_Ready:
    case pcsbstatus_Connected:
      if (mState == state::kConnecting) SetState(state::kSending);  // the request is never empty
      break;
  }
  return st;
}

// ---------------------------------------------------------------------------
// DoProcessing

void down_class::DoProcessing() {
  if (mLookup) {
    std::vector<sock_address> addrs;
    const int found = mLookup->poll(&addrs);
    if (found == 0) return;
    mLookup.reset();
    if (found < 0) {
      LookupFailed();
      return;
    }
    StartConnection(addrs);
  }
  if (!mSocket) return;
  // An address that drops connection requests silently would hold the
  // download until the stall time-out while the name's others may answer.
  if (mState == state::kConnecting && xtim.real_time - mAttemptSince > kConnectAttemptSeconds) {
    const std::string was = mSocket->CurrentAddress();
    if (mSocket->TryNextAddress()) {
      if (!mQuiet) {
        xer << "HTTP: " << was << " did not answer within " << static_cast<int>(kConnectAttemptSeconds)
            << " s; trying " << mSocket->CurrentAddress() << "\n";
      }
      mAttemptSince = last_read_time = xtim.real_time;
    }
  }
  const PCSB_Status st = FollowSocket();
  if (mResponseEnded) return;  // the connection may be kept: nothing more is read from it here
  if (!mPending.empty() && st != pcsbstatus_Error) {
    // This answer's first bytes came with the end of the one before it.
    std::vector<char> pending;
    pending.swap(mPending);
    Received(pending.data(), pending.size());
    FollowSocket();
    return;
  }
  if (st == pcsbstatus_Connected) {
    Exchange();
    FollowSocket();  // a send, a read or the end of the body may have ended the stream (no poll: not
                     // connecting)
  } else if (st == pcsbstatus_Disconnected || st == pcsbstatus_Error) {
    if (mDestFile) {
      std::fclose(mDestFile);  // the transfer failed or ended; FinishFile already closed a whole one
      mDestFile = nullptr;
    }
  }
}

// One slice of a connected transfer: at most one send and one receive.
void down_class::Exchange() {
  if (!mOutBuf.empty()) {
    int32_t sent = mSocket->http_WriteData(mOutBuf.data(), static_cast<int32_t>(mOutBuf.size()));
    if (sent > 0) mOutBuf.erase(mOutBuf.begin(), mOutBuf.begin() + sent);
    if (mOutBuf.empty()) SetState(mGotWholeHeader ? state::kReceivingBody : state::kAwaitingHeader);
  }
  const int32_t got = mSocket->ReadData(readChunk, kReadChunk);
  if (got < 0) return;
  if (got == 0) {
    if (mSocket->ReceivedRelease()) PeerClosed();
    return;
  }
  Received(readChunk, static_cast<size_t>(got));
}

// Bytes of the answer, as they arrived.
void down_class::Received(const char* data, size_t got) {
  mAnswerStarted = true;
  if (mGotWholeHeader) {
    TakeBody(data, got);  // the common case: straight to the file, no copy
  } else {
    mInBuf.insert(mInBuf.end(), data, data + got);
    if (!mGotWholeHeader) ScanHeader();
    if (mGotWholeHeader && !mInBuf.empty() && !mAbandoned) {
      std::vector<char> body;
      body.swap(mInBuf);
      TakeBody(body.data(), body.size());
    }
  }
  if (mGotWholeHeader) last_read_time = xtim.real_time;
}

// ---------------------------------------------------------------------------
// Header parsing

// Consumes complete lines from the front of mInBuf. Lines end in CR LF or a
// bare LF (RFC 9112 2.2 lets a client take either). An interim response (1xx)
// is skipped and scanning goes on at once, so a final response that arrived in
// the same read is not left waiting for more data.
void down_class::ScanHeader() {
  size_t pos = 0;
  const char* buf = mInBuf.data();
  const size_t size = mInBuf.size();
  while (!mGotWholeHeader && !mAbandoned) {
    const void* nl = std::memchr(buf + pos, '\n', size - pos);
    if (!nl) break;
    const size_t eol = static_cast<size_t>(static_cast<const char*>(nl) - buf);
    const size_t len = eol - pos - (eol > pos && buf[eol - 1] == '\r' ? 1 : 0);
    mHeaderBytes += eol + 1 - pos;
    if (len == 0) {
      if (mResponseNum >= 200) HeaderComplete();
    } else {
      ParseLine(buf + pos, len);
    }
    pos = eol + 1;
  }
  if (!mAbandoned && !mGotWholeHeader && mHeaderBytes + (size - pos) > kMaxHeaderBytes) {
    Abandon("response header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
  }
  if (mAbandoned) {
    mInBuf.clear();
  } else {
    mInBuf.erase(mInBuf.begin(), mInBuf.begin() + static_cast<std::ptrdiff_t>(pos));
  }
}

// One header line without its CR LF: a status line or a field line; anything
// else is ignored.
void down_class::ParseLine(const char* line, size_t len) {
  const std::string s(line, len);
  // "HTTP/x.y SP 3DIGIT SP reason-phrase"; the reason may be empty (RFC 9112 4).
  if (s.compare(0, 5, "HTTP/") == 0) {
    const bool shape = len >= 12 && s[8] == ' ' && (len == 12 || s[12] == ' ');
    const bool digits =
        shape && s[9] >= '0' && s[9] <= '9' && s[10] >= '0' && s[10] <= '9' && s[11] >= '0' && s[11] <= '9';
    if (digits) {
      mResponseNum = (s[9] - '0') * 100 + (s[10] - '0') * 10 + (s[11] - '0');
      mHttp11 = s.compare(5, 3, "1.1") == 0;  // HTTP/1.0 closes after the answer (RFC 9112 9.3)
      mResponseName = len > 13 ? s.substr(13) : std::string();
      mFields.clear();  // the fields of an interim response do not belong to the final one
    }
    return;
  }
  // An obsolete folded line (RFC 9112 5.2) continues the field before it.
  if (is_ows(s[0])) {
    if (mFields.empty()) return;
    size_t b = 0, e = len;
    while (b < e && is_ows(s[b])) ++b;
    while (e > b && is_ows(s[e - 1])) --e;
    std::string& value = mFields.back().second;
    if (b < e) value += (value.empty() ? "" : " ") + s.substr(b, e - b);
    return;
  }
  // "name:" OWS value OWS (RFC 9112 5); a name holds no white space.
  const size_t colon = s.find(':');
  if (colon == std::string::npos || colon == 0) return;
  for (size_t i = 0; i < colon; ++i)
    if (is_ows(s[i])) return;
  size_t b = colon + 1, e = len;
  while (b < e && is_ows(s[b])) ++b;
  while (e > b && is_ows(s[e - 1])) --e;
  mFields.emplace_back(s.substr(0, colon), s.substr(b, e - b));
}

// The blank line after a final status line: open the destination and learn how
// the body ends.
void down_class::HeaderComplete() {
  mGotWholeHeader = true;
  if (mState == state::kAwaitingHeader)
    SetState(state::kReceivingBody);  // else the request is still going out
  // A redirect's body is a page about the move, not the file: the manager
  // fetches the file from the new address into the same destination.
  mDiscardBody = http_is_redirect(mResponseNum) && Field("Location");
  // Another answer than 2xx to a request for the rest of a file (an error
  // page) must not overwrite the bytes kept.
  const bool ok_status = mResponseNum >= 200 && mResponseNum <= 299;
  if (mResumeFrom > 0 && !ok_status) mDiscardBody = true;
  // A 206 continues the kept bytes only when its range starts right after
  // them and runs to the end of the file.
  int64_t range_length = -1;
  if (mResumeFrom > 0 && mResponseNum == 206) {
    const std::string* range = Field("Content-Range");
    int64_t first = 0, last = 0, total = 0;
    if (!range || !parse_content_range(*range, &first, &last, &total) || first != mResumeFrom ||
        (total != -1 && last + 1 != total)) {
      mBadRange = true;
      Abandon("the 206 answer's Content-Range \"" + (range ? *range : std::string()) +
              "\" does not continue the " + std::to_string(mResumeFrom) + " bytes kept");
      return;
    }
    range_length = last - first + 1;
    mBodyStart = mResumeFrom;
  }
  if (!mDestFileName.empty() && !mDiscardBody && mBodyStart > 0) {
    // Written after the kept bytes, which must still be there.
    errno = 0;
    mDestFile = std::fopen(mDestFileName.c_str(), "r+b");
    std::error_code ec;
    mDestOldSize = mDestFile ? static_cast<int64_t>(std::filesystem::file_size(mDestFileName, ec)) : 0;
    if (!mDestFile || ec || mDestOldSize < mBodyStart || fseeko(mDestFile, mBodyStart, SEEK_SET) != 0) {
      mBadRange = true;
      Abandon("the " + std::to_string(mBodyStart) + " bytes kept of " + mDestFileName + " are gone");
      return;
    }
    std::setvbuf(mDestFile, nullptr, _IONBF, 0);
  } else if (!mDestFileName.empty() && !mDiscardBody) {
    errno = 0;
    // An existing file is overwritten in place and cut to the body's length
    // at the end (FinishFile), never emptied first: the grab engine reuses
    // one archive file per stream, and ext4 forces out the blocks of a file
    // emptied and written again when it is closed.
    mDestFile = std::fopen(mDestFileName.c_str(), "r+b");
    std::error_code ec;
    mDestOldSize = mDestFile ? static_cast<int64_t>(std::filesystem::file_size(mDestFileName, ec)) : 0;
    if (ec) mDestOldSize = -1;  // unknown: cut it to length at the end in any case
    if (!mDestFile) mDestFile = std::fopen(mDestFileName.c_str(), "wb");
    if (!mDestFile) {
      mFileErr = errno ? errno : kErrNetWriteDisk;
    } else {
      std::setvbuf(mDestFile, nullptr, _IONBF, 0);  // each 64 KiB read goes to the file in one write
    }
  }

  // Field names are case-insensitive (RFC 9110 5.1). A chunked body carries
  // its own framing and any length field is ignored (RFC 9112 6.3).
  for (const auto& [name, value] : mFields) {
    if (!iequals(name, "Transfer-Encoding") || iequals(value, "identity")) continue;
    if (!iequals(value, "chunked")) {
      Abandon("unsupported Transfer-Encoding \"" + value + "\"");
      return;
    }
    mChunked = true;
  }
  if (mChunked) return;
  bool have_length = false;
  for (const auto& [name, value] : mFields) {
    if (!iequals(name, "Content-Length")) continue;
    int64_t n = 0;
    if (!parse_length(value, &n) || (have_length && n != mIncomingLength)) {
      Abandon("bad Content-Length \"" + value + "\"");
      return;
    }
    have_length = true;
    mIncomingLength = n;
  }
  if (range_length != -1) {
    if (have_length && mIncomingLength != range_length) {
      mBadRange = true;
      Abandon("the 206 answer's Content-Length " + std::to_string(mIncomingLength) +
              " does not match its Content-Range");
      return;
    }
    have_length = true;  // the range gives the length
    mIncomingLength = range_length;
  }
  mBodyByClose = !have_length;
  if (have_length && mBodyLimit >= 0 && mBodyStart + mIncomingLength > mBodyLimit) {
    mOverLimit = true;
    Abandon("announced body of " + std::to_string(mBodyStart + mIncomingLength) +
            " bytes is longer than the " + std::to_string(mBodyLimit) + " expected");
    return;
  }
  if (have_length && mIncomingLength == 0) TakeBody(nullptr, 0);
}

// ---------------------------------------------------------------------------
// Body and end of transfer

// Hands body bytes to the destination; ends the transfer once the announced
// length is in (bytes beyond it are not part of the body and are dropped).
void down_class::TakeBody(const char* data, size_t len) {
  if (mAbandoned) return;
  if (mResponseEnded) {
    if (mAhead > 0) {  // the next answer's
      mCarry.insert(mCarry.end(), data, data + len);
      return;
    }
    // Bytes after the whole response, unasked: the connection is not to be
    // trusted with another request.
    if (len > 0 && !mBytesAfterEnd) {
      mBytesAfterEnd = true;
      mSocket->Disconnect();
    }
    return;
  }
  if (mChunked) {
    TakeChunked(data, len);
    return;
  }
  if (mDestFileName.empty()) {
    mInBuf.insert(mInBuf.end(), data, data + len);  // no destination: the body stays in memory
    if (mIncomingLength != -1 && static_cast<int64_t>(mInBuf.size()) >= mIncomingLength)
      mSocket->Disconnect();
    return;
  }
  bool whole = false;
  if (mIncomingLength != -1) {
    const int64_t want = mIncomingLength - mReceivedPayload;
    if (static_cast<int64_t>(len) >= want) {
      if (mAhead > 0) {
        mCarry.insert(mCarry.end(), data + want, data + len);  // the next answer's
      } else {
        mBytesAfterEnd = static_cast<int64_t>(len) > want;  // not part of the body: dropped
      }
      len = static_cast<size_t>(want);
      whole = true;  // every expected byte is in: the transfer is over
    }
  }
  StoreBody(data, len);
  if (mIncomingLength != -1 && mReceivedPayload >= mIncomingLength) FinishFile();
  if (whole && !mAbandoned) EndResponse();
}

// Writes body bytes to the destination file (in memory when there is none).
void down_class::StoreBody(const char* data, size_t len) {
  if (len == 0) return;
  const int64_t stored =
      mDestFileName.empty() ? static_cast<int64_t>(mInBuf.size()) : mBodyStart + mReceivedPayload;
  if (mBodyLimit >= 0 && static_cast<int64_t>(len) > mBodyLimit - stored) {
    mOverLimit = true;
    Abandon("body longer than the " + std::to_string(mBodyLimit) + " bytes expected");
    return;
  }
  if (mDestFileName.empty()) {
    mInBuf.insert(mInBuf.end(), data, data + len);
    return;
  }
  if (mDiscardBody) {
    mReceivedPayload += static_cast<int64_t>(len);
    return;
  }
  if (!mDestFile) return;  // the open failed; mFileErr says why
  errno = 0;
  const size_t put = std::fwrite(data, 1, len, mDestFile);
  mReceivedPayload += static_cast<int64_t>(put);
  if (put < len && mFileErr == 0) mFileErr = errno ? errno : kErrNetWriteDisk;
}

// A chunked body (RFC 9112 7.1): hexadecimal size line (extensions after ';'
// ignored), that many data bytes, CR LF; a zero size, trailer lines and a
// blank line end it. Framing never reaches the file.
void down_class::TakeChunked(const char* data, size_t len) {
  size_t i = 0;
  while (i < len && !mAbandoned && mChunkState != kChunkDone) {
    if (mChunkState == kChunkData) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(mChunkLeft, static_cast<int64_t>(len - i)));
      StoreBody(data + i, n);
      i += n;
      mChunkLeft -= static_cast<int64_t>(n);
      if (mChunkLeft == 0) mChunkState = kChunkDataEnd;
      continue;
    }
    const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', len - i));
    const size_t take = nl ? static_cast<size_t>(nl - (data + i)) + 1 : len - i;
    mChunkLine.append(data + i, take);
    i += take;
    if (mChunkLine.size() > kMaxChunkLine) {
      Abandon("chunk framing line too long");
      return;
    }
    if (!nl) break;
    std::string line = mChunkLine.substr(0, mChunkLine.size() - 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    mChunkLine.clear();
    if (mChunkState == kChunkSize) {
      int64_t size = 0;
      size_t k = 0;
      for (; k < line.size() && std::isxdigit(static_cast<unsigned char>(line[k])); ++k) {
        if (k >= 15) break;  // more than 15 hex digits would overflow
        const char c = line[k];
        size = size * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      }
      while (k < line.size() && is_ows(line[k])) ++k;
      if (k == 0 || (k < line.size() && line[k] != ';')) {
        Abandon("bad chunk size line \"" + line + "\"");
        return;
      }
      mChunkLeft = size;
      mChunkState = size == 0 ? kChunkTrailer : kChunkData;
    } else if (mChunkState == kChunkDataEnd) {
      if (!line.empty()) {
        Abandon("chunk data not followed by CR LF");
        return;
      }
      mChunkState = kChunkSize;
    } else if (line.empty()) {  // the blank line after the trailer: the body is whole
      mChunkState = kChunkDone;
      mIncomingLength = mReceivedPayload;
      if (mAhead > 0) {
        mCarry.insert(mCarry.end(), data + i, data + len);  // the next answer's
      } else {
        mBytesAfterEnd = i < len;
      }
      FinishFile();
      EndResponse();
    }
  }
}

// The server closed its side. Without an announced length that is the end of
// the body (RFC 9112 6.3); otherwise the transfer ended short and has failed.
void down_class::PeerClosed() {
  if (mReused && !mAnswerStarted) {
    // The server closed the kept connection before this request reached it:
    // the manager sends the request again on a new one (ReuseFailed).
  } else if (mGotWholeHeader && mBodyByClose && !mAbandoned) {
    mIncomingLength = mReceivedPayload;
    FinishFile();
  } else if (mQuiet) {
    // a repeated failure of this server: logged the first time
  } else if (!mGotWholeHeader) {
    xer << "HTTP: the server closed the connection before the response header was complete\n";
  } else if (mChunked && mChunkState != kChunkDone) {
    xer << "HTTP: the server closed the connection before the end of the chunked body\n";
  } else if (!IsComplete()) {
    xer << "HTTP: the server closed the connection after " << mReceivedPayload << " of " << mIncomingLength
        << " body bytes\n";
  }
  mSocket->Disconnect();
}

// Closes a complete destination file; a failed close (data not stored) is a
// file error like a short write.
void down_class::FinishFile() {
  if (!mDestFile) return;
  errno = 0;
  if (std::fclose(mDestFile) != 0 && mFileErr == 0) mFileErr = errno ? errno : kErrNetWriteDisk;
  mDestFile = nullptr;
  const int64_t size = mBodyStart + mReceivedPayload;
  if (mDestOldSize == -1 || mDestOldSize > size) {
    std::error_code ec;
    std::filesystem::resize_file(mDestFileName, static_cast<std::uintmax_t>(size), ec);
    if (ec && mFileErr == 0) mFileErr = ec.value();
  }
}

// The whole response is in. The connection stays open (for the manager to
// keep) unless the server closes it after this answer or sent more than
// the answer; then our side is shut down as before.
void down_class::EndResponse() {
  mResponseEnded = true;
  if (ConnectionReusable()) {
    SetState(state::kOver);
  } else {
    mSocket->Disconnect();
  }
}

bool down_class::ConnectionReusable() {
  // Request bytes still to send are the ones sent ahead: they go with the
  // connection.
  if (!mResponseEnded || mAbandoned || mBytesAfterEnd || !mHttp11 || (!mOutBuf.empty() && mAhead == 0) ||
      !mSocket || mSocket->ReceivedRelease() || mSocket->GetStatus() != pcsbstatus_Connected ||
      mDestFileName.empty())
    return false;
  // "Connection: close" among the options, in any field of that name (RFC 9110 7.6.1).
  for (const auto& [name, value] : mFields) {
    if (!iequals(name, "Connection")) continue;
    size_t start = 0;
    while (start <= value.size()) {
      size_t end = value.find(',', start);
      if (end == std::string::npos) end = value.size();
      size_t b = start, e = end;
      while (b < e && is_ows(value[b])) ++b;
      while (e > b && is_ows(value[e - 1])) --e;
      if (iequals(value.substr(b, e - b), "close")) return false;
      start = end + 1;
    }
  }
  return true;
}

bool down_class::ReuseFailed() {
  if (!mReused || mAnswerStarted || !mSocket) return false;
  const state st = GetState();
  return st == state::kOver || st == state::kFailed;
}

std::unique_ptr<PCSBSocket> down_class::TakeConnection() {
  return std::move(mSocket);
}

void down_class::SendAhead(const std::vector<char>& request) {
  mOutBuf.insert(mOutBuf.end(), request.begin(), request.end());
  ++mAhead;
}

std::vector<char> down_class::RequestBytes(const char* inServerIP, uint16_t, const char* inURL,
                                           const std::map<std::string, std::string>& inExtraFields,
                                           bool tls) {
  const http_proxy_choice proxy = http.ProxyFor(inServerIP ? inServerIP : "", tls);
  return request_bytes(proxy.use && !tls, proxy, false, inURL, inExtraFields, nullptr, 0);
}

// Gives up on a response that cannot be read correctly: logged, the socket
// shut down, so the manager fails the download at once instead of waiting.
void down_class::Abandon(const std::string& why) {
  if (!mQuiet) xer << "HTTP: " << why << "; download abandoned\n";
  mAbandoned = true;
  if (mDestFile) {
    std::fclose(mDestFile);
    mDestFile = nullptr;
  }
  if (mSocket) mSocket->Disconnect();
}

// ---------------------------------------------------------------------------
// State queries

bool http_is_redirect(int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

const std::string* down_class::Field(const char* name) const {
  for (const auto& [n, value] : mFields)
    if (iequals(n, name)) return &value;
  return nullptr;
}

down_class::state down_class::GetState() {
  if (mSocket) FollowSocket();
  return mState;
}

int32_t down_class::GetStat() {
  switch (GetState()) {
    case state::kUnresolved:
      return 0;
    case state::kResolving:  // a running name look-up counts as connecting
    case state::kConnecting:
      return 1;
    case state::kFailed:
      return 2;
    case state::kOver:
      return 3;
    case state::kSending:
      return 4;
    case state::kReceivingBody:
      return 5;
    case state::kAwaitingHeader:
      return 6;
  }
  return 0;
}

bool down_class::IsComplete() const {
  return !mAbandoned && mIncomingLength == mReceivedPayload;
}

bool down_class::IsErr() {
  if (mFileErr != 0) return true;
  const int32_t stat = GetStat();
  return stat == 0 || stat == 2;
}

int32_t down_class::DestFileErr() const {
  return mFileErr == kErrNetNoServer ? 0 : mFileErr;  // every other file error is the destination's
}

int32_t down_class::GetOSErr() const {
  if (mFileErr != 0) return mFileErr;
  if (mSocket) return mSocket->GetOSError();
  return kErrNetAlloc;
}

float down_class::GetPercentDone() const {
  if (mIncomingLength == -1) return -1.0f;
  const int64_t whole = mBodyStart + mIncomingLength;
  if (whole == 0) return 100.0f;
  return static_cast<float>(static_cast<double>(mBodyStart + mReceivedPayload) * 100.0 /
                            static_cast<double>(whole));
}

int64_t down_class::KeptBytes() const {
  if (mBadRange || mDestFileName.empty()) return 0;
  if (!mGotWholeHeader || mDiscardBody) return mResumeFrom;  // nothing was written over them
  if (mAbandoned) return 0;                                  // the body could not be read correctly
  if (mResponseNum >= 200 && mResponseNum <= 299) return mBodyStart + mReceivedPayload;
  return 0;  // an error page was written from the start
}
