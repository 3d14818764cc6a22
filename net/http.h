#pragma once
// HTTP/1.1 downloads driven a slice at a time from the installer's per-frame
// pass: `down_class` is one request and its response streamed into a file;
// `http_class` (the global `http`) owns six numbered download slots and the
// optional proxy, and `net_check` is the one polling call the installer uses.
//
// Nothing here waits for the network or shows anything, apart from the three
// fatal alerts for call-site mistakes in net_check.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "net/http_proxy.h"
#include "net/rate_bucket.h"

class PCSBSocket;
class sock_lookup;
struct sock_address;

// A connection kept open after a whole response (HTTP/1.1 persistent
// connection, RFC 9112 9.3), for the next request of the same slot to the
// same server or proxy.
struct kept_connection {
  std::unique_ptr<PCSBSocket> socket;  // null: none kept
  std::string key;                     // where it leads: down_class::ConnectionKey
  float since = 0.0f;                  // frame clock when it was kept
  // Pipelining: requests already sent on it (or waiting in `unsent`) whose
  // answers are still to come, in order; the bytes of those requests not yet
  // sent; bytes of the next answer that arrived with the end of the last.
  int ahead = 0;
  std::vector<char> unsent, received;
};

enum PCSB_Status : uint8_t;

// One HTTP request and its response. The constructor builds the request and
// starts reaching the server (or the proxy): a numeric address is connected to
// at once, a name is first looked up off the calling thread; each
// DoProcessing sends what the socket takes, reads at most one 64 KiB chunk,
// parses the header and streams the body straight into the destination file.
// The owner polls GetStat/IsDone/IsComplete/IsErr and deletes the object.
class down_class {
 public:
  // Where the transfer is. It changes in SetState alone; the socket's part
  // (connected, failed, over) is followed whenever its status is read.
  enum class state : uint8_t {
    kUnresolved,      // no address for the server: no socket, no request (GetStat 0)
    kResolving,       // the server's name is being looked up (1)
    kConnecting,      // the connection is being made (1)
    kSending,         // connected; request bytes still to send (4)
    kAwaitingHeader,  // the request is sent; the final header is not complete (6)
    kReceivingBody,   // the header is complete; the body arrives (5)
    kFailed,          // the socket failed (2)
    kOver,            // disconnected: the transfer is over, whole or not (3)
  };

  // `inServerIP`: host name, dotted IPv4 or IPv6 (brackets optional; no port); `inPort`: host order;
  // `inURL`: path part of the request (spaces are sent as %20);
  // `inExtraFields`: header fields sent in name order (a proxied request needs
  // "Host"); `inContentBuffer`/`inContentBufferLength`: request body or null;
  // `rel_path`: destination file (absolute in the installer) or null for none.
  // `reuse`: a connection kept from an earlier request; it is taken when it
  // leads where this request goes and the server has not closed it, else
  // left where it is. One with requests sent ahead (`reuse->ahead`) is taken
  // as it is: this request is the first of them, already sent, and its
  // answer is the next on the connection. `tls`: the server is reached over
  // TLS (https://), through a CONNECT tunnel when a proxy is used.
  down_class(const char* inServerIP, uint16_t inPort, const char* inURL, bool inIsPost,
             const std::map<std::string, std::string>& inExtraFields, const char* inContentBuffer,
             int32_t inContentBufferLength, const char* rel_path, kept_connection* reuse = nullptr,
             bool tls = false);
  ~down_class();  // closes the destination file if open, deletes the socket
  down_class(const down_class&) = delete;
  down_class& operator=(const down_class&) = delete;

  // Advances the transfer by one slice: at most one send and one receive.
  void DoProcessing();

