// The simulated device tree: device lists of the setup interface, interface
// details, registry properties and the configuration manager's parents, all
// derived from the machine's disks, PCI and ACPI devices and driver.
#include <algorithm>
#include <cstring>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "platform/sim/sim_platform.h"

namespace qf::sim {

using namespace platform;

const std::u16string SimPlatform::kVtDriverPath = u"\\\\?\\ROOT#SYSTEM#0000#{0a17534f-cfa4-40f4-aa7f-2776c79b3807}";

namespace {

std::u16string GuidText(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return Widen(text);
}

// A registry property's bytes: REG_SZ or REG_MULTI_SZ in UTF-16LE.
std::vector<std::uint8_t> PropertyBytes(const std::vector<std::u16string>& texts, bool multi) {
    std::vector<std::uint8_t> bytes;
    auto put = [&bytes](char16_t c) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    };
    for (const auto& t : texts) {
        for (char16_t c : t) put(c);
        put(0);
    }
    if (multi && !texts.empty()) put(0);
    return bytes;
}

}  // namespace

SimPlatform::DeviceListObject* SimPlatform::FindList(DeviceList list) {
    auto it = deviceLists_.find(list);
    return it == deviceLists_.end() ? nullptr : &it->second;
}

std::size_t SimPlatform::DeviceCount(const DeviceListObject& list) const {
    switch (list.kind) {
    case DeviceListObject::Kind::DiskInterfaces: return machine_.disks.size();
    case DeviceListObject::Kind::VtInterfaces: return machine_.vtDriver ? 1 : 0;
    case DeviceListObject::Kind::PciDevices: return machine_.pciDevices.size();
    case DeviceListObject::Kind::AcpiDevices: return machine_.acpiDevices.size();
    case DeviceListObject::Kind::Empty: return 0;
    }
    return 0;
}

std::uint32_t SimPlatform::DevInstOf(const DeviceListObject& list, std::uint32_t memberIndex) const {
    switch (list.kind) {
    case DeviceListObject::Kind::DiskInterfaces: return kDevInstDisk + memberIndex;
    case DeviceListObject::Kind::VtInterfaces: return kDevInstVtDriver;
    case DeviceListObject::Kind::PciDevices: return kDevInstPci + memberIndex;
    case DeviceListObject::Kind::AcpiDevices: return kDevInstAcpi + memberIndex;
    case DeviceListObject::Kind::Empty: break;
    }
    return 0;
}

std::u16string SimPlatform::InterfacePath(const DeviceListObject& list, std::uint32_t memberIndex) const {
    return list.kind == DeviceListObject::Kind::VtInterfaces ? kVtDriverPath : machine_.disks[memberIndex].devicePath;
}

DeviceList SimPlatform::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) {
    DeviceListObject list{DeviceListObject::Kind::Empty, {}};
    bool known = true;
    if (flags & kDigcfDeviceInterface) {
        if (!classGuid) return Fail(kErrorInvalidParameter), kInvalidHandle;
        list.label = GuidText(*classGuid);
        if (*classGuid == kDiskInterfaceClass) list.kind = DeviceListObject::Kind::DiskInterfaces;
        else if (*classGuid == kVtDriverInterfaceClass) list.kind = DeviceListObject::Kind::VtInterfaces;
    } else if (enumerator) {
        list.label = enumerator;
        const std::u16string e = AsciiUpper(enumerator);
        if (e == u"PCI") list.kind = DeviceListObject::Kind::PciDevices;
        else if (e == u"ACPI") list.kind = DeviceListObject::Kind::AcpiDevices;
        else known = false;
    }
    if (auto f = Rule("SetupDiGetClassDevsW", list.label)) return Fail(f->error.value_or(kErrorInvalidParameter)), kInvalidHandle;
    if (!known) return Fail(kErrorInvalidData), kInvalidHandle;  // no such enumerator
    const DeviceList handle = nextHandle_;
    nextHandle_ += 4;
    deviceLists_.emplace(handle, std::move(list));
    return handle;
}

