// The release publisher: its writers read back by the installer's own readers,
// and the real skyvane-publish program run on product folders made by the
// test, its archives expanded by the installer's expanders.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/archive.h"
#include "io/md5.h"
#include "io/xmap.h"
#include "support/test_support.h"
#include "tools/publish/platform_rules.h"
#include "tools/publish/release_text.h"

namespace fs = std::filesystem;
using testsupport::file_exists;
using testsupport::make_dirs;
using testsupport::md5sum_of;
using testsupport::read_file;
using testsupport::run;
using testsupport::shell_quote;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

// Parses manifest text with the installer's reader.
std::vector<file_history_struct> parse_manifest_text(const TempDir& tmp, const std::string& text,
                                                     bool internet) {
  const std::string path = tmp / "parsed-directory.txt";
  write_file(path, text);
  xmap_class m(path);
  static const int kVersions[] = {840, 900, 0};
  EXPECT_EQ(m.check_file(kCheckText, kVersions, "INSTALLER"), 900) << "the header the reader accepts";
  std::vector<file_history_struct> files;
  manifest_stats stats;
  parse_manifest_body(m.mCrt, m.mEnd, m.mBegin, internet, "", files, stats);
  EXPECT_EQ(stats.incomplete, 0) << "no row may be cut short";
  EXPECT_TRUE(stats.unsafe_path.empty()) << stats.unsafe_path;
  return files;
}

std::map<std::string, std::vector<file_version_struct>> by_path(
    const std::vector<file_history_struct>& files) {
  std::map<std::string, std::vector<file_version_struct>> out;
  for (const auto& h : files) {
    EXPECT_FALSE(h.versions.empty());
    EXPECT_EQ(out.count(h.versions.front().path), 0u)
        << "all versions of a file are written together: " << h.versions.front().path;
    out[h.versions.front().path] = h.versions;
  }
  return out;
}

// ------------------------------------------------------------ writers

TEST(PublishText, ManifestRowsReadBackExactly) {
  TempDir tmp;
  using publish::manifest_entry;
  using publish::manifest_row;
  std::vector<manifest_entry> entries = {
      {"Skyvane 9/Aircraft/Cessna 172SP/Cessna 172SP.acf", {{0, 0, 1, 12, 30, std::string(32, 'a')}}},
      {"Skyvane 9/dir/ leading blank.txt", {{0, 0, 1, 1, 1, std::string(32, 'b')}}},
      {"Skyvane 9/trailing blank.txt ", {{0, 0, 1, 1, 1, std::string(32, 'c')}}},
      {"Skyvane 9/Earth Orbit Textures/earth.png", {{0, 0, 1, 5, 9, std::string(32, 'd')}}},
      {"900 red terrain/Skyvane 9/red.dds", {{0, 0, 1, 5, 9, std::string(32, 'e')}}},
      {"Skyvane 9 Linux/Skyvane",
       {{0, 2, 1, 100, 200, std::string(32, '1')}, {0, 2, 2, 101, 201, std::string(32, '2')}}},
      {"Skyvane 9/old.txt", {{0, 0, 1, 1, 1, std::string(32, 'f')}, {0, 0, 2, 0, 0, "GONE"}}},
  };
  const std::string text = publish::manifest_text(entries);
  EXPECT_EQ(text.rfind("I\n900\nINSTALLER\n", 0), 0u) << "header: letter, version 900, type word";
  EXPECT_NE(text.find("\nDIR Skyvane 9/Aircraft/Cessna 172SP/\n"), std::string::npos)
      << "rows are grouped under DIR lines";

  auto dvd = by_path(parse_manifest_text(tmp, text, false));
  ASSERT_EQ(dvd.size(), entries.size()) << "every entry comes back as one history";
  for (const manifest_entry& e : entries) {
    SCOPED_TRACE(e.path);
    ASSERT_EQ(dvd.count(e.path), 1u) << "the full path, blanks included, is read back unchanged";
    const auto& rows = dvd[e.path];
    ASSERT_EQ(rows.size(), e.versions.size()) << "the whole history";
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].sig_want, e.versions[i].sig) << "oldest first";
      EXPECT_EQ(rows[i].os_type, e.versions[i].os_type);
      EXPECT_EQ(rows[i].version_num, e.versions[i].version_num);
      EXPECT_EQ(rows[i].down_size, static_cast<float>(e.versions[i].down_kb));
      EXPECT_EQ(rows[i].disk_size, static_cast<float>(e.versions[i].disk_kb));
    }
  }
  // The reader leaves the DVD-only packs out of an internet install by
  // looking at each row's own text: the writer must keep the names there.
  auto net = by_path(parse_manifest_text(tmp, text, true));
  EXPECT_EQ(net.size(), entries.size() - 2) << "both pack rows are dropped in an internet install";
  EXPECT_EQ(net.count("Skyvane 9/Earth Orbit Textures/earth.png"), 0u);
  EXPECT_EQ(net.count("900 red terrain/Skyvane 9/red.dds"), 0u);
}

