// Inputs found by the fuzz targets in fuzz/, kept as regular tests with the
// minimised input built in place.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "support/test_support.h"

namespace {

void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Private data bytes of this process now (VmData), or 0 when unknown.
uint64_t data_bytes() {
  std::ifstream f("/proc/self/status");
  std::string key;
  while (f >> key) {
    if (key == "VmData:") {
      uint64_t kb = 0;
      f >> kb;
      return kb * 1024;
    }
  }
  return 0;
}

// fuzz_zip: a member whose headers claim 3.5 GB for 50 bytes of data. The
// expander reserved the claimed size before reading a byte (libFuzzer:
// "out-of-memory (malloc(3500000000))"); a real zip bomb would have been
// inflated into memory. It must fail as a member not read in full, write
// nothing, and stay within a small memory budget.
TEST(FuzzRegressions, ZipMemberClaimingGigabytesNeedsNoSuchMemory) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "a.txt", std::string(50, 'x'));
  ASSERT_EQ(testsupport::run("cd " + testsupport::shell_quote(dir.path()) + " && zip -q -0 in.zip a.txt"), 0);
  std::string zip = testsupport::read_file(dir / "in.zip");
  ASSERT_EQ(zip.compare(0, 4, "PK\x03\x04"), 0);
  put32(zip, 22, 3500000000u);  // local header: uncompressed size
  const size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  put32(zip, central + 24, 3500000000u);  // central directory: uncompressed size
  testsupport::write_file(dir / "in.zip", zip);
  testsupport::make_dirs(dir / "out");

  // In a child whose data may grow by 512 MB at most.
  const pid_t pid = ::fork();
  if (pid == 0) {
    const uint64_t now = data_bytes();
    if (now == 0) ::_exit(9);
    rlimit lim{now + (512u << 20), now + (512u << 20)};
    ::setrlimit(RLIMIT_DATA, &lim);
    const int r = zip_to_file(dir / "in.zip", dir / "out/", nullptr, 0);
    ::_exit(r == kErrZipRead ? 0 : 1);
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st)) << "the expander did not crash or abort";
  EXPECT_EQ(WEXITSTATUS(st), 0) << "a short member is reported as not read in full, within 512 MB";
  EXPECT_FALSE(testsupport::file_exists(dir / "out/a.txt")) << "nothing written for the damaged member";
  EXPECT_FALSE(testsupport::file_exists(dir / "out/a.txt" + kArchivePartSuffix)) << "no part file left";
}

}  // namespace
