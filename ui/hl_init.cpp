// Start-up, display mode, the window and its GL context, the 2-D coordinate
// system, the status screen, and shut-down.
#include "ui/hl_init.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/crash.h"
#include "platform/system.h"
#include "platform/window.h"
#include "ui/butn.h"
#include "ui/hl_alert.h"
#include "ui/keys.h"
#include "ui/oglp.h"
#include "ui/texes.h"
#include "ui/tman.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/log_header.h"
#include "util/vendor.h"
#include "util/xtim.h"

float randrat[10000];
float lookup_sin[361];
float lookup_cos[361];
ogl_caps_struct ogl_caps;

const char* const kGraphicsFailLines[4] = {
    "I could not set up the graphics for Skyvane! I hope your monitor is at 1024x768 or higher! It must be!",
    "You do not meet the system requirements or you do not have OpenGL drivers or you entered a bad "
    "resolution "
    "in Skyvane!",
    "You need at least 256 meg of RAM, 16 meg of VRAM, and OpenGl drivers for your 3-D accelerator card!",
    "If you reset the resolution, you can try launching Skyvane again, since I am resetting Skyvane to "
    "default "
    "resolution now.",
};

std::string MACIBM_vendor_web_address() {
  return std::string("http://") + kVendorHost + "/";
}

bool MACIBM_window_is_captioned(int client_w, int client_h, int mon_w, int mon_h) {
  return client_w + 20 < mon_w && client_h + 20 < mon_h;
}

float MACIBM_show_init_fraction(const float* fraction, int counter) {
  const float f = fraction ? *fraction : counter / 100.0f;
  if (!(f >= 0.02f)) return 0.02f;  // also catches NaN
  return std::min(f, 1.0f);
}

namespace {

bool g_finished = false;         // MACIBM_finishup has run
bool g_mode_remembered = false;  // the first MACIBM_setres has stored the start-up mode
std::string g_log_file;          // empty: the platform's place

void fill_tables() {
  std::srand(1);
  // The table is made for a generator of range 0..32767; this C library's
  // is wider, so only the low 15 bits are used to keep every entry in 0..1.
  for (float& r : randrat) r = static_cast<float>((std::rand() & 0x7FFF) * 0.9999 / 32767.0);
  const auto seed = static_cast<unsigned>(xtim.microsecs_tot() & 0xFFFFFFFFu);
  std::srand(seed);
  for (unsigned i = 0; i < seed % 1000; ++i) (void)std::rand();
  for (int i = 0; i <= 360; ++i) {
    lookup_sin[i] = static_cast<float>(std::sin(i * 0.017453294));
    lookup_cos[i] = static_cast<float>(std::cos(i * 0.017453294));
  }
}

// The fatal alert's shut-down: display restored, window and log closed.
void fatal_shutdown() {
  MACIBM_finishup(0);
  app_done = 1;
}

}  // namespace

void OGL_extensions::init_extensions() {
  ogl_caps = ogl_caps_struct{};
  if (plat_win_headless()) return;
  const ogl_implementation gl = OGL_query_implementation();
  ogl_caps.vendor = gl.vendor;
  ogl_caps.renderer = gl.renderer;
  ogl_caps.version = gl.version;
  const std::string& ext = gl.extensions;
  ogl_caps.max_tex_size = gl.max_tex_size;
  ogl_caps.tex_units = std::max(1, gl.tex_units);
  ogl_caps.has_glsl =
      OGL_has_extension(ext, "GL_ARB_shading_language_100") && !cmdline.has_option("--no_glsl");
  ogl_caps.has_fbo = (OGL_has_extension(ext, "GL_EXT_framebuffer_object") ||
                      OGL_has_extension(ext, "GL_ARB_framebuffer_object")) &&
                     !cmdline.has_option("--no_fbos");
  ogl_caps.has_vbo =
      OGL_has_extension(ext, "GL_ARB_vertex_buffer_object") && !cmdline.has_option("--no_vbos");
  xer << "OpenGL Vendor               : " << ogl_caps.vendor << "\n"
      << "OpenGL Render               : " << ogl_caps.renderer << "\n"
      << "OpenGL Version              : " << ogl_caps.version << "\n"
      << "Max texture size            : " << ogl_caps.max_tex_size << "\n"
      << "Texture units               : " << ogl_caps.tex_units << "\n"
      << "GLSL / FBOs / VBOs          : " << ogl_caps.has_glsl << " / " << ogl_caps.has_fbo << " / "
      << ogl_caps.has_vbo << "\n";
  xer.flush();
}

// ---------------------------------------------------------------------------
// Start-up