TEST(PublishText, ServerListReadBack) {
  const std::string text = publish::server_list_text(
      "Skyvane 9.00",
      {{"127.0.0.1:8080", "/files/", "Main server"}, {"mirror.example", "/a/b/", "Second one"}});
  TempDir tmp;
  write_file(tmp / "serverlist9.txt", text);
  xmap_class m(tmp / "serverlist9.txt");
  static const int kVersions[] = {820, 0};
  ASSERT_EQ(m.check_file(kCheckText, kVersions, "SERVERS"), 820) << "the header the reader accepts";
  install_name = no_install_name;
  stg.num_servers = 0;
  read_server_records(std::string_view(reinterpret_cast<const char*>(m.mCrt), m.mEnd - m.mCrt));
  EXPECT_EQ(install_name, "Skyvane 9.00") << "FINAL names the release";
  ASSERT_EQ(stg.num_servers, 2);
  EXPECT_EQ(server_name[0], "127.0.0.1:8080");
  EXPECT_EQ(server_path[0], "/files/Skyvane 9.00/") << "FINAL comes before the servers";
  EXPECT_EQ(server_desc[1], "Second one");
  EXPECT_EQ(server_path[1], "/a/b/Skyvane 9.00/");
}

TEST(PublishText, PlatformRules) {
  publish::platform_rules rules;
  std::string error;
  ASSERT_TRUE(
      rules.parse("# comment\n\n2 Skyvane 9 Linux/Skyvane\n2 */Resources/plugins/*.so\r\n"
                  "1 Skyvane 9 Windows/\n0 Skyvane 9 Windows/readme.txt\n",
                  "rules", error))
      << error;
  EXPECT_EQ(rules.code_for("Skyvane 9 Linux/Skyvane"), 2) << "a pattern with blanks";
  EXPECT_EQ(rules.code_for("Skyvane 9 Linux/Skyvane.txt"), 0) << "whole-path match only";
  EXPECT_EQ(rules.code_for("A/Resources/plugins/map.so"), 2) << "a CR line end is not part of the pattern";
  EXPECT_EQ(rules.code_for("A/Resources/plugins/sub/map.so"), 0) << "* stays within one level";
  EXPECT_EQ(rules.code_for("Skyvane 9 Windows/deep/x.dll"), 1) << "a folder pattern covers everything below";
  EXPECT_EQ(rules.code_for("Skyvane 9 Windows/readme.txt"), 0) << "the last matching rule decides";
  EXPECT_TRUE(publish::glob_match("a/**/z", "a/b/c/z"));
  EXPECT_TRUE(publish::glob_match("a/?.txt", "a/b.txt"));
  EXPECT_FALSE(publish::glob_match("a?b", "a/b"));

  publish::platform_rules bad;
  EXPECT_FALSE(bad.parse("2 ok/x\n7 bad/y\n", "rules.txt", error)) << "codes above 6 are refused";
  EXPECT_NE(error.find("rules.txt line 2"), std::string::npos) << error;
  EXPECT_FALSE(bad.parse("two words\n", "rules.txt", error)) << "a line without a code is refused";
}

// ------------------------------------------------------------ the program

class PublishProgram : public ::testing::Test {
 protected:
  static std::string tool() { return std::string(SKYVANE_BINARY_DIR) + "/tools/skyvane-publish"; }

