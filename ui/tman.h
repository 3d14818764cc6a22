#pragma once
// The texture table. Every picture the interface draws is an OpenGL texture
// known by a small integer, the texture number. `tman` keeps the table of
// numbers, loads picture data under a number and binds a number for drawing.
// The installer's three pictures are compiled into the program and
// registered once at start-up (recall_ins_texes); it reads no picture files.
//
// Thread safety: every table operation and every bind holds `lock`; the
// GL calls themselves must come from the thread that owns the context (the
// main thread). Alerts are raised only after the lock is released, so the
// alert's own drawing can bind textures.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/UTL_thread.h"

// Texture numbers of the built-in pictures.
constexpr int kTexInterface = 392;   // 512 x 512: font glyphs, button and box cells
constexpr int kTexInstAtlas = 393;   // 1010 x 764: installer buttons, icons, frames
constexpr int kTexBackground = 394;  // 1024 x 768: main-screen background
// Numbers below this are reserved for fixed use; automatic numbers start here.
constexpr int kTexFirstAuto = 1135;

enum tex_load_time { tex_load_now = 100, tex_load_scenery = 101, tex_load_never = 102 };

enum tex_fail_mode {
  tex_fail_ignore = 0,
  tex_fail_warn_scene = 1,
  tex_fail_warn_plane = 2,
  tex_fail_warn_install = 3,
  tex_fail_quit = 4,
};

enum load_fail_status : std::uint8_t { status_okay = 0, status_fail = 1, status_mute = 2 };

// Sampling options (bits of `filter_type`).
constexpr int kTexMipmap = 0x08;       // mipmaps, linear-mipmap-linear minification
constexpr int kTexClampT = 0x10;       // clamp in t (else repeat)
constexpr int kTexClampS = 0x20;       // clamp in s, only together with kTexClampT
constexpr int kTexDoubleScale = 0x40;  // file pictures at twice the size
constexpr int kTexHalveScale = 0x80;   // file pictures at half the size
constexpr int kTexScaleOne = 0x100;    // scale factor 1
constexpr int kTexHalfFloat = 0x800;   // half-float internal format
constexpr int kTexSized8 = 0x1000;     // sized 8-bit internal format, no automatic mipmaps
constexpr int kTexExactSize = 0x2000;  // no rounding up to powers of two
// Flags of the built-in pictures (0x400 + 0x100 + 0x002).
constexpr int kTexBuiltinFlags = 1282;

// Texture environment modes for bind_ref (the GL enum values).
constexpr int kTexEnvModulate = 0x2100;
constexpr int kTexEnvReplace = 0x1E01;

constexpr int kTexUnits = 8;  // units tracked by the bind cache

// One entry of the table, indexed by texture number.
struct ref_dat_struct {
  std::string path = "un-inited";        // where the picture came from
  int ogl_num = 0;                       // GL texture name
  float tex_dx_vis = 0, tex_dy_vis = 0;  // texels holding the picture
  float tex_dx_tot = 0, tex_dy_tot = 0;  // full texture size in texels
  int tex_vram = 0;                      // bytes of video memory taken
  int tex_mode = 0;                      // GL pixel format; 0 = entry holds nothing
  tex_load_time load_time = tex_load_never;
  int filter_type = 0;
  tex_fail_mode required = tex_fail_quit;
  int ref_count = -1;   // holders of an automatic number; -1 for fixed numbers
  bool opaque = false;  // every texel of the visible picture has alpha 255
};

// One load request.
struct tex_load_vars {
  tex_fail_mode require_tex = tex_fail_quit;
  int manual_ref = 0;  // texture number, 0 = choose one
  int filter_type = 0;
  int show_init = 0;
  int rgb_type = 0;
  int pre_mip = 0;
  std::uint8_t bytes_per_pix = 4;
  int depth_change_ok = 0;
  float dx_vis = 0, dy_vis = 0, dx_tot = 0, dy_tot = 0;
  std::string path;
  const std::uint8_t* used_buf = nullptr;  // pixels (RGBA rows), not owned
};

// Pictures held in memory are handed to the manager through this buffer: a
// load whose path begins with "scratch_array" takes scratch_dx x scratch_dy
// RGBA pixels from it.
extern std::vector<std::uint8_t> scratch_array;
extern int scratch_dx, scratch_dy;

