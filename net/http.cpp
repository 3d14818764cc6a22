// http_class: the six download slots, the proxy choice and net_check.
#include "net/http.h"

#include <cctype>
#include <cstdlib>

#include "net/PCSBSocket.h"
#include "net/http_proxy.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/log_header.h"
#include "util/report.h"
#include "util/xtim.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "http";
constexpr int kLineTooManyDownloads = 232;
constexpr int kLineServerDirchar = 247;
constexpr int kLineDirNotAbsolute = 248;
}  // namespace

http_class http;
std::vector<std::string> gProxyExclude;

namespace {

bool inited_any = false;  // the slots were cleared by the first net_check
bool soc_inited = false;  // StartupNetworking was called

bool is_dirchar(char c) {
  return c == '/' || c == '\\';
}

// "name", "name:PORT", "[IPv6]" or "[IPv6]:PORT" into its parts (the
// brackets dropped); port 80 when none is given. A port that is not a number
// from 1 to 65535 leaves the whole text as the name, so that it fails to
// resolve and the download fails like any unknown server. An IPv6 literal
// without brackets is taken whole, with port 80: its last group is no port.
void split_host_port(const std::string& server, std::string* host, uint16_t* port,
                     uint16_t default_port = 80) {
  *host = server;
  *port = default_port;
  if (!server.empty() && server.front() == '[') {
    const size_t close = server.find(']');
    if (close == std::string::npos) return;
    if (close + 1 == server.size()) {
      *host = server.substr(1, close - 1);
      return;
    }
    if (server[close + 1] != ':') return;
  } else if (server.find(':') != server.rfind(':')) {
    return;
  }
  const size_t colon = server.rfind(':');
  if (colon == std::string::npos) return;
  const std::string digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return;
  const bool bracketed = server.front() == '[';
  *host = bracketed ? server.substr(1, colon - 2) : server.substr(0, colon);
  *port = static_cast<uint16_t>(value);
}

bool has_prefix_nocase(const std::string& s, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// A server as the installer names it: "https://" before it means TLS (port
// 443 unless one is given); "http://" may stand before a plain one.
struct server_parts {
  bool tls = false;
  std::string authority;  // without the scheme: what the Host field carries
  std::string host;       // no port, no brackets
  uint16_t port = 80;
};

server_parts parse_server(const std::string& server) {
  server_parts p;
  p.authority = server;
  if (has_prefix_nocase(server, "https://")) {
    p.tls = true;
    p.authority = server.substr(8);
  } else if (has_prefix_nocase(server, "http://")) {
    p.authority = server.substr(7);
  }
  split_host_port(p.authority, &p.host, &p.port, p.tls ? 443 : 80);
  return p;
}

std::string host_of(const std::string& server) {
  return parse_server(server).host;
}

}  // namespace

std::string http_agent_text() {
  // The product's version text ("Skyvane 9.00 Beta-25") ends the agent text.
  const std::string version = kSkyvaneVersionString;
  return "Installer-LIN/" + (version.size() > 4 ? version.substr(version.size() - 4) : version);
}

http_class::~http_class() {
  for (int o = 0; o < kSlots; ++o) abandon(o);
}

void http_class::abandon(int o) {
  if (o < 0 || o >= kSlots) return;
  mSlots[o].reset();
  mKept[o] = kept_connection{};
  mQueue[o].clear();
}

void http_class::release(int o) {
  down_class* d = mSlots[o].get();
  if (d && d->ConnectionReusable()) {
    mKept[o].key = d->ConnectionKey();
    mKept[o].socket = d->TakeConnection();
    mKept[o].since = xtim.real_time;
    mKept[o].ahead = d->mAhead;
    mKept[o].unsent = std::move(d->mOutBuf);
    mKept[o].received = std::move(d->mCarry);
  } else if (d && d->mAhead > 0) {
    unsend_queue(o);
    stop_pipelining(mTargets[o].server, "ended the connection with " + std::to_string(d->mAhead) +
                                            " request(s) sent ahead unanswered; they are sent again");
  }
  mSlots[o].reset();
}

void http_class::unsend_queue(int o) {
  for (queued_request& q : mQueue[o]) q.sent = false;
}

void http_class::queue_next(int o, const std::string& server, const std::string& file) {
  if (o < 0 || o >= kSlots) return;
  std::string f = file;
  for (char& c : f)
    if (c == '\\') c = '/';
  mQueue[o].push_back({server, f, false});
}

void http_class::drop_queue(int o) {
  if (o < 0 || o >= kSlots) return;
  mQueue[o].clear();
  if (mKept[o].ahead > 0) mKept[o] = kept_connection{};  // its next answers are for requests no longer wanted
}

void http_class::stop_pipelining(const std::string& server, const std::string& why) {
  if (!mNoPipelining.insert(server).second) return;
  xer << "HTTP: " << server << " " << why << "; requests to it go one at a time from now on\n";
}

bool http_class::UseProxy(const char* inIP, uint16_t) const {
  if (ProxyPort_int == 0 || ProxyHost.empty()) return false;
  const std::string host = inIP ? inIP : "";
  for (const std::string& tail : gProxyExclude) {
    if (tail.size() <= host.size() && host.compare(host.size() - tail.size(), tail.size(), tail) == 0)
      return false;
  }
  return true;
}

namespace {

// How far a download has got: a call that changes this moved it on.
struct progress {
  int32_t stat;
  size_t unsent, unparsed;
  int64_t received;
  bool operator==(const progress&) const = default;
};

progress progress_of(down_class& d) {
  return {d.GetStat(), d.mOutBuf.size(), d.mInBuf.size(), d.mReceivedPayload};
}

}  // namespace

namespace {

bool has_scheme(const std::string& loc, size_t* colon) {
  // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":" (RFC 3986 3.1)
  if (loc.empty() || !std::isalpha(static_cast<unsigned char>(loc[0]))) return false;
  for (size_t i = 1; i < loc.size(); ++i) {
    const char c = loc[i];
    if (c == ':') {
      *colon = i;
      return true;
    }
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

// "a/./b/../c" as "a/c" (RFC 3986 5.2.4); the path starts with '/'.
std::string without_dot_segments(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= path.size()) {
    const size_t slash = path.find('/', start);
    const std::string seg =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    const bool last = slash == std::string::npos;
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
      if (last) parts.emplace_back();
    } else if (seg == ".") {
      if (last) parts.emplace_back();
    } else {
      parts.push_back(seg);
    }
    if (last) break;
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// Where a Location sends a download of http://`server``file`: absolute
// (another host or port), network-path ("//host/path") or relative to the
// file's folder. False with the reason for an address this program cannot
// fetch.
bool resolve_location(std::string loc, const std::string& server, const std::string& file,
                      std::string* to_server, std::string* to_file, std::string* why) {
  while (!loc.empty() && (loc.back() == ' ' || loc.back() == '\t')) loc.pop_back();
  const size_t hash = loc.find('#');
  if (hash != std::string::npos) loc.resize(hash);  // a fragment is never sent
  if (loc.empty()) {
    *why = "the Location is empty";
    return false;
  }
  size_t colon = 0;
  bool tls = parse_server(server).tls;  // a network-path address keeps the scheme of the page
  if (has_scheme(loc, &colon)) {
    std::string scheme = loc.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") {
      *why = "only http:// and https:// addresses can be fetched";
      return false;
    }
    tls = scheme == "https";
    loc = loc.substr(colon + 1);
    if (loc.compare(0, 2, "//") != 0) {
      *why = "the address names no host";
      return false;
    }
  }
  std::string path;
  if (loc.compare(0, 2, "//") == 0) {
    const size_t end = loc.find_first_of("/?", 2);
    std::string authority = loc.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);  // user information is not sent
    if (authority.empty()) {
      *why = "the address names no host";
      return false;
    }
    *to_server = (tls ? "https://" : "") + authority;
    path = end == std::string::npos ? "/" : loc.substr(end);
    if (path[0] == '?') path = "/" + path;
  } else {
    *to_server = server;
    path = loc[0] == '/' ? loc : file.substr(0, file.rfind('/') + 1) + loc;
  }
  if (path.find('?') != std::string::npos) {
    *why = "an address with a query cannot be fetched";
    return false;
  }
  *to_file = percent_decoded(without_dot_segments(path));  // the request line escapes it again
  return true;
}

std::map<std::string, std::string> request_fields(const server_parts& to, int64_t resume_from) {
  std::map<std::string, std::string> fields = {
      {"Host", to.authority},  // with its ":PORT" when one was given
      {"User-agent", http_agent_text()},
  };
  if (resume_from > 0) fields["Range"] = "bytes=" + std::to_string(resume_from) + "-";
  return fields;
}

}  // namespace

void http_class::send_ahead(int o) {
  down_class* d = mSlots[o].get();
  if (!d || mQueue[o].empty() || !d->Reused() || mTargets[o].hops != 0 || !pipelining(mTargets[o].server))
    return;
  const down_class::state st = d->GetState();
  if (st != down_class::state::kSending && st != down_class::state::kAwaitingHeader &&
      st != down_class::state::kReceivingBody)
    return;
  const server_parts to = parse_server(mTargets[o].server);
  int in_flight = 1 + d->mAhead;
  for (queued_request& q : mQueue[o]) {
    if (q.sent) continue;
    if (in_flight >= kPipelineDepth || q.server != mTargets[o].server) break;
    d->SendAhead(
        down_class::RequestBytes(to.host.c_str(), to.port, q.file.c_str(), request_fields(to, 0), to.tls));
    q.sent = true;
    ++in_flight;
  }
}

void http_class::start_download(int o, const std::string& server, const std::string& file,
                                const std::string& rel_path, int64_t body_limit, bool quiet,
                                int64_t resume_from, bool fresh, bool ahead) {
  if (mSlots[o]) release(o);  // a redirect or a new try: its connection may carry the next request
  // A connection with requests sent ahead carries their answers: only the
  // first of them may take it.
  if (fresh || xtim.real_time - mKept[o].since > kKeptConnectionSeconds || (!ahead && mKept[o].ahead > 0)) {
    if (mKept[o].ahead > 0) unsend_queue(o);
    mKept[o] = kept_connection{};
  }
  const server_parts to = parse_server(server);
  const std::map<std::string, std::string> fields = request_fields(to, resume_from);
  const bool had_ahead = mKept[o].ahead > 0;
  mSlots[o] = std::make_unique<down_class>(to.host.c_str(), to.port, file.c_str(), false, fields, nullptr, 0,
                                           rel_path.c_str(), &mKept[o], to.tls);
  if (had_ahead && !mSlots[o]->SentAhead()) unsend_queue(o);
  mKept[o] = kept_connection{};  // not taken: it leads elsewhere, or the server closed it
  mSlots[o]->mBodyLimit = body_limit;
  mSlots[o]->mQuiet = quiet;
  mSlots[o]->mResumeFrom = resume_from;
  mTargets[o].server = server;
  mTargets[o].file = file;
}

bool http_class::follow_redirect(int o, const std::string& location, const std::string& rel_path,
                                 std::string* why) {
  slot_target& t = mTargets[o];
  std::string server, file;
  if (!resolve_location(location, t.server, t.file, &server, &file, why)) return false;
  if (t.hops >= kMaxRedirects) {
    *why = "more than " + std::to_string(kMaxRedirects) + " redirects";
    return false;
  }
  const std::string address = server + file;
  for (const std::string& seen : t.seen) {
    if (seen == address) {
      *why = "a redirect loop";
      return false;
    }
  }
  const down_class& d = *mSlots[o];
  const int64_t body_limit = d.mBodyLimit;
  const bool quiet = d.mQuiet;
  const int64_t resume_from = d.mResumeFrom;
  const int hops = t.hops + 1;
  std::vector<std::string> seen = std::move(t.seen);
  seen.push_back(address);
  start_download(o, server, file, rel_path, body_limit, quiet, resume_from);
  t.hops = hops;
  t.seen = std::move(seen);
  return true;
}

int64_t http_class::MaxRateBytes() const {
  const std::string run = cmdline.get_option("--max_rate");  // checked when the command line was read
  const int64_t kb = run.empty() ? MaxRate_kb : std::atoll(run.c_str());
  return kb > 0 ? kb * 1024 : 0;
}

void http_class::ProcessWithinRate(int o, down_class* d) {
  mRate.set_rate(MaxRateBytes());
  bool busy[kSlots];
  for (int i = 0; i < kSlots; ++i) busy[i] = mSlots[i] != nullptr;
  mRate.refill(xtim.real_time, busy);
  const int64_t allowed = mRate.allowance(o);
  PCSBSocket::SetReadBudget(allowed);
  d->DoProcessing();
  if (allowed >= 0) mRate.spend(o, allowed - PCSBSocket::ReadBudget());
  PCSBSocket::SetReadBudget(-1);
}

int32_t http_class::net_check(int32_t o, std::string server, std::string file, const std::string& rel_path,
                              int64_t body_limit, bool quiet, int64_t resume_from) {
  last_over_limit = false;
  last_pipelined = false;
  last_file_err = 0;
  last_kept = 0;
  if (o < 0 || o >= kSlots) {
    UTL_report(0, "Too many download objects requested!", "", "", "", t_exit, kTag, kLineTooManyDownloads);
    return 2;  // reached only when the exit hook returns
  }
  if (!inited_any) {
    inited_any = true;
    for (int i = 0; i < kSlots; ++i) abandon(i);
    if (!soc_inited) {
      (void)PCSBSocket::StartupNetworking(true);
      soc_inited = true;
    }
  }

  if (!mSlots[o]) {
    if (!server.empty() && is_dirchar(server.back())) {
      UTL_report(0, "net_check error! You have a dirchar at the end of the server name!", "You should not!",
                 "Our convention is that a server name is simply a server name... with no slash!", server,
                 t_exit, kTag, kLineServerDirchar);
      return 2;
    }
    if (file.empty() || !is_dirchar(file.front())) {
      UTL_report(
          0, "net_check error! You do not have a dirchar at the beginning of the directory name!",
          "You should!",
          "Our convention is that a directory name does start with a slash because it must include the "
          "hard drive,which is a dir char on unix!",
          file, t_exit, kTag, kLineDirNotAbsolute);
      return 2;
    }
  }
  for (char& c : server)
    if (c == '\\') c = '/';
  for (char& c : file)
    if (c == '\\') c = '/';

  const bool started = !mSlots[o];
  last_moved = true;
  if (started) {
    // The download announced first for this slot (queue_next), its request
    // perhaps sent ahead; another download makes announcements whose
    // requests went out void.
    bool ahead = false;
    std::deque<queued_request>& q = mQueue[o];
    if (!q.empty() && q.front().server == server && q.front().file == file && resume_from == 0) {
      ahead = q.front().sent;
      q.pop_front();
    } else if (mKept[o].ahead > 0 || (!q.empty() && q.front().sent)) {
      drop_queue(o);  // the answers on the connection are for requests no longer wanted
    }
    start_download(o, server, file, rel_path, body_limit, quiet, resume_from, false, ahead);
    mTargets[o].hops = 0;
    mTargets[o].seen = {server + file};
  }
  down_class* d = mSlots[o].get();
  if (!d) return 0;

  const progress before = progress_of(*d);
  send_ahead(o);
  ProcessWithinRate(o, d);
  last_pipelined = d->Pipelined();
  // The server closed the kept connection before this request reached it:
  // once more on a new connection, without counting it against the server.
  if (d->ReuseFailed()) {
    xer << "HTTP: " << mTargets[o].server << " closed the kept connection before answering "
        << mTargets[o].file << "; sending the request again on a new connection\n";
    if (d->SentAhead()) {
      stop_pipelining(mTargets[o].server, "closed the connection without answering " + mTargets[o].file +
                                              ", a request sent ahead");
    }
    if (d->Pipelined()) unsend_queue(o);
    const slot_target t = mTargets[o];
    start_download(o, t.server, t.file, rel_path, d->mBodyLimit, d->mQuiet, d->mResumeFrom, true);
    mTargets[o].hops = t.hops;
    mTargets[o].seen = t.seen;
    return 0;
  }
  if (!d->IsDone() && !d->IsComplete()) {
    if (!d->IsErr()) {
      if (xtim.real_time - d->last_read_time > kDownloadStallSeconds) {
        if (d->SentAhead() && !d->AnswerStarted()) {
          // Answers the requests before it and then not this one: it goes
          // again on a new connection, which is no failure of the server.
          stop_pipelining(mTargets[o].server, "did not answer " + mTargets[o].file +
                                                  ", a request sent ahead, within " +
                                                  std::to_string(static_cast<int>(kDownloadStallSeconds)) +
                                                  " s; sending it again on a new connection");
          unsend_queue(o);
          const slot_target t = mTargets[o];
          start_download(o, t.server, t.file, rel_path, d->mBodyLimit, d->mQuiet, d->mResumeFrom, true);
          mTargets[o].hops = t.hops;
          mTargets[o].seen = t.seen;
          return 0;
        }
        if (!d->mQuiet) {
          xer << "HTTP: nothing arrived from " << mTargets[o].server << " for " << mTargets[o].file << " in "
              << static_cast<int>(kDownloadStallSeconds) << " s; the download is abandoned\n";
        }
        last_kept = d->KeptBytes();
        abandon(o);
        return 2;
      }
      last_moved = started || progress_of(*d) != before;
      return 0;
    }
  }

  if (d->mResponseNum >= 200 && d->mResponseNum <= 299 && d->IsComplete() && !d->IsErr()) {
    release(o);
    return 1;
  }
  // The server cannot send the file from where the kept bytes end (it
  // changed, or they are longer): the whole file is asked for, in this slot.
  if (d->mGotWholeHeader && d->mResponseNum == 416 && d->mResumeFrom > 0) {
    const int64_t from = d->mResumeFrom, limit = d->mBodyLimit;
    const bool q = d->mQuiet;
    if (!q) {
      xer << "HTTP: " << mTargets[o].server << mTargets[o].file << " cannot be sent from byte " << from
          << " (#416); asking for the whole file\n";
    }
    start_download(o, mTargets[o].server, mTargets[o].file, rel_path, limit, q, 0);
    return 0;
  }
  // A redirect: the file is fetched from the address it names, in this slot.
  std::string location, not_followed;
  if (d->mGotWholeHeader && http_is_redirect(d->mResponseNum) && d->Field("Location")) {
    location = *d->Field("Location");
    const int32_t status = d->mResponseNum;
    const std::string from = mTargets[o].server + mTargets[o].file;
    if (follow_redirect(o, location, rel_path, &not_followed)) {
      if (!mSlots[o]->mQuiet) {
        xer << "HTTP: " << status << " redirect from " << from << " to " << mTargets[o].server
            << mTargets[o].file << "\n";
      }
      return 0;
    }
    if (!d->mQuiet) {
      xer << "HTTP: " << status << " redirect from " << from << " to " << location
          << " not followed: " << not_followed << "\n";
    }
  }
  if (d->mOverLimit && d->Pipelined()) {
    stop_pipelining(mTargets[o].server,
                    "answered " + mTargets[o].file +
                        " with more bytes than it can have, a request sent with others in "
                        "flight: perhaps the answer to another of them");
  }
  last_over_limit = d->mOverLimit;
  last_file_err = d->DestFileErr();
  last_kept = d->KeptBytes();
  if (d->mQuiet) {
    release(o);
    return 2;
  }
  http_note_proxy_refusal(*d, host_of(server));
  xer << "HTTP Error for " << rel_path << "\n"
      << "   server     =" << server << "\n"
      << "   file       =" << file << "\n"
      << "   IsDone     =" << (d->IsDone() ? 1 : 0) << "\n"
      << "   IsComplete =" << (d->IsComplete() ? 1 : 0) << "\n"
      << "   IsErr      =" << (d->IsErr() ? 1 : 0) << "\n"
      << "   GetStat    =" << d->GetStat() << "\n"
      << "   GetOSErr   =" << d->GetOSErr() << "\n"
      << "   response   =" << d->GetResponseName() << " (#" << d->mResponseNum << ")\n";
  if (d->mSocket && !d->mSocket->TlsError().empty())
    xer << "   tls        =" << d->mSocket->TlsError() << "\n";
  if (!not_followed.empty()) xer << "   location   =" << location << "\n";
  xer << "\n";
  xer.flush();
  release(o);
  return 2;
}
