// The formatter with arbitrary formats and arguments of every kind.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // First byte: how many argument descriptors follow; then the descriptors
    // (kind, value); the rest is the format in both widths.
    std::size_t n = data[0] % 8, at = 1;
    std::vector<qf::FormatArg> args;
    static const char16_t kWide[] = u"wide";
    static const char kNarrow[] = "narrow";
    for (std::size_t i = 0; i < n && at + 9 <= size; ++i, at += 9) {
        std::uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(data[at + 1 + k]) << (8 * k);
        switch (data[at] % 6) {
        case 0: args.emplace_back(static_cast<long long>(v)); break;
        case 1: args.emplace_back(static_cast<unsigned long long>(v)); break;
        case 2: args.emplace_back(static_cast<char16_t>(v)); break;
        case 3: args.emplace_back(v & 1 ? kWide : static_cast<const char16_t*>(nullptr)); break;
        case 4: args.emplace_back(v & 1 ? kNarrow : static_cast<const char*>(nullptr)); break;
        default: args.emplace_back(static_cast<int>(v)); break;
        }
    }
    std::u16string wide;
    std::string narrow;
    for (std::size_t i = at; i < size; ++i) {
        narrow.push_back(static_cast<char>(data[i] ? data[i] : ' '));
        wide.push_back(static_cast<char16_t>(data[i] ? data[i] : ' '));
    }
    // Widths come from the input: keep them bounded the way a caller's limit does.
    const std::u16string out = qf::FormatWide(wide.c_str(), args, 8000);
    if (out.size() > 8000) __builtin_trap();
    (void)qf::UpToNul(out);
    return 0;
}
