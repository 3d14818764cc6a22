#include "tools/publish/platform_rules.h"

#include <fstream>
#include <sstream>

namespace publish {

namespace {

bool match_from(const char* p, const char* s) {
  for (; *p; ++p) {
    if (p[0] == '*' && p[1] == '*') {
      p += 2;
      for (const char* t = s;; ++t) {  // any run, separators included
        if (match_from(p, t)) return true;
        if (!*t) return false;
      }
    }
    if (*p == '*') {
      ++p;
      for (const char* t = s;; ++t) {  // any run within one folder level
        if (match_from(p, t)) return true;
        if (!*t || *t == '/') return false;
      }
    }
    if (!*s) return false;
    if (*p == '?') {
      if (*s == '/') return false;
    } else if (*p != *s) {
      return false;
    }
    ++s;
  }
  return *s == '\0';
}

}  // namespace

bool glob_match(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '/') return match_from((pattern + "**").c_str(), path.c_str());
  return match_from(pattern.c_str(), path.c_str());
}

bool platform_rules::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the platform rules file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse(text.str(), path, error);
}

bool platform_rules::parse(const std::string& text, const std::string& source, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line[b] == '#') continue;
    size_t e = b;
    while (e < line.size() && line[e] >= '0' && line[e] <= '9') ++e;
    const size_t p = line.find_first_not_of(" \t", e);
    if (e == b || e - b > 2 || e == line.size() || (line[e] != ' ' && line[e] != '\t') ||
        p == std::string::npos) {
      error =
          source + " line " + std::to_string(number) + ": expected \"CODE PATTERN\", found \"" + line + "\"";
      return false;
    }
    const int code = std::stoi(line.substr(b, e - b));
    if (code > 6) {
      error = source + " line " + std::to_string(number) + ": platform code " + std::to_string(code) +
              " is not 0..6";
      return false;
    }
    rules_.push_back({code, line.substr(p)});
  }
  return true;
}

int platform_rules::code_for(const std::string& manifest_path) const {
  int code = 0;
  for (const platform_rule& r : rules_) {
    if (glob_match(r.pattern, manifest_path)) code = r.code;
  }
  return code;
}

}  // namespace publish