  // The state as a code (the socket's status is read afresh first): 0 no
  // socket (server did not resolve), 1 connecting (or still looking up the
  // server's name), 2 socket error, 3 transfer over (disconnected), 4 request
  // still being sent, 5 header complete and body arriving, 6 waiting for the
  // header.
  int32_t GetStat();
  // The state after the socket's status is read afresh.
  state GetState();
  std::string GetResponseName() const { return mResponseName; }
  bool IsDone() { return GetStat() == 3; }
  // The announced body is wholly in (false for an abandoned response).
  bool IsComplete() const;
  bool IsErr();
  // mFileErr if set; else the socket's OS error; else kErrNetAlloc when there is no socket.
  int32_t GetOSErr() const;
  // -1 while the length is unknown (also for a chunked body, until its end),
  // else percent of the announced body received; a resumed download counts
  // the kept bytes once, as part of the whole file.
  float GetPercentDone() const;

  // The fields below are read by the manager and the installer screens.
  std::unique_ptr<PCSBSocket> mSocket;  // null until the name is resolved; stays null if it is not
  std::vector<char> mOutBuf;            // request bytes not yet accepted by the socket
  std::vector<char> mInBuf;             // unparsed header text (the body without a destination)
  bool mGotWholeHeader = false;         // the final (>= 200) response header is consumed
  int32_t mResponseNum = 0;             // 0 new, -1 connecting, then the last status code parsed
  std::string mResponseName;            // reason phrase of the last status line
  // Header fields in the order received, repeated names included: two
  // different lengths must both be seen to be refused.
  std::vector<std::pair<std::string, std::string>> mFields;
  FILE* mDestFile = nullptr;  // open while the body arrives
  std::string mDestFileName;  // empty = no destination
  int32_t mFileErr = 0;       // errno or 200xx code; 0 = none
  // Body length announced by the server, -1 until known. 64-bit so that files
  // beyond 2 GiB are counted correctly.
  int64_t mIncomingLength = -1;
  int64_t mReceivedPayload = 0;  // body bytes written to the destination file
  int64_t mDestOldSize = 0;      // length of the file the body overwrites (-1 unknown)
  float last_read_time = 0.0f;   // frame clock at construction and at each arrival of body data
  // Most body bytes taken, -1 for no limit: a longer body (announced or
  // received) is abandoned and mOverLimit set, so that a wrong or endless
  // answer never fills the disk.
  int64_t mBodyLimit = -1;
  bool mOverLimit = false;
  // The caller has logged this server's failure of this file before: the
  // failure's lines are left out of the log, which would otherwise grow by
  // the same text on every retry.
  bool mQuiet = false;
  // The body is not the resource (a redirect's page): it is counted but not
  // written, so the destination keeps what it held.
  bool mDiscardBody = false;

  // Resuming a cut download: the destination already holds this many bytes
  // of the resource and the request asks for the rest ("Range: bytes=N-").
  // A 206 whose Content-Range starts at N is written after them, a 200
  // replaces them, any other answer leaves them as they are. 0: the whole
  // resource is asked for.
  int64_t mResumeFrom = 0;
  int64_t mBodyStart =
      0;  // where the body goes in the destination: N for a 206 that continues the kept bytes
  bool mBadRange = false;  // a 206 that does not continue the kept bytes: they are not to be trusted
  // How many leading bytes of the destination are the resource's after this
  // answer, whole or cut: what a later try may ask to resume after.
  int64_t KeptBytes() const;

  // The value of the response field `name` (any case), or null.
  const std::string* Field(const char* name) const;

  // Where the connection leads: the server's (or the proxy's) name and port.
  const std::string& ConnectionKey() const { return mConnectionKey; }
  // The request went out on a kept connection.
  bool Reused() const { return mReused; }
  // The server is reached over TLS.
  bool Tls() const { return mTls; }
  // The kept connection was found closed (end of stream or reset) before
  // any byte of the answer: the server closed it in between, and the
  // request is to be sent again on a new connection; no failure of the
  // server.
  bool ReuseFailed();
  // The response is whole, its framing consumed to the last byte, nothing
  // follows it, and the server did not say it closes (HTTP/1.1 without
  // "Connection: close"): the connection may carry the next request.
  bool ConnectionReusable();
  // Gives up the connection (for a ConnectionReusable object); the object
  // keeps no socket afterwards.
  std::unique_ptr<PCSBSocket> TakeConnection();

