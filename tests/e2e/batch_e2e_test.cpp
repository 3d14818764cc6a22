// The real program run without a window (--batch) and without a display,
// against a real nginx serving the demo release: one table of runs, each
// with the destination it starts from, its options, the exit status, what it
// says on standard error and what the destination holds afterwards. The disc
// installer's rows install from the demo release's disc image instead
// (scripts/make-disc.sh), extracted with xorriso where its mount point would
// be and named in a mount table of the test's own.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>

#include "installer_process.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

const char* const kRelease = "Skyvane 9.00";
const char* const kReadMe = "Instructions/Read Me First.txt";
const char* const kMissing = "Airfoils/NACA 2400.afl";

// What the destination holds before the run.
enum class start_from {
  nothing,      // no folder yet
  current,      // the published release, unchanged
  changed,      // the release with kReadMe changed by the user and kMissing removed
  all_changed,  // every file of the release holding other bytes
};
// What it must hold afterwards.
enum class outcome {
  untouched,    // exactly as before the run
  installed,    // every file published, the user's change kept
  overwritten,  // every file published, the user's change replaced
  old_or_new,   // each file either as before or published; no part file
};

// What the mirrors of the server list do wrong.
enum class mirror_fault {
  none,
  refuse,       // nothing listens where the list points: no manifest to be had
  lack_a_file,  // every mirror answers 404 for one file's archive
};

// The discs the mount table names. Anything but `none` runs the disc
// installer, skyvane-installer-dvd.
enum class discs {
  none,    // the internet installer, with the machine's own mount table
  absent,  // no iso9660 or udf file system; a hard disk holding a marker file
  one,     // the image's contents, mounted as iso9660 (and the hard disk)
  two,     // the image's contents and the laid-out disc folder, both iso9660
};

struct batch_case {
  const char* name;
  start_from dest;
  std::vector<std::string> args;
  int status;
  std::string says;  // on standard error (or, for the licence text, standard output)
  outcome files;
  int stop_signal = 0;    // sent once the download is under way
  bool terminal = false;  // standard error is a pseudo-terminal
  mirror_fault mirrors = mirror_fault::none;
  discs disc = discs::none;
  bool https = false;  // the vendor host and the mirrors are https:// addresses of a TLS server
};

void PrintTo(const batch_case& c, std::ostream* os) {
  *os << c.name;
}

// Relative path below the destination -> MD5 of the published file.
std::map<std::string, std::string> published(const std::string& product) {
  std::map<std::string, std::string> out;
  for (const char* master : {"Skyvane 9", "Skyvane 9 Linux"}) {
    const fs::path base = fs::path(product) / master;
    for (const auto& e : fs::recursive_directory_iterator(base))
      if (e.is_regular_file()) out[fs::relative(e.path(), base).string()] = md5sum_of(e.path().string());
  }
  return out;
}

// Relative path -> MD5 of every file below `dir`.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  if (!file_exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = md5sum_of(e.path().string());
  return out;
}

// The percentages of the plain progress lines.
std::vector<int> percents(const std::string& text) {
  std::vector<int> out;
  static const std::regex line(R"((^|[\r\n]) *(\d+)% [0-9.]+ MB of [0-9.]+ MB)");
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    out.push_back(std::stoi((*it)[2]));
  return out;
}

class BatchRun : public ::testing::TestWithParam<batch_case> {
 protected:
  void SetUp() override {
    make_dirs(root_ / "demo/www");
    if (GetParam().https) {
      ca_ = std::make_unique<TestCa>();
      server_ = std::make_unique<Nginx>(root_ / "demo/www", "", "127.0.0.1", ca_->issue("IP:127.0.0.1"));
    } else {
      server_ = std::make_unique<Nginx>(root_ / "demo/www");
    }
    publish_demo(root_ / "demo", vendor());
  }
  std::string vendor() { return (GetParam().https ? "https://" : "") + server_->host(); }
  std::string product() { return root_ / "demo/product"; }

  // Lays out the disc, makes its image and extracts the image into a folder
  // whose name needs the mount table's escapes; returns the NAME=VALUE that
  // points the program at a mount table naming what `d` asks for.
  std::string prepare_discs(discs d) {
    const std::string mounted = root_ / "media/Skyvane disc";
    const std::string failed = make_demo_disc(root_ / "demo", mounted);
    EXPECT_EQ(failed, "");
    EXPECT_EQ(snapshot(mounted), snapshot(root_ / "demo/disc")) << "the image holds the laid-out disc";
    // A hard disk whose root holds a valid marker is not a disc.
    const std::string hard_disk = root_ / "hard disk/";
    make_dirs(hard_disk);
    fs::copy_file(mounted + "/dvd_version.txt", hard_disk + "dvd_version.txt");
    std::string table = mount_table_line("/dev/sda1", hard_disk, "ext4");
    if (d != discs::absent) table += mount_table_line("/dev/sr0", mounted, "iso9660");
    if (d == discs::two) table += mount_table_line("/dev/sr1", root_ / "demo/disc", "iso9660");
    write_file(root_ / "mounts", table);
    disc_root_ = mounted;
    return "SKYVANE_MOUNT_TABLE=" + (root_ / "mounts");
  }