  // Runs the publisher; returns its exit status, output in `output`.
  int publish(const std::string& product, const std::string& release, const std::string& out,
              const std::string& extra = "") {
    const std::string cmd =
        shell_quote(tool()) + " --product " + shell_quote(product) + " --release " + shell_quote(release) +
        " --out " + shell_quote(out) +
        " --mirror '127.0.0.1:8080|/files/|Main server' --mirror 'localhost|/mirror/|Mirror'" +
        " --platforms " + shell_quote(rules()) + " " + extra + " 2>&1";
    output.clear();
    return run(cmd, &output);
  }

  std::string product() const { return tmp / "product/"; }
  std::string rules() const { return tmp / "rules.txt"; }

  void make_product() {
    write_file(rules(), "2 Skyvane 9 Linux/Skyvane\n2 Skyvane 9 Linux/Resources/plugins/*.so\n");
    const std::string p = product();
    make_dirs(p + "Skyvane 9/Aircraft/Piper Cub/liveries/Red Stripe");
    make_dirs(p + "Skyvane 9/Global Scenery/+40-080");
    make_dirs(p + "Skyvane 9/Instructions");
    make_dirs(p + "Skyvane 9 Linux/Resources/plugins");
    write_file(p + "Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf", std::string(5000, 'a'));
    write_file(p + "Skyvane 9/Aircraft/Piper Cub/liveries/Red Stripe/paint.png",
               testsupport::random_bytes(7000, 1));
    write_file(p + "Skyvane 9/Global Scenery/+40-080/+45-075.dsf", testsupport::random_bytes(1500000, 2));
    write_file(p + "Skyvane 9/Instructions/Read Me.txt", "read me\n");
    write_file(p + "Skyvane 9/Instructions/ leading blank.txt", "blank\n");
    write_file(p + "Skyvane 9/Instructions/empty.txt", "");
    write_file(p + "Skyvane 9 Linux/Skyvane", "#!/bin/sh\necho hi\n");
    fs::permissions(p + "Skyvane 9 Linux/Skyvane", fs::perms::owner_exec, fs::perm_options::add);
    write_file(p + "Skyvane 9 Linux/Resources/plugins/map.so", testsupport::random_bytes(3000, 3));
  }

  // The release as the installer sees it: server list, then manifest.
  std::map<std::string, std::vector<file_version_struct>> read_release(const std::string& out,
                                                                       const std::string& release) {
    xmap_class list(out + "serverlist9.txt");
    static const int kListVersions[] = {820, 0};
    EXPECT_EQ(list.check_file(kCheckText, kListVersions, "SERVERS"), 820) << "a server list at the top";
    install_name = no_install_name;
    stg.num_servers = 0;
    read_server_records(std::string_view(reinterpret_cast<const char*>(list.mCrt), list.mEnd - list.mCrt));
    EXPECT_EQ(install_name, release) << "FINAL names the new release";
    EXPECT_EQ(stg.num_servers, 2) << "one SERVER per mirror";
    const std::string folder = out + server_path[0].substr(1);
    TempDir work;
    EXPECT_EQ(zip_to_file(folder + "directory.txt.zip", work.path(), nullptr, 0), 0)
        << "the manifest is zipped as the installer expects";
    return by_path(parse_manifest_text(work, read_file(work / "directory.txt"), false));
  }

  TempDir tmp;
  std::string output;
};

