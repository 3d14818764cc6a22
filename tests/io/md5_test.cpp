// File signatures: the text form, agreement with md5sum, and the results for
// empty, missing and unreadable files.
#include "io/md5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "io/IO_UTILS.h"
#include "io/xmap.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"

using testsupport::TempDir;
using testsupport::write_file;

namespace {

class Md5Test : public ::testing::Test {
 protected:
  void SetUp() override {
    alert_set_observer([this](const alert_record&) { ++alerts; });
  }
  void TearDown() override { alert_set_observer(nullptr); }
  TempDir dir;
  int alerts = 0;
};

TEST_F(Md5Test, AbcDigestTextForm) {
  write_file(dir / "abc", "abc");
  std::string sig;
  ASSERT_EQ(calc_file_md5(dir / "abc", sig), 0) << "a readable file signs";
  EXPECT_EQ(sig, "900150983cd24fb0d6963f7d28e17f72") << "RFC 1321 test vector, lower-case hex";
  EXPECT_EQ(md5_sign_bytes("abc", 3), sig) << "memory and file signatures agree";
  EXPECT_EQ(md5_sign_bytes("message digest", 14), "f96b697d7cb7938d525a2f31aaf161d0") << "RFC 1321 vector";
}

TEST_F(Md5Test, LargeFilesMatchMd5sum) {
  const std::regex form("[0-9a-f]{32}");
  // Around the read pieces (256 kB), and files of many pieces.
  for (size_t n : {size_t{65535}, size_t{65536}, size_t{200003}, size_t{1} << 18, size_t{1} << 20,
                   (size_t{1} << 20) + 1, size_t{3 * 1024 * 1024 + 7}}) {
    const std::string path = dir / ("big" + std::to_string(n));
    write_file(path, testsupport::random_bytes(n, static_cast<uint32_t>(n)));
    std::string sig;
    ASSERT_EQ(calc_file_md5(path, sig), 0);
    EXPECT_EQ(sig, testsupport::md5sum_of(path)) << "must equal md5sum for " << n << " bytes";
    EXPECT_TRUE(std::regex_match(sig, form)) << "exactly 32 lower-case hex digits: " << sig;
  }
}

TEST_F(Md5Test, PiecewiseUpdatesGiveTheWholeDigest) {
  const std::string data = testsupport::random_bytes(150000, 7);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const std::string whole = md5_sign_bytes(data.data(), data.size());
  for (uint32_t piece : {1u, 63u, 64u, 65535u}) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    md5_update_pieces(&ctx, bytes, data.size(), piece);
    MD5Final(&ctx);
    EXPECT_EQ(md5_text(ctx.digest), whole)
        << "splitting into pieces of " << piece << " must not change the digest";
    EXPECT_EQ(ctx.i[0], static_cast<uint32_t>(data.size() * 8)) << "bit count, low word";
    EXPECT_EQ(ctx.i[1], 0u) << "bit count, high word";
  }
  MD5_CTX narrow;
  MD5Init(&narrow);
  for (size_t off = 0; off < data.size(); off += 65535)
    MD5Update(&narrow, bytes + off, static_cast<uint16_t>(std::min<size_t>(65535, data.size() - off)));
  MD5Final(&narrow);
  EXPECT_EQ(md5_text(narrow.digest), whole) << "16-bit updates over the same bytes agree";

  MD5_CTX reused;  // one context signs twice
  MD5Init(&reused);
  MD5Final(&reused);
  MD5Init(&reused);
  MD5UpdateWide(&reused, reinterpret_cast<const unsigned char*>("abc"), 3);
  MD5Final(&reused);
  EXPECT_EQ(md5_text(reused.digest), "900150983cd24fb0d6963f7d28e17f72") << "MD5Init must restart the state";
}

TEST_F(Md5Test, EmptyFileHasTheDigestOfEmptyInput) {
  write_file(dir / "empty", "");
  std::string sig = "NONE";
  ASSERT_EQ(calc_file_md5(dir / "empty", sig), 0) << "an empty file exists and must be signable";
  EXPECT_EQ(sig, "d41d8cd98f00b204e9800998ecf8427e") << "the MD5 of empty input, as md5sum gives it";
  EXPECT_EQ(sig, testsupport::md5sum_of(dir / "empty"));
}

TEST_F(Md5Test, UnreadableFilesReturn20006AndKeepTheSignature) {
  std::string sig = "NONE";
  EXPECT_EQ(calc_file_md5(dir / "missing", sig), kErrOpenRead) << "a missing file cannot be signed";
  EXPECT_EQ(sig, "NONE") << "the caller's value stays on failure";
  EXPECT_EQ(calc_file_md5(dir.path(), sig), kErrOpenRead) << "a folder is not a file";
  EXPECT_EQ(sig, "NONE");
  write_file(dir / "locked", "secret");
  ASSERT_EQ(testsupport::run("chmod 000 " + testsupport::shell_quote(dir / "locked")), 0);
  if (testsupport::run("cat " + testsupport::shell_quote(dir / "locked") + " >/dev/null 2>&1") != 0) {
    EXPECT_EQ(calc_file_md5(dir / "locked", sig), kErrOpenRead)
        << "an unreadable file fails like a missing one";
    EXPECT_EQ(sig, "NONE");
  }  // else running as root: every file is readable
  EXPECT_EQ(alerts, 0) << "signing shows nothing";
}

TEST_F(Md5Test, FileShortenedWhileMappedFailsInsteadOfCrashing) {
  const std::string path = dir / "shrinking";
  write_file(path, testsupport::random_bytes(1 << 20, 3));
  xmap_class x(path);
  ASSERT_NE(x.mBegin, nullptr);
  std::filesystem::resize_file(path, 100);  // another program cuts the file
  std::string sig = "NONE";
  EXPECT_EQ(md5_sign_mapped(x.mBegin, static_cast<size_t>(x.size()), sig), kErrOpenRead)
      << "reading the lost pages must fail, not end the process";
  EXPECT_EQ(sig, "NONE") << "no signature for a file that changed under us";
  EXPECT_EQ(calc_file_md5(path, sig), 0) << "the file as it is now still signs";
  EXPECT_EQ(sig, testsupport::md5sum_of(path));
}

}  // namespace
