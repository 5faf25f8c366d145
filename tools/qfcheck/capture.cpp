#include "capture.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "platform/resources.h"
#include "platform/sim/sim_platform.h"

namespace qfcheck::capture {
namespace {

using namespace qf::platform;

constexpr std::uint32_t kMaxPath = 260;
constexpr std::uint32_t kMaxDetail = 2048;
constexpr std::uint32_t kMaxExtents = 32;
constexpr std::uint32_t kMaxLayoutEntries = 128;
constexpr std::uint32_t kDeviceIdLength = 260;
constexpr std::uint32_t kVtAnswerBytes = 4;
constexpr std::uint8_t kExtendedTypes[] = {0x05, 0x0F, 0x85};

std::string Utf8(const std::u16string& s) { return qf::ToUtf8(s); }

std::string HexWord(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::string HexByte(std::uint8_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

std::string HexBytes(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// The description's `errors`: requests that fail on this machine in a way
// the rest of the description would not make them fail.
class Failures {
public:
    void Add(const char* call, const std::u16string& target, const char* ioctl, std::uint32_t error) {
        Json e = {{"call", call}};
        if (!target.empty()) e["target"] = Utf8(target);
        if (ioctl) e["ioctl"] = ioctl;
        e["error"] = error;
        Keep(std::move(e));
    }
    void AddHresult(const char* call, const std::u16string& target, HRESULT hr) {
        Json e = {{"call", call}};
        if (!target.empty()) e["target"] = Utf8(target);
        e["error"] = HexWord(static_cast<std::uint32_t>(hr));
        Keep(std::move(e));
    }
    const Json& list() const { return list_; }

private:
    void Keep(Json e) {
        for (const Json& known : list_)
            if (known == e) return;
        list_.push_back(std::move(e));
    }
    Json list_ = Json::array();
};

// --- WMI -------------------------------------------------------------------

// The first instance of a class, as the libraries read one: locator,
// connection, proxy security, enumeration, the first object. A step that
// fails is written to `failures` so the replay stops at the same step.
struct WmiObject {
    com_ptr locator, services, enumerator, object;
    bool found = false;
    bool classMissing = false;  // the enumeration could not be made
};

WmiObject FirstInstance(const char16_t* nameSpace, const char16_t* className, Failures& failures) {
    Platform& os = Current();
    WmiObject w;
    if (Failed(os.CreateWbemLocator(w.locator.put()))) return w;
    if (HRESULT hr = os.ConnectServer(w.locator.get(), nameSpace, w.services.put()); Failed(hr)) {
        failures.AddHresult("ConnectServer", nameSpace, hr);
        return w;
    }
    if (Failed(os.SetProxyBlanket(w.services.get()))) return w;
    if (Failed(os.CreateInstanceEnum(w.services.get(), className, w.enumerator.put()))) {
        w.classMissing = true;
        return w;
    }
    std::uint32_t returned = 0;
    if (Failed(os.Next(w.enumerator.get(), kWbemInfinite, 1, w.object.put(), &returned)) || returned == 0) return w;
    w.found = true;
    return w;
}

std::optional<Variant> Property(WmiObject& w, const char16_t* name) {
    if (!w.found) return std::nullopt;
    Variant v;
    if (Failed(Current().Get(w.object.get(), name, &v, nullptr))) return std::nullopt;
    return v;
}

// --- operating system, memory, processor --------------------------------------

Json OperatingSystem(Failures& failures) {
    Platform& os = Current();
    Json out = Json::object();
    Platform::OsVersionInfoEx info;
    info.osVersionInfoSize = Platform::kOsVersionInfoExSize;
    if (os.GetVersionExW(&info)) {
        out["major"] = info.majorVersion;
        out["minor"] = info.minorVersion;
        out["servicePackMajor"] = info.servicePackMajor;
        out["servicePackMinor"] = info.servicePackMinor;
        out["productType"] = info.productType;
    } else {
        failures.Add("GetVersionExW", u"", nullptr, os.GetLastError());
    }
    bool wow64 = false;
    if (os.IsWow64Process(&wow64)) out["wow64"] = wow64;
    else failures.Add("IsWow64Process", u"", nullptr, os.GetLastError());
    char16_t windows[kMaxPath] = {};
    const std::uint32_t n = os.GetWindowsDirectoryW(windows, kMaxPath);
    if (n > 0 && n < kMaxPath) out["windowsDirectory"] = Utf8(std::u16string(windows, n));

    WmiObject system = FirstInstance(u"ROOT\\CIMV2", u"Win32_OperatingSystem", failures);
    if (auto boot = Property(system, u"BootDevice"))
        out["bootDevice"] = boot->vt == VT_BSTR ? Json(Utf8(boot->text)) : Json(nullptr);
    else
        out["bootDevice"] = nullptr;
    return out;
}

Json Memory(Failures& failures) {
    Platform& os = Current();
    Platform::MemoryStatusEx status;
    status.length = Platform::kMemoryStatusExSize;
    if (!os.GlobalMemoryStatusEx(&status)) {
        failures.Add("GlobalMemoryStatusEx", u"", nullptr, os.GetLastError());
        return Json::object();
    }
    return {{"totalPhysical", status.totalPhys}};
}

Json Processor() {
    std::uint32_t registers[4] = {};
    Current().Cpuid(1, registers);
    return {{"cpuid1Ecx", HexWord(registers[2])}};
}

// --- the virtualization status driver ------------------------------------------------

Json VtDriver(Failures& failures) {
    Platform& os = Current();
    unique_device_list list(os.SetupDiGetClassDevsW(&kVtDriverInterfaceClass, nullptr, kDigcfPresent | kDigcfDeviceInterface));
    DeviceInterfaceData iface;
    iface.cbSize = kDeviceInterfaceDataSize;
    if (!list || !os.SetupDiEnumDeviceInterfaces(list.get(), kVtDriverInterfaceClass, 0, &iface)) return nullptr;
    std::uint32_t size = 0;
    os.SetupDiGetDeviceInterfaceDetailW(list.get(), iface, nullptr, 0, &size, nullptr);
    alignas(8) std::uint8_t detail[kMaxDetail] = {};
    if (size == 0 || size > kMaxDetail) return nullptr;
    qf::ByteWriter(detail, size).u32(kDeviceInterfaceDetailDataSize);
    if (!os.SetupDiGetDeviceInterfaceDetailW(list.get(), iface, detail, size, nullptr, nullptr)) return nullptr;
    qf::ByteCursor in(detail, size);
    in.seek(4);
    std::u16string path;
    for (char16_t c = in.u16(); in.ok() && c != 0; c = in.u16()) path.push_back(c);

    // In the replay the driver's device has the simulation's own path.
    const std::u16string& simPath = qf::sim::SimPlatform::kVtDriverPath;
    unique_handle driver(os.CreateFileW(path.c_str(), kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
    if (!driver) {
        failures.Add("CreateFileW", simPath, nullptr, os.GetLastError());
        return {{"answer", 0}};
    }
    std::uint8_t answer[kVtAnswerBytes] = {};
    std::uint32_t returned = 0;
    if (!os.DeviceIoControl(driver.get(), kIoctlVtGetStatus, nullptr, 0, answer, sizeof answer, &returned)) {
        failures.Add("DeviceIoControl", simPath, "IOCTL_VT_GET_STATUS", os.GetLastError());
        return {{"answer", 0}};
    }
    qf::ByteCursor value(answer, sizeof answer);
    return {{"answer", HexWord(value.u32())}, {"bytesReturned", std::min(returned, kVtAnswerBytes)}};
}

// --- firmware --------------------------------------------------------------------------

// The raw SMBIOS data as the firmware-table interface gives it, header and
// all, with the same provider and table the helper library asks for.
std::optional<std::vector<std::uint8_t>> RawFirmwareTable(Failures& failures) {
    Platform& os = Current();
    std::uint8_t scratch[4] = {};
    const std::uint32_t size = os.GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, scratch, 1);
    if (size == 0) {
        failures.Add("GetSystemFirmwareTable", u"", nullptr, os.GetLastError());
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(size, 0);
    const std::uint32_t read = os.GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, data.data(), size);
    if (read != size) return std::nullopt;
    return data;
}

Json Firmware(Failures& failures, Json& wmi) {
    Json out = Json::object();
    WmiObject tables = FirstInstance(u"ROOT\\WMI", u"MSSMBios_RawSMBiosTables", failures);
    auto data = Property(tables, u"SMBiosData");
    auto major = Property(tables, u"SmbiosMajorVersion");
    auto minor = Property(tables, u"SmbiosMinorVersion");
    if (data && data->vt == (VT_ARRAY | VT_UI1)) {
        out["smbiosVersion"] = {major ? major->integer : 0, minor ? minor->integer : 0};
        out["raw"] = HexBytes(data->bytes.data(), data->bytes.size());
    } else {
        // The libraries find no table here; the replay finds none either.
        if (tables.found || tables.classMissing) wmi["ROOT\\WMI"]["MSSMBios_RawSMBiosTables"] = Json::array();
        out["raw"] = "";
    }
    if (auto rsmb = RawFirmwareTable(failures)) out["rsmb"] = HexBytes(rsmb->data(), rsmb->size());
    return out;
}

// --- disks and volumes ---------------------------------------------------------------------

std::u16string PhysicalDrive(std::uint32_t n) {
    return u"\\\\.\\PHYSICALDRIVE" + qf::Widen(std::to_string(n));
}

std::optional<std::u16string> DeviceId(std::uint32_t devInst) {
    char16_t id[kDeviceIdLength] = {};
    if (Current().CM_Get_Device_IDW(devInst, id, kDeviceIdLength, 0) != kCrSuccess) return std::nullopt;
    return std::u16string(id);
}

// STORAGE_DEVICE_NUMBER of an open disk or volume: the device number.
std::optional<std::uint32_t> DeviceNumber(Handle h) {
    std::uint8_t out[12] = {};
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(h, kIoctlStorageGetDeviceNumber, nullptr, 0, out, sizeof out, &returned))
        return std::nullopt;
    qf::ByteCursor in(out, sizeof out);
    in.seek(4);
    return in.u32();
}

// One disk, by its number: geometry, layout and first sector.
std::optional<Json> DiskByNumber(std::uint32_t number, Failures& failures) {
    Platform& os = Current();
    const std::u16string path = PhysicalDrive(number);
    unique_handle disk(os.CreateFileW(path.c_str(), kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
    if (!disk) return std::nullopt;
    Json d = {{"number", number}};

    std::uint8_t geometry[40] = {};
    std::uint32_t returned = 0;
    if (os.DeviceIoControl(disk.get(), kIoctlDiskGetDriveGeometryEx, nullptr, 0, geometry, sizeof geometry, &returned)) {
        qf::ByteCursor in(geometry, sizeof geometry);
        in.seek(12);
        d["tracksPerCylinder"] = in.u32();
        d["sectorsPerTrack"] = in.u32();
        d["bytesPerSector"] = in.u32();
        d["sizeBytes"] = in.u64();
    } else {
        failures.Add("DeviceIoControl", path, "IOCTL_DISK_GET_DRIVE_GEOMETRY_EX", os.GetLastError());
        d["sizeBytes"] = 0;
    }

    // DRIVE_LAYOUT_INFORMATION_EX: 48-byte header, 144-byte entries.
    std::vector<std::uint8_t> layout(48 + 144 * kMaxLayoutEntries, 0);
    if (os.DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, layout.data(),
                           static_cast<std::uint32_t>(layout.size()), &returned)) {
        qf::ByteCursor in(layout.data(), layout.size());
        const std::uint32_t style = in.u32();
        const std::uint32_t count = std::min(in.u32(), kMaxLayoutEntries);
        d["style"] = style == 0 ? "mbr" : style == 1 ? "gpt" : "raw";
        Json entries = Json::array();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = 48 + 144 * std::size_t{i};
            in.seek(at + 8);
            const std::uint64_t start = in.u64(), length = in.u64();
            const std::uint32_t partitionNumber = in.u32();
            in.seek(at + 32);
            const std::uint8_t type = in.u8();
            if (style == 0 && type == 0 && start == 0 && length == 0) {
                entries.push_back({{"type", 0}});
                continue;
            }
            Json e = {{"type", HexByte(type)}, {"start", start}, {"length", length}, {"number", partitionNumber}};
            entries.push_back(std::move(e));
        }
        d["partitions"] = std::move(entries);
    } else {
        failures.Add("DeviceIoControl", path, "IOCTL_DISK_GET_DRIVE_LAYOUT_EX", os.GetLastError());
        d["partitions"] = Json::array();
    }

    std::uint8_t sector[512] = {};
    std::uint32_t read = 0;
    if (os.ReadFile(disk.get(), sector, sizeof sector, &read)) d["firstSector"] = HexBytes(sector, read);
    else failures.Add("ReadFile", path, nullptr, os.GetLastError());
    return d;
}

// The disks in the order of the disk-interface enumeration, each with its
// device path and the instance IDs of it and its parent.
Json Disks(Failures& failures) {
    Platform& os = Current();
    Json disks = Json::array();
    std::vector<std::uint32_t> seen;
    unique_device_list list(os.SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, kDigcfPresent | kDigcfDeviceInterface));
    for (std::uint32_t i = 0; list; ++i) {
        DeviceInterfaceData iface;
        iface.cbSize = kDeviceInterfaceDataSize;
        if (!os.SetupDiEnumDeviceInterfaces(list.get(), kDiskInterfaceClass, i, &iface)) break;
        std::uint32_t size = 0;
        os.SetupDiGetDeviceInterfaceDetailW(list.get(), iface, nullptr, 0, &size, nullptr);
        if (size == 0 || size > kMaxDetail) continue;
        alignas(8) std::uint8_t detail[kMaxDetail] = {};
        qf::ByteWriter(detail, size).u32(kDeviceInterfaceDetailDataSize);
        DevInfoData device;
        device.cbSize = kDevInfoDataSize;
        if (!os.SetupDiGetDeviceInterfaceDetailW(list.get(), iface, detail, size, nullptr, &device)) continue;
        qf::ByteCursor in(detail, size);
        in.seek(4);
        std::u16string path;
        for (char16_t c = in.u16(); in.ok() && c != 0; c = in.u16()) path.push_back(c);
        unique_handle h(os.CreateFileW(path.c_str(), 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
        const auto number = h ? DeviceNumber(h.get()) : std::nullopt;
        h.reset();
        if (!number) continue;
        auto d = DiskByNumber(*number, failures);
        if (!d) continue;
        (*d)["devicePath"] = Utf8(path);
        if (auto id = DeviceId(device.devInst)) (*d)["instanceId"] = Utf8(*id);
        std::uint32_t parent = 0;
        os.CM_Get_Parent(&parent, device.devInst, 0);
        const auto parentId = parent ? DeviceId(parent) : std::nullopt;
        (*d)["parentInstanceId"] = parentId ? Json(Utf8(*parentId)) : Json(nullptr);
        disks.push_back(std::move(*d));
        seen.push_back(*number);
    }
    // Disks that open by number but show no interface: the libraries reach
    // them through their numbers only, so the replay must not enumerate them.
    bool hidden = false;
    for (std::uint32_t n = 0; n < 16; ++n) {
        if (std::find(seen.begin(), seen.end(), n) != seen.end()) continue;
        if (auto d = DiskByNumber(n, failures)) {
            disks.push_back(std::move(*d));
            hidden = true;
        }
    }
    if (hidden && seen.empty())
        failures.Add("SetupDiEnumDeviceInterfaces", u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", nullptr, kErrorNoMoreItems);
    return disks;
}

Json Volumes(Failures& failures) {
    Platform& os = Current();
    Json volumes = Json::array();
    const std::uint32_t mask = os.GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(mask & (1u << i))) continue;
        const char16_t letter = static_cast<char16_t>(u'A' + i);
        const std::u16string drive = std::u16string(1, letter) + u":";
        Json v = {{"letter", std::string(1, static_cast<char>('A' + i))}};
        char16_t target[kMaxPath] = {};
        if (os.QueryDosDeviceW(drive.c_str(), target, kMaxPath)) v["device"] = Utf8(target);
        const std::u16string root = drive + u"\\";
        v["driveType"] = os.GetDriveTypeW(root.c_str());

        const std::u16string path = u"\\\\.\\" + drive;
        unique_handle h(os.CreateFileW(path.c_str(), 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
        if (h) {
            // What a request with room for one extent gets, then all of them.
            std::uint8_t one[32] = {};
            std::uint32_t returned = 0;
            const bool oneOk = os.DeviceIoControl(h.get(), kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, one, sizeof one, &returned);
            const std::uint32_t oneError = oneOk ? 0 : os.GetLastError();
            std::vector<std::uint8_t> all(8 + 24 * kMaxExtents, 0);
            Json extents = Json::array();
            if (os.DeviceIoControl(h.get(), kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, all.data(),
                                   static_cast<std::uint32_t>(all.size()), &returned)) {
                qf::ByteCursor in(all.data(), all.size());
                const std::uint32_t count = std::min(in.u32(), kMaxExtents);
                for (std::uint32_t e = 0; e < count; ++e) {
                    in.seek(8 + 24 * std::size_t{e});
                    const std::uint32_t disk = in.u32();
                    in.seek(16 + 24 * std::size_t{e});
                    const std::uint64_t start = in.u64(), length = in.u64();
                    extents.push_back({{"disk", disk}, {"start", start}, {"length", length}});
                }
            }
            if (!extents.empty()) {
                v["extents"] = std::move(extents);
            } else if (!oneOk && oneError != kErrorInvalidFunction) {
                // Not the answer of a volume without extents (a CD drive):
                // the replay gives this volume the system's own answer.
                failures.Add("DeviceIoControl", path, "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS", oneError);
            }
        }
        std::uint64_t freeBytes = 0;
        if (os.GetDiskFreeSpaceExW(root.c_str(), nullptr, nullptr, &freeBytes)) v["freeBytes"] = freeBytes;
        volumes.push_back(std::move(v));
    }
    return volumes;
}

// --- devices ------------------------------------------------------------------------------

// A device's REG_MULTI_SZ or REG_SZ property as a list, or null without one.
Json MultiString(DeviceList list, const DevInfoData& device, std::uint32_t property, bool single) {
    Platform& os = Current();
    std::uint32_t type = 0, required = 0;
    os.SetupDiGetDeviceRegistryPropertyW(list, device, property, &type, nullptr, 0, &required);
    if (required == 0) return nullptr;
    std::vector<std::uint8_t> buffer(required + 4, 0);
    if (!os.SetupDiGetDeviceRegistryPropertyW(list, device, property, &type, buffer.data(),
                                              static_cast<std::uint32_t>(buffer.size()), &required))
        return nullptr;
    Json out = Json::array();
    std::u16string text;
    for (std::size_t at = 0; at + 1 < required; at += 2) {
        const char16_t c = static_cast<char16_t>(buffer[at] | buffer[at + 1] << 8);
        if (c != 0) {
            text.push_back(c);
        } else if (!text.empty()) {
            out.push_back(Utf8(text));
            text.clear();
            if (single) break;
        } else {
            break;
        }
    }
    if (!text.empty()) out.push_back(Utf8(text));
    if (single) return out.empty() ? Json(nullptr) : out[0];
    return out;
}

Json Devices(const char16_t* enumerator, bool friendlyNames) {
    Platform& os = Current();
    Json devices = Json::array();
    unique_device_list list(os.SetupDiGetClassDevsW(nullptr, enumerator, kDigcfPresent | kDigcfAllClasses));
    for (std::uint32_t i = 0; list; ++i) {
        DevInfoData device;
        device.cbSize = kDevInfoDataSize;
        if (!os.SetupDiEnumDeviceInfo(list.get(), i, &device)) break;
        Json d = {{"hardwareIds", MultiString(list.get(), device, kSpdrpHardwareId, false)}};
        if (friendlyNames) d["friendlyName"] = MultiString(list.get(), device, kSpdrpFriendlyName, true);
        devices.push_back(std::move(d));
    }
    return devices;
}

// --- processes ----------------------------------------------------------------------------

Json Processes(Failures& failures) {
    Platform& os = Current();
    Json names = Json::array();
    unique_handle snapshot(os.CreateToolhelp32Snapshot(Platform::kTh32csSnapProcess, 0));
    if (!snapshot) {
        failures.Add("CreateToolhelp32Snapshot", u"", nullptr, os.GetLastError());
        return names;
    }
    Platform::ProcessEntry entry;
    entry.size = Platform::kProcessEntry32Size;
    for (bool more = os.Process32First(snapshot.get(), &entry); more; more = os.Process32Next(snapshot.get(), &entry)) {
        entry.exeFile[sizeof entry.exeFile - 1] = 0;
        names.push_back(std::string(entry.exeFile));
    }
    return names;
}

// --- encryption ----------------------------------------------------------------------------

Json Bitlocker(Failures& failures) {
    Platform& os = Current();
    WmiObject w = FirstInstance(u"ROOT\\CIMV2", u"Win32_EncryptableVolume", failures);
    if (w.classMissing || !w.enumerator) return nullptr;
    Json volumes = Json::array();
    while (w.found) {
        auto id = Property(w, u"PersistentVolumeID");
        volumes.push_back({{"PersistentVolumeID", id && id->vt == VT_BSTR ? Json(Utf8(id->text)) : Json(nullptr)}});
        std::uint32_t returned = 0;
        w.found = Succeeded(os.Next(w.enumerator.get(), kWbemInfinite, 1, w.object.put(), &returned)) && returned == 1;
    }
    return {{"volumes", volumes}};
}

}  // namespace

Json CaptureMachine(const std::string& name) {
    Failures failures;
    Json wmi = Json::object();
    Json m = {{"format", "qf-machine/1"}, {"name", name}};
    m["os"] = OperatingSystem(failures);
    m["memory"] = Memory(failures);
    m["cpu"] = Processor();
    m["vtDriver"] = VtDriver(failures);
    m["firmware"] = Firmware(failures, wmi);
    m["disks"] = Disks(failures);
    m["volumes"] = Volumes(failures);
    m["pciDevices"] = Devices(u"PCI", false);
    m["acpiDevices"] = Devices(u"ACPI", true);
    m["processes"] = Processes(failures);
    m["bitlocker"] = Bitlocker(failures);
    if (!wmi.empty()) m["wmi"] = wmi;
    if (!failures.list().empty()) m["errors"] = failures.list();
    return m;
}

}  // namespace qfcheck::capture