void MACIBM_init(int argc, const char* const* argv) {
  platform_install_crash_handler();
  MACIBM_wire_lower_layers();
  g_finished = false;
  app_path.clear();
  g_case_sensitive = 0;

  keys_register_cmnds_printer();
  // A command line that only prints (or is unusable) ends here, before the
  // log of the last real run is replaced.
  if (argc > 0 && argv && cmdline_ends_at_once(argc, argv)) cmdline.init_args(argc, argv);

  log_open(g_log_file.empty() ? platform_log_file_path() : g_log_file);
  // A crash's stack trace goes where the fatal alert's go.
  platform_set_crash_trace_file(alert_crash_file());
  alert_set_shutdown(fatal_shutdown);

  fill_tables();
  write_log_header(xer, app_path, g_case_sensitive);

  if (argc > 0 && argv) cmdline.init_args(argc, argv);
  THREAD_init();
  keys.keys_io(0);

  mnw.x_res_req = 1024;
  mnw.y_res_req = 768;
  mnw.col_res_req = 32;
  mnw.tex_res = 5;
  mnw.alias_req = 0;
  mnw.lang = 0;

  // The workers start first and decode the built-in pictures while the
  // window and its GL context are made: each takes about a tenth of a
  // second of a start.
  THREAD_make_workers();
  THREAD_call* pictures = THREAD_post_call(
      [](void*) {
        builtin_picture_get(kTexInstAtlas);  // decodes all of them
        return 0;
      },
      nullptr);
  MACIBM_setres(1);
  const bool made = MACIBM_make_context(0);
  THREAD_wait_call(pictures);
  if (!made) {
    MACIBM_alert(0, kGraphicsFailLines[0], kGraphicsFailLines[1], kGraphicsFailLines[2],
                 kGraphicsFailLines[3], t_exit, "hl_init", __LINE__);
    return;  // only reached when an exit hook returns
  }

  OGL_pix_specs(0);
  OGL_extensions::init_extensions();
  recall_ins_texes();

  MACIBM_clear_menus(1);
  MACIBM_startwind(-1, 0);
  OGL_pix_specs(0);
  ogl_inited = 1;
  alert_set_drawn_handler(MACIBM_drawn_alert);

  if (mnw.lang < 0) {
    mnw.lang = 0;
    MACIBM_alert(0, "", "", "", "", t_lang_choice, "hl_init", __LINE__);
  }

  MACIBM_show_init("Will init plugins.", nullptr);
  MACIBM_show_init("Starting application.", nullptr);
}

// ---------------------------------------------------------------------------
// Display mode

void MACIBM_set_log_file(const std::string& path) {
  g_log_file = path;
}

void MACIBM_reset_display_state() {
  g_mode_remembered = false;
  hres_orig = vres_orig = cres_orig = sres_orig = 0;
}

