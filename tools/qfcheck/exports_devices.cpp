// Exports of device enumeration: the boot disk's controller and the PCI
// devices' hardware IDs.
#include <algorithm>

#include "exports.h"

namespace qfcheck {
namespace {

using Kind = Param::Kind;

constexpr std::size_t kIdCapacity = 260;
// qfcheck allocates the buffer it names; a larger one is refused.
constexpr std::uint32_t kLargestPciBuffer = 64u << 20;
// The fill of the PCI buffer: no hardware ID holds U+FFFF, so the end of
// what the library copied shows.
constexpr unsigned char kUnwritten = 0xFF;

// A fixed-size wide buffer as text, up to its first NUL.
std::string BoundedText(const QF_WCHAR* text, std::size_t capacity) {
    const QF_WCHAR* end = std::find(text, text + capacity, QF_WCHAR(0));
    return Utf8(std::u16string(reinterpret_cast<const char16_t*>(text), end - text));
}

// The hardware-ID lists at the start of a PCI buffer: whole UTF-16LE
// multi-strings up to the first unwritten unit.
Json CopiedEntries(const std::vector<unsigned char>& buffer) {
    const auto unit = [&](std::size_t at) { return static_cast<char16_t>(buffer[at] | buffer[at + 1] << 8); };
    const char16_t unwritten = static_cast<char16_t>(kUnwritten | kUnwritten << 8);
    Json entries = Json::array();
    std::size_t at = 0;
    while (at + 2 <= buffer.size() && unit(at) != unwritten) {
        Json ids = Json::array();
        std::u16string id;
        bool closed = false;
        for (; at + 2 <= buffer.size() && unit(at) != unwritten; at += 2) {
            if (unit(at) != 0) {
                id.push_back(unit(at));
            } else if (!id.empty()) {
                ids.push_back(Utf8(id));
                id.clear();
            } else {
                closed = true;
                at += 2;
                break;
            }
        }
        if (!closed) break;  // not a whole list: nothing the library writes
        entries.push_back(std::move(ids));
    }
    return entries;
}

}  // namespace

void AddDeviceExports(std::vector<ExportDef>& e) {
    e.push_back({"EnumerateDiskDevices::GetBootDiskControllerAddress", {}, {}, false,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     QF_WCHAR address[kIdCapacity] = {};
                     r.result = s.diskDevices.GetBootDiskControllerAddress(address);
                     r.out["address"] = BoundedText(address, kIdCapacity);
                 }});
    e.push_back({"EnumerateDiskDevices::GetDriveControllerDeviceID", {{Kind::Text, "path"}}, {}, false,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     std::u16string path = a.Text(0);
                     QF_WCHAR deviceId[kIdCapacity] = {};
                     r.result = s.diskDevices.GetDriveControllerDeviceID(reinterpret_cast<QF_WCHAR*>(path.data()),
                                                                         deviceId);
                     r.out["deviceId"] = BoundedText(deviceId, kIdCapacity);
                 }});
    e.push_back({"EnumerateDiskDevices::IsOnlyDiskConnectedToController", {{Kind::Text, "text"}}, {}, false,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     r.result = s.diskDevices.IsOnlyDiskConnectedToController(W(a.Text(0)));
                 }});
    e.push_back({"EnumerateDiskDevices::GetAllDisksDeviceID", {}, {}, false,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     r.result = s.diskDevices.GetAllDisksDeviceID();
                     Json slots = Json::array();
                     for (const auto& slot : s.diskDevices.DisksDeviceID) slots.push_back(BoundedText(slot, kIdCapacity));
                     r.out["DisksDeviceID"] = std::move(slots);
                 }});

    e.push_back({"EnumeratePCIDevices::GetDevices", {{Kind::Number, "dwCallerBufferSize", kLargestPciBuffer}}, {},
                 false, [](Session&, const CallArgs& a, CallResult& r) {
                     const std::uint32_t size = a.Number(0);
                     std::vector<unsigned char> buffer(size, kUnwritten);
                     QF_DWORD required = 0;
                     EnumeratePCIDevices pci;
                     r.result = pci.GetDevices(buffer.data(), size, &required);
                     r.out["dwCallerRequiredSize"] = required;
                     r.out["entries"] = CopiedEntries(buffer);
                 }});
}

}  // namespace qfcheck
