// Disk and volume control requests, with the system's binary answers read
// through a bounds-checked cursor.
#pragma once

#include <cstdint>

#include "platform/platform.h"

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

}  // namespace qf::tools
