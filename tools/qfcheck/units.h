// Sizes and numbers as the reports write them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qfcheck {

// 2000000000 -> "2,000,000,000".
inline std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A byte count in binary units, one decimal from GiB on: "149.1 GiB",
// "1945 MiB", "512 bytes".
inline std::string Bytes(std::uint64_t n) {
    char text[48];
    if (n >= (1ull << 40)) std::snprintf(text, sizeof text, "%.1f TiB", n / double(1ull << 40));
    else if (n >= (10ull << 30)) std::snprintf(text, sizeof text, "%.1f GiB", n / double(1ull << 30));
    else if (n >= (1ull << 30)) std::snprintf(text, sizeof text, "%.2f GiB", n / double(1ull << 30));
    else if (n >= (1ull << 20)) std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(n >> 20));
    else if (n >= 1024) std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(n >> 10));
    else std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(n));
    return text;
}

}  // namespace qfcheck
