// <windows.h> as the Win32 layer's sources include it: lean, and without the min and max macros.
// Only the .cpp files of this folder include it; headers outside it never do.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX  // MinGW-w64's libstdc++ defines it already
#define NOMINMAX
#endif
#include <windows.h>
