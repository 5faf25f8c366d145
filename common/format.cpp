#include "common/format.h"

#include <algorithm>

namespace qf {
namespace {

template <typename Char>
std::basic_string<Char> TextOf(const FormatArg& a) {
    static const char kNull[] = "(null)";
    std::basic_string<Char> out;
    if (a.kind() == FormatArg::Kind::Wide && a.wide()) {
        for (const char16_t* p = a.wide(); *p; ++p) out.push_back(static_cast<Char>(*p));
    } else if (a.kind() == FormatArg::Kind::Narrow && a.narrow()) {
        for (const char* p = a.narrow(); *p; ++p) out.push_back(static_cast<Char>(static_cast<unsigned char>(*p)));
    } else if (a.kind() == FormatArg::Kind::Wide || a.kind() == FormatArg::Kind::Narrow) {
        for (const char* p = kNull; *p; ++p) out.push_back(static_cast<Char>(*p));
    }
    return out;
}

std::string Digits(std::uint64_t v, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string s;
    do {
        s.push_back(digits[v % base]);
        v /= base;
    } while (v != 0);
    std::reverse(s.begin(), s.end());
    return s;
}

template <typename Char>
std::basic_string<Char> Format(const Char* fmt, const FormatArg* next, const FormatArg* end, std::size_t limit) {
    std::basic_string<Char> out;
    const FormatArg zero(0);
    auto take = [&]() -> const FormatArg& { return next != end ? *next++ : zero; };

    for (const Char* p = fmt; *p && out.size() < limit; ++p) {
        if (*p != '%') {
            out.push_back(*p);
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

        std::basic_string<Char> field;
        bool numeric = false;
        switch (*p) {
        case '%':
            out.push_back('%');
            continue;
        case 'd':
        case 'i': {
            std::uint64_t b = take().bits();
            std::int64_t v = wide64 ? static_cast<std::int64_t>(b) : static_cast<std::int32_t>(b);
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            std::string d = Digits(mag, 10, false);
            if (v < 0) d.insert(d.begin(), '-');
            field.assign(d.begin(), d.end());
            numeric = true;
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            std::uint64_t b = take().bits();
            std::uint64_t v = wide64 ? b : static_cast<std::uint32_t>(b);
            std::string d = Digits(v, *p == 'u' ? 10 : 16, *p == 'X');
            field.assign(d.begin(), d.end());
            numeric = true;
            break;
        }
        case 's':
            field = TextOf<Char>(take());
            break;
        case 'c':
            field.push_back(static_cast<Char>(take().bits()));
            break;
        default:
            // Not a conversion of ours: keep the text as written.
            out.append(start, p + (*p ? 1 : 0));
            if (!*p) --p;
            continue;
        }
        // Padding never runs past the limit, however wide the field asks to be.
        std::size_t pad = field.size() < static_cast<std::size_t>(width) ? width - field.size() : 0;
        pad = std::min(pad, limit - std::min(limit, out.size()));
        if (left) {
            out += field;
            out.append(pad, ' ');
        } else if (zeroPad && numeric) {
            std::size_t sign = (!field.empty() && field[0] == '-') ? 1 : 0;
            field.insert(sign, pad, '0');
            out += field;
        } else {
            out.append(pad, ' ');
            out += field;
        }
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

}  // namespace

wstring16 FormatWide(const char16_t* format, FormatArgs args, std::size_t limit) {
    return Format<char16_t>(format, args.begin(), args.end(), limit);
}

wstring16 FormatWide(const char16_t* format, const std::vector<FormatArg>& args, std::size_t limit) {
    return Format<char16_t>(format, args.data(), args.data() + args.size(), limit);
}

std::string FormatNarrow(const char* format, FormatArgs args, std::size_t limit) {
    return Format<char>(format, args.begin(), args.end(), limit);
}

wstring16 UpToNul(const wstring16& s) {
    return s.substr(0, std::min(s.find(u'\0'), s.size()));
}

}  // namespace qf