  // HTTP/1.1 pipelining (RFC 9112 9.3.2). Sends `request` on this
  // connection after this object's own: its answer follows this one's.
  void SendAhead(const std::vector<char>& request);
  // The bytes of GET `inURL` from `inServerIP` with `inExtraFields`, as a
  // download object made with the same arguments sends them.
  static std::vector<char> RequestBytes(const char* inServerIP, uint16_t inPort, const char* inURL,
                                        const std::map<std::string, std::string>& inExtraFields, bool tls);
  // Requests sent on this connection after this one (SendAhead); their
  // answers follow this one's.
  int mAhead = 0;
  // Bytes of the next answer that arrived with the end of this one (only
  // with mAhead > 0; without, such bytes make the connection unusable).
  std::vector<char> mCarry;
  // This request went out before the answer ahead of it was in.
  bool SentAhead() const { return mSentAhead; }
  // Its answer shared a connection with others in flight: sent ahead, or
  // others sent behind it.
  bool Pipelined() const { return mSentAhead || mAhead > 0; }
  // Some byte of the answer arrived.
  bool AnswerStarted() const { return mAnswerStarted; }

  // The error of the destination file (it could not be created, written or
  // closed: a full or read-only disk), 0 when there is none. Such a failure
  // is this machine's, not the server's.
  int32_t DestFileErr() const;

 private:
  void SetState(state to);
  // Reads the socket's status and moves the state after it; returns it.
  PCSB_Status FollowSocket();
  void Exchange();
  void Received(const char* data, size_t len);
  void StartConnection(const std::vector<sock_address>& addrs);
  void LookupFailed();
  void ScanHeader();
  void ParseLine(const char* line, size_t len);
  void HeaderComplete();
  void TakeBody(const char* data, size_t len);
  void StoreBody(const char* data, size_t len);
  void TakeChunked(const char* data, size_t len);
  void PeerClosed();
  void FinishFile();
  void EndResponse();
  void Abandon(const std::string& why);

  state mState = state::kUnresolved;
  std::string mServerName;               // as given, for the log
  uint16_t mServerPort = 0;              // as given, for the log
  uint16_t mConnectPort = 0;             // the server's port, or the proxy's
  float mAttemptSince = 0.0f;            // frame clock when the current address was first tried
  std::unique_ptr<sock_lookup> mLookup;  // the server's (or proxy's) name look-up while it runs
  size_t mHeaderBytes = 0;               // header text consumed so far (bounded by kMaxHeaderBytes)
  bool mBodyByClose = false;             // no length announced: the body ends when the server closes
  bool mAbandoned = false;               // the response is unusable; the socket is shut down
  // Chunked body decoding (Transfer-Encoding: chunked).
  enum ChunkState { kChunkSize, kChunkData, kChunkDataEnd, kChunkTrailer, kChunkDone };
  bool mChunked = false;
  ChunkState mChunkState = kChunkSize;
  int64_t mChunkLeft = 0;  // data bytes still due in the current chunk
  std::string mChunkLine;  // a framing line being collected
  // Persistent connections.
  std::string mConnectionKey;   // see ConnectionKey
  bool mTls = false;            // https://: the socket runs TLS
  std::string mTunnel;          // the CONNECT request for a proxy, https:// only
  bool mReused = false;         // the request went out on a kept connection
  bool mAnswerStarted = false;  // some byte of the answer arrived
  bool mResponseEnded = false;  // the whole response is in (framing included)
  bool mHttp11 = false;         // the final status line says HTTP/1.1
  bool mBytesAfterEnd = false;  // bytes followed the end of the response: not ours to read
  bool mSentAhead = false;      // see SentAhead
  std::vector<char> mPending;   // answer bytes read before this object took the connection
};

// A status that sends the client to the address in its Location field.
bool http_is_redirect(int32_t status);

// Host-name endings that are reached directly, never through the proxy.
// Empty unless a caller adds to it.
extern std::vector<std::string> gProxyExclude;

class http_class {
 public:
  http_class() = default;
  ~http_class();  // releases objects still in slots (closing their files and sockets)
  http_class(const http_class&) = delete;
  http_class& operator=(const http_class&) = delete;

