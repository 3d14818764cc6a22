// The interface's cost per pump pass in a real window (Xvfb and Mesa's
// software renderer in CI), with a screen that draws what the installer's
// main screen draws (background picture, frames, bars, radio buttons,
// about a dozen text lines):
//   1. idle: the pump waits for input (budget 16 ms): passes per second,
//      wall time per pass, process CPU time per pass and CPU use;
//   2. busy: use_max_cpu set, no waiting: passes per second and CPU per pass,
//      which is the cost of drawing and swapping one pass;
//   3. drawing alone: the screen's draw calls plus glFinish, per pass;
//   4. the pump alone: idle passes of an empty screen (wait, swap, clock),
//      which shows the wake-up rate without the drawing.
// Usage: ui_bench [--passes=N]
#include <GL/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "installer/model.h"
#include "ui/butn.h"
#include "ui/hl_init.h"
#include "ui/hl_mnw.h"
#include "ui/oglp.h"
#include "ui/tman.h"
#include "util/UTL_cmdline.h"
#include "util/xtim.h"

namespace {

using Clock = std::chrono::steady_clock;

int arg_int(int argc, char** argv, const char* name, int def) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return std::atoi(argv[i] + prefix.size());
  return def;
}

int g_sel = 0;

// The main screen's drawing in its amount, in three parts.
void empty_screen() {}

void screen_background() {
  OGL_2dquad(kTexBackground, 49, 1.0f, 0, 0, 0, 0, 0, 768, 0, 0.75f, 1024, 768, 1, 0.75f, 1024, 0, 1, 0, 1,
             5);
}

void screen_widgets() {
  BTN_frame1(9, 285, 89, 300, 0);
  for (int i = 0; i < 4; ++i) BTN_is_int(142, 578 - 20.0f * i, &g_sel, i, "");
  BTN_frame2(20, 135, 600, 790, 72, "");
  BTN_frame2(20, 935, 600, 80, 72, "");
  BTN_action(300, 89, 80, 0, 1, "", "-");
  BTN_action(600, 89, 60, 0, 1, "", "-");
  BTN_action(960, 89, 50, 0, 1, "", "-");
  BTN_frame2(20, 135, 32, 880, 40, "");
  BTN_frame1(4, 512, 15, 1008, 0);
  BTN_frame1(5, 300, 15, 584, 0);
}

void screen_text() {
  OGL_string(45, 142, 86, "/home/user/Skyvane 9/", 9999, kCharsetProportional, 0);
  for (int i = 0; i < 4; ++i)
    OGL_string(45, 130, 578 - 20.0f * i, "Mirror server number " + std::to_string(i), 9999,
               kCharsetProportional, 2);
  OGL_string(43, 530, 665, "NET: Skyvane 9.00 Beta-25", 9999, kCharsetProportional, 1);
  OGL_string(43, 975, 665, "Download", 9999, kCharsetProportional, 1);
  OGL_string(46, 945, 635, "1234.5 MB", 700, kCharsetProportional, 0);
  OGL_string(
      46, 145, 615,
      "If you have an earlier version of Skyvane 9 on your hard drive, choose that with the destination "
      "button below, and I will update that folder!",
      700, kCharsetProportional, 0);
  OGL_string(43, 300, 86, "Destination", 9999, kCharsetProportional, 1);
  OGL_string(43, 600, 86, "Install", 9999, kCharsetProportional, 1);
  OGL_string(43, 960, 86, "Quit", 9999, kCharsetProportional, 1);
  for (int i = 0; i < 3; ++i)
    OGL_string(46, 145, 58.0f - 10.0f * i, "Downloading file 1234 of 5678: scenery/+40-120/+45-115.7z", 9999,
               kCharsetProportional, 0);
}

// The main screen: its background picture, widgets and texts.
void main_screen() {
  screen_background();
  screen_widgets();
  screen_text();
}

// Wall and CPU milliseconds per pass of `draw` followed by glFinish.
void time_draw(const char* what, void (*draw)(), int passes) {
  const std::clock_t c0 = std::clock();
  const auto t0 = Clock::now();
  for (int i = 0; i < passes; ++i) {
    draw();
    glFinish();
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count() * 1000.0 / passes;
  const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC * 1000.0 / passes;
  std::printf("  %-28s %6.2f ms/pass wall  %6.2f ms/pass CPU\n", what, wall, cpu);
}

struct run_result {
  double passes_per_s, wall_ms, cpu_ms;
};

run_result run_passes(int passes) {
  const int frames0 = xtim.total_frames;
  const std::clock_t c0 = std::clock();
  const auto t0 = Clock::now();
  for (int i = 0; i < passes; ++i) MACIBM_event_proc();
  glFinish();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  const int n = xtim.total_frames - frames0;
  return {n / wall, wall * 1000.0 / n, cpu * 1000.0 / n};
}

}  // namespace

int main(int argc, char** argv) {
  installer_wire_lower_layers();
  const int passes = arg_int(argc, argv, "passes", 300);
  const char* init_argv[] = {"ui_bench", "--fps_test"};
  MACIBM_init(2, init_argv);
  MACIBM_set_app_update(main_screen);
  for (int i = 0; i < 20; ++i) MACIBM_event_proc();  // warm up: textures, caches

  stg.use_max_cpu = 0;
  const run_result idle = run_passes(passes);
  stg.use_max_cpu = 1;
  const run_result busy = run_passes(passes);

  MACIBM_set_app_update(empty_screen);
  stg.use_max_cpu = 0;
  const run_result pump = run_passes(passes);

  std::printf("renderer: %s\n", ogl_caps.renderer.c_str());
  std::printf("passes: %d each\n", passes);
  std::printf(
      "idle (16 ms wait): %6.1f passes/s  %6.2f ms/pass wall  %6.2f ms/pass CPU  (%4.1f%% of a core)\n",
      idle.passes_per_s, idle.wall_ms, idle.cpu_ms, 100.0 * idle.cpu_ms / idle.wall_ms);
  std::printf("busy (no wait):    %6.1f passes/s  %6.2f ms/pass wall  %6.2f ms/pass CPU\n", busy.passes_per_s,
              busy.wall_ms, busy.cpu_ms);
  std::printf("drawing alone, per part (draw calls + glFinish):\n");
  time_draw(
      "whole screen",
      [] {
        OGL_plot_back_col();
        main_screen();
      },
      passes);
  time_draw("background fill (colour 34)", OGL_plot_back_col, passes);
  time_draw("background picture", screen_background, passes);
  time_draw("bars, frames, buttons", screen_widgets, passes);
  time_draw("text (18 lines)", screen_text, passes);
  std::printf(
      "pump alone (idle):  %6.1f passes/s  %6.2f ms/pass wall  %6.2f ms/pass CPU  (%4.1f%% of a core)\n",
      pump.passes_per_s, pump.wall_ms, pump.cpu_ms, 100.0 * pump.cpu_ms / pump.wall_ms);
  MACIBM_finishup(0);
  return 0;
}
