#include "ui/tman.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/colr.h"
#include "ui/gl.h"
#include "ui/hl_alert.h"
#include "ui/texes.h"
#include "util/log.h"

std::vector<std::uint8_t> scratch_array;
int scratch_dx = 0;
int scratch_dy = 0;

tman_class tman;

namespace {

constexpr float kMaxSide = 2048.0f;

float next_pow2(float v) {
  float p = 1.0f;
  while (p < v) p *= 2.0f;
  return p;
}

// Texture numbers drawn with nearest sampling: the interface image (its
// font and cells must stay crisp) and the framework's pixel-exact pictures.
bool uses_nearest(int ref) {
  return ref == kTexInterface || ref == 419 || ref == 425 || ref == 426 || (ref >= 427 && ref <= 442);
}

bool starts_with(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// Clamp-to-edge came with GL 1.2; an older implementation gets plain clamp.
int clamp_mode() {
  static int mode = 0;
  if (mode == 0) {
    const char* ver = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if (ver && std::sscanf(ver, "%d.%d", &major, &minor) == 2 && (major > 1 || minor >= 2)) {
      mode = GL_CLAMP_TO_EDGE;
    } else {
      mode = GL_CLAMP;
    }
  }
  return mode;
}

int max_texture_size() {
  GLint v = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  return v > 0 ? v : 2048;  // no context: assume the common limit
}

// Halves an RGBA picture (2 x 2 box filter); odd last rows/columns are
// folded into the last output pixel.
std::vector<std::uint8_t> halve(const std::uint8_t* src, int w, int h, int* ow, int* oh) {
  const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(nw) * nh * 4);
  for (int y = 0; y < nh; ++y) {
    for (int x = 0; x < nw; ++x) {
      for (int c = 0; c < 4; ++c) {
        int sum = 0, n = 0;
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) {
            const int sx = std::min(w - 1, 2 * x + dx), sy = std::min(h - 1, 2 * y + dy);
            sum += src[(static_cast<std::size_t>(sy) * w + sx) * 4 + c];
            ++n;
          }
        }
        out[(static_cast<std::size_t>(y) * nw + x) * 4 + c] = static_cast<std::uint8_t>(sum / n);
      }
    }
  }
  *ow = nw;
  *oh = nh;
  return out;
}

