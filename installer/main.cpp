#include "installer/main.h"

#include <algorithm>
#include <cstdint>

#include "installer/batch.h"
#include "installer/dvd_scan.h"
#include "installer/model.h"
#include "installer/release_auth.h"
#include "installer/screen_text.h"
#include "installer/server_list.h"
#include "installer/sub_wins.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "io/archive.h"
#include "net/http.h"
#include "platform/system.h"
#include "platform/terminal.h"
#include "platform/window.h"
#include "prefs/pref.h"
#include "ui/butn.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "main";
constexpr int kLineManifestExtract = 210;
constexpr int kLineManifestUnsigned = 222;

constexpr int kFont = 100;

// Driver state that lives from pass to pass.
struct driver_state {
  std::string net_dir_path_zip;
  std::string dir_path;
  std::string dir_path_path;
  int disk_space_avail = 1;
  int wrl_i = 8;
  float totl_inst_rat = 0.0f;
  float tot_availabl = -1.0f;
  float tot_down_req = 0.0f;
  float tot_disk_req = 0.0f;
  std::string tot_availabl_str;
  std::string tot_disk_req_str;
  bool have_init_call = false;
  uint64_t init_call = 0;
  float text_x = 144.0f;
  float base_x1 = 132.0f;
  float base_x2 = 1016.0f;
  // The manifest is in; its signature is being fetched from manifest_server.
  bool have_manifest = false;
  int manifest_server = 0;
  // Servers whose manifest was refused for its signature (bit i: server i).
  unsigned refused_servers = 0;
};
driver_state d;

const char* const kScanMessage =
    "Scanning directory text file to see if you already have Skyvane installed...";

void ensure_temp_names() {
  if (d.net_dir_path_zip.empty()) {
    d.net_dir_path_zip = temp_path + "directory.txt.zip";
    d.dir_path = temp_path + "directory.txt";
    d.dir_path_path = temp_path;
  }
}

float manifest_percent_done() {
  const down_class* obj = http.down[1].get();
  return obj ? obj->GetPercentDone() : 0.0f;
}

// A manifest refused for its signature counts as a damaged one: another
// server is tried, one not refused yet, so that every server is asked at most
// once; when none is left the user is told why and Install stays off.
void manifest_refused(int server, const std::string& why) {
  xer << "Manifest refused from " << server_name[server] << server_path[server] << ": " << why << "\n";
  d.refused_servers |= 1u << server;
  const unsigned all = (1u << stg.num_servers) - 1;
  if ((d.refused_servers & all) == all) {
    MACIBM_alert(0, "None of the servers has a directory of files signed for " + install_name + "!",
                 "Reason: " + why, "I will not install or update anything from these servers.", "", t_alert,
                 kTag, kLineManifestUnsigned);
    stg.dir_scan = 2;
    return;
  }
  pick_server_uniform();
  while (d.refused_servers & (1u << stg.sel_server)) stg.sel_server = (stg.sel_server + 1) % stg.num_servers;
}

// The manifest's signature, after the manifest: true when the manifest may
// be expanded, false while the signature is on its way or after a refusal.
bool manifest_signature_step() {
  const std::string sig = d.net_dir_path_zip + ".minisig";
  const int s = d.manifest_server;
  const int r = http.net_check(1, server_name[s], server_path[s] + "directory.txt.zip.minisig", sig,
                               static_cast<int64_t>(kMinisigMaxBytes));
  if (r == 0) return false;
  d.have_manifest = false;
  const release_check c = check_release_signature(d.net_dir_path_zip, r == 1 ? sig : std::string(),
                                                  install_name, "directory.txt.zip.minisig");
  delete_file(sig);
  if (c.ok) return true;
  delete_file(d.net_dir_path_zip);
  manifest_refused(s, c.why);
  return false;
}

