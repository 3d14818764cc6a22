// Archive expansion against archives made by the real `zip`, `7z` and
// python3's zipfile, run by each test into its own temporary folder.
// Damaged archives are made from good ones by changing bytes; each case says how.
#include "io/archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "util/error_codes.h"
#include "util/log.h"

namespace fs = std::filesystem;
using testsupport::file_exists;
using testsupport::make_dirs;
using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

constexpr int kUnzCrcError = -105;

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    make_dirs(src());
    make_dirs(out());
    log_open(tmp / "Log.txt");
  }
  void TearDown() override { log_close(); }

  std::string src() const { return tmp / "src/"; }
  std::string out() const { return tmp / "out/"; }
  std::string log_text() {
    xer.flush();
    return read_file(tmp / "Log.txt");
  }
  // Runs `cmd` inside the source folder; the test fails when the tool does.
  void in_src(const std::string& cmd) {
    std::string text;
    ASSERT_EQ(run("cd " + shell_quote(src()) + " && " + cmd + " 2>&1", &text), 0)
        << "tool failed: " << cmd << "\n"
        << text;
  }
  // Writes a zip with python3's zipfile: each (name, data) pair as a member.
  void python_zip(const std::string& zip_path, const std::string& members_literal) {
    const std::string script = "import zipfile\nz = zipfile.ZipFile(" + py(zip_path) +
                               ", 'w')\nfor n, d in " + members_literal +
                               ":\n    z.writestr(n, d)\nz.close()\n";
    write_file(tmp / "mk.py", script);
    ASSERT_EQ(run("python3 " + shell_quote(tmp / "mk.py")), 0) << "python3 zipfile failed";
  }
  static std::string py(const std::string& s) { return "'" + s + "'"; }

  // Nothing may appear next to the destination folder but what the test made.
  void expect_nothing_outside_out(const std::string& why) {
    for (const auto& e : fs::recursive_directory_iterator(tmp.path())) {
      const std::string p = e.path().string();
      if (p.rfind(out(), 0) == 0 || p.rfind(src(), 0) == 0) continue;
      const std::string name = e.path().filename().string();
      EXPECT_TRUE(name == "Log.txt" || name == "mk.py" || name == "out" || name == "src" ||
                  e.path().extension() == ".zip" || e.path().extension() == ".7z")
          << why << ": unexpected " << p;
    }
  }

  TempDir tmp;
};

