#pragma once
// The interface's only way to OpenGL: every GL call of the program is made
// by the drawing layer (ui/oglp.cpp, ui/tman.cpp) through this header, so no
// other code depends on the GL headers or on GL state behind the drawing
// layer's back. OpenGL 1.x immediate mode, plus the later entry points the
// drawing uses where the implementation has them (texture units,
// framebuffer blits).
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#ifndef GL_MAX_TEXTURE_UNITS
#define GL_MAX_TEXTURE_UNITS 0x84E2
#endif
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif
#ifndef GL_GENERATE_MIPMAP
#define GL_GENERATE_MIPMAP 0x8191
#endif
#ifndef GL_RGBA16F
#define GL_RGBA16F 0x881A
#endif