std::string fmt_value(const char* fmt, float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// An alert decided under the lock and raised after it is released.
struct pending_alert {
  bool raise = false;
  std::string l1, l2, l3, l4;
  int type = t_alert;
  int line = 0;
};

void raise(const pending_alert& a) {
  if (a.raise) MACIBM_alert(-1, a.l1, a.l2, a.l3, a.l4, a.type, "tman.cpp", a.line);
}

// The pixels of a picture to load: RGBA rows, w x h.
struct picture {
  const std::uint8_t* pixels = nullptr;
  float w = 0, h = 0;
};

// The pixels a request names; false (logged) when there are none.
bool picture_pixels(const tex_load_vars& v, int ref, bool scratch, picture* pic) {
  if (!scratch) {
    // The installer carries its pictures in the program; picture files
    // are not read by this build.
    xer << "Texture " << ref << ": cannot read picture file '" << v.path << "'.\n";
    return false;
  }
  const float pw = v.used_buf && v.dx_vis > 0 ? v.dx_vis : static_cast<float>(scratch_dx);
  const float ph = v.used_buf && v.dy_vis > 0 ? v.dy_vis : static_cast<float>(scratch_dy);
  pic->pixels = v.used_buf ? v.used_buf : scratch_array.data();
  pic->w = pw;
  pic->h = ph;
  const double need = static_cast<double>(pw) * ph * 4.0;
  if (!v.used_buf && (pw < 0 || ph < 0 || need > static_cast<double>(scratch_array.size()))) {
    xer << "Texture " << ref << " (" << v.path << "): the scratch buffer holds " << scratch_array.size()
        << " bytes, less than " << pw << " x " << ph << " pixels.\n";
    return false;
  }
  return true;
}

// The texture's sizes for the picture, and the picture halved until it fits
// them (into `scaled`, only when the implementation cannot hold it). False,
// with the alert, when a side falls outside 1..2048.
bool fit_picture(const tex_load_vars& v, picture* pic, tex_sizes* sz, std::vector<std::uint8_t>* scaled,
                 pending_alert* alert) {
  float bad = 0;
  if (!tex_compute_sizes(pic->w, pic->h, 1.0f, v.filter_type, max_texture_size(), sz, &bad)) {
    *alert = {true,     "Trying to create a texture either less than 1 or greater than 2048!",
              "value:", fmt_value("%1.0f", bad),
              "",       v.require_tex == tex_fail_quit ? t_exit : t_alert,
              __LINE__};
    return false;
  }
  // Scale down (only when the implementation cannot hold the picture).
  int cw = static_cast<int>(pic->w), ch = static_cast<int>(pic->h);
  const std::uint8_t* src = pic->pixels;
  while (cw > static_cast<int>(sz->dx_vis) || ch > static_cast<int>(sz->dy_vis)) {
    int nw = 0, nh = 0;
    *scaled = halve(src, cw, ch, &nw, &nh);
    src = scaled->data();
    cw = nw;
    ch = nh;
  }
  sz->dx_vis = static_cast<float>(cw);
  sz->dy_vis = static_cast<float>(ch);
  pic->pixels = src;
  pic->w = static_cast<float>(cw);
  pic->h = static_cast<float>(ch);
  return true;
}

// Sends the picture to the texture bound on unit 0 with the sampling
// options of `filter`: the picture in the lower-left corner, the padding up
// to the full size transparent black.
void upload_picture(int ref, int filter, const tex_sizes& sz, const picture& pic) {
  const int f = filter;
  const bool mip = (f & kTexMipmap) && !(f & kTexSized8);
  const bool nearest = uses_nearest(ref);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, nearest ? GL_NEAREST : GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  nearest ? GL_NEAREST : (mip ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (f & kTexClampT) ? clamp_mode() : GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S,
                  (f & (kTexClampT | kTexClampS)) == (kTexClampT | kTexClampS) ? clamp_mode() : GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, mip ? GL_TRUE : GL_FALSE);
  GLint internal = GL_RGBA;
  if (f & kTexHalfFloat) {
    internal = GL_RGBA16F;
  } else if (f & kTexSized8) {
    internal = GL_RGBA8;
  }
  const int tw = static_cast<int>(sz.dx_tot), th = static_cast<int>(sz.dy_tot);
  const int cw = static_cast<int>(pic.w), ch = static_cast<int>(pic.h);
  const std::uint8_t* src = pic.pixels;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  if (tw == cw && th == ch) {
    glTexImage2D(GL_TEXTURE_2D, 0, internal, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, src);
  } else {
    // The padding outside the picture is transparent black, so linear
    // sampling at the picture's edge never picks up stray texels.
    glTexImage2D(GL_TEXTURE_2D, 0, internal, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, cw, ch, GL_RGBA, GL_UNSIGNED_BYTE, src);
    const std::size_t right = static_cast<std::size_t>(tw - cw) * th;
    const std::size_t top = static_cast<std::size_t>(cw) * (th - ch);
    std::vector<std::uint8_t> zero(std::max(right, top) * 4, 0);
    if (right) glTexSubImage2D(GL_TEXTURE_2D, 0, cw, 0, tw - cw, th, GL_RGBA, GL_UNSIGNED_BYTE, zero.data());
    if (top) glTexSubImage2D(GL_TEXTURE_2D, 0, 0, ch, cw, th - ch, GL_RGBA, GL_UNSIGNED_BYTE, zero.data());
  }
}

}  // namespace