// The disc installer's manifest: the release's folder on the disc holds it
// (and its signature) as a server's folder does. Read once: a refused or
// unreadable one is not better at the next pass.
int disc_manifest_step() {
  const std::string zip = dvd_path + install_name + "/directory.txt.zip";
  if (release_keys_in_force().check) {
    const release_check c =
        check_release_signature(zip, zip + ".minisig", install_name, "directory.txt.zip.minisig");
    if (!c.ok) {
      xer << "Manifest refused from the disc " << zip << ": " << c.why << "\n";
      MACIBM_alert(0, "The disc has no directory of files signed for " + install_name + "!",
                   "Reason: " + c.why, "I will not install or update anything from this disc.", "", t_alert,
                   kTag, kLineManifestUnsigned);
      stg.dir_scan = 2;
      return 1;
    }
  }
  const int err = zip_to_file(zip, d.dir_path_path, nullptr, 0);
  if (err == 0) {
    stg.dir_scan = 1;
  } else {
    MACIBM_alert(0, "DIR-scan: The installer cannot extract a file.", "Error: " + error_str(err),
                 "Compressed File/" + zip, "Destination Path/" + d.dir_path_path, t_alert, kTag,
                 kLineManifestExtract);
    stg.dir_scan = 2;
  }
  return 1;
}

}  // namespace

int manifest_fetch_step() {
  ensure_temp_names();
  if (!is_net) return disc_manifest_step();
  int r = 1;
  if (!d.have_manifest) {
    r = http.net_check(1, server_name[stg.sel_server], server_path[stg.sel_server] + "directory.txt.zip",
                       d.net_dir_path_zip);
    if (r == 1 && release_keys_in_force().check) {
      d.have_manifest = true;
      d.manifest_server = stg.sel_server;
      return 0;  // its signature next
    }
  } else if (!manifest_signature_step()) {
    return d.have_manifest ? 0 : 2;  // on its way, or refused: another server is chosen
  }
  if (r == 2) {
    pick_server_uniform();
  } else if (r == 1) {
    const int err = zip_to_file(d.net_dir_path_zip, d.dir_path_path, nullptr, 0);
    if (err == 0) {
      stg.dir_scan = 1;
    } else {
      MACIBM_alert(0, "DIR-scan: The installer cannot extract a file.", "Error: " + error_str(err),
                   "Compressed File/" + d.net_dir_path_zip, "Destination Path/" + d.dir_path_path, t_alert,
                   kTag, kLineManifestExtract);
      // A damaged manifest is a failed download: fetched again from the same
      // server it would fail again, alert after alert. Another server is
      // chosen, as after any failed manifest download.
      pick_server_uniform();
    }
    delete_file(d.net_dir_path_zip);
  }
  return r;
}

void manifest_read_step() {
  ensure_temp_names();
  std::string path = d.dir_path;
  stg.dir_scan = read_directory(path, kScanMessage);
  xer << "Directory read: result=" << stg.dir_scan << ", files=" << sim_info.files.size()
      << ", down_req=" << stg.down_req << " kB, disk_req=" << stg.disk_req << " kB\n";
  xer.flush();
}

void press_install(int (*licence)()) {
  reset_streams();
  stg.got_failed_install = 0;
  make_dirs();
  const int agreed = licence();
  if (agreed == 1) stg.step = 1;
  if (choose_files() == 0) stg.step = 0;
  xer << "Install: licence " << (agreed ? "accepted" : "declined") << ", step=" << stg.step << "\n";
  xer.flush();
}

void install_slice() {
  MACIBM_not_idle();
  if (!d.have_init_call) {
    d.have_init_call = true;
    d.init_call = xtim.microsecs_tot();
  }
  auto elapsed = [] { return static_cast<double>(xtim.microsecs_tot() - d.init_call) / 1e6; };
  const double start = elapsed();
  do {
    if (stg.step == 1 && grab_files() != 0) {
      stg.step = 2;
      reset_streams();
      xer << (stg.got_failed_install ? "Install failed.\n" : "Install finished.\n");
      xer.flush();
    }
  } while (stg.step == 1 && elapsed() < start + 0.01);
}

