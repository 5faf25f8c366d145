// Hand-made SMBIOS structure tables for tests, and the real tables from
// shared/testdata embedded at build time (so that they are found under Wine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qftest {

using TableBytes = std::vector<std::uint8_t>;

// One structure: the 4-byte header (its length counting `formatted`), the
// formatted area after the header, the strings, and the closing NUL (two
// NULs when there are no strings).
inline TableBytes Structure(std::uint8_t type, std::uint16_t handle, const TableBytes& formatted,
                            const std::vector<std::string>& strings = {}) {
    TableBytes s = {type, static_cast<std::uint8_t>(4 + formatted.size()), static_cast<std::uint8_t>(handle),
                    static_cast<std::uint8_t>(handle >> 8)};
    s.insert(s.end(), formatted.begin(), formatted.end());
    for (const std::string& text : strings) {
        s.insert(s.end(), text.begin(), text.end());
        s.push_back(0);
    }
    if (strings.empty()) s.push_back(0);
    s.push_back(0);
    return s;
}

inline TableBytes Concat(std::initializer_list<TableBytes> parts) {
    TableBytes out;
    for (const TableBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline TableBytes Raw(const std::string& text) { return TableBytes(text.begin(), text.end()); }

// Hex for a machine description's "raw" firmware table.
inline std::string Hex(const TableBytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A machine description member giving the firmware table as raw bytes.
inline std::string RawFirmware(const TableBytes& table, int major = 2, int minor = 5) {
    return R"("firmware": { "smbiosVersion": [)" + std::to_string(major) + ", " + std::to_string(minor) +
           R"(], "raw": ")" + Hex(table) + R"(" })";
}

// A file of shared/testdata/smbios, as embedded at build time.
struct TestdataFile {
    std::string name;
    TableBytes bytes;
};
// Every embedded file; a missing one is a failure of the test that needs it.
const std::vector<TestdataFile>& SmbiosTestdata();
const TestdataFile* FindTestdata(const std::string& name);

}  // namespace qftest
