#pragma once
// Shared set-up for the installer core's tests: a fresh copy of every global
// the core reads, alerts captured instead of shown, and the drawn or
// interactive moments answered by the test.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "installer/model.h"
#include "installer/release_auth.h"
#include "installer/server_list.h"
#include "installer/ui_hooks.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace coretest {

// Answers of the modified-file question, consumed in order; each question is
// recorded with its path and kind.
struct question {
  std::string path;
  int is_gone;
};
inline std::vector<int> g_answers;
inline std::vector<question> g_questions;
inline int answer_question(const std::string& path, int is_gone) {
  g_questions.push_back({path, is_gone});
  if (g_answers.empty()) return 3;
  const int a = g_answers.front();
  g_answers.erase(g_answers.begin());
  return a;
}
inline std::string g_folder_answer;  // empty: the chooser is cancelled
inline int choose_folder_answer(const std::string&, const std::string&, std::string& out) {
  if (g_folder_answer.empty()) return 0;
  out = g_folder_answer;
  return 1;
}
inline std::vector<std::string> g_urls;
inline bool open_url_record(const std::string& url) {
  g_urls.push_back(url);
  return true;
}

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stg = stg_class{};
    sim_info = sim_info_struct{};
    next = next_class{};
    install_name = no_install_name;
    for (int i = 0; i < kMaxServers; ++i) server_name[i] = server_path[i] = server_desc[i] = "";
    deleted_files.clear();
    this_install_has_exes = 0;
    dest_dir_path = dir_ / "dest/";
    temp_path = dir_ / "tmp/";
    testsupport::make_dirs(temp_path);
    dvd_path.clear();
    app_done = 0;
    // The built-in release keys and no fetch of the server list under way.
    cmdline.options.erase("--release_key");
    release_keys_reset();
    server_list_fetch_reset();
    g_answers.clear();
    g_questions.clear();
    g_folder_answer.clear();
    g_urls.clear();
    alerts.clear();
    alert_set_observer([this](const alert_record& r) { alerts.push_back(r); });
    set_select_alert_handler(&answer_question);
    set_choose_folder_handler(&choose_folder_answer);
    set_open_url_handler(&open_url_record);
    set_dir_progress_bar_handler(nullptr);
    log_path = dir_ / "Log.txt";
    log_open(log_path);
  }
  void TearDown() override {
    alert_set_observer(nullptr);
    log_close();
  }
  std::string log_text() {
    xer.flush();
    return testsupport::read_file(log_path);
  }
  int count_alerts(int type) const {
    int n = 0;
    for (const auto& a : alerts) n += a.type == type ? 1 : 0;
    return n;
  }

  testsupport::TempDir dir_;
  std::vector<alert_record> alerts;
  std::string log_path;
};

}  // namespace coretest