bool is_executable(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// Index of `needle` in `hay`, failing the test when absent.
size_t find_bytes(const std::string& hay, const std::string& needle) {
  const size_t at = hay.find(needle);
  EXPECT_NE(at, std::string::npos) << "fixture bytes not found";
  return at;
}

// ---------------------------------------------------------------- zip

TEST_F(ArchiveTest, ZipFolderEntryCreatesFolderThenFile) {
  make_dirs(src() + "a");
  write_file(src() + "a/b.txt", "bee");
  in_src("zip -qr a.zip a");  // entries "a/" then "a/b.txt"
  EXPECT_EQ(zip_to_file(src() + "a.zip", out(), nullptr, 0), 0) << "a well-formed archive expands";
  EXPECT_EQ(read_file(out() + "a/b.txt"), "bee") << "the folder entry made the folder for the file";
  EXPECT_FALSE(file_exists(out() + "a/b.txt" + kArchivePartSuffix)) << "no temporary file left behind";

  // Again over the existing folder and file: the folder entry is no failure.
  write_file(out() + "a/b.txt", "old contents");
  EXPECT_EQ(zip_to_file(src() + "a.zip", out(), nullptr, 0), 0) << "an existing folder is not a failure";
  EXPECT_EQ(read_file(out() + "a/b.txt"), "bee") << "the old file is replaced";
}

TEST_F(ArchiveTest, ZipFileEntryNeedsItsFolder) {
  make_dirs(src() + "a");
  write_file(src() + "a/b.txt", "bee");
  in_src("zip -qrD nodirs.zip a");  // no folder entries
  EXPECT_EQ(zip_to_file(src() + "nodirs.zip", out(), nullptr, 0), 2)
      << "a file entry never creates its folder: ENOENT";
  EXPECT_FALSE(fs::exists(out() + "a")) << "no folder was made for it";
  EXPECT_NE(log_text().find("Zip to file failed with error 2. file = IO_UTILS line = "), std::string::npos)
      << "the member failure is logged with its output path";

  make_dirs(out() + "a");
  EXPECT_EQ(zip_to_file(src() + "nodirs.zip", out(), nullptr, 0), 0) << "works once the folder exists";
  EXPECT_EQ(read_file(out() + "a/b.txt"), "bee");
}

TEST_F(ArchiveTest, ZipMacMetadataAndSymlinksWriteNothing) {
  python_zip(src() + "mac.zip",
             "[('__MACOSX/', ''), ('__MACOSX/._b.txt', 'fork'), ('b.txt', 'data'), ('empty.txt', '')]");
  EXPECT_EQ(zip_to_file(src() + "mac.zip", out(), nullptr, 0), 0) << "Mac metadata is no failure";
  EXPECT_FALSE(fs::exists(out() + "__MACOSX")) << "the __MACOSX folder entry is skipped";
  EXPECT_FALSE(fs::exists(out() + "._b.txt")) << "the resource fork is written as nothing";
  EXPECT_EQ(read_file(out() + "b.txt"), "data");
  ASSERT_TRUE(file_exists(out() + "empty.txt")) << "an empty member gives an empty file";
  EXPECT_EQ(fs::file_size(out() + "empty.txt"), 0u);

  write_file(src() + "target.txt", "t");
  fs::create_symlink("target.txt", src() + "link.txt");
  in_src("zip -qy link.zip link.txt target.txt");  // -y stores the link itself (mode 0xA000)
  EXPECT_EQ(zip_to_file(src() + "link.zip", out(), nullptr, 0), 0) << "a symbolic link does not fail";
  EXPECT_FALSE(fs::exists(fs::symlink_status(out() + "link.txt"))) << "the link is written as nothing";
  EXPECT_EQ(read_file(out() + "target.txt"), "t") << "members after the link are expanded";
}

TEST_F(ArchiveTest, ZipMissingArchiveGives20001AndFourLogLines) {
  const std::string missing = src() + "missing.zip";
  EXPECT_EQ(zip_to_file(missing, out(), nullptr, 0), kErrZipOpen);
  const std::string log = log_text();
  const std::string expected =
      "OK I am about to report that I could not open a zip file for extraction!\n"
      "That incoming file is " +
      missing + "\nIn c-form, it is " + missing + "\nThe size is " + std::to_string(missing.size()) + "\n";
  EXPECT_EQ(log.rfind(expected, 0), 0u) << "the four open-failure lines, exactly:\n" << log;
  EXPECT_NE(log.find("Zip to file failed with error err = " + std::to_string(kErrZipOpen) +
                     ". file = IO_UTILS line = "),
            std::string::npos)
      << "the closing failure line";
  EXPECT_NE(log.find(". zip_file=" + missing + ", out_directory=" + out() + ".\n"), std::string::npos)
      << "the closing line names archive and folder";
}

TEST_F(ArchiveTest, ZipWrongChecksumWritesNothingAndKeepsOldFile) {
  // A stored (uncompressed) member: flipping one byte of its data in the
  // archive leaves it readable but no longer matching its CRC-32.
  write_file(src() + "c.txt", "CHECKSUMMED-CONTENT");
  in_src("zip -q0 crc.zip c.txt");
  std::string bytes = read_file(src() + "crc.zip");
  bytes[find_bytes(bytes, "CHECKSUMMED") + 3] ^= 0x20;
  write_file(src() + "crc.zip", bytes);
  write_file(out() + "c.txt", "the user's good copy");

  EXPECT_EQ(zip_to_file(src() + "crc.zip", out(), nullptr, 0), kUnzCrcError) << "minizip's checksum code";
  EXPECT_EQ(read_file(out() + "c.txt"), "the user's good copy") << "a bad member never replaces a file";
  EXPECT_FALSE(file_exists(out() + "c.txt" + kArchivePartSuffix)) << "no partial file remains";
}

TEST_F(ArchiveTest, ZipDamagedOrTruncatedFails) {
  write_file(src() + "big.txt", testsupport::random_bytes(200000, 7) + std::string(200000, 'x'));
  in_src("zip -q9 big.zip big.txt");
  const std::string good = read_file(src() + "big.zip");

  // Cut in half: the central directory at the end is gone.
  write_file(src() + "half.zip", good.substr(0, good.size() / 2));
  EXPECT_EQ(zip_to_file(src() + "half.zip", out(), nullptr, 0), kErrZipOpen)
      << "a truncated archive cannot be opened";

  // Deflate data scrambled in the middle of the member: inflate stops early
  // or the checksum fails; either way nothing is written.
  std::string bad = good;
  for (size_t i = 1000; i < 1100; ++i) bad[i] = static_cast<char>(bad[i] ^ 0x5a);
  write_file(src() + "bad.zip", bad);
  const int code = zip_to_file(src() + "bad.zip", out(), nullptr, 0);
  EXPECT_NE(code, 0) << "damaged data must not pass as success";
  EXPECT_FALSE(file_exists(out() + "big.txt")) << "no file from damaged data";

  // Not a zip at all.
  write_file(src() + "text.zip", "this is not an archive");
  EXPECT_EQ(zip_to_file(src() + "text.zip", out(), nullptr, 0), kErrZipOpen);
}

TEST_F(ArchiveTest, ZipRefusesNamesOutsideTheDestination) {
  const char* names[] = {"../evil.txt", "/tmp/abs-evil.txt", "a\\..\\evil.txt", "ok/../../evil.txt",
                         "..",          "../evil-folder/"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string zip = src() + "trav.zip";
    std::string literal = "[('first.txt', 'fine'), ('";
    for (const char* c = name; *c; ++c) literal += (*c == '\\' ? std::string("\\\\") : std::string(1, *c));
    literal += "', 'owned')]";
    python_zip(zip, literal);
    EXPECT_EQ(zip_to_file(zip, out(), nullptr, 0), kErrZipRead) << "an unsafe member name is refused";
    EXPECT_NE(log_text().find("refused a member whose name leaves the destination folder"), std::string::npos)
        << "the refusal is logged";
    EXPECT_EQ(read_file(out() + "first.txt"), "fine") << "safe members before it were expanded";
    expect_nothing_outside_out("zip traversal");
    EXPECT_FALSE(file_exists("/tmp/abs-evil.txt")) << "an absolute member name is never written";
    EXPECT_FALSE(file_exists(out() + "a\\..\\evil.txt")) << "a backslash name is refused, not written";
  }
}

TEST_F(ArchiveTest, ZipKeepsExecuteBitsAndLongNames) {
  // A nested path longer than 256 characters: the whole name must be used.
  const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
  make_dirs(src() + deep);
  write_file(src() + deep + "long name.txt", "deep");
  write_file(src() + "Skyvane", "#!/bin/sh\n");
  fs::permissions(src() + "Skyvane", fs::perms::owner_exec, fs::perm_options::add);
  write_file(src() + "plain.txt", "p");
  in_src("zip -qr mixed.zip Skyvane plain.txt " + std::string(120, 'd'));
  ASSERT_EQ(zip_to_file(src() + "mixed.zip", out(), nullptr, 0), 0);
  EXPECT_EQ(read_file(out() + deep + "long name.txt"), "deep") << "long names are not cut";
  EXPECT_TRUE(is_executable(out() + "Skyvane")) << "a program must stay runnable";
  EXPECT_FALSE(is_executable(out() + "plain.txt")) << "data files do not become executable";
}

TEST_F(ArchiveTest, ZipReportsFirstNameAndForcesName) {
  write_file(src() + "one.txt", "1");
  write_file(src() + "two.txt", "2");
  in_src("zip -q two.zip one.txt two.txt");
  std::string name;
  ASSERT_EQ(zip_to_file(src() + "two.zip", out(), &name, 0), 0);
  EXPECT_EQ(name, "one.txt") << "out_file receives the first member's stored name";

  std::string forced = "renamed.bin";
  ASSERT_EQ(zip_to_file(src() + "two.zip", out(), &forced, 1), 0);
  EXPECT_EQ(read_file(out() + "renamed.bin"), "2")
      << "every member went to the forced name; the last remains";
  EXPECT_EQ(forced, "one.txt");
}

// ---------------------------------------------------------------- 7z

TEST_F(ArchiveTest, SevenZipExpandsIntoExistingFoldersOnly) {
  make_dirs(src() + "Global Scenery/+40-080");
  const std::string big = testsupport::random_bytes(3 << 20, 11);  // several decoder blocks
  write_file(src() + "Global Scenery/+40-080/+45-075.dsf", big);
  write_file(src() + "Global Scenery/+40-080/empty.dsf", "");
  in_src("7z a -bd -y gs.7z 'Global Scenery' >/dev/null");

  EXPECT_EQ(p7z_to_file(src() + "gs.7z", out(), nullptr, 0), 2)
      << "folder items are skipped, so a missing folder fails with ENOENT";
  EXPECT_FALSE(fs::exists(out() + "Global Scenery")) << "no folders are made from 7z items";

  make_dirs(out() + "Global Scenery/+40-080");
  std::string last;
  ASSERT_EQ(p7z_to_file(src() + "gs.7z", out(), &last, 0), 0);
  EXPECT_EQ(read_file(out() + "Global Scenery/+40-080/+45-075.dsf"), big) << "a multi-block item is exact";
  ASSERT_TRUE(file_exists(out() + "Global Scenery/+40-080/empty.dsf")) << "an empty item gives an empty file";
  EXPECT_EQ(fs::file_size(out() + "Global Scenery/+40-080/empty.dsf"), 0u);
  EXPECT_EQ(last.rfind(out() + "Global Scenery/+40-080/", 0), 0u) << "out_file holds a full output path";
}

TEST_F(ArchiveTest, SevenZipSymlinkWritesNothingAndExecBitsStay) {
  write_file(src() + "target.txt", "t");
  fs::create_symlink("target.txt", src() + "link.txt");
  write_file(src() + "tool.so", "ELF");
  fs::permissions(src() + "tool.so", fs::perms::owner_exec, fs::perm_options::add);
  in_src("7z a -bd -y l.7z link.txt target.txt tool.so >/dev/null");
  ASSERT_EQ(p7z_to_file(src() + "l.7z", out(), nullptr, 0), 0) << "a symbolic link does not fail";
  EXPECT_FALSE(fs::exists(fs::symlink_status(out() + "link.txt"))) << "the link is written as nothing";
  EXPECT_EQ(read_file(out() + "target.txt"), "t");
  EXPECT_TRUE(is_executable(out() + "tool.so")) << "a plug-in keeps its execute bit";
  EXPECT_FALSE(is_executable(out() + "target.txt"));

  std::string forced = "one-name.bin";
  ASSERT_EQ(p7z_to_file(src() + "l.7z", out(), &forced, 1), 0);
  EXPECT_EQ(forced, out() + "one-name.bin") << "the forced name is reported as a full path";
  EXPECT_TRUE(file_exists(out() + "one-name.bin"));
}

TEST_F(ArchiveTest, SevenZipMissingNotAnArchiveOrTruncated) {
  EXPECT_EQ(p7z_to_file(src() + "missing.7z", out(), nullptr, 0), 2) << "a missing archive gives errno";
  write_file(src() + "text.7z", "plain text, not 7z");
  EXPECT_EQ(p7z_to_file(src() + "text.7z", out(), nullptr, 0), kErrZipOpen) << "not a 7z archive";
  EXPECT_NE(log_text().find("7z to file failed with error err = " + std::to_string(kErrZipOpen) +
                            ". file = IO_UTILS"),
            std::string::npos)
      << "archive failures are always logged";

  write_file(src() + "f.bin", testsupport::random_bytes(100000, 3));
  in_src("7z a -bd -y t.7z f.bin >/dev/null");
  const std::string good = read_file(src() + "t.7z");
  write_file(src() + "t.7z", good.substr(0, good.size() - 40));  // the header at the end is cut
  EXPECT_EQ(p7z_to_file(src() + "t.7z", out(), nullptr, 0), kErrZipOpen)
      << "a truncated archive cannot be opened";
  EXPECT_FALSE(file_exists(out() + "f.bin"));
}

TEST_F(ArchiveTest, SevenZipWrongChecksumKeepsOldFile) {
  // Copy method (-mx0): the data sits raw after the 32-byte signature header,
  // so flipping one data byte leaves the archive readable but the item's
  // CRC-32 wrong.
  write_file(src() + "c.txt", "CHECKSUMMED-CONTENT-7Z");
  in_src("7z a -bd -y -mx0 crc.7z c.txt >/dev/null");
  std::string bytes = read_file(src() + "crc.7z");
  bytes[find_bytes(bytes, "CHECKSUMMED") + 2] ^= 0x20;
  write_file(src() + "crc.7z", bytes);
  write_file(out() + "c.txt", "the user's good copy");
  EXPECT_EQ(p7z_to_file(src() + "crc.7z", out(), nullptr, 0), kErrZipRead)
      << "checksum mismatch is a read failure";
  EXPECT_EQ(read_file(out() + "c.txt"), "the user's good copy") << "a bad item never replaces a file";
  EXPECT_FALSE(file_exists(out() + "c.txt" + kArchivePartSuffix)) << "no partial file remains";
}

TEST_F(ArchiveTest, SevenZipRefusesNamesOutsideTheDestination) {
  make_dirs(src() + "sub");
  write_file(src() + "sub/f.txt", "owned");
  write_file(src() + "a\\b.txt", "owned");
  // -spf stores the paths as given: absolute, or relative with "..".
  in_src("7z a -bd -y -spf abs.7z " + shell_quote(fs::canonical(src() + "sub/f.txt").string()) +
         " >/dev/null");
  in_src("cd sub && 7z a -bd -y -spf ../rel.7z ../sub/f.txt >/dev/null");
  in_src("7z a -bd -y bs.7z 'a\\b.txt' >/dev/null");
  // Expanded into out/deeper/, "../sub/f.txt" would land in out/sub/, which exists.
  make_dirs(out() + "deeper");
  make_dirs(out() + "sub");
  for (const char* arc : {"abs.7z", "rel.7z", "bs.7z"}) {
    SCOPED_TRACE(arc);
    EXPECT_EQ(p7z_to_file(src() + arc, out() + "deeper/", nullptr, 0), kErrZipRead)
        << "unsafe item name refused";
    expect_nothing_outside_out("7z traversal");
    EXPECT_FALSE(file_exists(out() + "sub/f.txt")) << "nothing was written above the destination";
    EXPECT_TRUE(fs::is_empty(out() + "deeper")) << "nothing was written for it";
  }
  EXPECT_NE(log_text().find("7z refused an item whose name leaves the destination folder"), std::string::npos)
      << "the refusal is logged";
}

// ---------------------------------------------------------------- one product file

// The archive of one product file expands to exactly that file, with its
// published bytes, or is damaged: another member (another name, a folder, a
// link, a device, a second member), other bytes or more bytes than announced
// leave the old file and everything beside it as they were.
TEST_F(ArchiveTest, OneFileArchiveHoldsExactlyThePublishedFile) {
  // Large enough to span several read and inflate pieces; the run of zeros
  // inflates from little input into many full output pieces.
  std::string published = "the published bytes\n";
  for (uint32_t r = 1; published.size() < (1200u << 10);) {
    r = r * 1103515245u + 12345u;
    published += static_cast<char>(r >> 24);
  }
  published += std::string(1u << 20, '\0');
  const auto in = [&](const std::string& rel, const std::string& bytes) {
    make_dirs(src() + rel.substr(0, rel.rfind('/')));
    write_file(src() + rel, bytes);
  };
  in("pub/readme.txt", published);
  in("other/readme.txt", "well-formed, but other bytes\n");
  in("big/readme.txt", published + std::string(100000, 'z'));
  in("tree/readme.txt", published);
  in("tree/Output/logbooks/mylog.txt", "the mirror's log\n");
  in("named/notes.txt", published);
  make_dirs(src() + "link");
  make_dirs(src() + "folder/readme.txt");
  fs::create_symlink("/etc/hostname", src() + "link/readme.txt");
  const std::string device =
      "zi = zipfile.ZipInfo('readme.txt')\nzi.external_attr = 0o020644 << 16\nz.writestr(zi, 'x')\n";

  struct Case {
    const char* name;
    const char* archive;
    std::string make;  // run in src()
    int want;
  };
  const std::vector<Case> cases = {
      {"zip with the file", "ok.zip", "cd pub && zip -q ../ok.zip readme.txt", 0},
      {"zip with the file stored", "stored.zip", "cd pub && zip -q0 ../stored.zip readme.txt", 0},
      {"zip with a byte of its data changed", "flip.zip",
       "python3 -c " + shell_quote("b = bytearray(open('ok.zip', 'rb').read())\nb[len(b) // 2] ^= 0x55\n"
                                   "open('flip.zip', 'wb').write(b)"),
       kErrZipRead},
      {"zip encrypted", "locked.zip", "cd pub && zip -q -P secret ../locked.zip readme.txt", kErrZipRead},
      {"7z with the file", "ok.7z", "cd pub && 7z a -bd -y -mx1 ../ok.7z readme.txt >/dev/null", 0},
      {"zip with a second member in a subfolder", "tree.zip",
       "cd tree && zip -qr ../tree.zip readme.txt Output", kErrZipRead},
      {"7z with a second member in a subfolder", "tree.7z",
       "cd tree && 7z a -bd -y -mx1 ../tree.7z readme.txt Output >/dev/null", kErrZipRead},
      {"zip with another name", "named.zip", "cd named && zip -q ../named.zip notes.txt", kErrZipRead},
      {"7z with another name", "named.7z", "cd named && 7z a -bd -y ../named.7z notes.txt >/dev/null",
       kErrZipRead},
      {"zip with a folder only", "folder.zip", "cd folder && zip -qr ../folder.zip readme.txt", kErrZipRead},
      {"7z with a folder only", "folder.7z", "cd folder && 7z a -bd -y ../folder.7z readme.txt >/dev/null",
       kErrZipRead},
      {"zip with a link", "link.zip", "cd link && zip -qy ../link.zip readme.txt", kErrZipRead},
      {"7z with a link", "link.7z", "cd link && 7z a -bd -y -snl ../link.7z readme.txt >/dev/null",
       kErrZipRead},
      {"zip with a device", "device.zip",
       "python3 -c " +
           shell_quote("import zipfile\nz = zipfile.ZipFile('device.zip', 'w')\n" + device + "z.close()"),
       kErrZipRead},
      {"zip with the file and then another", "two.zip",
       "python3 -c " + shell_quote("import zipfile\nz = zipfile.ZipFile('two.zip', 'w')\n"
                                   "z.writestr('readme.txt', open('pub/readme.txt', 'rb').read())\n"
                                   "z.writestr('Output/logbooks/mylog.txt', 'the mirror log')\nz.close()"),
       kErrZipRead},
      {"zip with other bytes", "other.zip", "cd other && zip -q ../other.zip readme.txt", kErrZipRead},
      {"7z with other bytes", "other.7z", "cd other && 7z a -bd -y ../other.7z readme.txt >/dev/null",
       kErrZipRead},
      {"zip larger than announced", "big.zip", "cd big && zip -q ../big.zip readme.txt", kErrZipRead},
      {"7z larger than announced", "big.7z", "cd big && 7z a -bd -y -mx1 ../big.7z readme.txt >/dev/null",
       kErrZipRead},
  };
  archive_one_file want;
  want.name = "readme.txt";
  want.md5 = testsupport::md5sum_of(src() + "pub/readme.txt");
  want.max_bytes = published.size() + 65536;  // as announced, with the engine's margin
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    in_src(c.make);
    make_dirs(out() + "Output/logbooks");
    write_file(out() + "readme.txt", "the old version\n");
    write_file(out() + "Output/logbooks/mylog.txt", "the user's log\n");
    const std::string arc = src() + c.archive;
    const bool seven = std::string(c.archive).ends_with(".7z");
    EXPECT_EQ(seven ? p7z_to_one_file(arc, out() + "readme.txt", want)
                    : zip_to_one_file(arc, out() + "readme.txt", want),
              c.want);
    EXPECT_TRUE(read_file(out() + "readme.txt") == (c.want == 0 ? published : "the old version\n"))
        << (c.want == 0 ? "the published bytes" : "the old version") << " expected";
    EXPECT_EQ(read_file(out() + "Output/logbooks/mylog.txt"), "the user's log\n")
        << "nothing else is touched";
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(out())) left.push_back(e.path().string());
    EXPECT_EQ(left.size(), 4u) << "readme.txt, Output, logbooks and the log, nothing else";
  }
  const std::string log = log_text();
  EXPECT_NE(log.find("expanded with the signature"), std::string::npos) << "other bytes are logged as such";
  EXPECT_NE(log.find("bytes for a file announced as at most " + std::to_string(want.max_bytes)),
            std::string::npos)
      << "a member larger than announced is refused before it is written";

  // Without a signature to prove the bytes, the zip checksum still does.
  std::string bytes = read_file(src() + "stored.zip");
  bytes[find_bytes(bytes, "the published bytes")] ^= 0x20;
  write_file(src() + "crc.zip", bytes);
  want.md5.clear();
  for (const char* arc : {"crc.zip", "ok.zip"}) {
    SCOPED_TRACE(arc);
    write_file(out() + "readme.txt", "the old version\n");
    const bool good = std::string(arc) == "ok.zip";
    EXPECT_EQ(zip_to_one_file(src() + arc, out() + "readme.txt", want), good ? 0 : kUnzCrcError);
    EXPECT_TRUE(read_file(out() + "readme.txt") == (good ? published : "the old version\n"));
  }
}