TEST_F(PublishProgram, RoundTripThroughTheInstallersReaders) {
  make_product();
  const std::string out = tmp / "www/";
  ASSERT_EQ(publish(product(), "R1", out), 0) << output;
  auto manifest = read_release(out, "R1");

  size_t sources = 0;
  for (const auto& e : fs::recursive_directory_iterator(product())) sources += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(manifest.size(), sources) << "every product file is listed once";

  const std::string expanded = tmp / "expanded/";
  for (const auto& [path, rows] : manifest) {
    SCOPED_TRACE(path);
    ASSERT_EQ(rows.size(), 1u) << "a first release has one version per file";
    const file_version_struct& v = rows[0];
    const std::string source = product() + path;
    const uint64_t size = fs::file_size(source);
    EXPECT_EQ(v.sig_want, md5sum_of(source)) << "the listed signature is the source's MD5";
    EXPECT_EQ(v.disk_size, static_cast<float>((size + 999) / 1000)) << "installed size in kB, rounded up";
    EXPECT_EQ(v.version_num, 1);
    EXPECT_EQ(v.os_type, path.rfind("Skyvane 9 Linux/", 0) == 0 ? 2 : 0) << "platform codes from the rules";

    for (const char* mirror : {"files/R1/", "mirror/R1/"}) {
      const std::string archive = out + mirror + path + archive_suffix(path);
      ASSERT_TRUE(file_exists(archive)) << "each mirror holds the archive " << archive;
      EXPECT_EQ(v.down_size, static_cast<float>((fs::file_size(archive) + 999) / 1000))
          << "download size in kB";
    }
    // Expand with the installer's own expanders into the file's folder.
    const std::string archive = out + "files/R1/" + path + archive_suffix(path);
    const std::string folder = expanded + path.substr(0, path.rfind('/') + 1);
    make_dirs(folder);
    const int code = path_uses_7z(path) ? p7z_to_file(archive, folder, nullptr, 0)
                                        : zip_to_file(archive, folder, nullptr, 0);
    ASSERT_EQ(code, 0) << "our expander reads what the publisher wrote";
    std::string sig;
    ASSERT_EQ(calc_file_md5(expanded + path, sig), 0) << "the file came out under its own name";
    EXPECT_EQ(sig, v.sig_want) << "expanded file matches the manifest";
    EXPECT_EQ(read_file(expanded + path), read_file(source)) << "and the source, byte for byte";
  }
  EXPECT_TRUE(path_uses_7z("Skyvane 9/Global Scenery/+40-080/+45-075.dsf"));
  EXPECT_TRUE(file_exists(out + "files/R1/Skyvane 9/Global Scenery/+40-080/+45-075.dsf.7z"))
      << "global scenery is published as 7z";
  EXPECT_NE(fs::status(expanded + "Skyvane 9 Linux/Skyvane").permissions() & fs::perms::owner_exec,
            fs::perms::none)
      << "the program stays executable through publish and expansion";
}

TEST_F(PublishProgram, LaterReleasesContinueTheHistory) {
  make_product();
  const std::string out = tmp / "www/";
  ASSERT_EQ(publish(product(), "R1", out), 0) << output;
  auto r1 = read_release(out, "R1");

  const std::string p = product();
  write_file(p + "Skyvane 9/Instructions/Read Me.txt", "read me, version two\n");  // changed
  fs::remove(p + "Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf");                    // removed
  write_file(p + "Skyvane 9/Instructions/New Notes.txt", "new\n");                 // added
  // Publish into the same server root, continuing its history.
  ASSERT_EQ(publish(product(), "R2", out, "--previous " + shell_quote(out)), 0) << output;
  auto r2 = read_release(out, "R2");
  EXPECT_TRUE(file_exists(out + "files/R1/directory.txt.zip")) << "the earlier release stays served";

  const auto& changed = r2["Skyvane 9/Instructions/Read Me.txt"];
  ASSERT_EQ(changed.size(), 2u) << "a changed file gains a row";
  EXPECT_EQ(changed[0].sig_want, r1["Skyvane 9/Instructions/Read Me.txt"][0].sig_want) << "oldest first";
  EXPECT_EQ(changed[1].sig_want, md5sum_of(p + "Skyvane 9/Instructions/Read Me.txt")) << "newest last";
  EXPECT_EQ(changed[1].version_num, 2);

  const auto& gone = r2["Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf"];
  ASSERT_EQ(gone.size(), 2u) << "a removed file stays listed, withdrawn";
  EXPECT_EQ(gone[1].sig_want, "GONE");
  EXPECT_EQ(gone[1].version_num, 2);
  EXPECT_FALSE(file_exists(out + "files/R2/Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf.zip"))
      << "no archive for a withdrawn file";

  ASSERT_EQ(r2["Skyvane 9/Instructions/New Notes.txt"].size(), 1u);
  EXPECT_EQ(r2["Skyvane 9/Instructions/New Notes.txt"][0].version_num, 2);

  const std::string same = "Skyvane 9/Global Scenery/+40-080/+45-075.dsf";
  ASSERT_EQ(r2[same].size(), 1u) << "an unchanged file keeps its one row";
  EXPECT_EQ(r2[same][0].version_num, 1);
  EXPECT_TRUE(fs::equivalent(out + "files/R1/" + same + ".7z", out + "files/R2/" + same + ".7z"))
      << "an unchanged file's archive is reused, not compressed again";

  // A third release: the withdrawn file is not withdrawn twice; a file that
  // comes back gets a new row after its "GONE".
  fs::remove(p + "Skyvane 9/Instructions/New Notes.txt");
  write_file(p + "Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf", "back again");
  const std::string out3 = tmp / "www3/";
  ASSERT_EQ(publish(product(), "R3", out3, "--previous " + shell_quote(out)), 0) << output;
  auto r3 = read_release(out3, "R3");
  const auto& back = r3["Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf"];
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].sig_want, "GONE");
  EXPECT_EQ(back[2].sig_want, md5sum_of(p + "Skyvane 9/Aircraft/Piper Cub/Piper Cub.acf"));
  EXPECT_EQ(back[2].version_num, 3);
  ASSERT_EQ(r3["Skyvane 9/Instructions/New Notes.txt"].size(), 2u);
  EXPECT_EQ(r3["Skyvane 9/Instructions/New Notes.txt"][1].sig_want, "GONE");
  EXPECT_TRUE(file_exists(out3 + "files/R3/" + same + ".7z"))
      << "a release in a new server root holds every archive";
}