bool SimPlatform::SetupDiEnumDeviceInfo(DeviceList list, std::uint32_t memberIndex, DevInfoData* data) {
    DeviceListObject* l = FindList(list);
    if (auto f = Rule("SetupDiEnumDeviceInfo", l ? l->label : u"")) return Fail(f->error.value_or(kErrorNoMoreItems));
    if (!l) return Fail(kErrorInvalidHandle);
    if (!data || data->cbSize != kDevInfoDataSize) return Fail(kErrorInvalidUserBuffer);
    if (memberIndex >= DeviceCount(*l)) return Fail(kErrorNoMoreItems);
    data->devInst = DevInstOf(*l, memberIndex);
    data->memberIndex = memberIndex;
    return true;
}

bool SimPlatform::SetupDiEnumDeviceInterfaces(DeviceList list, const Guid& interfaceClass, std::uint32_t memberIndex,
                                              DeviceInterfaceData* data) {
    DeviceListObject* l = FindList(list);
    if (auto f = Rule("SetupDiEnumDeviceInterfaces", l ? l->label : u"")) return Fail(f->error.value_or(kErrorNoMoreItems));
    if (!l) return Fail(kErrorInvalidHandle);
    if (!data || data->cbSize != kDeviceInterfaceDataSize) return Fail(kErrorInvalidUserBuffer);
    const bool ofClass = (l->kind == DeviceListObject::Kind::DiskInterfaces && interfaceClass == kDiskInterfaceClass) ||
                         (l->kind == DeviceListObject::Kind::VtInterfaces && interfaceClass == kVtDriverInterfaceClass);
    if (!ofClass || memberIndex >= DeviceCount(*l)) return Fail(kErrorNoMoreItems);
    data->interfaceClass = interfaceClass;
    data->flags = 1;  // SPINT_ACTIVE
    data->memberIndex = memberIndex;
    return true;
}

bool SimPlatform::SetupDiGetDeviceInterfaceDetailW(DeviceList list, const DeviceInterfaceData& data, void* detail,
                                                   std::uint32_t detailSize, std::uint32_t* requiredSize,
                                                   DevInfoData* devInfo) {
    DeviceListObject* l = FindList(list);
    if (auto f = Rule("SetupDiGetDeviceInterfaceDetailW", l ? l->label : u""))
        return Fail(f->error.value_or(kErrorInvalidParameter));
    if (!l) return Fail(kErrorInvalidHandle);
    if (data.memberIndex >= DeviceCount(*l)) return Fail(kErrorInvalidParameter);
    const std::u16string path = InterfacePath(*l, data.memberIndex);
    // The fixed part (cbSize) and the path with its terminator, as the system counts.
    const std::uint32_t needed = static_cast<std::uint32_t>(4 + 2 * (path.size() + 1));
    if (requiredSize) *requiredSize = needed;
    if (!detail) return Fail(kErrorInsufficientBuffer);
    ByteCursor header(detail, detailSize);
    if (header.u32() != kDeviceInterfaceDetailDataSize || !header.ok()) return Fail(kErrorInvalidUserBuffer);
    if (detailSize < needed) return Fail(kErrorInsufficientBuffer);
    if (devInfo) {
        if (devInfo->cbSize != kDevInfoDataSize) return Fail(kErrorInvalidUserBuffer);
        devInfo->devInst = DevInstOf(*l, data.memberIndex);
        devInfo->memberIndex = data.memberIndex;
    }
    ByteWriter w(detail, detailSize);
    w.seek(4);
    for (char16_t c : path) w.u16(c);
    w.u16(0);
    return true;
}

