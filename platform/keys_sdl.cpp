// Key translation of the SDL2 window layer: SDL key events to the
// framework's virtual-key codes, PC scan codes and the ASCII characters of a
// US layout (see plat_key in window.h).
#include <SDL.h>

#include "platform/sdl_video.h"

namespace {

// PC set-1 scan codes of the keys the key translation singles out.
int scan_of(SDL_Keycode k) {
  switch (k) {
    case SDLK_LSHIFT:
      return 0x2A;
    case SDLK_RSHIFT:
      return 0x36;
    case SDLK_LCTRL:
      return 0x1D;
    case SDLK_RCTRL:
      return 0x11D;
    case SDLK_LALT:
      return 0x38;
    case SDLK_RALT:
      return 0x138;
    case SDLK_CAPSLOCK:
      return 0x3A;
    case SDLK_SCROLLLOCK:
      return 0x46;
    case SDLK_NUMLOCKCLEAR:
      return 0x145;
    case SDLK_RETURN:
      return 0x1C;
    case SDLK_KP_ENTER:
      return 0x11C;
    case SDLK_ESCAPE:
      return 0x01;
    case SDLK_BACKSPACE:
      return 0x0E;
    case SDLK_TAB:
      return 0x0F;
    case SDLK_SPACE:
      return 0x39;
    default:
      return 0;
  }
}

// The keys of the extended block (grey navigation keys, right-hand
// modifiers, keypad Enter and divide, Num Lock).
bool is_extended(SDL_Keycode k) {
  switch (k) {
    case SDLK_INSERT:
    case SDLK_DELETE:
    case SDLK_HOME:
    case SDLK_END:
    case SDLK_PAGEUP:
    case SDLK_PAGEDOWN:
    case SDLK_LEFT:
    case SDLK_RIGHT:
    case SDLK_UP:
    case SDLK_DOWN:
    case SDLK_RCTRL:
    case SDLK_RALT:
    case SDLK_KP_ENTER:
    case SDLK_KP_DIVIDE:
    case SDLK_NUMLOCKCLEAR:
    case SDLK_LGUI:
    case SDLK_RGUI:
    case SDLK_APPLICATION:
    case SDLK_PRINTSCREEN:
      return true;
    default:
      return false;
  }
}

// Virtual-key code of an SDL key; `numlock` selects the keypad's digit or
// navigation meaning.
int vkey_of(SDL_Keycode k, bool numlock) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
  if (k >= SDLK_F13 && k <= SDLK_F24) return 124 + (k - SDLK_F13);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) {
    static const int nav[9] = {35, 40, 34, 37, 12,
                               39, 36, 38, 33};  // End Down PgDn Left Clear Right Home Up PgUp
    return numlock ? 97 + (k - SDLK_KP_1) : nav[k - SDLK_KP_1];
  }
  switch (k) {
    case SDLK_KP_0:
      return numlock ? 96 : 45;
    case SDLK_KP_PERIOD:
      return numlock ? 110 : 46;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_CLEAR:
      return 12;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_CAPSLOCK:
      return 20;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_PRINTSCREEN:
      return 44;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return 46;
    case SDLK_LGUI:
      return 91;
    case SDLK_RGUI:
      return 92;
    case SDLK_APPLICATION:
      return 93;
    case SDLK_KP_MULTIPLY:
      return 106;
    case SDLK_KP_PLUS:
      return 107;
    case SDLK_KP_MINUS:
      return 109;
    case SDLK_KP_DIVIDE:
      return 111;
    case SDLK_NUMLOCKCLEAR:
      return 144;
    case SDLK_SCROLLLOCK:
      return 145;
    case SDLK_SEMICOLON:
      return 186;
    case SDLK_EQUALS:
      return 187;
    case SDLK_COMMA:
      return 188;
    case SDLK_MINUS:
      return 189;
    case SDLK_PERIOD:
      return 190;
    case SDLK_SLASH:
      return 191;
    case SDLK_BACKQUOTE:
      return 192;
    case SDLK_LEFTBRACKET:
      return 219;
    case SDLK_BACKSLASH:
      return 220;
    case SDLK_RIGHTBRACKET:
      return 221;
    case SDLK_QUOTE:
      return 222;
    default:
      return 0;
  }
}

// The ASCII character a key gives on a US layout under the held modifiers,
// 0 when it gives none (navigation and function keys, most Control chords).
int char_of(SDL_Keycode k, bool shift, bool ctrl, bool caps, bool numlock) {
  if (k >= SDLK_a && k <= SDLK_z) {
    if (ctrl) return 1 + (k - SDLK_a);
    return (shift != caps ? 'A' : 'a') + (k - SDLK_a);
  }
  if (ctrl) {
    if (k == SDLK_RETURN || k == SDLK_KP_ENTER) return 10;
    if (k == SDLK_BACKSPACE) return 127;
    if (k == SDLK_ESCAPE) return 27;
    return 0;
  }
  if (k >= SDLK_0 && k <= SDLK_9) return shift ? ")!@#$%^&*("[k - SDLK_0] : static_cast<int>(k);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return numlock ? '1' + (k - SDLK_KP_1) : 0;
  static const struct {
    SDL_Keycode k;
    char plain, shifted;
  } sym[] = {{SDLK_MINUS, '-', '_'},        {SDLK_EQUALS, '=', '+'},     {SDLK_LEFTBRACKET, '[', '{'},
             {SDLK_RIGHTBRACKET, ']', '}'}, {SDLK_BACKSLASH, '\\', '|'}, {SDLK_SEMICOLON, ';', ':'},
             {SDLK_QUOTE, '\'', '"'},       {SDLK_COMMA, ',', '<'},      {SDLK_PERIOD, '.', '>'},
             {SDLK_SLASH, '/', '?'},        {SDLK_BACKQUOTE, '`', '~'},  {SDLK_SPACE, ' ', ' '}};
  for (const auto& s : sym)
    if (s.k == k) return shift ? s.shifted : s.plain;
  switch (k) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_KP_0:
      return numlock ? '0' : 0;
    case SDLK_KP_PERIOD:
      return numlock ? '.' : 0;
    case SDLK_KP_MULTIPLY:
      return '*';
    case SDLK_KP_PLUS:
      return '+';
    case SDLK_KP_MINUS:
      return '-';
    case SDLK_KP_DIVIDE:
      return '/';
    default:
      // Other layouts' printable keys (AZERTY's '&', '(' ...) give their
      // own character.
      return k >= 32 && k < 127 ? static_cast<int>(k) : 0;
  }
}

}  // namespace

plat_key sdl_video::translate_key(const SDL_KeyboardEvent& e) {
  plat_key key;
  const SDL_Keycode k = e.keysym.sym;
  const Uint16 mod = e.keysym.mod;
  const bool numlock = (mod & KMOD_NUM) != 0;
  key.shift = (mod & KMOD_SHIFT) != 0;
  key.ctrl = (mod & KMOD_CTRL) != 0;
  key.alt = (mod & KMOD_ALT) != 0;
  key.vkey = vkey_of(k, numlock);
  key.scan = scan_of(k);
  key.extended = is_extended(k) ? 1 : 0;
  key.repeat = e.repeat ? 1 : 0;
  key.ch = char_of(k, key.shift, key.ctrl, (mod & KMOD_CAPS) != 0, numlock);
  return key;
}
