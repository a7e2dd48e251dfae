#pragma once

#include <cstdio>
#include <string>

// MinGW's C99 printf family (__USE_MINGW_ANSI_STDIO) checks as gnu_printf;
// its plain "printf" means the system's older one.
#ifdef __MINGW_PRINTF_FORMAT
#define KOVA_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define KOVA_PRINTF_FORMAT printf
#endif

namespace kova {

// printf-style formatting into a std::string; the system's messages are all
// composed this way so that their format strings stay exactly as written.
std::string Format(const char* fmt, ...) __attribute__((format(KOVA_PRINTF_FORMAT, 1, 2)));

}  // namespace kova
