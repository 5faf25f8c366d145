#include "common/format.h"

#include <algorithm>
#include <type_traits>

namespace qf {
namespace {

// How a unit of the result is written: as it is (a wide result, or an 8-bit
// one from an 8-bit format), or narrowed for an 8-bit file, as Narrow does.
template <typename Out>
struct AsIs {
    using Unit = Out;
    static Out Put(char16_t c) { return static_cast<Out>(c); }
};
struct Narrowed {
    using Unit = char;
    static char Put(char16_t c) { return c <= 0xFF ? static_cast<char>(c) : '?'; }
};

// A result held in the caller's storage. A write that would pass its end
// marks it full and writes nothing; the caller then formats into a string.
template <typename T>
class FixedText {
public:
    FixedText(T* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
    bool full() const { return full_; }
    std::size_t size() const { return size_; }
    void reserve(std::size_t) {}
    // Room for `n` more units at the end, or null.
    T* extend(std::size_t n) {
        if (full_ || n > capacity_ - size_) {
            full_ = true;
            return nullptr;
        }
        T* at = data_ + size_;
        size_ += n;
        return at;
    }
    void push_back(T c) {
        if (T* at = extend(1)) *at = c;
    }
    // The free room, to be written and then taken with grow().
    T* tail() { return data_ + size_; }
    std::size_t room() const { return full_ ? 0 : capacity_ - size_; }
    void grow(std::size_t n) { size_ += n; }
    void mark_full() { full_ = true; }
    void append(const T* from, const T* to) {
        if (T* at = extend(to - from)) std::copy(from, to, at);
    }
    void append(std::size_t n, T c) {
        if (T* at = extend(n)) std::fill(at, at + n, c);
    }
    void insert(std::size_t pos, std::size_t n, T c) {
        const std::size_t tail = size_ - pos;
        if (!extend(n)) return;
        std::copy_backward(data_ + pos, data_ + pos + tail, data_ + pos + tail + n);
        std::fill(data_ + pos, data_ + pos + n, c);
    }
    void resize(std::size_t n) {
        if (n <= size_) size_ = n;
        else append(n - size_, T());
    }

private:
    T* data_;
    std::size_t capacity_;
    std::size_t size_ = 0;
    bool full_ = false;
};

// Room for `n` more units at the end of a result, or null.
template <typename T>
T* Extend(std::basic_string<T>& out, std::size_t n) {
    const std::size_t at = out.size();
    out.resize(at + n);
    return &out[at];
}
template <typename T>
T* Extend(FixedText<T>& out, std::size_t n) {
    return out.extend(n);
}

// Appends the literal text at `p` up to the next conversion or the format's
// end, at most `max` units: the unit after the last one taken.
template <typename Conv, typename Char>
const Char* AppendLiteral(std::basic_string<typename Conv::Unit>& out, const Char* p, std::size_t max) {
    std::size_t n = 0;
    while (n < max && p[n] != 0 && p[n] != '%') ++n;
    if (auto* to = Extend(out, n))
        for (std::size_t i = 0; i < n; ++i) to[i] = Conv::Put(static_cast<std::make_unsigned_t<Char>>(p[i]));
    return p + n;
}
// The same in one pass, written straight into the caller's storage.
template <typename Conv, typename Char>
const Char* AppendLiteral(FixedText<typename Conv::Unit>& out, const Char* p, std::size_t max) {
    auto* to = out.tail();
    const std::size_t room = std::min(max, out.room());
    std::size_t n = 0;
    for (; n < room && p[n] != 0 && p[n] != '%'; ++n) to[n] = Conv::Put(static_cast<std::make_unsigned_t<Char>>(p[n]));
    out.grow(n);
    if (n < max && p[n] != 0 && p[n] != '%') {
        // The storage ran out before the text did: the result is given up,
        // the text passed over.
        out.mark_full();
        while (n < max && p[n] != 0 && p[n] != '%') ++n;
    }
    return p + n;
}

// Appends the text of a string argument; a null string is "(null)".
template <typename Conv, typename Text>
void AppendText(Text& out, const FormatArg& a) {
    static const char kNull[] = "(null)";
    if (a.kind() == FormatArg::Kind::Wide && a.wide()) {
        const char16_t* text = a.wide();
        const std::size_t n = std::char_traits<char16_t>::length(text);
        if (auto* to = Extend(out, n))
            for (std::size_t i = 0; i < n; ++i) to[i] = Conv::Put(text[i]);
    } else if (a.kind() == FormatArg::Kind::Narrow && a.narrow()) {
        for (const char* p = a.narrow(); *p; ++p) out.push_back(Conv::Put(static_cast<unsigned char>(*p)));
    } else if (a.kind() == FormatArg::Kind::Wide || a.kind() == FormatArg::Kind::Narrow) {
        for (const char* p = kNull; *p; ++p) out.push_back(Conv::Put(static_cast<unsigned char>(*p)));
    }
}

// Digits of `v` in base 10 or 16, with the divisor a constant so that no
// division instruction is needed.
template <unsigned kBase, typename Out>
Out* PutDigits(Out* end, std::uint64_t v, const char* digits) {
    do {
        *--end = static_cast<Out>(digits[v % kBase]);
        v /= kBase;
    } while (v != 0);
    return end;
}

template <typename Out, typename Text>
void AppendDigits(Text& out, std::uint64_t v, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    Out text[24];
    Out* end = text + sizeof text / sizeof text[0];
    const Out* begin = base == 16 ? PutDigits<16>(end, v, digits) : PutDigits<10>(end, v, digits);
    out.append(begin, static_cast<const Out*>(end));
}

// Formats into `out`, a string or the caller's storage. Every field is
// written straight into the result and padded where it stands.
template <typename Conv, typename Char, typename Text>
void Format(Text& out, const Char* fmt, const FormatArg* next, const FormatArg* end, std::size_t limit) {
    using Out = typename Conv::Unit;
    using Unit = std::make_unsigned_t<Char>;
    out.reserve(std::min<std::size_t>(limit, 120));  // room for a typical line
    const FormatArg zero(0);
    auto take = [&]() -> const FormatArg& { return next != end ? *next++ : zero; };

    for (const Char* p = fmt; *p && out.size() < limit; ++p) {
        if (*p != '%') {
            // The literal text up to the next conversion, as far as the limit allows.
            p = AppendLiteral<Conv>(out, p, limit - out.size()) - 1;
            continue;
        }
        const Char* start = p++;
        bool left = false, zeroPad = false;
        for (;; ++p) {
            if (*p == '-') left = true;
            else if (*p == '0') zeroPad = true;
            else break;
        }
        long width = 0;
        if (*p == '*') {
            auto w = static_cast<std::int64_t>(static_cast<std::int32_t>(take().bits()));
            if (w < 0) { left = true; w = -w; }
            width = static_cast<long>(std::min<std::int64_t>(w, 0x7FFFFFFF));
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') width = std::min(width * 10 + (*p++ - '0'), 0x7FFFFFFFL);
        }
        bool wide64 = false;
        if (*p == 'l' && p[1] == 'l') { wide64 = true; p += 2; }
        else if (*p == 'I' && p[1] == '6' && p[2] == '4') { wide64 = true; p += 3; }
        else if (*p == 'l' || *p == 'h') { ++p; }

        const std::size_t before = out.size();
        bool numeric = false, negative = false;
        switch (*p) {
        case '%':
            out.push_back('%');
            continue;
        case 'd':
        case 'i': {
            std::uint64_t b = take().bits();
            std::int64_t v = wide64 ? static_cast<std::int64_t>(b) : static_cast<std::int32_t>(b);
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            negative = v < 0;
            if (negative) out.push_back('-');
            AppendDigits<Out>(out, mag, 10, false);
            numeric = true;
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            std::uint64_t b = take().bits();
            std::uint64_t v = wide64 ? b : static_cast<std::uint32_t>(b);
            AppendDigits<Out>(out, v, *p == 'u' ? 10 : 16, *p == 'X');
            numeric = true;
            break;
        }
        case 's':
            AppendText<Conv>(out, take());
            break;
        case 'c':
            // The character's unit as the format's own units hold it.
            out.push_back(Conv::Put(static_cast<Unit>(take().bits())));
            break;
        default:
            // Not a conversion of ours: keep the text as written.
            for (const Char* q = start; q != p + (*p ? 1 : 0); ++q) out.push_back(Conv::Put(static_cast<Unit>(*q)));
            if (!*p) --p;
            continue;
        }
        // Padding never runs past the limit, however wide the field asks to be.
        const std::size_t field = out.size() - before;
        std::size_t pad = field < static_cast<std::size_t>(width) ? width - field : 0;
        pad = std::min(pad, limit - std::min(limit, before));
        if (pad == 0) continue;
        if (left) out.append(pad, ' ');
        else if (zeroPad && numeric) out.insert(before + (negative ? 1 : 0), pad, '0');
        else out.insert(before, pad, ' ');
    }
    if (out.size() > limit) out.resize(limit);
}

template <typename Conv, typename Char>
std::basic_string<typename Conv::Unit> Format(const Char* fmt, const FormatArg* next, const FormatArg* end,
                                              std::size_t limit) {
    std::basic_string<typename Conv::Unit> out;
    Format<Conv>(out, fmt, next, end, limit);
    return out;
}

}  // namespace

wstring16 FormatWide(const char16_t* format, FormatArgs args, std::size_t limit) {
    return Format<AsIs<char16_t>>(format, args.begin(), args.end(), limit);
}

wstring16 FormatWide(const char16_t* format, const std::vector<FormatArg>& args, std::size_t limit) {
    return Format<AsIs<char16_t>>(format, args.data(), args.data() + args.size(), limit);
}

std::string FormatWideNarrowed(const char16_t* format, FormatArgs args, std::size_t limit) {
    return Format<Narrowed>(format, args.begin(), args.end(), limit);
}

std::string FormatWideNarrowed(const char16_t* format, const std::vector<FormatArg>& args, std::size_t limit) {
    return Format<Narrowed>(format, args.data(), args.data() + args.size(), limit);
}

std::size_t FormatWideNarrowed(char* buffer, std::size_t capacity, const char16_t* format, FormatArgs args,
                               std::size_t limit) {
    FixedText<char> out(buffer, capacity);
    Format<Narrowed>(out, format, args.begin(), args.end(), limit);
    return out.full() ? SIZE_MAX : out.size();
}

std::string FormatNarrow(const char* format, FormatArgs args, std::size_t limit) {
    return Format<AsIs<char>>(format, args.begin(), args.end(), limit);
}

wstring16 UpToNul(const wstring16& s) {
    return s.substr(0, std::min(s.find(u'\0'), s.size()));
}

}  // namespace qf