TEST_F(PublishProgram, RefusesWhatItCannotPublish) {
  const std::string out = tmp / "www/";
  write_file(rules(), "");

  make_dirs(product() + "M/empty folder");
  EXPECT_EQ(publish(product(), "R1", out), 1) << output;
  EXPECT_NE(output.find("holds no files"), std::string::npos) << "an empty product is refused: " << output;

  write_file(product() + "M/back\\slash.txt", "x");
  write_file(product() + "M/line\nend.txt", "x");
  write_file(product() + "top.txt", "x");
  EXPECT_EQ(publish(product(), "R1", out), 1) << output;
  EXPECT_NE(output.find("back\\slash.txt\": the name holds a backslash"), std::string::npos) << output;
  EXPECT_NE(output.find("the name holds a line end"), std::string::npos) << output;
  EXPECT_NE(output.find("top.txt\": files must be inside a master folder"), std::string::npos) << output;
  EXPECT_FALSE(file_exists(out + "serverlist9.txt")) << "nothing is published after a refusal";

  fs::remove_all(product());
  make_dirs(product() + "M");
  write_file(product() + "M/ok.txt", "x");
  write_file(rules(), "9 M/ok.txt\n");
  EXPECT_EQ(publish(product(), "R1", out), 1) << "a bad rules file is refused";
  EXPECT_NE(output.find("line 1"), std::string::npos) << output;

  write_file(rules(), "");
  EXPECT_EQ(publish(product(), "R1", product() + "www"), 1)
      << "an output folder inside the product is refused";
  EXPECT_NE(output.find("lies inside the product folder"), std::string::npos) << output;
  EXPECT_EQ(publish(product(), "bad/name", out), 2) << "a release name with a separator is a usage error";
  EXPECT_EQ(run(shell_quote(tool()) + " --product " + shell_quote(product()) + " --release R --out " +
                shell_quote(out) + " --mirror 'host|files|desc'"),
            2)
      << "a mirror directory without slashes is a usage error";

  ASSERT_EQ(publish(product(), "R1", out), 0) << output;
  EXPECT_EQ(publish(product(), "R1", out), 1) << "publishing over an existing release is refused";
  EXPECT_NE(output.find("already exists"), std::string::npos) << output;
}

}  // namespace

