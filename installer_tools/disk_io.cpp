#include "installer_tools/disk_io.h"

#include <algorithm>

#include "common/byte_cursor.h"
#include "common/format.h"

namespace qf::tools {

using namespace platform;

bool GetVolumeDiskExtent(Handle volume, VolumeExtent* extent, std::uint32_t* extentCount) {
    // VOLUME_DISK_EXTENTS: the count, then DISK_EXTENT at 8 (64-bit aligned).
    std::uint8_t buffer[32] = {};
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(volume, kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, buffer, sizeof buffer,
                                   &returned))
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

wstring16 PhysicalDrivePath(std::uint32_t diskNumber) {
    return FormatWide(u"\\\\.\\PHYSICALDRIVE%d", {diskNumber});
}

unique_handle OpenForReading(const wstring16& path, std::uint32_t flagsAndAttributes) {
    return unique_handle(
        Current().CreateFileW(path.c_str(), kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting,
                              flagsAndAttributes));
}

bool GetDriveLayoutEntries(Handle disk, std::size_t maxEntries, std::vector<LayoutEntry>* entries) {
    // DRIVE_LAYOUT_INFORMATION_EX: style and entry count, a 40-byte union,
    // then PARTITION_INFORMATION_EX entries of 144 bytes from offset 48.
    constexpr std::size_t kHeader = 48, kEntry = 144, kRoom = 24;
    std::vector<std::uint8_t> buffer(kHeader + kEntry * kRoom, 0);
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(disk, kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer.data(),
                                   static_cast<std::uint32_t>(buffer.size()), &returned))
        return false;
    ByteCursor in(buffer.data(), buffer.size());
    in.seek(4);
    const std::size_t count = std::min<std::size_t>({in.u32(), kRoom, maxEntries});
    entries->clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kHeader + kEntry * i;
        LayoutEntry e;
        in.seek(at);
        e.style = in.u32();
        in.seek(at + 8);
        e.startingOffset = in.i64();
        e.partitionLength = in.i64();
        in.seek(at + 32);
        e.mbrType = in.u8();
        entries->push_back(e);
    }
    return true;
}

bool GetDriveGeometryEx(Handle disk, DiskGeometryEx* geometry) {
    // DISK_GEOMETRY_EX: DISK_GEOMETRY (Cylinders, MediaType,
    // TracksPerCylinder, SectorsPerTrack, BytesPerSector), DiskSize at 24.
    std::uint8_t buffer[40] = {};
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(disk, kIoctlDiskGetDriveGeometryEx, nullptr, 0, buffer, sizeof buffer, &returned))
        return false;
    ByteCursor in(buffer, sizeof buffer);
    in.seek(12);
    geometry->tracksPerCylinder = in.u32();
    geometry->sectorsPerTrack = in.u32();
    geometry->bytesPerSector = in.u32();
    geometry->diskSize = in.i64();
    return true;
}

}  // namespace qf::tools
