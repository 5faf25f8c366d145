#include "smbios/smbios_strings.h"

#include <cstring>

#include "common/byte_cursor.h"

namespace qf::smbios {

const char* SmbiosString(const SmbiosStructure& structure, std::uint8_t number) {
    if (number == 0 || !structure.bytes) return nullptr;
    ByteCursor in(structure.bytes, structure.span);
    // The string-set begins after the formatted area; the span ends with the
    // first NUL of the closing pair, so every string in it is terminated.
    std::size_t at = in.peek(1);
    for (std::uint8_t n = 1;; ++n) {
        if (!in.has(at, 1) || in.peek(at) == 0) return nullptr;  // the set ends before string `number`
        if (n == number) return reinterpret_cast<const char*>(structure.bytes + at);
        while (in.has(at, 1) && in.peek(at) != 0) ++at;
        ++at;
    }
}

bool ContainsPattern(const std::uint8_t* data, std::size_t size, const char* pattern) {
    const std::size_t n = std::strlen(pattern);
    if (!data || size < n) return false;
    const auto first = static_cast<std::uint8_t>(pattern[0]);
    // An empty pattern is tested against its terminator, which is read at p:
    // so p stays below `size` even then.
    for (std::size_t p = 0; p <= size - n && p < size; ++p)
        if (data[p] == first && std::memcmp(data + p, pattern, n) == 0) return true;
    return false;
}

}  // namespace qf::smbios
