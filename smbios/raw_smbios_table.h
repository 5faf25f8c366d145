// The raw SMBIOS table reader both libraries share: a copy of the structure
// table that WMI publishes (ROOT\WMI, MSSMBios_RawSMBiosTables), and the walk
// to the first structure of a type. The two libraries differ only in who
// sets up COM and in how long their record lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

namespace qf::smbios {

struct TableBytesDeleter {
    void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};
using TableBytes = std::unique_ptr<std::uint8_t[], TableBytesDeleter>;

// A copy of the firmware's SMBIOS structure table (structures only, no entry
// point) with the version bytes the firmware reports. A new record holds no
// table and both versions 0; the record owns its copy and releases it when
// the copy is replaced or the record is destroyed.
struct RawSmbiosTable {
    std::uint8_t majorVersion = 0;
    std::uint8_t minorVersion = 0;
    TableBytes tableBytes;         // null: no copy
    std::uint32_t tableLength = 0;  // bytes in tableBytes
};

// Who initialises COM around a read.
enum class ComSetup {
    Caller,   // the calling thread has COM and its security set up already
    PerRead,  // the read initialises COM (multithreaded) and uninitialises it
};

// Fills `record` from WMI. True when the record now holds a new copy of the
// table. Every failure leaves the previous copy in place; the version bytes
// are written as soon as they are read, so a read that fails later may leave
// new versions beside the previous copy. Nothing is logged.
bool ReadRawSmbiosTable(RawSmbiosTable& record, ComSetup com);

namespace installer_tools {
// QuillFrame-Installer-Tools: COM is the caller's; one record per search.
inline bool ReadRawSmbiosTable(RawSmbiosTable& record) {
    return qf::smbios::ReadRawSmbiosTable(record, ComSetup::Caller);
}
}  // namespace installer_tools

namespace corvane_helper {
// CorvaneHelper: COM set up around each read of its one process-wide
// record. 1 when a new copy was taken, 0 otherwise.
inline int ReadRawSmbiosTable(RawSmbiosTable& record) {
    return qf::smbios::ReadRawSmbiosTable(record, ComSetup::PerRead) ? 1 : 0;
}
}  // namespace corvane_helper

// One structure of a table copy. Valid while the copy it points into lives.
struct SmbiosStructure {
    std::uint32_t offset = 0;          // of its first header byte in the table
    // Its structure span: from the first header byte through the first NUL of
    // the NUL pair that closes it (the formatted area and the string-set
    // without its final NUL), one byte less than the structure occupies.
    std::uint32_t span = 0;
    const std::uint8_t* bytes = nullptr;  // the table's bytes at `offset`; `span` of them
};

// The first structure of `type`, or nothing. The walk reads nothing at or
// past `length`: a structure whose header or closing NUL pair does not lie
// wholly within the table ends it with nothing, whatever its bytes say.
std::optional<SmbiosStructure> FindSmbiosStructure(const std::uint8_t* table, std::uint32_t length, std::uint8_t type);
std::optional<SmbiosStructure> FindSmbiosStructure(const RawSmbiosTable& record, std::uint8_t type);

// Where table copies come from (std::malloc unless replaced); the record
// frees them with std::free. Tests swap in one that refuses, to walk the
// path of a copy that cannot be made. Returns the previous allocator.
using TableAllocator = void* (*)(std::size_t bytes);
TableAllocator SetTableAllocator(TableAllocator allocator);

}  // namespace qf::smbios
