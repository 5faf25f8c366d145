// Looking into one structure's bytes: its numbered strings, and a byte
// pattern anywhere in a span. Both stay within the span they are given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "smbios/raw_smbios_table.h"

namespace qf::smbios {

// String `number` (from 1) of the structure's string-set, which begins after
// its formatted area: a NUL-terminated 8-bit string inside the table copy.
// Null for number 0 (no string) and for a number past the last string of
// the set.
const char* SmbiosString(const SmbiosStructure& structure, std::uint8_t number);

// Whether the NUL-terminated `pattern` (terminator excluded) occurs in the
// `size` bytes at `data`: each start position from 0 to size - n is tested
// first against the pattern's first byte (its terminator, when it is empty)
// and only then compared in full, unsigned and case-sensitive. False when
// the bytes are fewer than the pattern.
bool ContainsPattern(const std::uint8_t* data, std::size_t size, const char* pattern);

}  // namespace qf::smbios
