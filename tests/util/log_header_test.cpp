// The log header's fixed texts and its machine lines.
#include "util/log_header.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
TEST(LogHeader, FixedTextsAndFolderLine) {
  std::ostringstream out;
  write_log_header(out, "", 0);
  const std::string h = out.str();
  EXPECT_EQ(h.rfind("log.txt for Skyvane 9.00 Beta-25 Installer 90025 compiled on ", 0), 0u) << h;
  EXPECT_NE(h.find("\n\nThis log file is generated automatically by Quellwind applications and contains "
                   "diagnostics about your graphics hardware, installation, and any error conditions.\n"
                   "If you need to contact tech support or file a bug, please send us this file. NOTE: this "
                   "file is rewritten every time you start ANY of your Skyroot applications.\n\n"),
            std::string::npos)
      << h;
  EXPECT_NE(h.find("CPU type: "), std::string::npos) << "machine description follows";
  EXPECT_NE(h.find("Physical Memory: "), std::string::npos);
  const std::string tail = "\nSkyroot folder:'', case sensitive=0\n\n";
  ASSERT_GE(h.size(), tail.size());
  EXPECT_EQ(h.substr(h.size() - tail.size()), tail) << "ends with the folder line";
}
}  // namespace
