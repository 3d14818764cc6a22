#include "ui/hl_alert.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/crash.h"
#include "platform/dialogs.h"
#include "platform/system.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

int in_alert = 0;
int ogl_inited = 0;

namespace {
std::function<void(const alert_record&)> g_observer;
std::function<void(int)> g_exit_hook;
drawn_alert_fn g_drawn = nullptr;
void (*g_shutdown)() = nullptr;
std::string g_crash_folder;

[[noreturn]] void end_process(int code) {
  xer.flush();
  if (g_exit_hook) g_exit_hook(code);  // a test hook throws here
  // _Exit skips the exit handlers, so the private temporary folder is
  // removed here.
  platform_remove_temp_folder();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

std::string crash_file() {
  std::string folder = g_crash_folder;
  if (folder.empty()) {
    std::string log = platform_log_file_path();
    folder = log.substr(0, log.rfind('/') + 1);
  }
  return folder + "stack_crawl.txt";
}

// Restores in_alert however the handling ends (a test's exit hook unwinds).
struct alert_scope {
  int previous;
  alert_scope() : previous(in_alert) { in_alert = 1; }
  ~alert_scope() { in_alert = previous; }
};

void log_lines(const std::string& l1, const std::string& l2, const std::string& l3, const std::string& l4,
               const std::string& location) {
  xer << l1 << "\n" << l2 << "\n" << l3 << "\n" << l4 << "\n" << location << "\n";
  xer.flush();
}

void show_box(const std::string& text) {
  if (!platform_message_box("Skyroot Message", text)) {
    // No display: the terminal is the only place left to say it.
    std::fprintf(stderr, "Skyroot Message:\n%s\n", text.c_str());
  }
}
}  // namespace

void alert_set_observer(std::function<void(const alert_record&)> fn) {
  g_observer = std::move(fn);
}
void alert_set_exit_hook(std::function<void(int)> fn) {
  g_exit_hook = std::move(fn);
}
void alert_set_drawn_handler(drawn_alert_fn fn) {
  g_drawn = fn;
}
void alert_set_shutdown(void (*fn)()) {
  g_shutdown = fn;
}
void alert_set_crash_folder(const std::string& folder) {
  g_crash_folder = folder;
  platform_set_crash_trace_file(crash_file());
}
std::string alert_crash_file() {
  return crash_file();
}

std::string alert_location(const char* file, int line) {
  return "(" + std::string(file ? file : "") + " line " + int_to_str(line) + ")";
}

std::string alert_box_text(const std::string& l1, const std::string& l2, const std::string& l3,
                           const std::string& l4, size_t max_bytes) {
  std::string text = l1 + "\n\n" + l2 + "\n\n" + l3 + "\n\n" + l4;
  if (text.size() > max_bytes) {
    size_t cut = max_bytes;
    // Step back over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

void MACIBM_alert(int return_win, const std::string& l1, const std::string& l2, const std::string& l3,
                  const std::string& l4, int type, const char* file, int line) {
  // Another thread: the main thread shows it from its pump. A fatal report
  // ends this thread inside THREAD_send_exception.
  if (THREAD_is_inited() && !THREAD_is_main_thread()) {
    if (type == t_alert || type == t_exit)
      THREAD_send_exception(exce_class(l1, l2, l3, l4, file, line, type));
    return;
  }

  const std::string location = alert_location(file, line);
  alert_record rec{l1, l2, l3, l4, type, file ? file : "", line, false, false, return_win};

  if (type == t_exit) {
    platform_append_backtrace(crash_file(),
                              "Fatal alert " + location + ":\n" + l1 + "\n" + l2 + "\n" + l3 + "\n" + l4);
  }

  // Unattended (the frame-rate test, a run without a window): log only; the
  // observer of a run without a window tells standard error.
  if (cmdline.has_option("--fps_test") || cmdline.has_option("--batch")) {
    log_lines(l1, l2, l3, l4, location);
    rec.unattended = true;
    if (g_observer) g_observer(rec);
    if (type == t_exit) end_process(1);
    return;
  }

  alert_scope scope;
  const bool recursive = scope.previous != 0;
  rec.recursive = recursive;

  if (!g_observer) {
    if (!ogl_inited || recursive || !g_drawn) {
      show_box(alert_box_text(l1, l2, l3, l4));
    } else if (type == t_lang_choice || !l1.empty() || !l2.empty() || !l3.empty() || !l4.empty()) {
      const std::string lines[4] = {l1, l2, l3, l4};
      g_drawn(return_win, lines, type, location);
    }
  }

  if (type == t_exit || type == t_alert || recursive) {
    xer << "This is the dump_mem_stats call from the following code: "
           "if(type==t_exit || type == t_alert || recursive_error)\n"
        << platform_memory_stats() << "\n";
    log_lines(l1, l2, l3, l4, location);
  }

  if (g_observer) g_observer(rec);

  if (type == t_exit || recursive) {
    if (g_shutdown) g_shutdown();
    end_process(3);
  }
}
