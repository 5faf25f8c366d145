#include "smbios/smbios_strings.h"

#include <algorithm>
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

namespace {

// Each candidate position found with memchr (its first byte), then compared
// in full. For a pattern too short for the skip table to pay off.
bool FirstByteSearch(const std::uint8_t* data, std::size_t size, const std::uint8_t* pattern, std::size_t n) {
    // An empty pattern is tested against its terminator, which is read at p:
    // so p stays below `size` even then.
    if (size == 0) return false;
    const std::uint8_t* const last = data + (n != 0 ? size - n : size - 1);
    for (const std::uint8_t* at = data; at <= last; ++at) {
        at = static_cast<const std::uint8_t*>(std::memchr(at, pattern[0], static_cast<std::size_t>(last - at) + 1));
        if (!at) return false;
        if (std::memcmp(at, pattern, n) == 0) return true;
    }
    return false;
}

// A byte pair's slot in the table of pairs.
inline std::uint8_t PairSlot(std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a * 31u + b); }

// Horspool's search on byte pairs, for a pattern of 4 to 256 bytes: the pair
// that ends the window says how far the window may move without passing an
// occurrence. A pair that ends nowhere in the pattern moves it by n - 1, a
// step that does not wait for the table (the common case, and the reason the
// table holds where a pair ends rather than how far to move); the pattern's
// own last pair asks for a full comparison. Pairs that share a slot are
// taken as the one that ends last in the pattern, the shorter move.
bool PairSkipSearch(const std::uint8_t* data, std::size_t size, const std::uint8_t* pattern, std::size_t n) {
    const std::size_t m = n - 1;
    std::uint8_t endsAt[256] = {};  // 0: no pair of the slot ends in the pattern
    for (std::size_t j = 1; j < m; ++j) endsAt[PairSlot(pattern[j - 1], pattern[j])] = static_cast<std::uint8_t>(j);
    const std::uint8_t last = PairSlot(pattern[m - 1], pattern[m]);
    const std::size_t afterMiss = m - endsAt[last];
    endsAt[last] = static_cast<std::uint8_t>(m);
    for (std::size_t end = m; end < size;) {  // `end`: the window's last byte
        const std::size_t j = endsAt[PairSlot(data[end - 1], data[end])];
        if (j == 0) {
            end += m;
        } else if (j != m) {
            end += m - j;
        } else {
            if (std::memcmp(data + end - m, pattern, n) == 0) return true;
            end += afterMiss;
        }
    }
    return false;
}

}  // namespace

bool ContainsPattern(const std::uint8_t* data, std::size_t size, const char* pattern) {
    const std::size_t n = std::strlen(pattern);
    if (!data || size < n) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pattern);
    // Whether the bytes hold the pattern is all that is asked: the pair skip
    // finds an occurrence wherever a test at every position would.
    if (n < 4 || n > 256 || size < 256) return FirstByteSearch(data, size, bytes, n);
    return PairSkipSearch(data, size, bytes, n);
}

}  // namespace qf::smbios