namespace {

void choosing_texts(message_lines& m) {
  d.totl_inst_rat = 0.0f;
  d.tot_availabl = -1.0f;
  d.tot_down_req = stg.down_req;
  d.tot_disk_req = stg.disk_req;
  uint64_t free_bytes = 0;
  if (disk_free_bytes(dest_dir_path, &free_bytes) == 0)
    d.tot_availabl = static_cast<float>(static_cast<double>(free_bytes) * 0.001);
  if (stg.dir_scan == 0) {
    m.s[0] = "I am figuring out what the latest version of Skyvane is right now...";
    m.s[1] = "This may take a moment as I download the latest list of Skyvane files...";
    return;
  }
  if (d.tot_disk_req == 0.0f) {
    m.s[0] =
        "Your copy of Skyvane is already the latest version.  Click the destination button to pick a "
        "different "
        "installation of Skyvane to update.";
    m.s[1] =
        "(Remember, the BETA installer only checks for the latest BETA version, and the FULL installer "
        "checks "
        "only for the latest FULL version of Skyvane).";
    m.s[2] = "This is a full installer.";
    return;
  }
  set_size_str(d.tot_availabl, d.tot_availabl_str);
  set_size_str(d.tot_disk_req, d.tot_disk_req_str);
  m.s[0] = "You are about to install " + d.tot_disk_req_str + " of files to get " + install_name + ".";
  if (d.tot_disk_req > 0 && d.tot_availabl > 0) {
    m.s[1] = "You have " + d.tot_availabl_str + " of drive space available for the selected directory.";
    if (d.tot_availabl > d.tot_disk_req) {
      d.disk_space_avail = 1;
      m.s[2] = "Click Install to begin.";
      m.col[2] = 13;
    } else {
      d.disk_space_avail = 0;
      m.s[2] = "You don't have enough disk space to install this!";
      m.col[2] = 1;
    }
  }
}

void installing_texts(message_lines& m) {
  const float k = 5.0f * xtim.prd_sim;
  const float ratio = d.tot_disk_req > 0 ? next.totl_disk / d.tot_disk_req : 0.0f;
  d.totl_inst_rat = std::clamp(ratio * k + (1.0f - k) * d.totl_inst_rat, 0.0f, 1.0f);
  m.s[0] = install_file_line(stg.crnt_file_stat, crnt_file_name, stg.crnt_file_rat);
  m.s[1] = install_percent_str(d.totl_inst_rat * 100.0f) +
           "% done with the internet install, having installed " + size_str(next.totl_disk) + " of " +
           d.tot_disk_req_str + " for the internet install.";
  if (d.totl_inst_rat > 0.01f) {
    const float done = next.comp_down + next.file_down;
    const float elapsed = std::max(xtim.real_time - next.star_time, 1.0f);
    const float rate = done / elapsed;
    const float left = rate > 0 ? std::max(d.tot_down_req - done, 0.0f) / rate : 0.0f;
    int streams = 0;
    for (int i = 0; i < kStreamCount; ++i) streams += next.stream_active[i] == 1;
    m.s[2] = "About " + time_left_str(left) + " left in the install, downloading at " + trunc_str(rate) +
             " kilobytes/second " + "with " + std::to_string(streams) + " simultaneous download streams.";
  }
}

void finished_texts(message_lines& m) {
  if (stg.got_failed_install == 1) {
    m.col[0] = m.col[1] = m.col[2] = 69;
    m.s[0] = "The installation was not completed because an error occurred.";
    m.s[1] = "Skyvane is not fully installed or updated and may not run correctly.";
    m.s[2] =
        "Please try a different server, hard drive, or directory, or contact Customer Support for help with "
        "this "
        "problem.";
  } else {
    m.s[0] = "Installation Complete!";
  }
}

void on_new_destination() {
  reset_streams();
  stg.got_failed_install = 0;
  stg.step = 0;
  if (stg.dir_scan == 3) stg.dir_scan = 1;
}
}  // namespace

std::string no_source_text() {
  return is_net ? "I could not find any servers to get Skyvane from!"
                : "I could not find a Skyvane disc in any drive!";
}

std::string vendor_host() {
  const std::string opt = cmdline.get_option("--vendor_host");
  return opt.empty() ? std::string(kVendorHost) : opt;
}

std::string default_dest_dir(const std::string& default_apps_folder) {
  // The "drive root" of this platform's default destination is the user's
  // home folder itself (kind 2), so nothing is cut off it.
  std::string root = default_apps_folder;
  if (root.empty() || root.back() != '/') root += '/';
  return root + "Skyvane 9" + "/";
}

