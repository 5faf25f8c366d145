// Hardware virtualization: the processor's VMX flag, the firmware's enable
// and lock bits as the virtualization status driver reports them, and the
// processor type by the friendly names of the devices ACPI enumerates.
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

constexpr std::uint32_t kVmxBit = 1u << 5;  // CPUID leaf 1, ECX
constexpr std::uint32_t kLockBit = 1u << 0;
constexpr std::uint32_t kVmxOutsideSmxBit = 1u << 2;
constexpr std::uint32_t kGenericReadWrite = kGenericRead | kGenericWrite;
constexpr std::uint32_t kLmemFixed = 0;
constexpr std::size_t kNameBufferBytes = 2048;

bool ProcessorVTTest() {
    std::uint32_t registers[4] = {};
    Current().Cpuid(1, registers);
    return (registers[2] & kVmxBit) != 0;
}

// The device path in an SP_DEVICE_INTERFACE_DETAIL_DATA_W: the text after
// its 4-byte size field, up to its NUL or the end of the buffer.
wstring16 DevicePathOf(const void* detail, std::size_t size) {
    ByteCursor in(detail, size);
    in.seek(4);
    wstring16 path;
    while (in.has(in.offset(), 2)) {
        const char16_t c = in.u16();
        if (c == 0) break;
        path += c;
    }
    return path;
}

bool VTEnabledTest() {
    MethodLog log(u"VTEnabled::Test");
    Platform& os = Current();
    log(u"entered");
    unique_device_list list(os.SetupDiGetClassDevsW(&kVtDriverInterfaceClass, nullptr, kDigcfPresent | kDigcfDeviceInterface));
    if (!list) {
        log(u"SetupDiGetClassDevs failed");
        return false;
    }
    DeviceInterfaceData interfaceData;
    interfaceData.cbSize = kDeviceInterfaceDataSize;
    if (!os.SetupDiEnumDeviceInterfaces(list.get(), kVtDriverInterfaceClass, 0, &interfaceData)) {
        log(u"SetupDiEnumDeviceInterfaces failed");
        return false;
    }
    // Only the size is wanted here; the call itself fails for want of a buffer.
    std::uint32_t required = 0;
    os.SetupDiGetDeviceInterfaceDetailW(list.get(), interfaceData, nullptr, 0, &required, nullptr);
    unique_local detail(required ? os.LocalAlloc(kLmemFixed, required) : nullptr);
    if (!detail) {
        log(u"SetupDiGetDeviceInterfaceDetail failed");
        return false;
    }
    ByteWriter(detail.get(), required).u32(kDeviceInterfaceDetailDataSize);
    if (!os.SetupDiGetDeviceInterfaceDetailW(list.get(), interfaceData, detail.get(), required, &required, nullptr)) {
        detail.reset();
        log(u"SetupDiGetDeviceInterfaceDetail failed");
        return false;
    }
    const wstring16 path = DevicePathOf(detail.get(), required);
    unique_handle driver(os.CreateFileW(path.c_str(), kGenericReadWrite, 0, kOpenExisting, 0));
    detail.reset();
    if (!driver) {
        log(u"CreateFile failed");
        return false;
    }
    // Bytes the driver does not write stay 0.
    std::uint8_t answer[4] = {};
    std::uint32_t returned = 0;
    if (!os.DeviceIoControl(driver.get(), kIoctlVtGetStatus, nullptr, 0, answer, sizeof answer, &returned)) {
        log(u"DeviceIoControl failed");
        return false;
    }
    const std::uint32_t nVTReturn = ByteCursor(answer, sizeof answer).u32();
    log(u"nVTReturn = %d\n", {nVTReturn});
    if (nVTReturn & kLockBit) log(u"Lock bit set\n");
    return (nVTReturn & kVmxOutsideSmxBit) != 0;
}

bool IsCPUType(const char16_t* text) {
    Platform& os = Current();
    // A list that cannot be made yields no devices.
    unique_device_list list(os.SetupDiGetClassDevsW(nullptr, u"ACPI", kDigcfPresent | kDigcfAllClasses));
    char16_t name[kNameBufferBytes / 2] = {};
    const wstring16_view wanted(text, WideLength(text));
    bool match = false;
    DevInfoData device;
    device.cbSize = kDevInfoDataSize;
    for (std::uint32_t index = 0; !match && os.SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
        std::uint32_t type = 0, hardwareIdSize = 0;
        if (os.SetupDiGetDeviceRegistryPropertyW(list.get(), device, kSpdrpHardwareId, &type, nullptr, 0,
                                                 &hardwareIdSize) ||
            os.GetLastError() == kErrorInvalidData)
            continue;
        // The whole name buffer: a friendly name longer than the device's
        // hardware IDs is read all the same.
        if (!os.SetupDiGetDeviceRegistryPropertyW(list.get(), device, kSpdrpFriendlyName, &type, name, sizeof name,
                                                  nullptr))
            std::fill(std::begin(name), std::end(name), u'\0');
        const wstring16_view friendly(name, std::find(std::begin(name), std::end(name), u'\0') - std::begin(name));
        if (friendly.find(wanted) != wstring16_view::npos) match = true;
        else std::fill(std::begin(name), std::end(name), u'\0');
    }
    return match;
}

}  // namespace
}  // namespace qf::tools

bool ProcessorVT::Test() {
    return qf::AtBoundary(false, [&] { return qf::tools::ProcessorVTTest(); });
}

bool VTEnabled::Test() {
    return qf::AtBoundary(false, [&] { return qf::tools::VTEnabledTest(); });
}

bool CPUProperties::IsCPUType(QF_WCHAR* text) {
    return qf::AtBoundary(false, [&] { return qf::tools::IsCPUType(qf::tools::In(text)); });
}