bool SimPlatform::SetupDiGetDeviceRegistryPropertyW(DeviceList list, const DevInfoData& data, std::uint32_t property,
                                                    std::uint32_t* regType, void* buffer, std::uint32_t bufferSize,
                                                    std::uint32_t* requiredSize) {
    DeviceListObject* l = FindList(list);
    if (auto f = Rule("SetupDiGetDeviceRegistryPropertyW", l ? l->label : u""))
        return Fail(f->error.value_or(kErrorInvalidData));
    if (!l) return Fail(kErrorInvalidHandle);
    if (data.cbSize != kDevInfoDataSize) return Fail(kErrorInvalidUserBuffer);
    const HardwareIds* ids = nullptr;
    const std::optional<std::u16string>* name = nullptr;
    const std::uint32_t index = data.memberIndex;
    if (l->kind == DeviceListObject::Kind::PciDevices && index < machine_.pciDevices.size()) {
        if (property == kSpdrpHardwareId) ids = &machine_.pciDevices[index].hardwareIds;
    } else if (l->kind == DeviceListObject::Kind::AcpiDevices && index < machine_.acpiDevices.size()) {
        if (property == kSpdrpHardwareId) ids = &machine_.acpiDevices[index].hardwareIds;
        if (property == kSpdrpFriendlyName) name = &machine_.acpiDevices[index].friendlyName;
    }
    std::vector<std::uint8_t> bytes;
    std::uint32_t type = 0;
    if (ids && *ids) {
        bytes = PropertyBytes(**ids, true);
        type = kRegMultiSz;
    } else if (name && *name) {
        bytes = PropertyBytes({**name}, false);
        type = kRegSz;
    } else {
        return Fail(kErrorInvalidData);
    }
    if (requiredSize) *requiredSize = static_cast<std::uint32_t>(bytes.size());
    if (regType) *regType = type;
    if (bufferSize < bytes.size() || (!buffer && !bytes.empty())) return Fail(kErrorInsufficientBuffer);
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return true;
}

bool SimPlatform::SetupDiDestroyDeviceInfoList(DeviceList list) {
    if (!deviceLists_.erase(list)) return Fail(kErrorInvalidHandle);
    return true;
}

std::uint32_t SimPlatform::CM_Get_Parent(std::uint32_t* parent, std::uint32_t devInst, std::uint32_t) {
    if (auto f = Rule("CM_Get_Parent")) return f->error.value_or(kCrNoSuchDevnode);
    if (devInst >= kDevInstDisk && devInst < kDevInstDisk + machine_.disks.size()) {
        if (!machine_.disks[devInst - kDevInstDisk].parentInstanceId) return kCrNoSuchDevnode;
        *parent = kDevInstDiskParent + (devInst - kDevInstDisk);
        return kCrSuccess;
    }
    if (devInst == 0 || devInst == kDevInstRoot) return devInst ? kCrNoSuchDevnode : kCrInvalidDevnode;
    *parent = kDevInstRoot;
    return kCrSuccess;
}

std::uint32_t SimPlatform::CM_Get_Device_IDW(std::uint32_t devInst, char16_t* buffer, std::uint32_t length,
                                             std::uint32_t) {
    if (auto f = Rule("CM_Get_Device_IDW")) return f->error.value_or(kCrInvalidDevnode);
    std::u16string id;
    const std::size_t disks = machine_.disks.size();
    if (devInst == kDevInstRoot) id = u"HTREE\\ROOT\\0";
    else if (devInst >= kDevInstDisk && devInst < kDevInstDisk + disks) id = machine_.disks[devInst - kDevInstDisk].instanceId;
    else if (devInst >= kDevInstDiskParent && devInst < kDevInstDiskParent + disks &&
             machine_.disks[devInst - kDevInstDiskParent].parentInstanceId)
        id = *machine_.disks[devInst - kDevInstDiskParent].parentInstanceId;
    else if (devInst >= kDevInstPci && devInst < kDevInstPci + machine_.pciDevices.size())
        id = u"PCI\\DEVICE\\" + Widen(std::to_string(devInst - kDevInstPci));
    else if (devInst >= kDevInstAcpi && devInst < kDevInstAcpi + machine_.acpiDevices.size())
        id = u"ACPI\\DEVICE\\" + Widen(std::to_string(devInst - kDevInstAcpi));
    else if (devInst == kDevInstVtDriver && machine_.vtDriver) id = u"ROOT\\SYSTEM\\0000";
    else return kCrInvalidDevnode;
    if (!buffer || length < id.size() + 1) return kCrBufferSmall;
    std::copy(id.begin(), id.end(), buffer);
    buffer[id.size()] = 0;
    return kCrSuccess;
}

