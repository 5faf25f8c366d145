// Which physical disk the running system booted from: the WMI boot device,
// the drive letter whose device name begins with it, and the disk under
// that volume.
#include <algorithm>
#include <cstring>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/disk_io.h"
#include "installer_tools/log.h"
#include "installer_tools/wide.h"
#include "platform/resources.h"

namespace qf::tools {

using namespace platform;

bool GetDriveLetterFromBootDevice(const char16_t* bootDevice, char16_t* drive) {
    MethodLog log(u"DriveFreeSpace::GetDriveLetterFromBootDevice");
    Platform& os = Current();
    log(u"device to search for = %s", {bootDevice});
    const std::size_t length = WideLength(bootDevice);

    std::uint32_t mask = os.GetLogicalDrives();
    if (mask == 0) {
        log(u"GetLogicalDrives failed error = %d\n", {os.GetLastError()});
        return false;
    }
    // Shared by every letter: a capacity that had to grow stays grown.
    std::size_t capacity = 1024;
    // A device name is at most 32,767 characters long: a system that still
    // asks for more room at twice that is not going to answer, and growing
    // on would only exhaust memory. It ends the search like any other error.
    constexpr std::size_t kLargestTarget = 65536;
    std::vector<char16_t> target;
    for (char16_t letter = u'A'; mask != 0; ++letter, mask >>= 1) {
        if (!(mask & 1)) continue;
        const wstring16 driveString = FormatWide(u"%c:", {letter});
        log(u"Found drive %s", {driveString});
        for (;;) {
            // Zero-filled for every answer, so nothing of the last one shows.
            target.resize(capacity);
            std::memset(target.data(), 0, capacity * sizeof(char16_t));
            if (os.QueryDosDeviceW(driveString.c_str(), target.data(), static_cast<std::uint32_t>(capacity)) != 0)
                break;
            const std::uint32_t error = os.GetLastError();
            if (error != kErrorInsufficientBuffer || capacity >= kLargestTarget) {
                log(u"QueryDosDevice failed, error = %d", {error});
                return false;
            }
            capacity *= 2;
        }
        // The first name of the answer; a target without a terminator ends at the buffer's end.
        const wstring16 first(target.data(), std::find(target.begin(), target.end(), u'\0') - target.begin());
        log(u"DosDevice = %s", {first});
        if (first.compare(0, length, bootDevice, length) == 0) {
            log(u"found a match for drive letter = %s", {driveString});
            std::copy(driveString.c_str(), driveString.c_str() + driveString.size() + 1, drive);
            return true;
        }
    }
    return false;
}

bool GetPhysicalBootDrive(std::uint32_t* diskNumber) {
    MethodLog log(u"DriveFreeSpace::GetPhysicalBootDrive");
    Platform& os = Current();
    log(u"Entered");
    log(u"About to call get wmi");
    wstring16 className = u"Win32_OperatingSystem", property = u"BootDevice";
    QF_WCHAR bootDevice[200] = {};
    CWMIProperty wmi;
    if (!wmi.GetWMIProperty(Writable(className), Writable(property), bootDevice)) {
        log(u"Cannot get Win32_OperatingSystem");
        return false;
    }
    log(u"BootDevice from WMI = %s", {In(bootDevice)});
    char16_t drive[3] = {};
    if (!GetDriveLetterFromBootDevice(In(bootDevice), drive)) {
        log(u"GetDriveLetterFromBootDevice failed");
        return false;
    }
    const wstring16 path = FormatWide(u"\\\\.\\%s", {drive});
    unique_handle volume(os.CreateFileW(path.c_str(), kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
    if (!volume) {
        log(u"Createfile failed with error %d", {os.GetLastError()});
        return false;
    }
    VolumeExtent extent;
    std::uint32_t extentCount = 0;
    if (!GetVolumeDiskExtent(volume.get(), &extent, &extentCount)) {
        const std::uint32_t error = os.GetLastError();
        volume.reset();
        log(u"IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = %d", {error});
        return false;
    }
    if (extentCount != 1) {
        volume.reset();
        log(u"Volume occupies more than one extent");
        return false;
    }
    *diskNumber = extent.diskNumber;
    return true;
}

}  // namespace qf::tools

bool DriveFreeSpace::GetPhysicalBootDrive(QF_DWORD* pDiskNumber) {
    return qf::AtBoundary(false, [&] {
        std::uint32_t n = 0;
        if (!qf::tools::GetPhysicalBootDrive(&n)) return false;
        *pDiskNumber = n;
        return true;
    });
}

bool DriveFreeSpace::GetDriveLetterFromBootDevice(const QF_WCHAR* bootDevice, QF_WCHAR* drive) {
    return qf::AtBoundary(false, [&] {
        return qf::tools::GetDriveLetterFromBootDevice(qf::tools::In(bootDevice), qf::tools::Out(drive));
    });
}
