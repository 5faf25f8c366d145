// EnumerateDiskDevices: the device the boot disk hangs off (its parent in
// the device tree, normally the controller or controller channel) and
// whether another disk hangs off it too.
#include <algorithm>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "common/byte_cursor.h"
#include "installer_tools/log.h"
#include "installer_tools/wide.h"
#include "platform/resources.h"

namespace qf::tools {
namespace {

using namespace platform;

constexpr std::uint32_t kIdCapacity = 260;      // device ID and path buffers, terminator included
constexpr std::uint32_t kMaxDetailSize = 1024;  // an interface whose detail needs more is passed over
constexpr int kSlotCount = 10;
constexpr std::uint32_t kDiskListFlags = kDigcfPresent | kDigcfDeviceInterface;
constexpr std::uint32_t kQueryOnly = 0;

using DeviceId = char16_t[kIdCapacity];

unique_device_list GetDiskInterfaces() {
    return unique_device_list(Current().SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, kDiskListFlags));
}

unique_handle OpenQueryOnly(const char16_t* path) {
    return unique_handle(
        Current().CreateFileW(path, kQueryOnly, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
}

// IOCTL_STORAGE_GET_DEVICE_NUMBER: the number of the disk a volume lies on,
// or of a disk itself.
bool GetStorageDeviceNumber(Handle device, std::uint32_t* number) {
    // STORAGE_DEVICE_NUMBER: device type, device number, partition number.
    std::uint8_t answer[12] = {};
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(device, kIoctlStorageGetDeviceNumber, nullptr, 0, answer, sizeof answer, &returned))
        return false;
    ByteCursor in(answer, sizeof answer);
    in.skip(4);
    *number = in.u32();
    return true;
}

// The size an interface's detail needs; 0 when the system does not say.
std::uint32_t GetInterfaceDetailSize(DeviceList list, const DeviceInterfaceData& iface) {
    std::uint32_t size = 0;
    Current().SetupDiGetDeviceInterfaceDetailW(list, iface, nullptr, 0, &size, nullptr);
    return size;
}

// Reads an interface's detail of `size` bytes (at most kMaxDetailSize): its
// device path and the device record of the disk behind it.
bool GetInterfaceDetail(DeviceList list, const DeviceInterfaceData& iface, std::uint32_t size,
                        std::u16string* devicePath, DevInfoData* device) {
    // SP_DEVICE_INTERFACE_DETAIL_DATA_W: cbSize, then the NUL-terminated path.
    alignas(8) std::uint8_t detail[kMaxDetailSize] = {};
    ByteWriter(detail, size).u32(kDeviceInterfaceDetailDataSize);
    device->cbSize = kDevInfoDataSize;
    if (!Current().SetupDiGetDeviceInterfaceDetailW(list, iface, detail, size, nullptr, device)) return false;
    ByteCursor in(detail, size);
    in.seek(4);
    devicePath->clear();
    for (char16_t c = in.u16(); in.ok() && c != 0; c = in.u16()) devicePath->push_back(c);
    return true;
}

// The device instance ID of a device node's parent.
bool GetParentDeviceId(std::uint32_t devInst, DeviceId& id) {
    Platform& os = Current();
    // The outcome is not examined: without a parent it stays 0, whose ID cannot be read.
    std::uint32_t parent = 0;
    os.CM_Get_Parent(&parent, devInst, 0);
    if (os.CM_Get_Device_IDW(parent, id, kIdCapacity, 0) != kCrSuccess) return false;
    id[kIdCapacity - 1] = 0;
    return true;
}

bool GetDriveControllerDeviceID(const char16_t* path, char16_t* deviceId) {
    MethodLog log(u"EnumerateDiskDevices::GetDriveControllerDeviceID");
    Platform& os = Current();
    if (!deviceId) return false;
    char16_t letter = path ? path[0] : 0;
    if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - u'a' + u'A');
    if (letter < u'A' || letter > u'Z') return false;
    const wstring16 driveName = FormatWide(u"%c:", {letter});
    const wstring16 rootPath = FormatWide(u"%c:\\", {letter});
    const wstring16 volumePath = FormatWide(u"\\\\.\\%c:", {letter});

    std::uint32_t bootDiskNumber = 0;
    {
        unique_handle volume = OpenQueryOnly(volumePath.c_str());
        if (!volume) {
            log(u"Failed to open boot volume 0x%x", {os.GetLastError()});
            return false;
        }
        if (!GetStorageDeviceNumber(volume.get(), &bootDiskNumber)) {
            const std::uint32_t error = os.GetLastError();
            volume.reset();
            log(u"Failed to get the device number for boot partition 0x%x", {error});
            return false;
        }
    }
    // The boot disk must be a fixed disk; the device number alone does not
    // say so (a CD drive answers with one too).
    const std::uint32_t driveType = os.GetDriveTypeW(rootPath.c_str());
    if (driveType != Platform::kDriveFixed) {
        log(u"Drive type is not valid %ld", {driveType});
        return false;
    }
    char16_t target[kIdCapacity] = {};
    if (os.QueryDosDeviceW(driveName.c_str(), target, kIdCapacity) == 0) {
        log(u"can not open the dos device drive of boot disk 0x%x", {os.GetLastError()});
        return false;
    }

    unique_device_list disks = GetDiskInterfaces();
    if (!disks) return false;
    DevInfoData bootDisk;
    bool found = false;
    DeviceInterfaceData iface;
    iface.cbSize = kDeviceInterfaceDataSize;
    for (std::uint32_t i = 0; !found && os.SetupDiEnumDeviceInterfaces(disks.get(), kDiskInterfaceClass, i, &iface); ++i) {
        const std::uint32_t size = GetInterfaceDetailSize(disks.get(), iface);
        if (size == 0 || size > kMaxDetailSize) continue;
        std::u16string devicePath;
        DevInfoData device;
        if (!GetInterfaceDetail(disks.get(), iface, size, &devicePath, &device)) continue;
        unique_handle disk = OpenQueryOnly(devicePath.c_str());
        if (!disk) continue;
        std::uint32_t number = 0;
        if (!GetStorageDeviceNumber(disk.get(), &number)) continue;
        if (number == bootDiskNumber) {
            bootDisk = device;
            found = true;
        }
    }
    disks.reset();
    if (!found) return false;

    DeviceId id = {};
    if (!GetParentDeviceId(bootDisk.devInst, id)) return false;
    std::copy_n(id, WideLength(id) + 1, deviceId);
    return true;
}

bool GetBootDiskControllerAddress(EnumerateDiskDevices& self, char16_t* address) {
    if (!address) return false;
    // A directory that cannot be read leaves the path empty, which names no drive.
    char16_t windowsDirectory[kIdCapacity] = {};
    Current().GetWindowsDirectoryW(windowsDirectory, kIdCapacity);
    windowsDirectory[kIdCapacity - 1] = 0;
    DeviceId deviceId = {};
    if (!self.GetDriveControllerDeviceID(reinterpret_cast<QF_WCHAR*>(windowsDirectory),
                                         reinterpret_cast<QF_WCHAR*>(deviceId)))
        return false;
    // The address is the text between the first two "&" of the parent's ID.
    const wstring16_view id(deviceId, WideLength(deviceId));
    const std::size_t first = id.find(u'&');
    const std::size_t second = first == wstring16_view::npos ? first : id.find(u'&', first + 1);
    if (second == wstring16_view::npos) return false;  // no address in this ID
    CopyToBuffer(id.substr(first + 1, second - first - 1), address, kIdCapacity);
    return true;
}

int GetAllDisksDeviceID(QF_WCHAR (*slots)[kIdCapacity]) {
    MethodLog log(u"EnumerateDiskDevices::GetAllDisksDeviceID");
    Platform& os = Current();
    unique_device_list disks = GetDiskInterfaces();
    if (!disks) {
        log(u"Failed to get the device classes for WMI 0x%x", {os.GetLastError()});
        return 0;
    }
    int i = 0;
    for (; i < kSlotCount; ++i) {
        char16_t* slot = Out(slots[i]);
        DeviceInterfaceData iface;
        iface.cbSize = kDeviceInterfaceDataSize;
        if (!os.SetupDiEnumDeviceInterfaces(disks.get(), kDiskInterfaceClass, static_cast<std::uint32_t>(i), &iface))
            break;
        const std::uint32_t size = GetInterfaceDetailSize(disks.get(), iface);
        if (size == 0 || size > kMaxDetailSize) {
            slot[0] = 0;
            continue;
        }
        std::u16string devicePath;
        DevInfoData device;
        if (!GetInterfaceDetail(disks.get(), iface, size, &devicePath, &device)) break;
        DeviceId id = {};
        if (!GetParentDeviceId(device.devInst, id)) {
            slot[0] = 0;
            continue;
        }
        std::copy_n(id, WideLength(id) + 1, slot);
        log(u"DeviceId = %s\n", {slot});
    }
    disks.reset();
    return i;
}

bool IsOnlyDiskConnectedToController(EnumerateDiskDevices& self, const char16_t* text) {
    if (!text || text[0] == 0) return false;
    const int considered = self.GetAllDisksDeviceID();
    const wstring16_view wanted(text);
    int matches = 0;
    for (int i = 0; i < considered; ++i) {
        const char16_t* slot = In(self.DisksDeviceID[i]);
        const wstring16_view id(slot, std::find(slot, slot + kIdCapacity, u'\0') - slot);
        if (id.find(wanted) != wstring16_view::npos) ++matches;
    }
    return matches == 1;
}

}  // namespace
}  // namespace qf::tools

bool EnumerateDiskDevices::GetBootDiskControllerAddress(QF_WCHAR* address) {
    return qf::AtBoundary(false, [&] { return qf::tools::GetBootDiskControllerAddress(*this, qf::tools::Out(address)); });
}

bool EnumerateDiskDevices::GetDriveControllerDeviceID(QF_WCHAR* path, QF_WCHAR* deviceId) {
    return qf::AtBoundary(false, [&] {
        return qf::tools::GetDriveControllerDeviceID(qf::tools::In(path), qf::tools::Out(deviceId));
    });
}

bool EnumerateDiskDevices::IsOnlyDiskConnectedToController(const QF_WCHAR* text) {
    return qf::AtBoundary(false, [&] { return qf::tools::IsOnlyDiskConnectedToController(*this, qf::tools::In(text)); });
}

int EnumerateDiskDevices::GetAllDisksDeviceID() {
    return qf::AtBoundary(0, [&] { return qf::tools::GetAllDisksDeviceID(DisksDeviceID); });
}
