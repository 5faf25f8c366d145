// Which partitions of the boot disk have enough free space to be shrunk for
// the environment's partition, and the installer's overall disk question.
#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "common/format.h"
#include "installer_tools/large_integer.h"
#include "installer_tools/log.h"
#include "platform/platform.h"

using namespace qf;
using qf::tools::MethodLog;

namespace {

constexpr QF_DWORD kSlots = 4;
constexpr std::uint64_t kMegabyte = 1048576;
constexpr QF_DWORD kNtfs = 0x07, kFat32Chs = 0x0B, kFat32Lba = 0x0C;
// What Test asks of unpartitioned space, whatever size it is given.
constexpr QF_DWORD kUnpartitionedSizeMB = 1945;

}  // namespace

bool DriveFreeSpace::CheckFreePartition() {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::CheckFreePartition");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) return false;
        for (const PartitionTableEntry& slot : record.PartitionTable) {
            if (slot.PartitionType == 0) {
                log(u"found free partition table entry\n");
                return true;
            }
        }
        log(u"Did not find free partition table entry\n");
        return false;
    });
}

bool DriveFreeSpace::GetFreeSpaceInPartition(BootDriveData* pBootDrive, QF_DWORD index,
                                             QF_ULARGE_INTEGER* pFreeBytes) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::GetFreeSpaceInPartition");
        // The record has four slots; nothing past them is read.
        if (index >= kSlots) return false;
        platform::Platform& os = platform::Current();
        // A slot without a letter makes "\\.\", which names no volume.
        const wstring16 path =
            UpToNul(FormatWide(u"\\\\.\\%c:\\", {static_cast<char16_t>(pBootDrive->PartitionTable[index].LogicalDrive)}));
        log(u"Checking free space in partition %s", {path});
        std::uint64_t freeBytes = 0;
        if (!os.GetDiskFreeSpaceExW(path.c_str(), nullptr, nullptr, &freeBytes)) {
            log(u"GetDiskFreeSpaceEx failed error code %d\n", {os.GetLastError()});
            return false;
        }
        tools::StoreQuad(pFreeBytes, freeBytes);
        log(u"Free space in partition = %lld bytes", {freeBytes});
        return true;
    });
}

bool DriveFreeSpace::CheckFreeSpaceInPartition(BootDriveData* pBootDrive, QF_DWORD nRequiredSizeInMB,
                                               QF_DWORD index) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::CheckFreeSpaceInPartition");
        const std::uint64_t needed = std::uint64_t{nRequiredSizeInMB} * kMegabyte;
        tools::ULargeInteger freeBytes;
        if (!GetFreeSpaceInPartition(pBootDrive, index, freeBytes.get())) {
            log(u"GetFreeSpaceInPartition failed");
            return false;
        }
        if (freeBytes.value() >= needed) {
            log(u"Free space needed = %lld bytes", {needed});
            return true;
        }
        log(u"Not enough free space in partition %d", {index});
        return false;
    });
}

bool DriveFreeSpace::CanResize(QF_DWORD mode, QF_DWORD nRequiredSizeInMB, QF_DWORD* pValue,
                               QF_DWORD* dwPartitionsCanResizeBitmask) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::CanResize");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) {
            log(u"Cannot get the boot drive data");
            return false;
        }
        bool result = false;
        const auto qualifies = [&](QF_DWORD i) {
            const QF_DWORD type = record.PartitionTable[i].PartitionType;
            log(u"Resizable Partition type = %d", {type});
            *dwPartitionsCanResizeBitmask |= QF_DWORD{1} << i;
            log(u"*dwPartitionsCanResizeBitmask = %d", {*dwPartitionsCanResizeBitmask});
            // The value carries the type of the last partition that qualified,
            // so a caller can tell NTFS from FAT32.
            *pValue = type;
            result = true;
        };
        if (mode == 2) {
            for (QF_DWORD i = 0; i < kSlots; ++i) {
                const PartitionTableEntry& slot = record.PartitionTable[i];
                if (slot.PartitionType == kNtfs || slot.PartitionType == kFat32Chs || slot.PartitionType == kFat32Lba) {
                    if (CheckFreeSpaceInPartition(&record, nRequiredSizeInMB, slot.PartitionNumber))
                        qualifies(i);
                    else
                        log(u"Not enough free space in partition %d", {i});
                } else {
                    log(u"Partition %d is not FAT or NTFS", {i});
                }
            }
            return result;
        }
        if (mode == 1) {
            log(u"Only checking NTFS partitions");
            for (QF_DWORD i = 0; i < kSlots; ++i) {
                const PartitionTableEntry& slot = record.PartitionTable[i];
                if (slot.PartitionType != kNtfs) continue;
                log(u"Found NTFS partition");
                if (CheckFreeSpaceInPartition(&record, nRequiredSizeInMB, slot.PartitionNumber))
                    qualifies(i);
                else
                    log(u"Not enough free space in partition %d", {i});
            }
            return result;
        }
        return false;
    });
}

bool DriveFreeSpace::Test(QF_DWORD nRequiredSizeInMB) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::Test");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) return false;
        if (!CheckFreePartition()) {
            log(u"No Free Primary Partition table entry found");
            return false;
        }
        if (CheckUnPartitionedSpace(&record, kUnpartitionedSizeMB)) return true;
        for (QF_DWORD i = 0; i < kSlots; ++i) {
            const PartitionTableEntry& slot = record.PartitionTable[i];
            if (slot.PartitionType != kNtfs) {
                log(u"Partition %d is not a resizable type", {i});
                continue;
            }
            if (CheckFreeSpaceInPartition(&record, nRequiredSizeInMB, slot.PartitionNumber)) {
                log(u"Found a resizable partition");
                return true;
            }
            log(u"no free space in partition");
        }
        return false;
    });
}
