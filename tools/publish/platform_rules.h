#pragma once
// Platform codes per file, from a small rules file. One rule a line:
//   CODE PATTERN
// CODE is 0..6 (0 every platform; 1, 2, 3 program files of one platform; this
// Linux build's installer is platform 2). PATTERN runs to the line end and may
// hold blanks; it is matched against the whole manifest path, master folder
// first: "*" matches within one folder level, "**" across levels, "?" one
// character other than "/"; a pattern ending in "/" matches everything below
// that folder. The last rule that matches decides; no match gives 0.
// Empty lines and lines starting with "#" are ignored.
#include <string>
#include <vector>

namespace publish {

struct platform_rule {
  int code = 0;
  std::string pattern;
};

class platform_rules {
 public:
  // Reads the rules at `path`. Returns false with a message naming the line
  // when the file cannot be read or a line is not a rule.
  bool load(const std::string& path, std::string& error);
  // Parses rules from text (the file's contents).
  bool parse(const std::string& text, const std::string& source, std::string& error);
  int code_for(const std::string& manifest_path) const;
  size_t size() const { return rules_.size(); }

 private:
  std::vector<platform_rule> rules_;
};

// Glob match as described above.
bool glob_match(const std::string& pattern, const std::string& path);

}  // namespace publish