bool tex_compute_sizes(float w, float h, float scale, int filter, int max_size, tex_sizes* out, float* bad) {
  if (max_size <= 0) max_size = 2048;
  // Shrink until both sides fit the implementation; stop before the scale
  // underflows for a picture that is empty anyway.
  while ((w * scale > max_size || h * scale > max_size) && scale > 1e-6f) scale *= 0.5f;
  out->dx_vis = std::round(w * scale);
  out->dy_vis = std::round(h * scale);
  if (filter & kTexExactSize) {
    out->dx_tot = out->dx_vis;
    out->dy_tot = out->dy_vis;
  } else {
    out->dx_tot = next_pow2(out->dx_vis);
    out->dy_tot = next_pow2(out->dy_vis);
  }
  for (float v : {out->dx_vis, out->dy_vis, out->dx_tot, out->dy_tot}) {
    if (v < 1.0f || v > kMaxSide) {
      *bad = v;
      return false;
    }
  }
  return true;
}

tman_class::tman_class() {
  UTL_critical_section_create(&lock);
}

tman_class::~tman_class() {
  UTL_critical_section_destroy(&lock);
}

int tman_class::load_texture(tex_fail_mode fail_mode, int manual_ref, int filter_type,
                             tex_load_time load_time, const std::string& path) {
  tex_load_vars v;
  v.require_tex = fail_mode;
  v.manual_ref = manual_ref;
  v.filter_type = filter_type;
  v.path = path;
  return load_texture(v, load_time);
}

// A load, step by step: the table entry (claim_entry), the picture's
// pixels (picture_pixels), the texture's sizes and the picture scaled to
// them (fit_picture), the GL upload (upload_picture) and the entry's record
// (record_loaded); a failure at any step is recorded instead
// (record_failure).
int tman_class::load_texture(const tex_load_vars& v, tex_load_time /*load_time*/) {
  pending_alert alert;
  int result = 0;
  {
    UTL_lock_guard guard(&lock);
    const bool scratch = starts_with(v.path, "scratch_array");
    if (!scratch && async_load_func) {
      // A background load must land before the table changes under it.
      auto finish = std::move(async_load_func);
      async_load_func = nullptr;
      finish();
    }

    bool shared = false;
    const int ref = claim_entry(v, &shared);
    if (shared) return ref;
    bool failed = false;
    if (ref < 0) {
      alert = {true,
               "(manual_ref>=ref_dat.size()!",
               "maybe we tried to load some texture thatis not avail, and we have not loaded the "
               "t_blank_gray yet?",
               "",
               "",
               t_alert,
               __LINE__};
      failed = true;
    }
    picture pic;
    if (!failed) failed = !picture_pixels(v, ref, scratch, &pic);
    tex_sizes sz;
    std::vector<std::uint8_t> scaled;
    if (!failed) failed = !fit_picture(v, &pic, &sz, &scaled, &alert);
    if (!failed) {
      ref_dat_struct& e = ref_dat[ref];
      GLuint name = static_cast<GLuint>(e.ogl_num);
      ++uploads_;
      if (name == 0) glGenTextures(1, &name);
      glBindTexture(GL_TEXTURE_2D, name);
      // The bind above went around the cache.
      bound_[0] = bound_unit{};
      upload_picture(ref, v.filter_type, sz, pic);
      record_loaded(v, ref, name, sz, pic.pixels);
      result = ref;
    } else {
      result = record_failure(v, ref);
      if (v.require_tex == tex_fail_quit && !alert.raise) {
        alert = {true,    "A picture the program needs could not be loaded.",
                 v.path,  "Please see the log.txt file for details.",
                 "",      t_exit,
                 __LINE__};
      }
    }
  }
  raise(alert);
  return result;
}

int tman_class::claim_entry(const tex_load_vars& v, bool* shared) {
  int ref = v.manual_ref;
  if (ref < 0) return ref;  // not a number at all: the caller reports it
  if (ref > 0) {
    if (ref >= static_cast<int>(ref_dat.size())) {
      total_texes_ctr += ref + 1 - static_cast<int>(ref_dat.size());
      ref_dat.resize(ref + 1);
    }
    return ref;
  }
  // Automatic number: share an entry that already holds this picture.
  for (int i = kTexFirstAuto; i < static_cast<int>(ref_dat.size()); ++i) {
    ref_dat_struct& e = ref_dat[i];
    if (e.tex_mode != 0 && e.ref_count >= 1 && e.path == v.path) {
      ++e.ref_count;
      *shared = true;
      return i;
    }
  }
  for (int i = static_cast<int>(ref_dat.size()) - 1; i >= kTexFirstAuto; --i) {
    if (ref_dat[i].tex_mode == 0) return i;
  }
  ref = std::max(static_cast<int>(ref_dat.size()), kTexFirstAuto);
  total_texes_ctr += ref + 1 - static_cast<int>(ref_dat.size());
  ref_dat.resize(ref + 1);
  return ref;
}

