// http_class: the six download slots, the proxy choice and net_check.
#include "net/http.h"

#include <cstdlib>

#include "net/PCSBSocket.h"
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
void split_host_port(const std::string& server, std::string* host, uint16_t* port) {
  *host = server;
  *port = 80;
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

std::string host_of(const std::string& server) {
  std::string host;
  uint16_t port = 80;
  split_host_port(server, &host, &port);
  return host;
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
  if (o >= 0 && o < kSlots) mSlots[o].reset();
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
                              int64_t body_limit, bool quiet) {
  last_over_limit = false;
  last_file_err = 0;
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
    std::string host;
    uint16_t port = 80;
    split_host_port(server, &host, &port);
    const std::map<std::string, std::string> fields = {
        {"Host", server},  // with its ":PORT" when one was given
        {"User-agent", http_agent_text()},
        {"Connection", "close"},
    };
    mSlots[o] = std::make_unique<down_class>(host.c_str(), port, file.c_str(), false, fields, nullptr, 0,
                                             rel_path.c_str());
    mSlots[o]->mBodyLimit = body_limit;
    mSlots[o]->mQuiet = quiet;
  }
  down_class* d = mSlots[o].get();
  if (!d) return 0;

  const progress before = progress_of(*d);
  ProcessWithinRate(o, d);
  if (!d->IsDone() && !d->IsComplete()) {
    if (!d->IsErr()) {
      if (xtim.real_time - d->last_read_time > kDownloadStallSeconds) {
        abandon(o);
        return 2;
      }
      last_moved = started || progress_of(*d) != before;
      return 0;
    }
  }

  if (d->mResponseNum >= 200 && d->mResponseNum <= 299 && d->IsComplete() && !d->IsErr()) {
    abandon(o);
    return 1;
  }
  last_over_limit = d->mOverLimit;
  last_file_err = d->DestFileErr();
  if (d->mQuiet) {
    abandon(o);
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
      << "   response   =" << d->GetResponseName() << " (#" << d->mResponseNum << ")\n"
      << "\n";
  xer.flush();
  abandon(o);
  return 2;
}