// A name of 250 bytes leaves no room for the part suffix: the new bytes still
// go to a temporary file first, so a damaged member never destroys the old
// file, and a whole one replaces it.
TEST_F(ArchiveTest, ALongNameIsStillReplacedOnlyWhenWhole) {
  const std::string name = std::string(246, 'n') + ".txt";
  write_file(src() + name, "CHECKSUMMED-CONTENT of the new version");
  in_src("zip -q0 good.zip " + name);
  std::string bytes = read_file(src() + "good.zip");
  bytes[find_bytes(bytes, "CHECKSUMMED") + 3] ^= 0x20;
  write_file(src() + "crc.zip", bytes);
  for (const char* arc : {"crc.zip", "good.zip"}) {
    SCOPED_TRACE(arc);
    const bool good = std::string(arc) == "good.zip";
    write_file(out() + name, "the old version");
    EXPECT_EQ(zip_to_file(src() + arc, out(), nullptr, 0), good ? 0 : kUnzCrcError);
    EXPECT_EQ(read_file(out() + name), good ? "CHECKSUMMED-CONTENT of the new version" : "the old version")
        << "the old file is replaced only by a whole, checked new one";
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(out())) n += e.path().filename() == name ? 0 : 1;
    EXPECT_EQ(n, 0u) << "no temporary file is left beside it";
  }
}

TEST(ArchiveNames, SafetyRule) {
  EXPECT_TRUE(archive_member_name_is_safe("Global Scenery/+40-080/x.dsf"));
  EXPECT_TRUE(archive_member_name_is_safe("a..b/..c/d.."));
  EXPECT_TRUE(archive_member_name_is_safe("dir/"));
  EXPECT_FALSE(archive_member_name_is_safe(""));
  EXPECT_FALSE(archive_member_name_is_safe("/etc/passwd"));
  EXPECT_FALSE(archive_member_name_is_safe("a/../../b"));
  EXPECT_FALSE(archive_member_name_is_safe("a/.."));
  EXPECT_FALSE(archive_member_name_is_safe("a\\b"));
  EXPECT_FALSE(archive_member_name_is_safe(std::string("a\0b", 3)));
}

}  // namespace