void MACIBM_setres(int set) {
  mnw.x_res_now = mnw.x_res_req;
  mnw.y_res_now = mnw.y_res_req;
  mnw.col_res_now = mnw.col_res_req;
  int need_change = mnw.set_res;

  plat_display_mode cur;
  if (!plat_current_mode(&cur) || cur.w <= 0 || cur.h <= 0) cur = {0, 0, 32};
  g_mon_x_res_now = cur.w;
  g_mon_y_res_now = cur.h;

  if (mnw.set_app_to_monitor) {
    mnw.x_res_req = mnw.x_res_now = cur.w - 40;
    mnw.y_res_req = mnw.y_res_now = cur.h - 60;
  }
  if (cur.w < 1024 || cur.h < 768) need_change = 1;

  if (!g_mode_remembered) {
    g_mode_remembered = true;
    hres_orig = cur.w;
    vres_orig = cur.h;
    cres_orig = cur.bpp;
    sres_orig = need_change;
  }

  const plat_display_mode target = set ? plat_display_mode{mnw.x_res_req, mnw.y_res_req, mnw.col_res_req}
                                       : plat_display_mode{hres_orig, vres_orig, cres_orig};
  if (set == 1 && !need_change) return;
  if (set == 0 && !sres_orig) return;
  if (set == 1 && cur.w == target.w && cur.h == target.h && cur.bpp == target.bpp) return;

  if (set == 0) {
    plat_restore_mode();
    g_mon_x_res_now = hres_orig;
    g_mon_y_res_now = vres_orig;
    return;
  }
  plat_display_mode m;
  for (int i = 0; plat_enum_mode(i, &m); ++i) {
    if (m.w != target.w || m.h != target.h || m.bpp != target.bpp) continue;
    if (plat_set_mode(m)) {
      g_mon_x_res_now = target.w;
      g_mon_y_res_now = target.h;
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Window and context

int MACIBM_make_context(int slot) {
  if (slot != 0) return 0;  // the installer never opens a second window
  const bool captioned =
      MACIBM_window_is_captioned(mnw.x_res_now, mnw.y_res_now, g_mon_x_res_now, g_mon_y_res_now);
  std::string error;
  if (!plat_win_create("Skyroot", 0, 0, mnw.x_res_now, mnw.y_res_now, captioned, mnw.col_res_now, &error)) {
    xer << "Could not create the window and its OpenGL context: " << error << "\n";
    xer.flush();
    return 0;
  }
  have_created_ibm_win = 1;
  mnw.window[0] = plat_win_handle();
  mnw.context[0] = plat_win_context();
  mnw.alias_act = 0;
  if (!plat_win_vsync_off()) xer << "Warning: unable to disable vsync.\n";
  if (!plat_win_headless()) OGL_set_defaults();
  return 1;
}

void MACIBM_nuke_context(int slot) {
  if (slot != 0) return;
  ogl_inited = 0;
  alert_set_drawn_handler(nullptr);
  if (plat_win_exists() && !plat_win_headless()) tman.forget_all();
  OGL_forget_frames();
  plat_win_destroy();
  mnw.window[0] = mnw.context[0] = nullptr;
  have_created_ibm_win = 0;
}

// ---------------------------------------------------------------------------
// 2-D coordinate system

void OGL_pix_specs(int) {
  mnw.xy_scale_coc = mnw.xy_scale_now = 1.0f;
  mnw.x1_pix = mnw.y1_pix = 0.0f;
  mnw.x2_pix = static_cast<float>(mnw.x_res_now);
  mnw.y2_pix = static_cast<float>(mnw.y_res_now);
  mnw.extra_ty = std::max(0.0f, static_cast<float>(mnw.y_res_now - 768));
  mnw.extra_sx = mnw.top_win_now == -1 ? 0.0f : std::max(0.0f, (mnw.x_res_now - 1024) * 0.5f);
  mnw.x_ctr = mnw.x_res_now * 0.5f;
  mnw.y_ctr = 384.0f;
  if (mnw.top_win_now >= 0) OGL_viewport(2, 0, 0, 0, 0, 1.0f, 0);
}

void OGL_viewport(int mode, float, float, float, float, float divisor, int keep_aspect) {
  if (mode != 2 || plat_win_headless() || !plat_win_exists()) return;
  if (divisor == 0.0f) divisor = 1.0f;
  float bottom = mnw.y1_pix / divisor, top = mnw.y2_pix / divisor;
  if (keep_aspect && mnw.x_res_now > 0) {
    const float r = static_cast<float>(mnw.y_res_now) / static_cast<float>(mnw.x_res_now);
    bottom *= r;
    top *= r;
  }
  OGL_set_ortho(mnw.x_res_now, mnw.y_res_now, mnw.x1_pix / divisor, mnw.x2_pix / divisor, bottom, top);
}

// ---------------------------------------------------------------------------
// Start-up status screen

void MACIBM_show_init(const std::string& message, const float* fraction) {
  if (!plot_init_lights) return;
  if (!fraction) ++counter_now;
  const float f = MACIBM_show_init_fraction(fraction, counter_now);
  // Absolute client coordinates: undo the window origin the primitives add.
  const float ox = mnw.extra_sx - mnw.win_x;
  const float oy = -mnw.win_y;
  OGL_plot_back_col();
  BTN_frame2(15, ox + 10, oy + 31, 460, 200, "");
  OGL_string(49, ox + 22, oy + 210, MACIBM_vendor_web_address(), 440, kCharsetProportional, kJustLeft);
  const float x0 = ox + 8, span = 1008.0f;
  const float done = span * f;
  BTN_frame1(4, x0 + done * 0.5f, oy + 15, done, 0);
  if (span - done > 0.0f) BTN_frame1(5, x0 + done + (span - done) * 0.5f, oy + 15, span - done, 0);
  OGL_string(61, ox + 22, oy + 60, message, 440, kCharsetProportional, kJustLeft);
  OGL_sbuff();
}

// ---------------------------------------------------------------------------
// Shut-down

void MACIBM_finishup(int save) {
  if (g_finished) return;  // a fatal alert during shut-down must not run it twice
  g_finished = true;
  if (cmdline.has_option("--fps_test")) {
    // The frame-rate test's result: passes swapped, running time and the
    // process's CPU time since start.
    const double cpu = static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
    const double secs = xtim.real_time > 0 ? xtim.real_time : 0.0;
    char line[200];
    std::snprintf(line, sizeof line,
                  "FPS test: %d frames in %.2f s (%.1f fps), CPU %.2f s (%.0f%% of a core)\n",
                  xtim.total_frames, secs, secs > 0 ? xtim.total_frames / secs : 0.0, cpu,
                  secs > 0 ? 100.0 * cpu / secs : 0.0);
    xer << line;
  }
  if (save == 1) {
    if (!cmdline.has_option("--fps_test")) {
      MACIBM_save_settings();
      keys.keys_io(1);
    }
    THREAD_shutdown();
  }
  MACIBM_setres(0);
  MACIBM_nuke_context(0);
  log_close();
}
