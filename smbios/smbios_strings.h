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
// `size` bytes at `data`, compared unsigned and case-sensitive: the answer a
// test at every start position from 0 to size - n gives. An empty pattern is
// found at a NUL byte (its terminator is what is compared there). False
// when the bytes are fewer than the pattern. Nothing outside the bytes is read.
bool ContainsPattern(const std::uint8_t* data, std::size_t size, const char* pattern);

}  // namespace qf::smbios
