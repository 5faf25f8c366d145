// Wide text is UTF-16 code units on every platform, so records, logs and
// formatted paths come out the same on Linux and on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qf {

using wstring16 = std::u16string;
using wstring16_view = std::u16string_view;

// Length of a NUL-terminated wide text.
inline std::size_t WideLength(const char16_t* s) {
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

// Narrowing for 8-bit files and messages: every text of the libraries is
// ASCII; a unit above 0xFF is written as '?'.
std::string Narrow(wstring16_view s);
// Widening of 8-bit text, byte for byte.
wstring16 Widen(std::string_view s);
// UTF-8 <-> UTF-16, for host paths, JSON and the terminal.
std::string ToUtf8(wstring16_view s);
wstring16 FromUtf8(std::string_view s);

// Upper-casing of ASCII letters only, the way names compare without case.
wstring16 AsciiUpper(wstring16_view s);

// Text written the way Windows' text mode writes it: "\n" becomes "\r\n".
std::string ToTextMode(std::string_view s);

}  // namespace qf