// Sizes of a texture for a picture of w x h pixels at `scale` under `filter`
// with the implementation's maximum texture size `max_size`: the visible
// size (scaled, rounded) and the full size (powers of two unless
// kTexExactSize). Returns false when a side falls outside 1..2048; `bad`
// then holds the offending value.
struct tex_sizes {
  float dx_vis = 0, dy_vis = 0, dx_tot = 0, dy_tot = 0;
};
bool tex_compute_sizes(float w, float h, float scale, int filter, int max_size, tex_sizes* out, float* bad);

class tman_class {
 public:
  int lowest_unloaded = 0;
  int loaded_texes_ctr = 0;
  int total_texes_ctr = 0;  // incremented for every new entry
  std::vector<ref_dat_struct> ref_dat;
  std::uint8_t scene_load_fail = status_okay;
  std::uint8_t plane_load_fail = status_okay;
  std::uint8_t instl_load_fail = status_okay;
  // A background load in progress (none in the installer): its request, its
  // source and the call that completes it on the main thread.
  tex_load_vars async_load_vars;
  std::string async_load_src;
  std::function<void()> async_load_func;
  UTL_critical_section lock;

  tman_class();
  ~tman_class();
  tman_class(const tman_class&) = delete;
  tman_class& operator=(const tman_class&) = delete;

  // Loads the picture named by `path` under number `manual_ref` (0 = choose
  // one). Returns the number used, or 0 when the load failed and the number
  // was to be chosen automatically. A failure is handled by `fail_mode`:
  // ignored, a warning flag set, or a fatal alert for tex_fail_quit.
  int load_texture(tex_fail_mode fail_mode, int manual_ref, int filter_type, tex_load_time load_time,
                   const std::string& path);
  // The same with a full request; `v.used_buf` (when set) supplies the
  // pixels of a "scratch_array" path instead of the shared buffer.
  int load_texture(const tex_load_vars& v, tex_load_time load_time);

  // Makes texture `ref` current on texture unit `unit` with the environment
  // mode `env_mode`. Skipped when the same texture and mode are current.
  void bind_ref(int ref, int unit = 0, int env_mode = kTexEnvModulate);
  // Forgets the bind cache so that the next bind is always sent to GL.
  void reset_bind();

  bool has_scene_load_fail();
  bool has_plane_load_fail();
  bool has_instl_load_fail();
  void mute_scene_load_fail();
  void mute_plane_load_fail();
  void mute_instl_load_fail();

  // True when drawing the texture coordinates [s0, s1] x [t0, t1] of texture
  // `ref` onto a whole-pixel rectangle of px_w x px_h pixels maps one texel
  // to one pixel (so every pixel centre samples exactly one texel centre),
  // and every texel so sampled lies inside the visible picture and is fully
  // opaque. Blending such a quad at full colour opacity changes nothing.
  // On success `gl_name` (may be null) receives the GL texture and `texel_x`,
  // `texel_y` (may be null) the first texel of the rectangle.
  bool texels_opaque(int ref, float s0, float t0, float s1, float t1, float px_w, float px_h,
                     int* gl_name = nullptr, int* texel_x = nullptr, int* texel_y = nullptr);

  // A copy of entry `ref` (a default entry when `ref` is outside the table).
  ref_dat_struct get_ref(int ref);

  // Empties the table. With `delete_gl` the GL textures are deleted first
  // (call it so before the GL context goes away); without, their names are
  // just forgotten (after the context is already gone, when they no longer
  // mean anything).
  void forget_all(bool delete_gl = true);

  // Counts texture uploads and forgets: a frame drawn after a change is not
  // compared with one drawn before.
  int upload_count() const { return uploads_; }

 private:
  // The steps of load_texture that work on the table (lock held).
  // The entry a request loads into: its fixed number (the table grown to
  // hold it), an entry that already holds the same picture (`shared` set, its
  // count raised), or a free automatic number. Negative for a bad number.
  int claim_entry(const tex_load_vars& v, bool* shared);
  // Records a picture uploaded under GL texture `name`.
  void record_loaded(const tex_load_vars& v, int ref, unsigned name, const tex_sizes& sz,
                     const std::uint8_t* pixels);
  // Logs a failed load and sets the failure flag of its fail mode; returns
  // what load_texture returns.
  int record_failure(const tex_load_vars& v, int ref);

  int uploads_ = 0;
  struct bound_unit {
    int ogl_num = -1;
    int env_mode = -1;
  };
  bound_unit bound_[kTexUnits];
  std::vector<int> reported_missing_;  // numbers already reported by bind_ref
};
extern tman_class tman;

// Registers the three built-in pictures (393 atlas, 394 background, 392
// interface image) and then takes the interface colours 34..47 from the
// interface image. Called once at start-up after the GL context exists.
void recall_ins_texes();
