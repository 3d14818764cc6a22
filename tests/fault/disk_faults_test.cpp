// Disk faults during an install or an update: the disk fills up, the
// destination becomes read-only, a file to be replaced is write-protected or
// held open, a downloaded archive is truncated or damaged. Each must end in
// the install's alert with the system's own error text (or, where Linux
// allows it, in a completed install), with every file that was whole before
// still whole: no file truncated, no temporary part file left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "fault_fixture.h"
#include "net/http.h"
#include "prefs/pref.h"

using faulttest::FaultInstall;
using faulttest::product;
using testsupport::file_exists;
using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::write_file;

namespace {

// A tmpfs of a given size mounted on a folder for the test's life. Mounting
// needs root (CAP_SYS_ADMIN); without it ok() is false and says why.
class Tmpfs {
 public:
  // `more`: further mount options ("nr_inodes=N"), or empty.
  Tmpfs(const std::string& where, const std::string& size, const std::string& more = "") : where_(where) {
    testsupport::make_dirs(where);
    const std::string opts = "size=" + size + ",mode=0755" + (more.empty() ? "" : "," + more);
    if (::mount("tmpfs", where.c_str(), "tmpfs", 0, opts.c_str()) == 0) {
      mounted_ = true;
    } else {
      why_ = std::strerror(errno);
    }
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool ok() const { return mounted_; }
  const std::string& why() const { return why_; }
  // Makes the whole file system read-only, as a disk that fails or a
  // read-only network share does (root cannot write there either).
  bool remount_read_only() {
    return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string where_;
  bool mounted_ = false;
  std::string why_;
};

#define REQUIRE_TMPFS(fs)                                     \
  if (!(fs).ok())                                             \
  GTEST_SKIP() << "cannot mount a tmpfs here (" << (fs).why() \
               << "); the disk-full and read-only cases need root or CAP_SYS_ADMIN"

class DiskFault : public FaultInstall {
 protected:
  // Installs R1 into dest_dir_path from its own nginx; the R1 release stays
  // in www1/ for the update's --previous.
  void install_release_one() {
    const std::string out1 = dir_ / "www1/";
    testsupport::Nginx web(out1);
    publish(faulttest::release_one(), "R1", out1, {web.host() + "|/files/|Mirror"});
    fetch_and_read(web.host());
    ASSERT_EQ(install(), 1);
    ASSERT_EQ(stg.got_failed_install, 0) << "R1 installed whole";
    expect_installed(faulttest::release_one(), dest_dir_path);
  }

  // A fresh program run against R2 published into www2/ (served by `web`),
  // with the same destination.
  void start_update(testsupport::Nginx& web) {
    const std::string dest = dest_dir_path;
    SetUp();
    dest_dir_path = dest;
    fetch_and_read(web.host());
  }

  // R2 on the mirror /files/ of `host`, after `others` (other mirrors of
  // the same release, "HOST|/dir/|description").
  void publish_two(const std::string& host, std::vector<std::string> others = {}) {
    others.push_back(host + "|/files/|Mirror");
    publish(faulttest::release_two(), "R2", dir_ / "www2/", others, dir_ / "www1/");
  }

  // The failed install's alerts: their fixed words, the error's own text, a
  // destination among `files` (product keys). Streams whose expansions fail
  // in the same pass each report their file, so there may be more than one.
  void expect_extract_alerts(const std::string& system_text, const std::set<std::string>& files) {
    ASSERT_GE(count_alerts(t_alert), 1) << "the failure is told";
    EXPECT_EQ(count_alerts(t_alert), static_cast<int>(alerts.size())) << "no other kind of alert";
    for (const alert_record& a : alerts) {
      EXPECT_EQ(a.l1, "The installer cannot extract a file.");
      EXPECT_NE(a.l2.find(system_text), std::string::npos) << "the system's error text is shown: " << a.l2;
      EXPECT_EQ(a.l2.rfind("Error: ", 0), 0u);
      EXPECT_EQ(a.file, "utils");
      EXPECT_EQ(a.line, 392);
      const std::string prefix = "Destination: " + dest_dir_path;
      EXPECT_EQ(a.l4.rfind(prefix, 0), 0u) << a.l4;
      EXPECT_TRUE(files.count("Master/" + a.l4.substr(std::min(prefix.size(), a.l4.size()))))
          << "a file the install writes: " << a.l4;
    }
    EXPECT_EQ(stg.got_failed_install, 1) << "the install stopped as failed";
    EXPECT_EQ(next.dir_done, 0) << "a failed install is not reported complete";
  }

  // The product keys of the files R2 changes or adds.
  static std::set<std::string> written_by_update() {
    std::set<std::string> written;
    const product one = faulttest::release_one();
    for (const auto& [key, bytes] : faulttest::release_two())
      if (!one.count(key) || one.at(key) != bytes) written.insert(key);
    return written;
  }

  // Every file below the destination is either absent or byte for byte one
  // of the two releases' versions; no part file is left.
  void expect_no_damaged_file(const std::string& dest) {
    const product one = faulttest::release_one(), two = faulttest::release_two();
    for (const auto& rel : files_below(dest)) {
      EXPECT_EQ(rel.find(".skyvane-part"), std::string::npos) << "part file left behind: " << rel;
      const std::string path = dest + rel.substr(2);
      if (faulttest::is_dir(path)) continue;
      const std::string key = "Master/" + rel.substr(2);
      if (!one.count(key) && !two.count(key)) continue;  // the user's own file
      const std::string bytes = read_file(path);
      const bool whole = (one.count(key) && one.at(key) == bytes) || (two.count(key) && two.at(key) == bytes);
      EXPECT_TRUE(whole) << "a file that is neither release's version (truncated?): " << rel;
    }
  }
};

TEST_F(DiskFault, DiskFullDuringAFreshInstall) {
  Tmpfs disk(dir_ / "disk/", "256k");  // too small for the 400 kB file
  REQUIRE_TMPFS(disk);
  const std::string out = dir_ / "www/";
  testsupport::Nginx web(out);
  publish(faulttest::release_one(), "R1", out, {web.host() + "|/files/|Mirror"});
  dest_dir_path = dir_ / "disk/sim/";
  fetch_and_read(web.host());
  ASSERT_EQ(install(), 1);
  std::set<std::string> all;
  for (const auto& [key, bytes] : faulttest::release_one()) all.insert(key);
  expect_extract_alerts(error_str(ENOSPC), all);
  EXPECT_NE(alerts[0].l2.find("No space left on device"), std::string::npos) << alerts[0].l2;
  expect_no_damaged_file(dest_dir_path);
  for (int slot = 2; slot < http_class::kSlots; ++slot)
    EXPECT_EQ(http.down[slot], nullptr) << "downloads stopped";
}

TEST_F(DiskFault, DiskFullDuringAnUpdateKeepsTheOldFileWhole) {
  // Room for R1 but not for R1 and a second copy of the 400 kB file while it
  // is being replaced.
  Tmpfs disk(dir_ / "disk/", "760k");
  REQUIRE_TMPFS(disk);
  dest_dir_path = dir_ / "disk/sim/";
  install_release_one();
  const std::string dest = dest_dir_path;
  testsupport::make_dirs(dest + "My Liveries");
  write_file(dest + "My Liveries/paint.txt", "the user's own file\n");

  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  publish_two(web.host());
  start_update(web);
  ASSERT_EQ(install(), 1);
  // Which file meets the full disk first depends on the order the archives
  // arrive in and on the workers' timing: a small file written while a large
  // one's new copy fills the disk can be the first.
  ASSERT_EQ(written_by_update().size(), 4u);
  expect_extract_alerts("No space left on device", written_by_update());
  const std::string tile = read_file(dest + "Global Scenery/+40-120/tile.dsf");
  EXPECT_TRUE(tile == faulttest::release_one().at("Master/Global Scenery/+40-120/tile.dsf") ||
              tile == faulttest::release_two().at("Master/Global Scenery/+40-120/tile.dsf"))
      << "the other file being replaced is whole too: the old or the new version";
  EXPECT_EQ(read_file(dest + "data/big.bin"), faulttest::release_one().at("Master/data/big.bin"))
      << "the file being replaced is still the whole old version";
  EXPECT_EQ(read_file(dest + "My Liveries/paint.txt"), "the user's own file\n")
      << "the user's file is untouched";
  expect_no_damaged_file(dest);
}

// The temporary folder that takes the downloaded archives cannot take one:
// too small for an archive (found before it is fetched), no file can be
// made there (no inode left: ENOSPC while the free bytes look ample), or it
// is read-only. That is this machine's failure, not the servers': the
// install stops at once with an alert that names the folder and the
// system's reason, instead of asking server after server again.
enum class TempFault { kTooSmallForAnArchive, kNoFileCanBeMade, kReadOnly };

struct TempCase {
  const char* name;
  TempFault fault;
  const char* size;
  int err;  // the reason shown
};

class FullTemporaryFolder : public DiskFault, public ::testing::WithParamInterface<TempCase> {};

TEST_P(FullTemporaryFolder, StopsTheInstallNamingTheFolder) {
  const TempCase& c = GetParam();
  temp_path = dir_ / "tmpfs/";
  Tmpfs disk(temp_path, c.size, c.fault == TempFault::kNoFileCanBeMade ? "nr_inodes=64" : "");
  REQUIRE_TMPFS(disk);
  const std::string out = dir_ / "www/";
  testsupport::make_dirs(out);
  testsupport::Nginx web(out, "access_log " + dir_ / "access.log" + ";");
  publish(faulttest::release_one(), "R1", out, {web.host() + "|/files/|Mirror"});
  dest_dir_path = dir_ / "sim/";
  fetch_and_read(web.host());
  if (c.fault == TempFault::kNoFileCanBeMade) {
    int made = 0;
    for (;; ++made) {
      const int fd = ::open((temp_path + "filler" + std::to_string(made)).c_str(), O_CREAT | O_WRONLY, 0644);
      if (fd < 0) break;
      ::close(fd);
    }
    ASSERT_GT(made, 0);
  } else if (c.fault == TempFault::kReadOnly) {
    ASSERT_TRUE(disk.remount_read_only());
  }
  const size_t log_before = log_text().size();

  ASSERT_EQ(install(), 1);
  ASSERT_EQ(alerts.size(), 1u) << "one alert";
  EXPECT_EQ(alerts[0].l1, "The installer cannot write a downloaded file to its temporary folder.");
  EXPECT_EQ(alerts[0].l2, "Error: " + error_str(c.err)) << "the system's reason";
  EXPECT_EQ(alerts[0].l3, "Folder: " + temp_path) << "the folder is named";
  EXPECT_EQ(alerts[0].type, t_alert);
  EXPECT_EQ(stg.got_failed_install, 1);
  EXPECT_EQ(next.dir_done, 0) << "a failed install is not reported complete";
  EXPECT_EQ(stg.got_404, 0) << "the servers are not blamed";
  const std::string access = read_file(dir_ / "access.log");
  size_t asked = 0;
  for (size_t at = access.find("GET /files/R1/Master/"); at != std::string::npos;
       at = access.find("GET /files/R1/Master/", at + 1))
    ++asked;
  if (c.fault == TempFault::kTooSmallForAnArchive) {
    EXPECT_EQ(access.find("big.bin.zip"), std::string::npos)
        << "an archive larger than the folder is not fetched";
    EXPECT_EQ(access.find("tile.dsf.7z"), std::string::npos)
        << "an archive larger than the folder is not fetched";
  } else {
    EXPECT_LE(asked, static_cast<size_t>(kStreamCount)) << "no server is asked again";
  }
  const size_t logged = log_text().size() - log_before;
  EXPECT_LT(logged, 8u * 1024) << "the log does not grow with retries";
  for (int slot = 2; slot < http_class::kSlots; ++slot)
    EXPECT_EQ(http.down[slot], nullptr) << "downloads stopped";
  std::printf("[ figures ] %s: archive requests %zu, log grew by %zu bytes\n", c.name, asked, logged);
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, FullTemporaryFolder,
    ::testing::Values(TempCase{"TooSmallForAnArchive", TempFault::kTooSmallForAnArchive, "128k", ENOSPC},
                      TempCase{"NoFileCanBeMade", TempFault::kNoFileCanBeMade, "4m", ENOSPC},
                      TempCase{"ReadOnly", TempFault::kReadOnly, "4m", EROFS}),
    [](const ::testing::TestParamInfo<TempCase>& i) { return std::string(i.param.name); });

// The settings are saved at exit; a disk that is full then keeps the
// settings saved before, and no half-written file is left beside them.
TEST_F(DiskFault, DiskFullAtExitKeepsTheSavedSettings) {
  Tmpfs disk(dir_ / "config/", "64k");
  REQUIRE_TMPFS(disk);
  const char* old_config = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = old_config ? old_config : "";
  setenv("XDG_CONFIG_HOME", (dir_ / "config/").c_str(), 1);
  dest_dir_path = "/home/pilot/Skyvane 9/";
  http.ProxyHost = "proxy.example";
  pref.IO_set(kPrefsInstallerFile, 1);
  const std::string saved = read_file(pref_file_path());
  ASSERT_NE(saved.find("_dest_dir_path /home/pilot/Skyvane 9/"), std::string::npos) << saved;

  ASSERT_NE(run("dd if=/dev/zero of=" + shell_quote(dir_ / "config/filler") + " bs=4k 2>/dev/null"), 0)
      << "dd stops at the full disk";
  dest_dir_path = "/somewhere/else/";
  pref.IO_set(kPrefsInstallerFile, 1);
  EXPECT_EQ(read_file(pref_file_path()), saved) << "the settings saved before are whole";
  EXPECT_FALSE(testsupport::file_exists(pref_file_path() + ".new"))
      << "no half-written settings file is left";
  http.ProxyHost.clear();
  setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
}

TEST_F(DiskFault, DestinationBecomesReadOnly) {
  Tmpfs disk(dir_ / "disk/", "4m");
  REQUIRE_TMPFS(disk);
  dest_dir_path = dir_ / "disk/sim/";
  install_release_one();
  const std::string dest = dest_dir_path;
  const std::set<std::string> before = files_below(dest);
  ASSERT_TRUE(disk.remount_read_only());

  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  publish_two(web.host());
  start_update(web);
  ASSERT_EQ(install(), 1);
  expect_extract_alerts(error_str(EROFS), written_by_update());
  EXPECT_EQ(files_below(dest), before) << "nothing was added or removed";
  expect_installed(faulttest::release_one(), dest);
}

// Linux lets a file be replaced while another program has it open or while
// it is write-protected: the install completes; the program holding it keeps
// reading the old bytes until it closes it.
TEST_F(DiskFault, AFileHeldOpenOrWriteProtectedIsStillReplaced) {
  dest_dir_path = dir_ / "sim/";
  install_release_one();
  const std::string dest = dest_dir_path;
  ::chmod((dest + "data/c.txt").c_str(), 0444);
  std::ifstream held(dest + "data/big.bin", std::ios::binary);
  ASSERT_TRUE(held.is_open());

  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  publish_two(web.host());
  start_update(web);
  ASSERT_EQ(install(), 1);
  EXPECT_EQ(stg.got_failed_install, 0);
  EXPECT_TRUE(alerts.empty());
  expect_installed(faulttest::release_two(), dest);
  std::string old((std::istreambuf_iterator<char>(held)), std::istreambuf_iterator<char>());
  EXPECT_EQ(old, faulttest::release_one().at("Master/data/big.bin"))
      << "the program holding the old file still reads it whole";
}

// An archive on the server that is damaged: cut short, data that does not
// match its checksum, or well-formed but not the published file (other bytes,
// a second member, more bytes than announced, a longer download than
// announced). With only that mirror: the expansion alert with the error's
// text; the old version and every other file stay whole; nothing
// half-written. With mirrors that serve the right archive too: the install
// fetches it from one of them and completes with the published bytes.
enum class Damage { kTruncate, kFlipByte, kOtherBytes, kExtraMember, kLargerFile, kLongerDownload };

struct DamageCase {
  const char* name;
  const char* archive;  // below the release folder
  Damage damage;
  bool whole_mirrors_too;  // three more mirrors serve the right archive
  const char* logged;      // what the log must say about it, or ""
};

class DamagedArchive : public DiskFault, public ::testing::WithParamInterface<DamageCase> {
 protected:
  // Makes `archive` (its member is `file`, its maker zip or 7z by its name)
  // damaged as the case says, with real tools.
  void damage(const std::string& archive, const std::string& file) {
    const std::string work = dir_ / "made/";
    testsupport::make_dirs(work + "sub");
    const std::string member = file.substr(file.rfind('/') + 1);
    const std::string pack = archive.ends_with(".7z") ? "7z a -bd -y out.7z " : "zip -qr out.zip ";
    const std::string made = work + (archive.ends_with(".7z") ? "out.7z" : "out.zip");
    std::string bytes = read_file(archive);
    // The mirrors' copies are hard links of one file: only this one changes.
    std::filesystem::remove(archive);
    switch (GetParam().damage) {
      case Damage::kTruncate:
        bytes.resize(bytes.size() / 2);
        write_file(archive, bytes);
        return;
      case Damage::kFlipByte:
        bytes[bytes.size() / 2] ^= 0x5a;
        write_file(archive, bytes);
        return;
      case Damage::kOtherBytes:
        write_file(work + member, testsupport::random_bytes(faulttest::release_two().at(file).size(), 99));
        ASSERT_EQ(run("cd " + shell_quote(work) + " && " + pack + shell_quote(member) + " >/dev/null"), 0);
        break;
      case Damage::kExtraMember:
        // The right file, and another product file's folder and name.
        write_file(work + member, faulttest::release_two().at(file));
        write_file(work + "sub/d.txt", "the mirror's own text\n");
        ASSERT_EQ(run("cd " + shell_quote(work) + " && " + pack + shell_quote(member) + " sub >/dev/null"),
                  0);
        break;
      case Damage::kLargerFile:
        write_file(work + member, faulttest::release_two().at(file) + std::string(3000000, ' '));
        ASSERT_EQ(run("cd " + shell_quote(work) + " && " + pack + shell_quote(member) + " >/dev/null"), 0);
        break;
      case Damage::kLongerDownload:
        // The right file, padded with an incompressible member far beyond
        // the archive's announced size.
        write_file(work + member, faulttest::release_two().at(file));
        write_file(work + "pad.bin", testsupport::random_bytes(2000000, 98));
        ASSERT_EQ(
            run("cd " + shell_quote(work) + " && " + pack + shell_quote(member) + " pad.bin >/dev/null"), 0);
        break;
    }
    write_file(archive, read_file(made));
  }
};

TEST_P(DamagedArchive, TheOldFileStaysUnlessAWholeMirrorHasIt) {
  const DamageCase& c = GetParam();
  dest_dir_path = dir_ / "sim/";
  install_release_one();
  const std::string dest = dest_dir_path;
  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  std::vector<std::string> whole;
  if (c.whole_mirrors_too) {
    for (const char* d : {"/a/", "/b/", "/c/"}) whole.push_back(web.host() + "|" + d + "|Whole mirror");
  }
  publish_two(web.host(), whole);
  const std::string archive = out2 + "files/R2/" + c.archive;
  damage(archive, std::string(c.archive).substr(0, std::string(c.archive).rfind('.')));
  if (HasFatalFailure()) return;

  start_update(web);
  stg.sel_server = stg.num_servers - 1;  // start on the damaged mirror
  ASSERT_EQ(install(), 1);
  const std::string rel = std::string(c.archive).substr(7);  // below "Master/"
  const std::string file = rel.substr(0, rel.rfind('.'));
  if (*c.logged) {
    EXPECT_NE(log_text().find(c.logged), std::string::npos) << "logged: " << c.logged;
  }
  if (c.whole_mirrors_too) {
    EXPECT_EQ(stg.got_failed_install, 0) << "the right archive came from a whole mirror";
    EXPECT_TRUE(alerts.empty()) << "moving to another mirror is silent";
    expect_installed(faulttest::release_two(), dest);
    expect_no_damaged_file(dest);
    return;
  }
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].l1, "The installer cannot extract a file.");
  EXPECT_EQ(stg.got_failed_install, 1);
  EXPECT_EQ(next.dir_done, 0) << "a failed install is not reported complete";
  EXPECT_EQ(read_file(dest + file), faulttest::release_one().at("Master/" + file))
      << "the old version of the damaged file is whole";
  EXPECT_EQ(read_file(dest + "data/sub/d.txt"), faulttest::release_one().at("Master/data/sub/d.txt"))
      << "no other file is touched";
  EXPECT_FALSE(file_exists(dest + "data/pad.bin")) << "nothing else is added";
  expect_no_damaged_file(dest);
}

INSTANTIATE_TEST_SUITE_P(
    ZipAnd7z, DamagedArchive,
    ::testing::Values(
        DamageCase{"TruncatedZip", "Master/data/big.bin.zip", Damage::kTruncate, false, ""},
        DamageCase{"BadCrcZip", "Master/data/big.bin.zip", Damage::kFlipByte, false, ""},
        DamageCase{"Truncated7z", "Master/Global Scenery/+40-120/tile.dsf.7z", Damage::kTruncate, false, ""},
        DamageCase{"BadCrc7z", "Master/Global Scenery/+40-120/tile.dsf.7z", Damage::kFlipByte, false, ""},
        DamageCase{"OtherBytesZip", "Master/data/big.bin.zip", Damage::kOtherBytes, false,
                   "expanded with the signature"},
        DamageCase{"OtherBytes7z", "Master/Global Scenery/+40-120/tile.dsf.7z", Damage::kOtherBytes, false,
                   "expanded with the signature"},
        DamageCase{"OtherBytesZipWholeMirrorToo", "Master/data/big.bin.zip", Damage::kOtherBytes, true,
                   "expanded with the signature"},
        DamageCase{"OtherBytes7zWholeMirrorToo", "Master/Global Scenery/+40-120/tile.dsf.7z",
                   Damage::kOtherBytes, true, "expanded with the signature"},
        DamageCase{"ExtraMemberZip", "Master/data/c.txt.zip", Damage::kExtraMember, false, "UNZIP refused"},
        DamageCase{"ExtraMember7z", "Master/Global Scenery/+40-120/tile.dsf.7z", Damage::kExtraMember, false,
                   "7z refused"},
        DamageCase{"ExtraMemberZipWholeMirrorToo", "Master/data/c.txt.zip", Damage::kExtraMember, true,
                   "UNZIP refused"},
        DamageCase{"LargerFileZip", "Master/data/c.txt.zip", Damage::kLargerFile, false,
                   "bytes for a file announced as at most"},
        DamageCase{"LargerFile7z", "Master/Global Scenery/+40-120/tile.dsf.7z", Damage::kLargerFile, false,
                   "bytes for a file announced as at most"},
        DamageCase{"LongerDownloadZip", "Master/data/c.txt.zip", Damage::kLongerDownload, false,
                   "bytes is longer than the"}),
    [](const ::testing::TestParamInfo<DamageCase>& i) { return std::string(i.param.name); });

// A withdrawn file whose deletion fails: immutable (FS_IMMUTABLE_FL, which
// root cannot delete through either) or already gone when its turn comes.
// The first fails the install with the system's reason for it and the
// install is not reported complete; the second is what was wanted.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::string& path) : path_(path) { set_ = flag(true); }
  ~ImmutableFile() {
    if (set_) flag(false);  // or the test's folder could not be removed
  }
  bool ok() const { return set_; }
  const std::string& why() const { return why_; }