  void prepare_destination(start_from from, const std::string& dest) {
    if (from == start_from::nothing) return;
    for (const char* master : {"Skyvane 9/", "Skyvane 9 Linux/"})
      fs::copy(product() + "/" + master, dest,
               fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    if (from == start_from::changed) {
      write_file(dest + kReadMe, "my own notes\n");
      fs::remove(dest + kMissing);
    }
    if (from == start_from::all_changed)
      for (const auto& [rel, md5] : published(product())) write_file(dest + rel, "old " + rel + "\n");
  }

  TempDir root_;
  std::unique_ptr<TestCa> ca_;
  std::unique_ptr<Nginx> server_;
  std::string disc_root_;
};

TEST_P(BatchRun, ExitStatusMessagesAndFiles) {
  const batch_case& c = GetParam();
  const std::string dest = root_ / "dest/";
  prepare_destination(c.dest, dest);
  const auto before = snapshot(dest);
  if (c.mirrors == mirror_fault::lack_a_file)
    for (const char* mirror : {"files", "mirror"})
      fs::remove(root_ / "demo/www/" + mirror + "/" + kRelease + "/Skyvane 9/" + kReadMe + ".zip");
  std::optional<RefusingPort> refusing;  // held for as long as the program runs
  if (c.mirrors == mirror_fault::refuse) {
    // The list names a port where nothing listens for both mirrors.
    std::string list = read_file(root_ / "demo/www/serverlist9.txt");
    const std::string dead = refusing.emplace().host();
    for (size_t p; (p = list.find(server_->host())) != std::string::npos;)
      list.replace(p, server_->host().size(), dead);
    write_file(root_ / "demo/www/serverlist9.txt", list);
  }

  std::vector<std::string> args = {"--batch", "--vendor_host=" + vendor(), "--pref:_rename_folder=0", dest};
  args.insert(args.end(), c.args.begin(), c.args.end());
  headless_run how;
  how.terminal = c.terminal;
  how.env = {"SKYVANE_PROGRESS_SECONDS=0.05"};
  if (ca_) how.env.push_back("SSL_CERT_FILE=" + ca_->ca_file());
  if (c.disc != discs::none) {
    how.program = "skyvane-installer-dvd";
    how.env.push_back(prepare_discs(c.disc));
  }
  const auto disc_before = snapshot(disc_root_);
  InstallerProcess p(root_, args, how);
  if (c.stop_signal) {
    // Stopped once some of the download has been installed, well before
    // its end (the rate limit makes it last).
    ASSERT_TRUE(InstallerProcess::wait_for(
        [&] {
          const auto seen = percents(p.stderr_text());
          return !seen.empty() && seen.back() >= 1;
        },
        120))
        << p.stderr_text() << p.log_text();
    ASSERT_LT(percents(p.stderr_text()).back(), 100) << "the stop must come during the download";
    p.send_signal(c.stop_signal);
  }
  const int status = p.wait_exit(250);
  const std::string err = p.stderr_text();
  EXPECT_EQ(status, c.status) << "stderr:\n" << err << "\nlog:\n" << p.log_text();
  const bool on_stdout = c.says.rfind("SKYVANE 9 LICENCE", 0) == 0 || c.says.rfind("Usage:", 0) == 0;
  const std::string said = on_stdout ? p.stdout_text() : err;
  EXPECT_NE(said.find(c.says), std::string::npos) << "the run must say \"" << c.says << "\":\n" << said;

  // Progress: rewritten in place on a terminal, plain lines otherwise.
  if (c.files == outcome::installed || c.files == outcome::overwritten) {
    ASSERT_FALSE(percents(err).empty()) << "progress is told:\n" << err;
    EXPECT_EQ(percents(err).back(), 100) << "the last report is the whole install";
    EXPECT_EQ(err.find('\r') != std::string::npos, c.terminal)
        << "'\\r' rewrites the line on a terminal only:\n"
        << err;
  }

  if (c.disc != discs::none) {
    EXPECT_EQ(snapshot(disc_root_), disc_before) << "nothing on the disc may change";
  }

  const auto pub = published(product());
  const auto after = snapshot(dest);
  for (const auto& [rel, md5] : after)
    EXPECT_EQ(rel.find(".skyvane-part"), std::string::npos) << "part file left behind: " << rel;
  switch (c.files) {
    case outcome::untouched:
      EXPECT_EQ(after, before) << "nothing of the destination may change";
      break;
    case outcome::installed:
    case outcome::overwritten:
      for (const auto& [rel, md5] : pub) {
        if (c.dest == start_from::changed && rel == kReadMe && c.files == outcome::installed)
          EXPECT_EQ(read_file(dest + rel), "my own notes\n") << "the user's change is kept";
        else
          EXPECT_EQ(after.count(rel) ? after.at(rel) : "", md5) << rel << " must be the published file";
      }
      break;
    case outcome::old_or_new:
      for (const auto& [rel, md5] : after) {
        const bool is_new = pub.count(rel) && pub.at(rel) == md5;
        const bool is_old = before.count(rel) && before.at(rel) == md5;
        EXPECT_TRUE(is_new || is_old) << rel << " is neither the old file nor the new one";
      }
      EXPECT_LT(
          std::count_if(pub.begin(), pub.end(),
                        [&](const auto& f) { return after.count(f.first) && after.at(f.first) == f.second; }),
          static_cast<long>(pub.size()))
          << "the stop came before the end";
      EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "the private temporary folder is removed";
      break;
  }
}

const batch_case kCases[] = {
    {"FreshInstall",
     start_from::nothing,
     {"--accept-licence"},
     0,
     "Installation Complete!",
     outcome::installed},
    {"FreshInstallOnATerminal",
     start_from::nothing,
     {"--accept-licence"},
     0,
     "Installation Complete!",
     outcome::installed,
     0,
     true},
    {"FreshInstallOverHttps",
     start_from::nothing,
     {"--accept-licence"},
     0,
     "Installation Complete!",
     outcome::installed,
     0,
     false,
     mirror_fault::none,
     discs::none,
     true},
    {"NothingToDo", start_from::current, {}, 0, "already the latest version", outcome::untouched},
    {"NoLicenceAccepted",
     start_from::changed,
     {"--changed=overwrite"},
     3,
     "--accept-licence",
     outcome::untouched},
    {"ShowLicence",
     start_from::nothing,
     {"--show-licence"},
     3,
     "SKYVANE 9 LICENCE AGREEMENT",
     outcome::untouched},
    {"ChangedCancelByDefault", start_from::changed, {"--accept-licence"}, 3, kReadMe, outcome::untouched},
    {"ChangedCancel",
     start_from::changed,
     {"--accept-licence", "--changed=cancel"},
     3,
     kReadMe,
     outcome::untouched},
    {"ChangedKeep",
     start_from::changed,
     {"--accept-licence", "--changed=keep"},
     0,
     "Installation Complete!",
     outcome::installed},
    {"ChangedOverwrite",
     start_from::changed,
     {"--accept-licence", "--changed=overwrite"},
     0,
     "Installation Complete!",
     outcome::overwritten},
    {"BadChangedAnswer",
     start_from::changed,
     {"--changed=maybe"},
     2,
     "--changed needs keep, overwrite or cancel",
     outcome::untouched},
    {"SigintDuringTheDownload",
     start_from::all_changed,
     {"--accept-licence", "--changed=overwrite", "--max_rate=100"},
     130,
     "",
     outcome::old_or_new,
     SIGINT},
    {"SigtermDuringTheDownload",
     start_from::all_changed,
     {"--accept-licence", "--changed=overwrite", "--max_rate=100"},
     143,
     "",
     outcome::old_or_new,
     SIGTERM},
    {"EveryMirrorRefuses",
     start_from::nothing,
     {"--accept-licence", "--release_key=none"},  // the list is rewritten: its signature no longer holds
     1,
     "I can not find a version of Skyvane on the net!",
     outcome::untouched,
     0,
     false,
     mirror_fault::refuse},
    {"EveryMirrorLacksAFile",
     start_from::nothing,
     {"--accept-licence"},
     1,
     "The installer cannot extract a file.",
     outcome::old_or_new,
     0,
     false,
     mirror_fault::lack_a_file},
    {"DiscInstall",
     start_from::nothing,
     {"--accept-licence"},
     0,
     "Installation Complete!",
     outcome::installed,
     0,
     false,
     mirror_fault::none,
     discs::one},
    {"DiscUpdateOverwritingChanges",
     start_from::changed,
     {"--accept-licence", "--changed=overwrite"},
     0,
     "Installation Complete!",
     outcome::overwritten,
     0,
     false,
     mirror_fault::none,
     discs::one},
    {"NoDisc",
     start_from::nothing,
     {"--accept-licence"},
     1,
     "I could not find a Skyvane disc in any drive!",
     outcome::untouched,
     0,
     false,
     mirror_fault::none,
     discs::absent},
    {"TwoDiscs",
     start_from::nothing,
     {"--accept-licence"},
     1,
     "I found multiple Skyvane CDs in the drives!",
     outcome::untouched,
     0,
     false,
     mirror_fault::none,
     discs::two},
    {"DiscInstallerHelp",
     start_from::nothing,
     {"--help"},
     0,
     "Usage: skyvane-installer-dvd [OPTION...]",
     outcome::untouched,
     0,
     false,
     mirror_fault::none,
     discs::absent},
};

INSTANTIATE_TEST_SUITE_P(Batch, BatchRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
