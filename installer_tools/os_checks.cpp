// The operating system, memory and encryption prerequisites: physical
// memory, the system's version and bitness, and BitLocker through WMI.
#include <exception>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "common/format.h"
#include "installer_tools/log.h"
#include "installer_tools/wide.h"
#include "platform/resources.h"

namespace qf::tools {
namespace {

using namespace platform;

// Two thousand million bytes, not 2 GiB.
constexpr std::uint64_t kRequiredPhysicalMemory = 2000000000ull;
constexpr int kMemoryFieldWidth = 7;
constexpr std::size_t kVersionCapacity = 200;  // the caller's buffer, terminator included

bool RequiredMemoryTest() {
    MethodLog log(u"RequiredMemory::Test");
    Platform::MemoryStatusEx status;
    status.length = Platform::kMemoryStatusExSize;
    if (!Current().GlobalMemoryStatusEx(&status)) {
        log(u"GlobalMemoryStatusEx failed");
        return false;
    }
    log(u"There are %*I64d total bytes of physical memory.",
        {kMemoryFieldWidth, static_cast<unsigned long long>(status.totalPhys)});
    log(u"We need %*I64d total bytes of physical memory.",
        {kMemoryFieldWidth, static_cast<unsigned long long>(kRequiredPhysicalMemory)});
    return status.totalPhys >= kRequiredPhysicalMemory;
}

// Whether this 32-bit process runs on a 32-bit system. A system that cannot
// say is not taken for one.
bool Is32BitVista() {
    bool wow64 = false;
    if (!Current().IsWow64Process(&wow64)) return false;
    return !wow64;
}

// Windows 6.0 with service pack 1, or anything later.
bool VistaRequirementsTest() {
    Platform& os = Current();
    Platform::OsVersionInfoEx wanted;
    wanted.osVersionInfoSize = Platform::kOsVersionInfoExSize;
    wanted.majorVersion = 6;
    wanted.minorVersion = 0;
    wanted.servicePackMajor = 1;
    wanted.servicePackMinor = 0;
    std::uint64_t conditions = 0;
    conditions = os.VerSetConditionMask(conditions, Platform::kVerMajorVersion, Platform::kVerGreaterEqual);
    conditions = os.VerSetConditionMask(conditions, Platform::kVerMinorVersion, Platform::kVerGreaterEqual);
    conditions = os.VerSetConditionMask(conditions, Platform::kVerServicePackMajor, Platform::kVerGreaterEqual);
    conditions = os.VerSetConditionMask(conditions, Platform::kVerServicePackMinor, Platform::kVerGreaterEqual);
    const std::uint32_t fields = Platform::kVerMajorVersion | Platform::kVerMinorVersion |
                                 Platform::kVerServicePackMajor | Platform::kVerServicePackMinor;
    if (!os.VerifyVersionInfoW(&wanted, fields, conditions)) return false;
    return Is32BitVista();
}

// The name of the system's kind, or null for a kind the installer does not know.
const char16_t* VersionName(const Platform::OsVersionInfoEx& v) {
    if (v.majorVersion == 6) return v.productType == Platform::kVerNtWorkstation ? u"VISTA" : u"Server2008";
    if (v.majorVersion == 5 && v.minorVersion == 1) return u"XP";
    if (v.majorVersion == 5 && v.minorVersion == 2) return u"SERVER2003";
    return nullptr;
}

bool GetVersion(char16_t* version) {
    Platform::OsVersionInfoEx info;
    info.osVersionInfoSize = Platform::kOsVersionInfoExSize;
    // A failed query leaves the record zero, which names no kind.
    Current().GetVersionExW(&info);
    if (const char16_t* name = VersionName(info))
        CopyToBuffer(FormatWide(u"%sSP%d", {name, static_cast<int>(info.servicePackMajor)}, kVersionCapacity - 1),
                     version, kVersionCapacity);
    return true;
}

// The text form of a property value, as the system's conversion to a COM
// string gives it; false for a value that has none (no value, arrays,
// objects, and reals, whose digits do not survive the trip to this layer).
bool ValueText(const Variant& value, wstring16* text) {
    switch (value.vt) {
    case VT_BSTR:
        *text = value.text;
        return true;
    case VT_EMPTY:
        text->clear();
        return true;
    case VT_BOOL:
        *text = value.integer ? u"-1" : u"0";
        return true;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8:
        *text = FormatWide(u"%lld", {static_cast<long long>(value.integer)});
        return true;
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8:
        *text = FormatWide(u"%llu", {static_cast<unsigned long long>(value.integer)});
        return true;
    default:
        return false;
    }
}

bool CBitlockerTest() {
    MethodLog log(u"CBitlocker::Test");
    Platform& os = Current();
    try {
        com_ptr locator;
        if (Failed(os.CreateWbemLocator(locator.put()))) {
            log(u"CoCreateInstance failed\n");
            return false;
        }
        com_ptr services;
        if (Failed(os.ConnectServer(locator.get(), u"ROOT\\CIMV2", services.put()))) {
            log(u"ConnectServer failed\n");
            return false;
        }
        if (Failed(os.SetProxyBlanket(services.get()))) {
            log(u"CoSetProxyBlanket failed\n");
            return false;
        }
        com_ptr enumerator;
        if (Failed(os.CreateInstanceEnum(services.get(), u"Win32_EncryptableVolume", enumerator.put()))) {
            log(u"No instances of Win32_EncryptableVolume, bitlocker is not installed\n");
            return true;
        }
        // The first volume only.
        com_ptr volume;
        std::uint32_t count = 0;
        if (Failed(os.Next(enumerator.get(), kWbemInfinite, 1, volume.put(), &count)) || count == 0 || !volume)
            return true;
        Variant value;
        wstring16 id;
        // An identifier without a text form cannot be read either.
        if (Failed(os.Get(volume.get(), u"PersistentVolumeID", &value, nullptr)) || !ValueText(value, &id)) {
            log(u"Get failed\n");
            return false;
        }
        log(u"PersistentVolumeID = %s\n", {id});
        return true;
    } catch (const std::exception&) {
        // Memory for the system's answer: the identifier was not read.
        log(u"Get failed\n");
        return false;
    }
}

}  // namespace
}  // namespace qf::tools

bool RequiredMemory::Test() {
    return qf::AtBoundary(false, [&] { return qf::tools::RequiredMemoryTest(); });
}

bool VistaRequirements::Test() {
    return qf::AtBoundary(false, [&] { return qf::tools::VistaRequirementsTest(); });
}

bool VistaRequirements::GetVersion(QF_WCHAR* version) {
    return qf::AtBoundary(false, [&] { return qf::tools::GetVersion(qf::tools::Out(version)); });
}

bool VistaRequirements::Is32BitVista() {
    return qf::AtBoundary(false, [&] { return qf::tools::Is32BitVista(); });
}

bool CBitlocker::Test() {
    return qf::AtBoundary(false, [&] { return qf::tools::CBitlockerTest(); });
}
