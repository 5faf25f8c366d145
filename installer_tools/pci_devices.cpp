// EnumeratePCIDevices::GetDevices: the hardware-ID lists of every present
// PCI device, one after the other in the caller's buffer, and the size of
// them all, so that a caller whose buffer was too small can ask again.
#include <algorithm>
#include <cstring>

#include "QuillFrameInstallerTools.h"
#include "common/boundary.h"
#include "installer_tools/log.h"
#include "platform/resources.h"

namespace qf::tools {
namespace {

using namespace platform;

constexpr std::uint32_t kPciListFlags = kDigcfPresent | kDigcfAllClasses;
constexpr std::uint32_t kLptr = kLmemZeroInit;  // fixed, zero-filled

// A device's hardware-ID list as the system holds it. The read is repeated
// with the size the system reports for as long as the list is larger than
// the buffer: it may grow between two reads.
bool ReadHardwareIds(DeviceList list, const DevInfoData& device, unique_local* ids, std::uint32_t* size) {
    Platform& os = Current();
    std::uint32_t capacity = 0, reported = 0;
    for (;;) {
        if (os.SetupDiGetDeviceRegistryPropertyW(list, device, kSpdrpHardwareId, nullptr, ids->get(), capacity,
                                                 &reported)) {
            *size = std::min(reported, capacity);
            return true;
        }
        // A size that is no larger than the buffer offered would be asked for forever.
        if (os.GetLastError() != kErrorInsufficientBuffer || reported <= capacity) return false;
        *ids->put() = os.LocalAlloc(kLptr, reported);
        if (!*ids) return false;
        capacity = reported;
    }
}

bool GetDevices(unsigned char* buffer, std::uint32_t dwCallerBufferSize, QF_DWORD* dwCallerRequiredSize) {
    MethodLog log(u"EnumeratePCIDevices::GetDevices");
    Platform& os = Current();
    // Without a buffer nothing fits, whatever size the caller names.
    const std::uint64_t room = buffer ? dwCallerBufferSize : 0;
    // Counted in 64 bits so that no sum of sizes can wrap into a size that fits.
    std::uint64_t total = 0;
    const auto total32 = [&] { return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu)); };
    const auto reportTotal = [&] {
        if (dwCallerRequiredSize) *dwCallerRequiredSize = total32();
    };
    reportTotal();
    std::size_t written = 0;
    log(u"dwCallerBufferSize = %d", {dwCallerBufferSize});

    unique_device_list devices(os.SetupDiGetClassDevsW(nullptr, u"PCI", kPciListFlags));
    if (!devices) return false;
    DevInfoData device;
    device.cbSize = kDevInfoDataSize;
    for (std::uint32_t i = 0; os.SetupDiEnumDeviceInfo(devices.get(), i, &device); ++i) {
        unique_local ids;
        std::uint32_t size = 0;
        if (!ReadHardwareIds(devices.get(), device, &ids, &size)) {
            log(u"SetupDiGetDeviceRegistryProperty failed");
            size = 0;  // a list that cannot be read is an empty entry
        }
        log(u"SetupDiGetDeviceRegistryProperty bytes returned = %d", {size});
        total += size;
        reportTotal();
        // Entries are copied whole and in order: once one does not fit, no later one does.
        if (total <= room) {
            if (size != 0) std::memcpy(buffer + written, ids.get(), size);
            written += size;
        } else {
            log(u"Caller has NOT allocated enough memory");
        }
    }
    const std::uint32_t error = os.GetLastError();
    if (error != kErrorSuccess && error != kErrorNoMoreItems) return false;
    devices.reset();
    log(u"*dwCallerRequiredSize = %d", {total32()});
    if (total > room) {
        log(u"Caller did not allocate enough memory");
        return false;
    }
    return true;
}

}  // namespace
}  // namespace qf::tools

bool EnumeratePCIDevices::GetDevices(unsigned char* buffer, QF_DWORD dwCallerBufferSize, QF_DWORD* dwCallerRequiredSize) {
    return qf::AtBoundary(false, [&] { return qf::tools::GetDevices(buffer, dwCallerBufferSize, dwCallerRequiredSize); });
}
