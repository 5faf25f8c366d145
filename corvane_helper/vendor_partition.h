// A physical disk's unallocated space, and removal of the vendor's
// partition (type 0x49) through diskpart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qf::helper {

// "\\.\PhysicalDrive" and the number left-justified in three characters;
// the system drops the blanks when it opens the path.
std::string PhysicalDrivePath(int diskNumber);

// The disk's size in 512-byte sectors; nothing when it cannot be read.
std::optional<std::uint64_t> GetDiskSectorCount(int diskNumber);

// The script "DEL_VRA_SCRIPT_FILE" in the folder: 0, or -1 when it cannot
// be written (a folder too long for the path included).
int WriteDeletionScript(int diskNumber, std::uint32_t partitionNumber, const char* folder);

// Runs the system's diskpart on the script in the folder and waits for it:
// 0 when it carried the script out, -1 when it could not be started (after
// a message box) or ended with an error.
int RunDeletionScript(const char* folder);

}  // namespace qf::helper
