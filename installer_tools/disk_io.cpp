#include "installer_tools/disk_io.h"

#include "common/byte_cursor.h"

namespace qf::tools {

bool GetVolumeDiskExtent(platform::Handle volume, VolumeExtent* extent, std::uint32_t* extentCount) {
    // VOLUME_DISK_EXTENTS: the count, then DISK_EXTENT at 8 (64-bit aligned).
    std::uint8_t buffer[32] = {};
    std::uint32_t returned = 0;
    if (!platform::Current().DeviceIoControl(volume, platform::kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, buffer,
                                             sizeof buffer, &returned))
        return false;
    ByteCursor in(buffer, sizeof buffer);
    *extentCount = in.u32();
    in.seek(8);
    extent->diskNumber = in.u32();
    in.seek(16);
    extent->startingOffset = in.i64();
    extent->extentLength = in.i64();
    return true;
}

}  // namespace qf::tools
