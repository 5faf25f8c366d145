// The boot disk as the planning methods see it: its number, four slots from
// the first four entries of its layout, and on each slot the letter of the
// volume that lies exactly on it.
#include <vector>

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
constexpr std::int64_t kSectorBytes = 512;  // whatever the disk reports
constexpr char16_t kRule[] = u"--------------------------------------";

}  // namespace

bool DriveFreeSpace::GetBootDriveData(BootDriveData* pBootDrive) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::GetBootDriveData");
        log(u"entered");
        if (!GetPhysicalBootDrive(&pBootDrive->DiskNumber)) {
            log(u"GetPhysicalBootDrive failed");
            return false;
        }
        log(u"Back from GetPhysicalBootDrive");
        if (!PopulatePartitionTableEntries(pBootDrive)) {
            log(u"PopulatePartitionTableEntries failed");
            return false;
        }
        log(u"Leaving");
        return true;
    });
}

bool DriveFreeSpace::PopulatePartitionTableEntries(BootDriveData* pBootDrive) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::PopulatePartitionTableEntries");
        Platform& os = Current();
        const wstring16 diskPath = tools::PhysicalDrivePath(pBootDrive->DiskNumber);
        log(u"Opening %s", {diskPath});

        std::vector<tools::LayoutEntry> layout;
        {
            unique_handle disk = tools::OpenForReading(diskPath);
            if (!disk) {
                log(u"Createfile failed");
                return false;
            }
            std::uint32_t returned = 0;
            if (!os.DeviceIoControl(disk.get(), kIoctlDiskUpdateProperties, nullptr, 0, nullptr, 0, &returned)) {
                disk.reset();
                log(u"IOCTL_DISK_UPDATE_PROPERTIES");
                return false;
            }
            if (!tools::GetDriveLayoutEntries(disk.get(), kSlots, &layout)) {
                ErrorFlag = true;
                LastError = os.GetLastError();
                disk.reset();
                log(u"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error %d", {LastError});
                return false;
            }
        }

        for (int i = 0; i < kSlots; ++i) {
            PartitionTableEntry& slot = pBootDrive->PartitionTable[i];
            // Slots past the entries the layout reports are empty.
            const tools::LayoutEntry entry = static_cast<std::size_t>(i) < layout.size() ? layout[i] : tools::LayoutEntry{};
            slot.PartitionNumber = i;
            slot.PartitionStyle = entry.style;
            const bool mbr = entry.style == 0;
            slot.PartitionType = mbr ? entry.mbrType : 0;
            slot.StartingSector = mbr ? entry.startingOffset / kSectorBytes : 0;
            slot.SizeInSectors = mbr ? entry.partitionLength / kSectorBytes : 0;
        }

        std::uint32_t mask = os.GetLogicalDrives();
        if (mask == 0) {
            log(u"GetLogicalDrives failed error = %d", {os.GetLastError()});
            return false;
        }
        log(u"About to enter the logical drives loop");
        for (char16_t letter = u'A'; mask != 0; ++letter, mask >>= 1) {
            if (!(mask & 1)) continue;
            log(u"Checking drive letter %c", {letter});
            const wstring16 volumePath = FormatWide(u"\\\\.\\%c:", {letter});
            log(u"szLogicalDrive = %s", {volumePath});
            unique_handle volume = tools::OpenForReading(volumePath, kFileAttributeNormal);
            if (!volume) {
                log(u"CreateFile failed error = %d", {os.GetLastError()});
                continue;
            }
            tools::VolumeExtent extent;
            std::uint32_t extentCount = 0;
            if (!tools::GetVolumeDiskExtent(volume.get(), &extent, &extentCount)) {
                ErrorFlag = true;
                log(u"IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = %d", {os.GetLastError()});
                log(u"This means that this drive letter is not a hard drive so ignoring");
                continue;
            }
            for (int i = 0; i < kSlots; ++i) {
                PartitionTableEntry& slot = pBootDrive->PartitionTable[i];
                if (extent.diskNumber != pBootDrive->DiskNumber) continue;
                log(u"Partition %d is on drive %d", {i, pBootDrive->DiskNumber});
                if (extent.startingOffset / kSectorBytes != slot.StartingSector) continue;
                log(u"Starting offset is the same");
                if (extent.extentLength / kSectorBytes != slot.SizeInSectors) continue;
                slot.LogicalDrive = letter;
                log(u"length is the same, this is the partition");
                log(u"pBootDrive->PartitionTable[i].LogicalDrive = %c", {letter});
            }
        }

        for (int i = 0; i < kSlots; ++i) {
            const PartitionTableEntry& slot = pBootDrive->PartitionTable[i];
            log(kRule);
            log(u"Partition %d, partition number = %d", {i, slot.PartitionNumber});
            log(u"Partition %d, Partition Style = %d", {i, slot.PartitionStyle});
            log(u"Partition %d, Logical drive = %c", {i, static_cast<char16_t>(slot.LogicalDrive)});
            log(u"Partition %d, partition type = 0x%x", {i, slot.PartitionType});
            log(u"Partition %d, Starting sector = %llu", {i, slot.StartingSector});
            log(u"Partition %d, Size in sectors = %llu", {i, slot.SizeInSectors});
            log(kRule);
        }
        return true;
    });
}

bool DriveFreeSpace::GetDriveLetter(QF_WCHAR* pLetter, QF_DWORD index) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::GetDriveLetter");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) {
            log(u"Cannot get the boot drive data");
            return false;
        }
        if (index >= kSlots || record.PartitionTable[index].PartitionType == 0) return false;
        *pLetter = record.PartitionTable[index].LogicalDrive;
        return true;
    });
}

bool DriveFreeSpace::GetNumberPartitions(QF_DWORD* pCount) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::GetNumberPartitions");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) {
            log(u"Cannot get the boot drive data");
            return false;
        }
        QF_DWORD count = 0;
        while (count < kSlots && record.PartitionTable[count].PartitionType != 0) ++count;
        *pCount = count;
        return true;
    });
}