  // True when a proxy is configured (host set, port not 0) and `inIP` does not
  // end with an entry of gProxyExclude. The port argument is not used.
  bool UseProxy(const char* inIP, uint16_t inPort) const;
  // The proxy for a download from `host` (no port, no brackets): the
  // preferences' when they name one (UseProxy decides), else the
  // environment's http_proxy unless no_proxy names the host.
  // For an https:// download (`https`) the environment's https_proxy.
  http_proxy_choice ProxyFor(const std::string& host, bool https = false) const;

  // Polls download slot `o` (0..5): the first call on an empty slot starts
  // fetching http://`server``file` into `rel_path`; later calls advance it.
  // `server` may carry ":PORT" (else port 80); `file` starts with '/'; either
  // '/' or '\\' separates and both are sent as '/'.
  // Result: 0 running (call again next pass), 1 the whole body is in `rel_path`,
  // 2 failure or a 30-second stall (the file may hold partial or error content).
  // On 1 and 2 the slot is empty again. A bad slot or a call-site convention
  // error ends the program with a fatal alert. `body_limit` (taken when the
  // download starts; -1 none): a body longer than this many bytes fails
  // the download as soon as that is known, with last_over_limit set.
  // `quiet` (taken when the download starts): its failure is not logged.
  // A 301, 302, 303, 307 or 308 answer with a Location is followed in the
  // same slot (another host or port too, with its Host field), at most
  // kMaxRedirects times; a loop, one more redirect or an address of
  // another scheme fails the download, with the Location in the error dump.
  // `server` written "https://HOST[:PORT]" (port 443 by default) is fetched
  // over TLS, its certificate checked against the system's trust store and
  // the host name; a refused one fails the download with the reason in the
  // dump. Redirects to https:// addresses are followed the same way.
  // `resume_from` (taken when the download starts): `rel_path` already holds
  // this many bytes of the file from a cut download; only the rest is asked
  // for (Range) and appended when the server answers 206 from there. A 200
  // replaces them; a 416 asks again for the whole file in this slot.
  // Each slot keeps its connection open after a whole response the server
  // lets it keep (HTTP/1.1, no "Connection: close") and sends its next
  // request to the same server (or through the same proxy) on it; when the
  // server closed it in between, before any byte of the answer, the
  // request is sent once more on a new connection, which is no failure.
  int32_t net_check(int32_t o, std::string server, std::string file, const std::string& rel_path,
                    int64_t body_limit = -1, bool quiet = false, int64_t resume_from = 0);
  // HTTP/1.1 pipelining. Announces slot `o`'s next download, after the one
  // it runs (or after those announced before): http://`server``file`, the
  // whole file. While the slot's download runs on a connection that has
  // already carried a whole reusable answer, up to kPipelineDepth - 1
  // announced requests to the same server are sent on it ahead of time, so
  // their answers follow without a round trip each. The next net_check on
  // the slot takes the first announced download when it asks for the same
  // server and file (its answer may already be in); a net_check that starts
  // anything else once requests went out ahead forgets what was announced
  // and closes the connection that carries them. A server that closes or stalls with requests sent
  // ahead unanswered gets them again on a new connection without a failure,
  // and one request at a time from then on.
  void queue_next(int o, const std::string& server, const std::string& file);
  // Forgets what was announced for slot `o`.
  void drop_queue(int o);
  // Whether requests to `server` may be sent ahead (no answer of it showed
  // that it cannot take them).
  bool pipelining(const std::string& server) const { return mNoPipelining.count(server) == 0; }
  // From now on `server` is sent one request at a time; `why` is logged once.
  void stop_pipelining(const std::string& server, const std::string& why);
  // Requests in flight on one connection at most.
  static constexpr int kPipelineDepth = 16;
  // The last net_check call ended a download whose answer shared its
  // connection with other requests in flight (it was sent ahead, or others
  // were sent behind it).
  bool last_pipelined = false;