void tman_class::record_loaded(const tex_load_vars& v, int ref, unsigned name, const tex_sizes& sz,
                               const std::uint8_t* pixels) {
  const int f = v.filter_type;
  const bool mip = (f & kTexMipmap) && !(f & kTexSized8);
  const int tw = static_cast<int>(sz.dx_tot), th = static_cast<int>(sz.dy_tot);
  const int cw = static_cast<int>(sz.dx_vis), ch = static_cast<int>(sz.dy_vis);
  const bool automatic = v.manual_ref == 0;
  ref_dat_struct& e = ref_dat[ref];
  e.path = v.path;
  e.ogl_num = static_cast<int>(name);
  e.tex_dx_vis = sz.dx_vis;
  e.tex_dy_vis = sz.dy_vis;
  e.tex_dx_tot = sz.dx_tot;
  e.tex_dy_tot = sz.dy_tot;
  e.tex_vram = tw * th * 4 * (mip ? 4 : 3) / 3;
  e.tex_mode = GL_RGBA;
  e.load_time = tex_load_now;
  e.filter_type = f;
  e.required = v.require_tex;
  e.ref_count = automatic ? 1 : -1;
  e.opaque = true;
  for (std::size_t i = 3, end = static_cast<std::size_t>(cw) * ch * 4; i < end && e.opaque; i += 4)
    e.opaque = pixels[i] == 255;
  ++loaded_texes_ctr;
  auto it = std::find(reported_missing_.begin(), reported_missing_.end(), ref);
  if (it != reported_missing_.end()) reported_missing_.erase(it);
}

int tman_class::record_failure(const tex_load_vars& v, int ref) {
  xer << "Failed to load texture " << ref << " from '" << v.path << "'.\n";
  xer.flush();
  switch (v.require_tex) {
    case tex_fail_warn_scene:
      if (scene_load_fail == status_okay) scene_load_fail = status_fail;
      break;
    case tex_fail_warn_plane:
      if (plane_load_fail == status_okay) plane_load_fail = status_fail;
      break;
    case tex_fail_warn_install:
      if (instl_load_fail == status_okay) instl_load_fail = status_fail;
      break;
    case tex_fail_quit:  // the caller raises the fatal alert
    case tex_fail_ignore:
      break;
  }
  // A fixed number keeps its number; an automatic one is free again.
  return v.manual_ref > 0 ? v.manual_ref : 0;
}

void tman_class::bind_ref(int ref, int unit, int env_mode) {
  if (unit < 0 || unit >= kTexUnits) return;
  pending_alert alert;
  {
    UTL_lock_guard guard(&lock);
    int name = 0;
    const bool known = ref >= 0 && ref < static_cast<int>(ref_dat.size());
    const tex_load_time when = known ? ref_dat[ref].load_time : tex_load_never;
    if (when != tex_load_now && when != tex_load_scenery) {
      // A program error; report each number once, not on every pass.
      if (std::find(reported_missing_.begin(), reported_missing_.end(), ref) == reported_missing_.end()) {
        reported_missing_.push_back(ref);
        alert = {true,
                 "missing non-scenery texture - how?",
                 fmt_value("ref=%6.0f", static_cast<float>(ref)),
                 "",
                 "",
                 t_alert,
                 __LINE__};
      }
    } else {
      name = ref_dat[ref].ogl_num;
    }
    bound_unit& b = bound_[unit];
    if (b.ogl_num != name || b.env_mode != env_mode) {
      if (unit != 0) glActiveTexture(GL_TEXTURE0 + unit);
      glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(name));
      glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, env_mode);
      if (unit != 0) glActiveTexture(GL_TEXTURE0);
      b.ogl_num = name;
      b.env_mode = env_mode;
    }
  }
  raise(alert);
}

