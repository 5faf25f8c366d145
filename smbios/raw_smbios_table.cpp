#include "smbios/raw_smbios_table.h"

#include <cstring>
#include <exception>
#include <vector>

#include "common/byte_cursor.h"
#include "platform/resources.h"

namespace qf::smbios {
namespace {

using namespace platform;

TableAllocator& Allocator() {
    static TableAllocator allocator = &std::malloc;
    return allocator;
}

// Balances a successful CoInitializeEx. Declared before the interfaces of a
// read, so it runs after every one of them is released.
class ComScope {
public:
    explicit ComScope(bool initialised) : initialised_(initialised) {}
    ~ComScope() {
        if (initialised_) Current().CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

// The low byte of a value, whatever its type.
std::uint8_t LowByte(const Variant& value) { return static_cast<std::uint8_t>(value.bits32); }

// Replaces the record's copy with `bytes`. A copy that cannot be made fails
// the read and keeps the previous one.
bool TakeCopy(RawSmbiosTable& record, const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() > UINT32_MAX) return false;
    TableBytes copy;
    if (!bytes.empty()) {
        copy.reset(static_cast<std::uint8_t*>(Allocator()(bytes.size())));
        if (!copy) return false;
        std::memcpy(copy.get(), bytes.data(), bytes.size());
    }
    record.tableBytes = std::move(copy);
    record.tableLength = static_cast<std::uint32_t>(bytes.size());
    return true;
}

bool ReadFromWmi(Platform& os, RawSmbiosTable& record) {
    com_ptr locator;
    if (Failed(os.CreateWbemLocator(locator.put()))) return false;
    com_ptr services;
    if (Failed(os.ConnectServer(locator.get(), u"ROOT\\WMI", services.put()))) return false;
    if (Failed(os.SetProxyBlanket(services.get()))) return false;
    com_ptr enumerator;
    if (Failed(os.CreateInstanceEnum(services.get(), u"MSSMBios_RawSMBiosTables", enumerator.put()))) return false;
    // Only the first instance is used.
    com_ptr object;
    std::uint32_t count = 0;
    if (Failed(os.Next(enumerator.get(), kWbemInfinite, 1, object.put(), &count)) || count == 0 || !object) return false;

    Variant major;
    if (Failed(os.Get(object.get(), u"SmbiosMajorVersion", &major, nullptr))) return false;
    record.majorVersion = LowByte(major);
    Variant minor;
    if (Failed(os.Get(object.get(), u"SmbiosMinorVersion", &minor, nullptr))) return false;
    record.minorVersion = LowByte(minor);

    Variant data;
    if (Failed(os.Get(object.get(), u"SMBiosData", &data, nullptr))) return false;
    if (data.vt != (VT_ARRAY | VT_UI1)) return false;
    return TakeCopy(record, data.bytes);
}

}  // namespace

bool ReadRawSmbiosTable(RawSmbiosTable& record, ComSetup com) {
    Platform& os = Current();
    if (com == ComSetup::PerRead && Failed(os.CoInitializeEx(Platform::kCoinitMultithreaded))) return false;
    ComScope scope(com == ComSetup::PerRead);
    try {
        return ReadFromWmi(os, record);
    } catch (const std::exception&) {
        // Memory for the system's answer: the read fails like any other step.
        return false;
    }
}

std::optional<SmbiosStructure> FindSmbiosStructure(const std::uint8_t* table, std::uint32_t length, std::uint8_t type) {
    if (!table) return std::nullopt;
    ByteCursor in(table, length);
    std::size_t offset = 0;
    while (offset < length) {
        if (!in.has(offset, 4)) return std::nullopt;  // header cut short
        const std::size_t formatted = in.peek(offset + 1);
        // The closing NUL pair, searched from the end of the formatted area.
        std::size_t k = 0;
        for (;; ++k) {
            const std::size_t at = offset + formatted + k;
            if (!in.has(at, 2)) return std::nullopt;
            if (in.peek(at) == 0 && in.peek(at + 1) == 0) break;
        }
        if (in.peek(offset) == type)
            return SmbiosStructure{static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(formatted + k + 1),
                                   table + offset};
        offset += formatted + k + 2;
    }
    return std::nullopt;
}

std::optional<SmbiosStructure> FindSmbiosStructure(const RawSmbiosTable& record, std::uint8_t type) {
    return FindSmbiosStructure(record.tableBytes.get(), record.tableLength, type);
}

TableAllocator SetTableAllocator(TableAllocator allocator) {
    TableAllocator previous = Allocator();
    Allocator() = allocator;
    return previous;
}

}  // namespace qf::smbios