 private:
  bool flag(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (!ok) why_ = std::strerror(errno);
    ::close(fd);
    return ok;
  }
  std::string path_;
  bool set_ = false;
  std::string why_;
};

enum class Withdrawn { kCannotBeDeleted, kAlreadyGone };

class WithdrawnFile : public DiskFault, public ::testing::WithParamInterface<Withdrawn> {};

TEST_P(WithdrawnFile, AFailedDeletionFailsTheInstallAFileGoneAlreadyDoesNot) {
  dest_dir_path = dir_ / "sim/";
  install_release_one();
  const std::string dest = dest_dir_path;
  const std::string withdrawn = dest + "data/sub/d.txt";
  product two = faulttest::release_two();
  two.erase("Master/data/sub/d.txt");
  const std::string out2 = dir_ / "www2/";
  testsupport::Nginx web(out2);
  publish(two, "R2", out2, {web.host() + "|/files/|Mirror"}, dir_ / "www1/");
  start_update(web);

  std::unique_ptr<ImmutableFile> held;
  if (GetParam() == Withdrawn::kCannotBeDeleted) {
    held = std::make_unique<ImmutableFile>(withdrawn);
    if (!held->ok())
      GTEST_SKIP() << "cannot make a file immutable here (" << held->why()
                   << "); needs CAP_LINUX_IMMUTABLE and a file system with the attribute";
  } else {
    ASSERT_EQ(std::remove(withdrawn.c_str()), 0) << "gone between the examination and its deletion";
  }
  ASSERT_EQ(install(), 1);

  if (GetParam() == Withdrawn::kAlreadyGone) {
    EXPECT_EQ(stg.got_failed_install, 0);
    EXPECT_EQ(next.dir_done, 1);
    EXPECT_TRUE(alerts.empty()) << "a file already gone is no failure";
    expect_installed(two, dest);
    return;
  }
  ASSERT_EQ(count_alerts(t_alert), 1);
  const alert_record& a = alerts[0];
  EXPECT_EQ(a.l1, "Could not delete a file that I no longer want to have!");
  EXPECT_EQ(a.l2, error_str(EPERM)) << "the system's reason";
  EXPECT_EQ(a.l3, withdrawn);
  EXPECT_EQ(a.file, "utils");
  EXPECT_EQ(a.line, 487);
  EXPECT_EQ(stg.got_failed_install, 1) << "the install failed";
  EXPECT_EQ(next.dir_done, 0) << "and is not reported complete";
  EXPECT_TRUE(file_exists(withdrawn));
  EXPECT_NE(log_text().find("now we want to nuke a file: DELETING  file " + withdrawn +
                            ", with result=" + std::to_string(EPERM) + ".\n"),
            std::string::npos);
  expect_no_damaged_file(dest);
}

INSTANTIATE_TEST_SUITE_P(BusyOrGone, WithdrawnFile,
                         ::testing::Values(Withdrawn::kCannotBeDeleted, Withdrawn::kAlreadyGone),
                         [](const ::testing::TestParamInfo<Withdrawn>& i) {
                           return std::string(i.param == Withdrawn::kCannotBeDeleted ? "CannotBeDeleted"
                                                                                     : "AlreadyGone");
                         });

}  // namespace