void tman_class::reset_bind() {
  UTL_lock_guard guard(&lock);
  for (auto& b : bound_) b = bound_unit{};
}

bool tman_class::has_scene_load_fail() {
  UTL_lock_guard guard(&lock);
  return scene_load_fail == status_fail;
}
bool tman_class::has_plane_load_fail() {
  UTL_lock_guard guard(&lock);
  return plane_load_fail == status_fail;
}
bool tman_class::has_instl_load_fail() {
  UTL_lock_guard guard(&lock);
  return instl_load_fail == status_fail;
}
void tman_class::mute_scene_load_fail() {
  UTL_lock_guard guard(&lock);
  scene_load_fail = status_mute;
}
void tman_class::mute_plane_load_fail() {
  UTL_lock_guard guard(&lock);
  plane_load_fail = status_mute;
}
void tman_class::mute_instl_load_fail() {
  UTL_lock_guard guard(&lock);
  instl_load_fail = status_mute;
}

bool tman_class::texels_opaque(int ref, float s0, float t0, float s1, float t1, float px_w, float px_h,
                               int* gl_name, int* texel_x, int* texel_y) {
  UTL_lock_guard guard(&lock);
  if (ref < 0 || ref >= static_cast<int>(ref_dat.size())) return false;
  const ref_dat_struct& e = ref_dat[ref];
  if (e.tex_mode == 0 || !e.opaque) return false;
  const float x0 = s0 * e.tex_dx_tot, x1 = s1 * e.tex_dx_tot;
  const float y0 = t0 * e.tex_dy_tot, y1 = t1 * e.tex_dy_tot;
  auto whole = [](float v) { return v == std::trunc(v); };
  if (!(whole(x0) && whole(y0) && x1 - x0 == px_w && y1 - y0 == px_h && x0 >= 0 && y0 >= 0 &&
        x1 <= e.tex_dx_vis && y1 <= e.tex_dy_vis))
    return false;
  if (gl_name) *gl_name = e.ogl_num;
  if (texel_x) *texel_x = static_cast<int>(x0);
  if (texel_y) *texel_y = static_cast<int>(y0);
  return true;
}

ref_dat_struct tman_class::get_ref(int ref) {
  UTL_lock_guard guard(&lock);
  if (ref < 0 || ref >= static_cast<int>(ref_dat.size())) return ref_dat_struct{};
  return ref_dat[ref];
}

void tman_class::forget_all(bool delete_gl) {
  UTL_lock_guard guard(&lock);
  ++uploads_;
  for (auto& e : ref_dat) {
    if (delete_gl && e.ogl_num != 0) {
      const GLuint name = static_cast<GLuint>(e.ogl_num);
      glDeleteTextures(1, &name);
    }
  }
  ref_dat.clear();
  reported_missing_.clear();
  for (auto& b : bound_) b = bound_unit{};
  lowest_unloaded = loaded_texes_ctr = total_texes_ctr = 0;
  scene_load_fail = plane_load_fail = instl_load_fail = status_okay;
}

void recall_ins_texes() {
  // In this order: atlas, background, interface image.
  for (int num : {kTexInstAtlas, kTexBackground, kTexInterface}) {
    const builtin_picture* pic = builtin_picture_get(num);
    if (!pic) continue;  // builtin_picture_get ends the program on a bad picture
    scratch_dx = pic->width;
    scratch_dy = pic->height;
    // The decoded picture stays alive for the program's life, so it is handed
    // over in place rather than copied through the scratch buffer.
    tex_load_vars v;
    v.require_tex = tex_fail_quit;
    v.manual_ref = num;
    v.filter_type = kTexBuiltinFlags;
    v.path = "scratch_array:hardwired textures";
    v.used_buf = pic->rgba.data();
    v.dx_vis = static_cast<float>(pic->width);
    v.dy_vis = static_cast<float>(pic->height);
    tman.load_texture(v, tex_load_now);
  }
  if (const builtin_picture* ui = builtin_picture_get(kTexInterface)) {
    colr.take_interface_colors(ui->rgba.data(), ui->width, ui->height);
  }
}
