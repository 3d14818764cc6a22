// skyvane-asset-gen: the committed pictures in assets/ are exactly what the
// generator draws (nobody edited them by hand or changed the generator
// without regenerating), it draws the same pictures on every run, and it
// refuses a bad command line.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "ui/texes.h"

namespace {

using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::TempDir;

std::string tool() {
  return std::string(SKYVANE_BINARY_DIR) + "/tools/asset-gen/skyvane-asset-gen";
}

builtin_picture decode(const std::string& path) {
  const std::string bytes = read_file(path);
  builtin_picture p;
  std::string error;
  EXPECT_TRUE(
      decode_png_bottom_up(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &p, &error))
      << path << ": " << error;
  return p;
}

TEST(AssetGen, DrawsTheCommittedPicturesTheSameOnEveryRun) {
  TempDir a, b;
  std::string out;
  ASSERT_EQ(run(shell_quote(tool()) + " --out " + shell_quote(a.path()) + " 2>&1", &out), 0) << out;
  ASSERT_EQ(run(shell_quote(tool()) + " --out " + shell_quote(b.path()) + " --preview " +
                    shell_quote(b.path()) + " 2>&1",
                &out),
            0)
      << out;
  for (const char* name :
       {"interface.png", "atlas.png", "background.png", "icon-48.png", "icon-128.png", "icon-256.png"}) {
    EXPECT_EQ(read_file(a / name), read_file(b / name)) << name << " is the same on every run";
    const builtin_picture made = decode(a / name);
    const builtin_picture committed = decode(std::string(SKYVANE_SOURCE_DIR) + "/assets/" + name);
    EXPECT_EQ(made.width, committed.width) << name;
    EXPECT_EQ(made.height, committed.height) << name;
    EXPECT_TRUE(made.rgba == committed.rgba)
        << "assets/" << name << " differs from what the generator draws: regenerate it (assets/README.md)";
  }
  for (const char* mock : {"main.png", "licence.png", "question.png", "alert.png"})
    EXPECT_EQ(decode(b / mock).width, 1024) << "mock-up " << mock << " is a whole screen";
  // The desktop icons are square at their size, drawn on a transparent corner.
  for (int size : {48, 128, 256}) {
    const builtin_picture icon = decode(a / ("icon-" + std::to_string(size) + ".png"));
    EXPECT_EQ(icon.width, size);
    EXPECT_EQ(icon.height, size);
    ASSERT_FALSE(icon.rgba.empty()) << "icon-" << size << ".png";
    EXPECT_EQ(icon.rgba[3], 0) << "icon-" << size << ".png: a corner pixel is transparent";
  }
}

TEST(AssetGen, RefusesABadCommandLine) {
  std::string out;
  EXPECT_EQ(run(shell_quote(tool()) + " --colour red 2>&1", &out), 2) << "an unknown option is a usage error";
  EXPECT_NE(out.find("usage:"), std::string::npos) << out;
  EXPECT_EQ(run(shell_quote(tool()) + " --out 2>&1", &out), 2) << "an option without its value";
  EXPECT_NE(run(shell_quote(tool()) + " --out /nonexistent/folder 2>&1", &out), 0)
      << "a folder that cannot be written is a failure";
  EXPECT_NE(run(shell_quote(tool()) + " --font /nonexistent.ttf --out /tmp 2>&1", &out), 0)
      << "a missing font is a failure";
  EXPECT_NE(out.find("/nonexistent.ttf"), std::string::npos) << "named in the message: " << out;
}

}  // namespace
