// Whether the environment's own partition (type 0x49) is in one of the boot
// disk's four primary slots, and its size.
#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/large_integer.h"
#include "installer_tools/log.h"

using qf::tools::MethodLog;

namespace {

constexpr QF_DWORD kQuillFramePartitionType = 0x49;

}  // namespace

bool DriveFreeSpace::IsQuillFrameInstalled() {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::IsQuillFrameInstalled");
        log(u"Entered");
        BootDriveData record{};
        if (!GetBootDriveData(&record)) {
            log(u"Cannot get the boot drive data");
            return false;
        }
        log(u"Got boot drive data");
        if (!QuillFramePartitionExists(&record)) {
            log(u"QuillFramePartitionExists returns false");
            return false;
        }
        log(u"QuillFramePartitionExists returns true");
        return true;
    });
}

bool DriveFreeSpace::QuillFramePartitionExists(BootDriveData* pBootDrive) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::QuillFramePartitionExists");
        for (const PartitionTableEntry& slot : pBootDrive->PartitionTable) {
            if (slot.PartitionType == kQuillFramePartitionType) {
                log(u"Found QuillFrame partition");
                return true;
            }
        }
        log(u"Did not find QuillFrame partition");
        return false;
    });
}

bool DriveFreeSpace::GetQFPartitionSize(BootDriveData* pBootDrive, QF_LARGE_INTEGER* pSize) {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::GetQFPartitionSize");
        for (const PartitionTableEntry& slot : pBootDrive->PartitionTable) {
            log(u"pBootDrive->PartitionTable[i].PartitionType = %d", {slot.PartitionType});
            if (slot.PartitionType == kQuillFramePartitionType) {
                log(u"Found QuillFrame partition");
                qf::tools::StoreQuad(pSize, static_cast<std::int64_t>(static_cast<std::uint64_t>(slot.SizeInSectors) * 512));
                return true;
            }
        }
        log(u"Did not find QuillFrame partition");
        return false;
    });
}
