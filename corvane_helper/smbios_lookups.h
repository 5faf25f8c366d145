// The helper library's one process-wide SMBIOS table and the lookups on it:
// numbered strings, the System Information header, structure dumps.
#pragma once

#include <cstdint>

#include "smbios/raw_smbios_table.h"

namespace qf::helper {

// Created empty when the library is loaded, its copy released at unload.
smbios::RawSmbiosTable& ProcessSmbiosTable();
// Back to the state of a fresh load (no copy, versions 0).
void ResetProcessSmbiosTable();

// String `number` (from 1) of a structure's string-set; null for 0 and for a
// number past the last string of the set.
const char* GetSmbiosString(const smbios::SmbiosStructure& structure, std::uint8_t number);

// The header of the first System Information (type 1) structure.
struct SystemInformationHeader {
    std::uint8_t type = 0;
    std::uint8_t length = 0;
    std::uint16_t handle = 0;
    std::uint8_t manufacturerNumber = 0;
    // Inside the process-wide table copy: valid until the next read.
    const char* manufacturer = nullptr;
};

// Fills `header` from the process-wide table: false, and `header` left as
// it is, when the table holds no type-1 structure. Its fields are taken from
// SMBIOS 2.1 on; with an earlier version they stay zero.
bool GetSystemInformation(SystemInformationHeader* header);

// Writes the first structure of `type` (its span, in text mode) into the
// file: 1 when written or when there is no such structure, 0 when the file
// cannot be created.
int DumpSmbiosStructure(int type, const char* fileName);

}  // namespace qf::helper
