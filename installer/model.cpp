#include "installer/model.h"

#include "prefs/pref.h"
#include "ui/hl_mnw.h"
#include "util/xtim.h"

const int is_build = 0;
// install_type and is_net: source_net.cpp (or source_dvd.cpp in the disc
// installer).

const std::string no_install_name = "Not Yet Scanned";
std::string install_name = no_install_name;
std::string temp_path;
std::string dest_dir_path;
std::string crnt_file_path;
std::string crnt_file_name;
std::string dvd_path;

std::string server_name[kMaxServers];
std::string server_path[kMaxServers];
std::string server_desc[kMaxServers];

stg_class stg;
sim_info_struct sim_info;
next_class next;
int this_install_has_exes = 0;
std::set<std::string> deleted_files;

void reset_streams() {
  grab_reset();
  const int start_count = install_type == 0 ? 2 : 1;
  next.next_index = 0;
  for (int i = 0; i < kStreamCount; ++i) {
    next.stream_active[i] = i < start_count ? 1 : 0;
    next.stream_waiting[i] = i < start_count ? 1 : 0;
    next.stream_index[i] = 0;
  }
  next.star_time = xtim.real_time;
  next.file_down = 0.0f;
  next.comp_down = 0.0f;
  next.totl_disk = 0.0f;
}

bool os_type_applies(int os_type, int download_os) {
  return os_type == 0 || os_type == download_os || (os_type == 6 && download_os == 3);
}

namespace {
void save_settings() {
  pref.IO_set(kPrefsInstallerFile, 1);
}
}  // namespace

void installer_wire_lower_layers() {
  pref_installer_fields fields;
  fields.use_max_cpu = &stg.use_max_cpu;
  fields.rename_folder = &stg.rename_folder;
  fields.stream_count = &stg.stream_count;
  fields.log_actions = &stg.log_actions;
  fields.always_ask_dir = &stg.always_ask_dir;
  fields.dest_dir_path = &dest_dir_path;
  fields.release_time = &stg.release_time;
  pref_bind_installer_fields(fields);
  MACIBM_set_busy_setting(&stg.use_max_cpu);
  MACIBM_set_settings_saver(save_settings);
}