void* SimPlatform::LocalAlloc(std::uint32_t, std::size_t bytes) {
    // More than a 32-bit process's address space can give.
    if (bytes >= 0x80000000u) return Fail(kErrorNotEnoughMemory), nullptr;
    std::vector<std::uint8_t> memory(std::max<std::size_t>(bytes, 1), 0);
    void* p = memory.data();
    localMemory_.emplace(p, std::move(memory));
    return p;
}

void SimPlatform::LocalFree(void* memory) { localMemory_.erase(memory); }

bool SimPlatform::DeviceNumberRequest(const Object& o, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    // STORAGE_DEVICE_NUMBER: device type, device number, partition number.
    std::uint32_t type = kFileDeviceDisk, number = 0, partition = 0;
    if (o.kind == Object::Kind::Disk) {
        number = machine_.disks[o.index].number;
    } else if (o.kind == Object::Kind::Volume) {
        const Volume& v = machine_.volumes[o.index];
        if (v.extents.size() > 1) return Fail(kErrorInvalidFunction);  // a volume on several disks has no one number
        if (v.extents.empty()) {
            type = kFileDeviceCdRom;
            partition = 0xFFFFFFFFu;
            for (const Volume& other : machine_.volumes)
                if (&other == &v) break;
                else if (other.extents.empty()) ++number;
        } else {
            number = v.extents[0].disk;
            if (const Disk* d = DiskByNumber(number))
                for (const Partition& p : d->partitions)
                    if (p.start == v.extents[0].start) partition = p.number;
        }
    } else {
        return Fail(kErrorInvalidFunction);
    }
    if (outSize < 12) return Fail(kErrorInsufficientBuffer);
    ByteWriter w(out, outSize);
    w.u32(type);
    w.u32(number);
    w.u32(partition);
    if (bytesReturned) *bytesReturned = 12;
    return true;
}

// --- device enumeration ---

std::uint32_t SimPlatform::GetWindowsDirectoryW(char16_t* buffer, std::uint32_t capacity) {
    if (auto f = Rule("GetWindowsDirectoryW")) {
        lastError_ = f->error.value_or(0);
        return f->returns.value_or(0);
    }
    const std::u16string& dir = machine_.os.windowsDirectory;
    if (!buffer || dir.size() + 1 > capacity) return static_cast<std::uint32_t>(dir.size() + 1);
    std::copy(dir.begin(), dir.end(), buffer);
    buffer[dir.size()] = 0;
    return static_cast<std::uint32_t>(dir.size());
}

std::uint32_t SimPlatform::GetDriveTypeW(const char16_t* rootPath) {
    const std::u16string root = rootPath ? rootPath : u"";
    if (auto f = Rule("GetDriveTypeW", root)) {
        lastError_ = f->error.value_or(0);
        return f->returns.value_or(kDriveUnknown);
    }
    // Only a letter, a colon and a backslash name a root; a letter without a volume has none.
    const Volume* v = root.size() == 3 && root[1] == u':' && root[2] == u'\\' ? VolumeByLetter(root[0]) : nullptr;
    return v ? v->driveType : static_cast<std::uint32_t>(kDriveNoRootDir);
}

// --- qfcheck on the live system ---

// The simulated process has no COM security to set; the call is counted
// like any other.
HRESULT SimPlatform::CoInitializeSecurity(std::uint32_t, std::uint32_t) {
    Trace("CoInitializeSecurity");
    return kSOk;
}

}  // namespace qf::sim
