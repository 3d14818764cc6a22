#include "installer/release_auth.h"

#include <fstream>
#include <iterator>

#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {

release_keys g_keys;
bool g_loaded = false;

void load_keys() {
  g_keys = release_keys{};
  const std::string option = cmdline.get_option("--release_key");
  if (option == "none") {
    g_keys.check = false;
    g_keys.source = "none";
    xer << "Release signatures are not checked (--release_key=none): unsigned server lists and "
           "manifests are accepted.\n";
    return;
  }
  if (!option.empty()) {
    g_keys.source = option;
    std::ifstream in(option, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    minisign_key k;
    const std::string why = !in ? std::string("it cannot be read") : minisign_parse_key(text, k);
    if (why.empty()) {
      g_keys.keys.push_back(k);
    } else {
      g_keys.error = "the release key " + option + " is unusable: " + why;
      xer << "Release key: " << g_keys.error << "\n";
    }
    return;
  }
  g_keys.source = "built-in";
  for (size_t i = 0; i < kBuiltInReleaseKeyCount; ++i) {
    minisign_key k;
    const std::string why = minisign_parse_key(kBuiltInReleaseKeys[i].text, k);
    if (why.empty()) {
      g_keys.keys.push_back(k);
    } else {
      xer << "Release key: the built-in key " << kBuiltInReleaseKeys[i].name << " is unusable: " << why
          << "\n";
    }
  }
  if (g_keys.keys.empty()) g_keys.error = "this installer was built without a release key";
}

}  // namespace

const release_keys& release_keys_in_force() {
  if (!g_loaded) {
    load_keys();
    g_loaded = true;
  }
  return g_keys;
}

void release_keys_reset() {
  g_loaded = false;
  g_keys = release_keys{};
}

std::string release_comment(int64_t time, const std::string& release) {
  return "time=" + std::to_string(time) + " release=" + release;
}

bool parse_release_comment(const std::string& comment, int64_t& time, std::string& release) {
  constexpr std::string_view kTime = "time=", kRelease = " release=";
  if (comment.compare(0, kTime.size(), kTime) != 0) return false;
  size_t i = kTime.size();
  int64_t t = 0;
  const size_t digits_start = i;
  // At most 18 digits: the value stays within int64_t.
  while (i < comment.size() && comment[i] >= '0' && comment[i] <= '9' && i - digits_start < 18)
    t = t * 10 + (comment[i++] - '0');
  if (i == digits_start || comment.compare(i, kRelease.size(), kRelease) != 0) return false;
  release = comment.substr(i + kRelease.size());
  if (release.empty()) return false;
  time = t;
  return true;
}

release_check check_release_signature(const std::string& file_path, const std::string& sig_path,
                                      const std::string& release, const std::string& what) {
  release_check c;
  const release_keys& keys = release_keys_in_force();
  if (!keys.error.empty()) {
    c.why = keys.error;
    return c;
  }
  if (sig_path.empty()) {
    c.why = "the signature " + what + " is missing";
    return c;
  }
  std::string comment;
  const minisign_result r = minisign_verify_file(keys.keys, file_path, sig_path, &comment);
  if (r != minisign_result::kOk) {
    c.why = std::string(minisign_result_text(r)) + " (" + what + ")";
    return c;
  }
  std::string named;
  if (!parse_release_comment(comment, c.time, named)) {
    c.why = "the trusted comment \"" + comment + "\" is not \"time=<seconds> release=<name>\" (" + what + ")";
    return c;
  }
  if (named != release) {
    c.why = "the signature is for release \"" + named + "\", not \"" + release + "\" (" + what + ")";
    return c;
  }
  c.ok = true;
  return c;
}
