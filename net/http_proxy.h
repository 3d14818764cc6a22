#pragma once
// The proxy a download goes through: the one in the preferences, else the
// environment's (http_proxy / HTTP_PROXY, with no_proxy / NO_PROXY naming the
// hosts reached directly), as curl and wget read them.
#include <cstdint>
#include <string>
#include <string_view>

// `s` with its %XX escapes decoded (a "%" without two hex digits stays).
std::string percent_decoded(std::string_view s);

// A proxy URL as the environment gives it: "[http://][user[:password]@]host[:port][/]".
struct proxy_url {
  std::string scheme = "http";  // lower case; only "http" can be used
  std::string user, password;   // percent-decoded
  std::string host;             // an IPv6 literal without its brackets
  int32_t port = 80;            // the URL's port, else HTTP's 80
};
// False when the text is not such a URL (no host, a port outside 1..65535).
bool parse_proxy_url(const std::string& text, proxy_url* out);

// True when `host` (no port, no brackets) is to be reached directly under the
// no_proxy list `list`: entries separated by commas or spaces, "*" for every
// host, else a host name that matches the host itself or any name below it
// ("example.com" and ".example.com" both match "mirror.example.com"); case is
// ignored and a ":PORT" on an entry is not looked at.
bool no_proxy_matches(const std::string& list, const std::string& host);

// "Basic " + base64 of "user:password" (RFC 7617).
std::string basic_credentials(const std::string& user, const std::string& password);

// The proxy chosen for one download.
struct http_proxy_choice {
  bool use = false;
  std::string host;  // as the preferences or the URL give it
  int32_t port = 0;  // may be out of range when the preferences are damaged
  std::string auth;  // a Proxy-Authorization value, or empty
  bool from_environment = false;
};

class down_class;
// A download that failed with 407 through a proxy: the log says that the
// proxy wants credentials, or did not take the ones given.
void http_note_proxy_refusal(const down_class& d, const std::string& host);
