/* Types shared by the public headers of both libraries. Wide text is 16-bit
   code units everywhere: wchar_t on Windows, char16_t elsewhere. A DWORD is
   32 bits everywhere (unsigned long on Windows, as its headers declare it). */
#pragma once

#include <stdint.h>

#ifdef _WIN32
typedef wchar_t QF_WCHAR;
typedef unsigned long QF_DWORD;
#else
typedef char16_t QF_WCHAR;
typedef uint32_t QF_DWORD;
#endif

static_assert(sizeof(QF_WCHAR) == 2, "wide text is 16-bit");
static_assert(sizeof(QF_DWORD) == 4, "a DWORD is 32-bit");
