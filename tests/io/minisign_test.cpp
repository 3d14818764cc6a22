// minisign signatures checked against files signed by the minisign tool
// itself, with key pairs it makes for this run: every way a signature file or
// the signed bytes can differ from what was signed must be refused.
#include "io/minisign.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/test_support.h"

using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

class MinisignTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (const char* k : {"a", "b"}) {
      ASSERT_EQ(run("minisign -G -W -p " + shell_quote(*dir_ / (std::string(k) + ".pub")) + " -s " +
                    shell_quote(*dir_ / (std::string(k) + ".key")) + " > /dev/null 2>&1"),
                0)
          << "the minisign tool makes the test keys";
    }
    write_file(*dir_ / "data", "I\n820\nSERVERS\nFINAL R 9\nSERVER h\n/files/\nMirror\nENDOFLIST\n");
    // "ED" (prehashed, the tool's default) and "Ed" (legacy, -l); one by the other key.
    const std::string sign = "minisign -S -m " + shell_quote(*dir_ / "data") + " -t 'time=5 release=R 9' ";
    ASSERT_EQ(
        run(sign + "-s " + shell_quote(*dir_ / "a.key") + " -x " + shell_quote(*dir_ / "ED") + " >/dev/null"),
        0);
    ASSERT_EQ(run(sign + "-l -s " + shell_quote(*dir_ / "a.key") + " -x " + shell_quote(*dir_ / "Ed") +
                  " >/dev/null"),
              0);
    ASSERT_EQ(
        run(sign + "-s " + shell_quote(*dir_ / "b.key") + " -x " + shell_quote(*dir_ / "b") + " >/dev/null"),
        0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static minisign_key key(const char* name) {
    minisign_key k;
    EXPECT_EQ(minisign_parse_key(read_file(*dir_ / (std::string(name) + ".pub")), k), "");
    return k;
  }
  static TempDir* dir_;
};
TempDir* MinisignTest::dir_ = nullptr;

// Replaces one base64 character of line `line` (0-based) at `at` by another
// valid one, so that the line still decodes but to other bytes.
std::string change_b64(std::string sig, int line, size_t at) {
  size_t start = 0;
  for (int i = 0; i < line; ++i) start = sig.find('\n', start) + 1;
  char& c = sig[start + at];
  c = c == 'A' ? 'B' : 'A';
  return sig;
}
std::string change_comment(std::string sig) {
  const size_t p = sig.find("time=5");
  sig[p + 5] = '6';
  return sig;
}

struct signature_case {
  const char* name;
  const char* sig_file;  // ED, Ed or b
  std::function<std::string(std::string)> edit_sig;
  bool change_data;
  minisign_result want;
};

TEST_F(MinisignTest, EachSignatureCaseGivesItsResult) {
  auto same = [](std::string s) { return s; };
  const std::vector<signature_case> cases = {
      {"prehashed ED signature", "ED", same, false, minisign_result::kOk},
      {"legacy Ed signature", "Ed", same, false, minisign_result::kOk},
      {"one changed byte in the signed file (ED)", "ED", same, true, minisign_result::kBadSignature},
      {"one changed byte in the signed file (Ed)", "Ed", same, true, minisign_result::kBadSignature},
      {"a changed byte of the signature", "ED", [](std::string s) { return change_b64(s, 1, 60); }, false,
       minisign_result::kBadSignature},
      {"a changed byte of the key number", "ED", [](std::string s) { return change_b64(s, 1, 5); }, false,
       minisign_result::kUnknownKey},
      {"a changed trusted comment", "ED", change_comment, false, minisign_result::kBadTrustedComment},
      {"a changed byte of the global signature", "ED", [](std::string s) { return change_b64(s, 3, 40); },
       false, minisign_result::kBadTrustedComment},
      {"signed by another key", "b", same, false, minisign_result::kUnknownKey},
      {"an empty signature file", "ED", [](const std::string&) { return std::string(); }, false,
       minisign_result::kMalformed},
      {"a fifth line", "ED", [](std::string s) { return s + "extra\n"; }, false, minisign_result::kMalformed},
      {"CR LF line ends", "ED",
       [](std::string s) {
         for (size_t p = s.find('\n'); p != std::string::npos; p = s.find('\n', p + 2)) s.insert(p, "\r");
         return s;
       },
       false, minisign_result::kMalformed},
      {"no untrusted comment line", "ED",
       [](std::string s) {
         s.erase(0, s.find('\n') + 1);
         return s;
       },
       false, minisign_result::kMalformed},
      {"larger than any signature file", "ED",
       [](std::string s) { return s.insert(s.find('\n'), std::string(kMinisigMaxBytes, 'x')); }, false,
       minisign_result::kMalformed},
      {"another algorithm", "ED", [](std::string s) { return change_b64(s, 1, 1); }, false,
       minisign_result::kMalformed},
  };
  const std::vector<minisign_key> keys = {key("a")};
  const std::string data = read_file(*dir_ / "data");
  for (const signature_case& c : cases) {
    const std::string sig = c.edit_sig(read_file(*dir_ / c.sig_file));
    std::string signed_data = data;
    if (c.change_data) signed_data[10] ^= 1;
    std::string comment;
    EXPECT_EQ(minisign_verify(keys, signed_data, sig, &comment), c.want) << c.name;
    if (c.want == minisign_result::kOk) {
      EXPECT_EQ(comment, "time=5 release=R 9") << c.name;
    }
  }
}

TEST_F(MinisignTest, FilesOnDiskAreCheckedAndAMissingSignatureIsRefused) {
  const std::vector<minisign_key> keys = {key("a"), key("b")};
  std::string comment;
  EXPECT_EQ(minisign_verify_file(keys, *dir_ / "data", *dir_ / "b", &comment), minisign_result::kOk)
      << "any of several trusted keys";
  EXPECT_EQ(minisign_verify_file(keys, *dir_ / "data", *dir_ / "no-such.minisig", &comment),
            minisign_result::kMalformed);
  EXPECT_EQ(minisign_verify_file(keys, *dir_ / "no-such-data", *dir_ / "ED", &comment),
            minisign_result::kBadSignature);
}

TEST_F(MinisignTest, KeysAreReadFromPublicKeyFilesOrTheirKeyLine) {
  const std::string pub = read_file(*dir_ / "a.pub");
  minisign_key k;
  EXPECT_EQ(minisign_parse_key(pub.substr(pub.find('\n') + 1), k), "") << "the key line alone";
  EXPECT_NE(minisign_parse_key(read_file(*dir_ / "a.key"), k), "") << "a secret key is not a public key";
  EXPECT_NE(minisign_parse_key(pub + "more\n", k), "") << "nothing after the key line";
  EXPECT_NE(minisign_parse_key("", k), "");
}

}  // namespace
