// Disk and volume control requests, with the system's binary answers read
// through a bounds-checked cursor.
#pragma once

#include <cstdint>
#include <vector>

#include "common/text.h"
#include "platform/resources.h"

namespace qf::tools {

struct VolumeExtent {
    std::uint32_t diskNumber = 0;
    std::int64_t startingOffset = 0;
    std::int64_t extentLength = 0;
};

// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS with room for one extent (32 bytes):
// the first extent and the extent count. False (reason in GetLastError) when
// the request fails, as it does for a volume of several extents.
bool GetVolumeDiskExtent(platform::Handle volume, VolumeExtent* extent, std::uint32_t* extentCount);

// "\\.\PHYSICALDRIVEn", for any disk number.
wstring16 PhysicalDrivePath(std::uint32_t diskNumber);
// Opens a disk or volume path for reading, shared with readers and writers.
platform::unique_handle OpenForReading(const wstring16& path, std::uint32_t flagsAndAttributes = 0);

// One entry of a disk's layout, as far as the libraries use it.
struct LayoutEntry {
    std::uint32_t style = 0;  // 0 MBR, 1 GPT, 2 raw
    std::int64_t startingOffset = 0;
    std::int64_t partitionLength = 0;
    std::uint8_t mbrType = 0;  // the MBR type byte of the entry's union
};

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX into a buffer with room for 24 entries
// (3,504 bytes): the first `maxEntries` entries the layout reports. False
// (reason in GetLastError) when the request fails, as it does for a layout
// of more than 24 entries.
bool GetDriveLayoutEntries(platform::Handle disk, std::size_t maxEntries, std::vector<LayoutEntry>* entries);

struct DiskGeometryEx {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t tracksPerCylinder = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::int64_t diskSize = 0;  // bytes
};

// IOCTL_DISK_GET_DRIVE_GEOMETRY_EX into one zero-filled DISK_GEOMETRY_EX
// (40 bytes). False (reason in GetLastError) when the request fails.
bool GetDriveGeometryEx(platform::Handle disk, DiskGeometryEx* geometry);

}  // namespace qf::tools