namespace {

TEST_F(PublishProgram, SymbolicLinksAndSharedMirrorFolders) {
  const std::string out = tmp / "www/";
  write_file(rules(), "");
  make_dirs(product() + "M/data");
  write_file(tmp / "outside.txt", "linked contents");
  fs::create_symlink(tmp / "outside.txt", product() + "M/data/linked.txt");
  const std::string two_hosts_one_folder =
      shell_quote(tool()) + " --product " + shell_quote(product()) + " --release R1 --out " +
      shell_quote(out) + " --mirror 'a.example|/files/|First' --mirror 'b.example:8080|/files/|Second' 2>&1";
  ASSERT_EQ(run(two_hosts_one_folder, &output), 0) << output;
  auto manifest = read_release(out, "R1");
  ASSERT_EQ(manifest.count("M/data/linked.txt"), 1u) << "a linked file is published with its contents";
  EXPECT_EQ(manifest["M/data/linked.txt"][0].sig_want, md5sum_of(tmp / "outside.txt"));
  EXPECT_EQ(server_name[1], "b.example:8080") << "both hosts are listed";
  EXPECT_EQ(server_path[0], server_path[1]) << "and share the one release folder";

  fs::create_directory_symlink(tmp.path(), product() + "M/loop");
  EXPECT_EQ(publish(product(), "R2", out), 1) << "a linked folder is refused, not followed";
  EXPECT_NE(output.find("M/loop: a symbolic link to something other than a file"), std::string::npos)
      << output;
}

}  // namespace

namespace {

// The trusted comment of a signature file (its third line, without prefix).
std::string trusted_comment_of(const std::string& sig_path) {
  const std::string s = read_file(sig_path);
  const size_t at = s.find("\ntrusted comment: ");
  if (at == std::string::npos) return "";
  const size_t from = at + 18;
  return s.substr(from, s.find('\n', from) - from);
}

TEST_F(PublishProgram, SignedReleaseVerifiesWithMinisignAndOneTime) {
  make_product();
  ASSERT_EQ(run("minisign -G -W -p " + shell_quote(tmp / "k.pub") + " -s " + shell_quote(tmp / "k.key") +
                " > /dev/null 2>&1"),
            0);
  const std::string out = tmp / "www/";
  const std::string release = "Skyvane 9.10 beta";
  ASSERT_EQ(publish(product(), release, out, "--sign " + shell_quote(tmp / "k.key")), 0) << output;
  const std::vector<std::string> signed_files = {out + "serverlist9.txt",
                                                 out + "files/" + release + "/directory.txt.zip",
                                                 out + "mirror/" + release + "/directory.txt.zip"};
  const std::string comment = trusted_comment_of(signed_files[0] + ".minisig");
  EXPECT_EQ(comment.rfind("time=", 0), 0u) << comment;
  EXPECT_NE(comment.find(" release=" + release), std::string::npos) << "the name, blanks included";
  for (const std::string& f : signed_files) {
    std::string said;
    EXPECT_EQ(run("minisign -V -p " + shell_quote(tmp / "k.pub") + " -m " + shell_quote(f) + " 2>&1", &said),
              0)
        << f << ": " << said;
    EXPECT_EQ(trusted_comment_of(f + ".minisig"), comment) << "one time for the whole publication";
  }

  // Unsigned publications carry no signature.
  ASSERT_EQ(publish(product(), "R2", tmp / "www2/"), 0) << output;
  EXPECT_FALSE(file_exists(tmp / "www2/serverlist9.txt.minisig"));
}

TEST_F(PublishProgram, RefusesAnEncryptedSecretKey) {
  make_product();
  ASSERT_EQ(run("minisign -G -W -p " + shell_quote(tmp / "k.pub") + " -s " + shell_quote(tmp / "k.key") +
                " > /dev/null 2>&1"),
            0);
  // The KDF field of an encrypted key says "Sc" (scrypt); that is all the
  // publisher needs to see to refuse it.
  ASSERT_EQ(run("python3 -c 'import base64,sys; l=open(sys.argv[1]).read().split(\"\\n\"); "
                "b=bytearray(base64.b64decode(l[1])); b[2:4]=b\"Sc\"; l[1]=base64.b64encode(b).decode(); "
                "open(sys.argv[2],\"w\").write(\"\\n\".join(l))' " +
                shell_quote(tmp / "k.key") + " " + shell_quote(tmp / "enc.key")),
            0);
  const std::string out = tmp / "www/";
  EXPECT_EQ(publish(product(), "R1", out, "--sign " + shell_quote(tmp / "enc.key")), 1);
  EXPECT_NE(
      output.find("is encrypted with a password; skyvane-publish needs an unencrypted key (make one with "
                  "minisign -G -W"),
      std::string::npos)
      << output;
  EXPECT_FALSE(file_exists(out + "serverlist9.txt")) << "nothing is published";
}

}  // namespace
