#include "tools/publish/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace publish {

namespace {

bool has_line_end(const std::string& s) {
  return s.find_first_of("\r\n", 0) != std::string::npos;
}
bool has_blank(const std::string& s) {
  return s.find_first_of(" \t") != std::string::npos;
}

std::string folder_form(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string trim_blanks(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

const char* usage_text() {
  return "Usage: skyvane-publish --product DIR --release NAME --out DIR\n"
         "                       --mirror \"[https://]HOST[:PORT]|/DIRECTORY/|DESCRIPTION\" [--mirror ...]\n"
         "                       [--previous DIR] [--platforms FILE] [--sign SECRET_KEY_FILE]\n"
         "\n"
         "Publishes the product folder DIR (its first level holds the master folders) as\n"
         "release NAME under the --out folder, ready to be the root of a static HTTP server:\n"
         "  serverlist9.txt                      the server list (FINAL NAME, one SERVER per mirror)\n"
         "  DIRECTORY/NAME/directory.txt.zip     the manifest\n"
         "  DIRECTORY/NAME/<path>.zip            one archive per file (.7z under \"Global Scenery\")\n"
         "--previous names an earlier --out folder: its manifest's version history is\n"
         "continued, files gone since are listed as \"GONE\", unchanged archives are reused.\n"
         "--platforms names a rules file, one \"CODE PATTERN\" per line (see README.md);\n"
         "files no rule matches get platform 0 (every platform).\n"
         "--sign signs the server list and the manifest with an unencrypted minisign\n"
         "secret key (minisign -G -W): serverlist9.txt.minisig and\n"
         "directory.txt.zip.minisig, trusted comment \"time=<unix seconds> release=NAME\".\n"
         "Exit status: 0 published, 1 input refused or publishing failed, 2 usage error.\n";
}

std::string check_release_name(const std::string& name) {
  if (name.empty()) return "the release name is empty";
  if (has_line_end(name)) return "the release name holds a line end";
  if (name.find_first_of("/\\") != std::string::npos) return "the release name holds \"/\" or \"\\\"";
  if (name == "." || name == "..") return "the release name cannot be \".\" or \"..\"";
  if (name.front() == ' ' || name.front() == '\t' || name.back() == ' ' || name.back() == '\t')
    return "the release name starts or ends with a blank";
  return "";
}

std::string parse_mirror(const std::string& text, mirror_spec& out) {
  const size_t a = text.find('|');
  const size_t b = a == std::string::npos ? a : text.find('|', a + 1);
  if (b == std::string::npos) return "expected \"HOST[:PORT]|/DIRECTORY/|DESCRIPTION\"";
  out.host = text.substr(0, a);
  out.directory = text.substr(a + 1, b - a - 1);
  out.description = trim_blanks(text.substr(b + 1));
  if (has_line_end(text)) return "a mirror cannot hold a line end";
  // "https://HOST[:PORT]": a mirror the installer reaches over TLS.
  const bool tls = out.host.size() >= 8 &&
                   std::equal(out.host.begin(), out.host.begin() + 8, "https://", [](char a, char b) {
                     return std::tolower(static_cast<unsigned char>(a)) == b;
                   });
  const std::string host = tls ? out.host.substr(8) : out.host;
  if (host.empty()) return "the host is empty";
  if (has_blank(host) || host.find_first_of("/\\|") != std::string::npos)
    return "the host \"" + out.host + "\" holds a blank, \"/\" or \"\\\"";
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos) {
    const std::string port = host.substr(colon + 1);
    char* end = nullptr;
    const long p = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || p < 1 || p > 65535)
      return "the port in \"" + out.host + "\" is not 1..65535";
    if (colon == 0) return "the host is empty";
  }
  if (out.directory.size() < 1 || out.directory.front() != '/' || out.directory.back() != '/')
    return "the directory \"" + out.directory + "\" must start and end with \"/\"";
  if (has_blank(out.directory) || out.directory.find('\\') != std::string::npos)
    return "the directory \"" + out.directory + "\" holds a blank or \"\\\"";
  for (size_t s = 0; s < out.directory.size();) {
    const size_t e = out.directory.find('/', s);
    const std::string part = out.directory.substr(s, e - s);
    if (part == "." || part == "..") return "the directory \"" + out.directory + "\" holds \".\" or \"..\"";
    s = e + 1;
  }
  if (out.description.empty()) return "the description is empty";
  return "";
}

bool parse_options(int argc, const char* const* argv, options& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    if (arg == "-h" || arg == "--help") {
      out.help = true;
      return true;
    }
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      has_value = true;
    }
    const bool known = arg == "--product" || arg == "--release" || arg == "--out" || arg == "--mirror" ||
                       arg == "--previous" || arg == "--platforms" || arg == "--sign";
    if (!known) {
      error = "unknown argument \"" + arg + "\"";
      return false;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (arg == "--product") {
      out.product = folder_form(value);
    } else if (arg == "--release") {
      out.release = value;
    } else if (arg == "--out") {
      out.out = folder_form(value);
    } else if (arg == "--previous") {
      out.previous = folder_form(value);
    } else if (arg == "--platforms") {
      out.platforms = value;
    } else if (arg == "--sign") {
      out.sign = value;
    } else {
      mirror_spec m;
      const std::string why = parse_mirror(value, m);
      if (!why.empty()) {
        error = "--mirror \"" + value + "\": " + why;
        return false;
      }
      out.mirrors.push_back(m);
    }
  }
  if (out.product.empty() || out.release.empty() || out.out.empty() || out.mirrors.empty()) {
    error = "--product, --release, --out and at least one --mirror are required";
    return false;
  }
  if (const std::string why = check_release_name(out.release); !why.empty()) {
    error = "--release \"" + out.release + "\": " + why;
    return false;
  }
  if (out.mirrors.size() > kMaxMirrors) {
    error = "at most " + std::to_string(kMaxMirrors) + " mirrors fit in the installer's server table";
    return false;
  }
  return true;
}

}  // namespace publish
