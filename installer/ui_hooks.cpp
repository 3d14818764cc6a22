#include "installer/ui_hooks.h"

#include "platform/dialogs.h"

namespace {
dir_progress_bar_fn g_progress = &draw_dir_progress_bar;
select_alert_fn g_select = &draw_select_alert;
choose_folder_fn g_choose = nullptr;
open_url_fn g_open_url = nullptr;
}  // namespace

void set_dir_progress_bar_handler(dir_progress_bar_fn fn) {
  g_progress = fn;
}
void set_select_alert_handler(select_alert_fn fn) {
  g_select = fn;
}
void set_choose_folder_handler(choose_folder_fn fn) {
  g_choose = fn;
}
void set_open_url_handler(open_url_fn fn) {
  g_open_url = fn;
}

void dir_progress_bar(float d1, float d, float d2, int call_type, const std::string& message1,
                      const std::string& rel_path_exp) {
  if (g_progress) g_progress(d1, d, d2, call_type, message1, rel_path_exp);
}

int select_alert(const std::string& dest_path_exp, int is_gone) {
  return g_select ? g_select(dest_path_exp, is_gone) : 3;
}

int choose_folder(const std::string& prompt, const std::string& start_folder, std::string& out) {
  return g_choose ? g_choose(prompt, start_folder, out) : 0;
}

bool choose_folder_installed() {
  return g_choose != nullptr;
}

bool go_to_url(const std::string& url) {
  return g_open_url ? g_open_url(url) : platform_open_url(url);
}

float dir_progress_fraction(float d1, float d, float d2) {
  if (d2 == d1) return 0.52f;
  float f = 0.04f + 0.96f * (d - d1) / (d2 - d1);
  if (f < 0.04f) f = 0.04f;
  if (f > 1.0f) f = 1.0f;
  return f;
}
