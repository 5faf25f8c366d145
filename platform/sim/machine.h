// A simulated Windows machine, as read from a machine description
// ("qf-machine/1"). Every value here is already resolved: defaults applied and
// derived values (boot device, first sectors, device paths, WMI instances)
// computed, so the simulated platform only looks things up.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qf::sim {

using Bytes = std::vector<std::uint8_t>;

// A description that cannot be used. what() is "json.path: reason".
class MachineError : public std::runtime_error {
public:
    MachineError(const std::string& path, const std::string& reason)
        : std::runtime_error(path + ": " + reason), path_(path), reason_(reason) {}
    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }
private:
    std::string path_;
    std::string reason_;
};

enum class DiskpartMode { Present, Absent, FixedExit };

struct OsInfo {
    std::uint32_t major = 6, minor = 0;
    std::uint32_t servicePackMajor = 1, servicePackMinor = 0;
    std::uint32_t productType = 1;
    std::uint32_t buildNumber = 0;  // derived from the version
    bool wow64 = false;
    std::u16string windowsDirectory = u"C:\\Windows";
    // Win32_OperatingSystem.BootDevice; nullopt: the property has no value.
    std::optional<std::u16string> bootDevice;
    DiskpartMode diskpart = DiskpartMode::Present;
    std::int32_t diskpartExitCode = 0;  // with FixedExit
};

enum class PartitionStyle : std::uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

struct Partition {
    std::uint8_t type = 0;       // MBR type byte; 0: unused entry
    std::uint64_t start = 0;     // bytes
    std::uint64_t length = 0;    // bytes
    std::uint32_t number = 0;    // the system's partition number
};

struct Disk {
    std::uint32_t number = 0;
    std::uint64_t sizeBytes = 0;
    std::uint32_t bytesPerSector = 512, tracksPerCylinder = 255, sectorsPerTrack = 63;
    PartitionStyle style = PartitionStyle::Mbr;
    std::vector<Partition> partitions;
    Bytes firstSector;                 // may be shorter than 512: a short read
    std::u16string devicePath;         // disk interface device path
    std::u16string instanceId;
    std::optional<std::u16string> parentInstanceId;  // nullopt: no parent
};

struct Extent {
    std::uint32_t disk = 0;  // a disk's `number`
    std::uint64_t start = 0, length = 0;
};

struct Volume {
    char16_t letter = u'C';
    std::u16string device;           // first name QueryDosDeviceW reports
    std::vector<Extent> extents;     // empty: not a disk volume
    std::uint32_t driveType = 3;
    std::uint64_t freeBytes = 0;
};

struct Firmware {
    std::uint8_t majorVersion = 2, minorVersion = 5;
    Bytes table;  // the SMBIOS structure table
    Bytes rsmb;   // the whole GetSystemFirmwareTable('RSMB') answer
};

struct VtDriver {
    std::uint32_t answer = 0;
    std::uint32_t bytesReturned = 4;  // 0-4
};

using HardwareIds = std::optional<std::vector<std::u16string>>;  // nullopt: no property

struct PciDevice {
    HardwareIds hardwareIds;
};

struct AcpiDevice {
    HardwareIds hardwareIds;
    std::optional<std::u16string> friendlyName;
};

// CIM type codes the description can name.
enum : std::int32_t {
    CIM_SINT16 = 2, CIM_SINT32 = 3, CIM_REAL32 = 4, CIM_REAL64 = 5, CIM_STRING = 8,
    CIM_BOOLEAN = 11, CIM_OBJECT = 13, CIM_SINT8 = 16, CIM_UINT8 = 17, CIM_UINT16 = 18,
    CIM_UINT32 = 19, CIM_SINT64 = 20, CIM_UINT64 = 21, CIM_DATETIME = 101,
    CIM_REFERENCE = 102, CIM_CHAR16 = 103, CIM_ILLEGAL = 4095, CIM_FLAG_ARRAY = 0x2000,
};

// One WMI property value as the description gives it.
struct WmiValue {
    std::int32_t cimType = CIM_STRING;
    bool isNull = false;                 // the property has no value (VT_NULL)
    std::u16string text;                 // strings, 64-bit integers, date-times
    std::int64_t integer = 0;            // integers, booleans (0/1), char16
    double real = 0;                     // CIM_REAL32 / CIM_REAL64
    Bytes bytes;                         // CIM_UINT8 | CIM_FLAG_ARRAY
    std::vector<std::u16string> strings; // CIM_STRING | CIM_FLAG_ARRAY
    std::vector<std::int64_t> integers;  // other integer arrays
};

// Properties keep the description's order; names compare without case. Every
// instance carries `__CLASS`, its class name as written, as WMI instances do.
using WmiInstance = std::vector<std::pair<std::u16string, WmiValue>>;
using WmiClass = std::vector<WmiInstance>;
// Keys are upper-cased namespace and class names.
using WmiNamespace = std::map<std::u16string, WmiClass>;
using WmiStore = std::map<std::u16string, WmiNamespace>;

struct ErrorRule {
    std::string call;                        // e.g. "DeviceIoControl"
    std::optional<std::u16string> target;    // path, namespace, class, Class.Property, ...
    std::optional<std::uint32_t> ioctl;      // control code (names are resolved by the loader)
    std::optional<std::uint32_t> nth;        // the n-th matching call of the run, from 1
    std::optional<std::uint32_t> error;      // Win32 error or HRESULT
    std::optional<std::uint32_t> returns;    // count answered instead of failing
};

struct Machine {
    std::string name;
    OsInfo os;
    std::uint64_t totalPhysicalMemory = 3ull << 30;
    std::uint32_t cpuid1Ecx = 0;
    std::optional<VtDriver> vtDriver;
    Firmware firmware;
    std::vector<Disk> disks;
    std::vector<Volume> volumes;
    std::vector<PciDevice> pciDevices;
    std::vector<AcpiDevice> acpiDevices;
    std::vector<std::string> processes;
    // Win32_EncryptableVolume: nullopt: the class does not exist.
    std::optional<std::vector<std::optional<std::u16string>>> bitlockerVolumes;
    // Every WMI instance the machine answers with: the derived classes
    // (Win32_OperatingSystem, MSSMBios_RawSMBiosTables, Win32_EncryptableVolume)
    // merged with, and replaced by, the description's own `wmi` section.
    WmiStore wmi;
    std::vector<ErrorRule> errors;
};

// Reads a description. `defaultName` names the machine when it has no `name`.
// Throws MachineError for anything that is not a valid description.
Machine LoadMachine(std::string_view jsonText, const std::string& defaultName);

// The built-in default machine (machines/default.json, embedded at build time).
std::string_view DefaultMachineJson();

// Known IOCTL names and their codes, for `errors[].ioctl` and reports. The
// virtualization status driver's request 0x222000 is "IOCTL_VT_GET_STATUS".
std::optional<std::uint32_t> IoctlCode(std::string_view name);
// The name of a known control code, or its number in hexadecimal ("0x0007C0C8").
std::string IoctlName(std::uint32_t code);

}  // namespace qf::sim