status_line main_status_line(float manifest_percent, int is_a_sim) {
  if (next.dir_done == 1) return {"Installation Complete!", 13};
  if (stg.num_servers == -1) return {"Looking for servers... you need internet for this...", 46};
  if (stg.num_servers == 0) return {no_source_text(), 1};
  if (stg.dir_scan == 0) return {manifest_download_text(manifest_percent), 46};
  if (stg.dir_scan == 1)
    return {"I have downloaded the directory of files I need, and am now trying to read it...", 46};
  if (stg.dir_scan == 2)
    return {"I can not find a version of Skyvane on the net! Please get a new installer from " +
                std::string(kVendorDownloadUrl) + " or check that your network service is working.",
            1};
  if (stg.step != 1 && !is_a_sim)
    return {
        "If you have an earlier version of Skyvane 9 on your hard drive, choose that with the destination "
        "button below, and I will update that folder!",
        46};
  if (stg.step != 1)
    return {
        "You have selected an earlier version of Skyvane in the destination field below, so I will update "
        "that installation  by just grabbing new updated files!",
        46};
  return {"OK I am installing this now...", 46};
}

void APP_handlemenu(int) {}

void APP_update() {
  ensure_temp_names();
  // 1. Background.
  draw_background_picture();
  // A pass that moved a download on is not idle: its next step may be
  // possible at once, and the pump's wait for input would otherwise come
  // between every two steps of a fetch. A download found waiting lets the
  // pump wait as usual.
  bool moved = false;
  // 2. Server list.
  if (stg.num_servers == -1) {
    server_list_step(vendor_host());
    moved = http.last_moved;
  }
  if (app_done) return;  // an unreadable list ends the program
  // 3. Manifest.
  if (stg.dir_scan == 0 && stg.num_servers > 0) {
    manifest_fetch_step();
    moved = moved || http.last_moved;
  }
  if (moved) MACIBM_not_idle();
  // 4. Destination field.
  const screen_box& field = kMainDestField;
  BTN_frame1(9, field.x + field.dx / 2, field.y + field.dy / 2, field.dx, 0);
  OGL_string(45, 142, 86, dest_dir_path, 9999, kFont, 0);
  const bool field_clicked =
      mnw.mouse_clicked && interface_rect_contains(field.x, field.y, field.dx, field.dy, mnw.mx, mnw.my);
  // 5. Destination button.
  if (stg.step == 0 || stg.step == 2) {
    const int button = interface_rect(kMainDestButton, 1, 1);
    if ((button || field_clicked) && pick_dest_path()) on_new_destination();
  }
  // 6. Manifest read.
  if (stg.dir_scan == 1) manifest_read_step();
  // 7. Globe.
  if (stg.step == 1) {
    if (xtim.act_puff10) {
      ++d.wrl_i;
      if (d.wrl_i > kGlobeLastIcon) d.wrl_i -= 16;
      if (d.wrl_i < kGlobeFirstIcon) d.wrl_i += 16;
    }
  } else {
    d.wrl_i = kIdleGlobeIcon;
  }
  // 8. Servers, source picture, globe, frames, download size.
  for (int i = 0; i < stg.num_servers; ++i)
    BTN_is_int(142, 578 - 20.0f * i, &stg.sel_server, i, server_desc[i]);
  interface_rect(kMainSourcePicture, 0, 0);
  interface_icon(kMainGlobeX, kMainGlobeY, d.wrl_i);
  const screen_box& source = kMainSourceFrame;
  const screen_box& download = kMainDownloadFrame;
  BTN_frame2(kAtlasFrameStyle, source.x, source.y, source.dx, source.dy,
             install_name != no_install_name ? "NET: " + install_name : std::string());
  BTN_frame2(kAtlasFrameStyle, download.x, download.y, download.dx, download.dy, "Download");
  OGL_string(46, d.text_x + 810, 635, size_str(stg.down_req), 700, kFont, 0);
  // 9. Status line.
  const int is_a_sim = (stg.dir_scan >= 3 && stg.step != 1) ? path_is_to_a_sim() : 0;
  const status_line status = main_status_line(manifest_percent_done(), is_a_sim);
  OGL_string(status.col, d.text_x + 10, 615, status.text, 700, kFont, 0);
  // 10. Install button.
  if (stg.step == 0) {
    const bool allowed = d.disk_space_avail == 1 && stg.dir_scan == 3 && stg.disk_req > 0;
    const int clicked = interface_rect(kMainInstallButton, allowed ? 1 : 0, allowed ? 1 : 2);
    if (clicked && allowed) press_install(handle_EULA);
  }
  // 11. Quit.
  if (interface_rect(kMainQuitButton, 1, 1)) {
    reset_streams();
    stg.step = 2;
    app_done = 1;
  }
  // 12. Message box texts (and the install slice).
  message_lines m;
  if (stg.step == 0) {
    choosing_texts(m);
  } else if (stg.step == 1) {
    install_slice();
    installing_texts(m);
    if (stg.step == 2) finished_texts(m);
  } else {
    finished_texts(m);
  }
  // 13. Download failure.
  if (stg.got_404 == 1) {
    m.col[0] = m.col[1] = m.col[2] = 69;
    m.s[0] = "I can NOT download the file '" + crnt_file_path + "'!";
    m.s[1] =
        "Your internet connection may not be working, or the server could be undergoing maintainance or an "
        "upgrade right now.";
    m.s[2] = "I am trying another server now to see if I can still get you a download...";
  }
  // 14. Message box.
  const screen_box& box = kMainMessageFrame;
  BTN_frame2(kAtlasFrameStyle, box.x, box.y, box.dx, box.dy, "");
  for (int i = 0; i < 3; ++i) OGL_string(m.col[i], d.text_x, 58.0f - 10.0f * i, m.s[i], 9999, kFont, 0);
  // 15. Progress bar.
  const bar_geometry frame = progress_frame(d.base_x1, d.base_x2);
  BTN_frame1(4, static_cast<float>(frame.centre_x), 15, static_cast<float>(frame.width), 0);
  if (stg.step == 1 && d.totl_inst_rat > 0.02f) {
    const bar_geometry fill = progress_fill(d.base_x1, d.base_x2, d.totl_inst_rat);
    BTN_frame1(5, static_cast<float>(fill.centre_x), 15, static_cast<float>(fill.width), 0);
  }
}

