// The one formatter of both libraries. It implements exactly the printf
// conversions the libraries' formats use, with the C runtime's meaning, so
// every platform writes the same bytes:
//   flags '-' '0', a width (digits or '*'), length l / ll / I64 / h,
//   conversions d i u x X s c and %%.
// In a wide format "%s" takes wide text and "%c" a wide character; in an
// 8-bit format they take 8-bit text and an 8-bit character. A "%c" of 0 is
// copied like any other character: the caller that treats the result as a
// C string sees it end there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/text.h"

namespace qf {

class FormatArg {
public:
    enum class Kind { Wide, Narrow, Char, Signed, Unsigned };

    FormatArg(const char16_t* s) : kind_(Kind::Wide), wide_(s) {}
    FormatArg(const wstring16& s) : kind_(Kind::Wide), wide_(s.c_str()) {}
    FormatArg(const char* s) : kind_(Kind::Narrow), narrow_(s) {}
    FormatArg(const std::string& s) : kind_(Kind::Narrow), narrow_(s.c_str()) {}
    FormatArg(char16_t c) : kind_(Kind::Char), integer_(c) {}
    FormatArg(char c) : kind_(Kind::Char), integer_(static_cast<unsigned char>(c)) {}
    FormatArg(int v) : kind_(Kind::Signed), integer_(v) {}
    FormatArg(long v) : kind_(Kind::Signed), integer_(v) {}
    FormatArg(long long v) : kind_(Kind::Signed), integer_(v) {}
    FormatArg(unsigned v) : kind_(Kind::Unsigned), integer_(v) {}
    FormatArg(unsigned long v) : kind_(Kind::Unsigned), integer_(v) {}
    FormatArg(unsigned long long v) : kind_(Kind::Unsigned), integer_(static_cast<std::int64_t>(v)) {}

    Kind kind() const { return kind_; }
    const char16_t* wide() const { return wide_; }
    const char* narrow() const { return narrow_; }
    // The value's bits; a conversion takes the low 32 or all 64 of them.
    std::uint64_t bits() const { return static_cast<std::uint64_t>(integer_); }

private:
    Kind kind_;
    const char16_t* wide_ = nullptr;
    const char* narrow_ = nullptr;
    std::int64_t integer_ = 0;
};

// The values of one format. Functions take them as a braced list, which
// lives as long as the call.
using FormatArgs = std::initializer_list<FormatArg>;

// Formats into at most `limit` code units; a longer result is cut there.
wstring16 FormatWide(const char16_t* format, FormatArgs args, std::size_t limit = SIZE_MAX);
wstring16 FormatWide(const char16_t* format, const std::vector<FormatArg>& args, std::size_t limit = SIZE_MAX);
std::string FormatNarrow(const char* format, FormatArgs args, std::size_t limit = SIZE_MAX);
// Narrow(FormatWide(...)) in one step, for 8-bit files: each unit of the
// wide result as one byte, '?' for a unit above 0xFF.
std::string FormatWideNarrowed(const char16_t* format, FormatArgs args, std::size_t limit = SIZE_MAX);
std::string FormatWideNarrowed(const char16_t* format, const std::vector<FormatArg>& args, std::size_t limit = SIZE_MAX);
// The same into the caller's `buffer` of `capacity` bytes, without a
// terminator: the result's length, or SIZE_MAX when formatting needed more
// room than that (the caller then formats into a string).
std::size_t FormatWideNarrowed(char* buffer, std::size_t capacity, const char16_t* format, FormatArgs args,
                               std::size_t limit = SIZE_MAX);

// The text before the first NUL, as a C string reads it.
wstring16 UpToNul(const wstring16& s);

}  // namespace qf
