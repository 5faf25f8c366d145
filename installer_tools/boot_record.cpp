// The boot disk's first sector, dumped to the log, and the request that
// makes the system read the boot disk's partition table again.
#include <algorithm>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/disk_io.h"
#include "installer_tools/log.h"
#include "platform/resources.h"

using namespace qf;
using namespace qf::platform;
using qf::tools::MethodLog;

bool DriveFreeSpace::VerifyMBRIsWindows() {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::VerifyMBRIsWindows");
        Platform& os = Current();
        BootDriveData record{};
        if (!GetBootDriveData(&record)) return false;
        log(u"Entered");
        unique_handle disk = tools::OpenForReading(tools::PhysicalDrivePath(record.DiskNumber));
        if (!disk) {
            ErrorFlag = true;
            LastError = os.GetLastError();
            log(u"CreateFile failed");
            return false;
        }
        std::uint8_t sector[512] = {};
        std::uint32_t read = 0;
        if (!os.ReadFile(disk.get(), sector, sizeof sector, &read)) {
            disk.reset();
            log(u"Cannot read the MBR");
            return false;
        }
        log(u"reading the MBR returned %d bytes", {read});
        // One line per byte, the byte taken as a signed character; never past
        // the sector, whatever count the system reports.
        const std::uint32_t shown = std::min<std::uint32_t>(read, sizeof sector);
        for (std::uint32_t i = 0; i < shown; ++i) log(u"%c", {static_cast<int>(static_cast<std::int8_t>(sector[i]))});
        return true;
    });
}

bool DriveFreeSpace::CheckForNonStandardPartitions() { return true; }

bool DriveFreeSpace::ForcePartitionTableRescan() {
    return qf::AtBoundary(false, [&]() -> bool {
        MethodLog log(u"DriveFreeSpace::ForcePartitionTableRescan");
        Platform& os = Current();
        QF_DWORD diskNumber = 0;
        if (!GetPhysicalBootDrive(&diskNumber)) {
            log(u"GetPhysicalBootDrive failed");
            return false;
        }
        const wstring16 path = tools::PhysicalDrivePath(diskNumber);
        log(u"Opening %s", {path});
        unique_handle disk = tools::OpenForReading(path);
        if (!disk) {
            log(u"Createfile failed");
            return false;
        }
        std::uint32_t returned = 0;
        if (!os.DeviceIoControl(disk.get(), kIoctlDiskUpdateProperties, nullptr, 0, nullptr, 0, &returned)) {
            disk.reset();
            log(u"IOCTL_DISK_UPDATE_PROPERTIES failed");
            return false;
        }
        return true;
    });
}
