// Whether the boot disk already has a stretch of unpartitioned space behind
// a partition, large enough for the environment's partition.
#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/disk_io.h"
#include "installer_tools/log.h"
#include "platform/resources.h"

using namespace qf;
using namespace qf::platform;
using qf::tools::MethodLog;

namespace {

constexpr int kSlots = 4;
constexpr std::uint64_t kMegabyte = 1048576;
constexpr std::uint32_t kSafetyFactorMB = 25;  // UNPARTITIONED_SPACE_SAFETY_FACTOR, added to the request

// Sector arithmetic on values a caller's record may hold: wraps instead of
// overflowing, then compares as signed 64-bit numbers.
std::int64_t Sum(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t Difference(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
std::int64_t Bytes(std::int64_t sectors) { return static_cast<std::int64_t>(static_cast<std::uint64_t>(sectors) * 512); }

// The search, for a size in megabytes that may exceed 32 bits once the
// margin is added.
bool SearchUnpartitionedSpace(DriveFreeSpace& self, BootDriveData* pBootDrive, std::uint64_t megabytes) {
    MethodLog log(u"DriveFreeSpace::CheckUnPartitionedSpace");
    Platform& os = Current();
    unique_handle disk = tools::OpenForReading(tools::PhysicalDrivePath(pBootDrive->DiskNumber));
    if (!disk) {
        self.ErrorFlag = true;
        self.LastError = os.GetLastError();
        log(u"CreateFile failed, last error = %d", {self.LastError});
        return false;
    }
    tools::DiskGeometryEx geometry;
    if (!tools::GetDriveGeometryEx(disk.get(), &geometry)) {
        self.ErrorFlag = true;
        self.LastError = os.GetLastError();
        disk.reset();
        log(u"IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed, last error = %d", {self.LastError});
        return false;
    }
    pBootDrive->BytesPerSector = geometry.bytesPerSector;
    log(u"BytesPerSector = %d", {pBootDrive->BytesPerSector});
    pBootDrive->CylinderSize = geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    log(u"Cylinder size = %d", {pBootDrive->CylinderSize});
    // The margin of one cylinder is added as its count of sectors, not bytes.
    const std::int64_t needed = static_cast<std::int64_t>(megabytes * kMegabyte + pBootDrive->CylinderSize);
    log(u"we need %lld bytes of free space", {needed});
    const std::int64_t diskSectors = geometry.diskSize / 512;

    for (int i = 0; i < kSlots; ++i) {
        const PartitionTableEntry& slot = pBootDrive->PartitionTable[i];
        if (slot.PartitionType == 0) continue;
        log(u"partition %d is a real partition, checking to see if there is enough free space between this and any "
            u"other partition",
            {i});
        const std::int64_t end = Sum(slot.StartingSector, slot.SizeInSectors);
        std::int64_t nextStart = diskSectors;
        int next = 0;
        bool later = false;
        log(u"Comparing other partitions to see which is next on the drive");
        for (int j = 0; j < kSlots; ++j) {
            const PartitionTableEntry& other = pBootDrive->PartitionTable[j];
            if (other.PartitionType == 0) continue;
            log(u"checking partition %d that starts at sector %llu", {j, other.StartingSector});
            if (other.StartingSector < end) {
                log(u"partition %d is not later on the drive than partition %d", {j, i});
                continue;
            }
            log(u"partition %d is later on the drive than partition %d and is a valid partition", {j, i});
            later = true;
            if (other.StartingSector < nextStart) {
                nextStart = other.StartingSector;
                next = j;
            } else {
                log(u"partition %d is not next to partition %d on the drive so not checking free space", {j, i});
            }
        }
        if (later) {
            const std::int64_t gap = Bytes(Difference(nextStart, end));
            log(u"free space in bytes between partition %d and partition %d = %llu", {i, next, gap});
            log(u"Free space needed in bytes = %llu", {needed});
            if (gap > needed) {
                log(u"Found enough free space");
                return true;
            }
            log(u"Did not find enough free space between these two partitions, continuing to look");
            continue;
        }
        log(u"Did not find any later partitions than this one, checking versus the end of the drive");
        log(u"Last sector of partition %d is %llu", {i, end});
        log(u"Last sector of drive is %llu", {diskSectors});
        if (Difference(geometry.diskSize, Bytes(end)) > needed) {
            log(u"Found enough free space at end of drive");
            return true;
        }
        // Slots need not follow disk order: a gap behind a partition in a
        // later slot may still be large enough.
        log(u"did not find enough free space at end of drive");
    }
    log(u"Did not find enough free space");
    return false;
}

}  // namespace

bool DriveFreeSpace::DoNotNeedToResize(QF_DWORD nRequiredPartitionSizeInMB) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::DoNotNeedToResize");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) {
            log(u"Cannot get the boot drive data");
            return false;
        }
        const std::uint64_t wanted = std::uint64_t{nRequiredPartitionSizeInMB} + kSafetyFactorMB;
        log(u"nRequiredPartitionSizeInMB = %d", {nRequiredPartitionSizeInMB});
        log(u"UNPARTITIONED_SPACE_SAFETY_FACTOR = %d", {kSafetyFactorMB});
        log(u"Therefore looking for %dMB of unpartitioned space", {wanted});
        if (!SearchUnpartitionedSpace(*this, &record, wanted)) return false;
        log(u"Already unpartitioned space");
        return true;
    });
}

bool DriveFreeSpace::CheckUnPartitionedSpace(BootDriveData* pBootDrive, QF_DWORD nRequiredSizeInMB) {
    return qf::AtBoundary(false, [&]() -> bool {
        return SearchUnpartitionedSpace(*this, pBootDrive, nRequiredSizeInMB);
    });
}
