// The exported surface speaks QF_WCHAR (wchar_t on Windows); the logic
// speaks char16_t. Both are 16-bit code units of the same text.
#pragma once

#include <algorithm>
#include <cstddef>

#include "QuillFrameInstallerTools.h"
#include "common/text.h"

namespace qf::tools {

inline const char16_t* In(const QF_WCHAR* s) { return reinterpret_cast<const char16_t*>(s); }
inline char16_t* Out(QF_WCHAR* s) { return reinterpret_cast<char16_t*>(s); }
// For exports that take a text they only read through a non-const pointer.
inline QF_WCHAR* Writable(wstring16& s) { return reinterpret_cast<QF_WCHAR*>(&s[0]); }

// Copies text into a caller's buffer of `capacity` units, cutting it so the
// terminator always fits.
inline void CopyToBuffer(wstring16_view text, char16_t* buffer, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t n = std::min(text.size(), capacity - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
}

}  // namespace qf::tools