  // After a net_check that failed its download: how many leading bytes of
  // `rel_path` are the file's (to resume after on the next try), 0 for none.
  int64_t last_kept = 0;
  // The last net_check call failed its download for a body longer than its
  // limit.
  bool last_over_limit = false;
  // The last net_check call failed its download because `rel_path` could not
  // be written: the errno value (or kErrNetWriteDisk), else 0.
  int32_t last_file_err = 0;
  // The last net_check call started its download, moved it on (a state
  // change, bytes sent or received) or ended it; false when it found the
  // download waiting as before.
  bool last_moved = false;

  // Proxy settings, loaded from and saved to the preferences file.
  std::string ProxyHost;      // host name or dotted IPv4; empty = no proxy
  std::string ProxyPort_str;  // the port as kept in the preferences file
  int32_t ProxyPort_int = 0;  // 0 = no proxy
  // The download rate limit in KiB per second over every slot (the
  // preference _max_rate_kb); 0 = unlimited. --max_rate=KB replaces it for
  // the run without being saved.
  int32_t MaxRate_kb = 0;
  // The limit in force, in bytes per second (0 = none).
  int64_t MaxRateBytes() const;

  // Stops the download in slot `o`, if any, and empties the slot: its socket
  // and its destination file are closed, and so is a connection the slot
  // kept; the file stays on disk as far as it got. For a caller that gives a
  // download up without waiting for its result. A slot outside 0..5 is
  // ignored.
  void abandon(int o);

  static constexpr int kSlots = 6;
  // Redirects followed for one download; one more fails it.
  static constexpr int kMaxRedirects = 5;

 private:
  std::unique_ptr<down_class> mSlots[kSlots];  // null = slot free
  // Where a slot's download is fetched from now (a redirect moves it, away
  // from the caller's server and file), how many redirects it followed and
  // every address it was sent to (one seen before is a loop).
  struct slot_target {
    std::string server, file;
    int hops = 0;
    std::vector<std::string> seen;
  };
  slot_target mTargets[kSlots];
  // Puts a new download of http://`server``file` into slot `o`, on the
  // slot's kept connection when it leads there (never when `fresh`);
  // `ahead`: its request was sent ahead on that connection.
  void start_download(int o, const std::string& server, const std::string& file, const std::string& rel_path,
                      int64_t body_limit, bool quiet, int64_t resume_from, bool fresh = false,
                      bool ahead = false);
  // Ends slot `o`'s download; its connection is kept for the slot's next
  // request when the server allows it.
  void release(int o);
  // The connection each slot keeps between downloads.
  kept_connection mKept[kSlots];
  // Downloads announced for each slot (queue_next), in order; `sent`: its
  // request went out ahead on the slot's connection.
  struct queued_request {
    std::string server, file;
    bool sent = false;
  };
  std::deque<queued_request> mQueue[kSlots];
  std::set<std::string> mNoPipelining;  // servers sent one request at a time
  // Sends slot `o`'s announced requests ahead on its download's connection
  // when it may carry them.
  void send_ahead(int o);
  // The requests sent ahead on slot `o`'s connection will not be answered
  // there: they are to go out again.
  void unsend_queue(int o);
  // A finished redirect in slot `o`: true when it was followed (a new
  // download runs in the slot); false with the reason in *why.
  bool follow_redirect(int o, const std::string& location, const std::string& rel_path, std::string* why);
  rate_bucket mRate;  // the rate limit's tokens
  // One slice of slot `o`'s download within the rate limit's tokens.
  void ProcessWithinRate(int o, down_class* d);

 public:
  // The download in each slot, to be read (progress, state); null = slot
  // free. Only net_check fills a slot, and only net_check and abandon empty
  // it.
  const std::unique_ptr<down_class> (&down)[kSlots] = mSlots;
};

extern http_class http;

// Seconds without body data after which net_check gives up on a download.
constexpr float kDownloadStallSeconds = 30.0f;
// Seconds an address may leave a connection request unanswered before the
// name's next address is tried.
constexpr float kConnectAttemptSeconds = 10.0f;
// Seconds a connection is kept unused before it is closed: past this a
// server or a router on the way has likely dropped it without a word.
constexpr float kKeptConnectionSeconds = 60.0f;

// "Installer-LIN/" + the last four characters of the product version text.
std::string http_agent_text();