int installer_main(int argc, const char* const* argv) {
  // A run without a window never starts the window system, so it works where
  // there is no display at all.
  const bool batch = cmdline_asks_batch(argc, argv);
  if (batch) plat_win_set_headless(true);
  if (batch) batch_tell_alerts();
  cmdline_set_program_name(program_name);
  installer_wire_lower_layers();
  MACIBM_init(argc, argv);
  MACIBM_set_app_update(APP_update);
  MACIBM_set_app_handlemenu(APP_handlemenu);

  static const char* const kKinds[5] = {
      "os_dir_this_app\t\t=", "os_dir_desktop\t\t=", "os_dir_default_apps\t=", "os_dir_temp\t\t\t=",
      "os_dir_prefs\t\t\t="};
  std::string folders[5];
  for (int k = 0; k < 5; ++k) {
    get_OS_abs_path(k, folders[k]);
    xer << kKinds[k] << folders[k] << (k == 4 ? "\n\n" : "\n");
  }
  dest_dir_path = default_dest_dir(folders[2]);
  xer << "dest_dir_path=" << dest_dir_path << "\n";
  temp_path = folders[3];
  stls.text[602] = "OK";
  install_name = no_install_name;
  stg = stg_class{};
  if (const std::string table = platform_env("SKYVANE_MOUNT_TABLE"); !table.empty())
    dvd_set_mount_table(table);
  dvd_scan.check_any(0, 0);
  pref.IO_set(11, 0);
  xer << "After searching, I think that dvd_path=" << dvd_path << "\n";
  xer.flush();
  if (!cmdline.destination.empty())
    dest_dir_path = cmdline.destination;
  else if (stg.always_ask_dir == 1 && !batch)
    pick_dest_path();
  if (batch) return batch_main();
  while (!app_done) MACIBM_event_proc();
  MACIBM_finishup(1);
  return 0;
}
