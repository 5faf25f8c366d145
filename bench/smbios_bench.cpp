// The marker searches on firmware bytes in memory, against memmem of the
// same bytes: the OEM-strings marker search of the prerequisite checks (walk
// to the first type-11 structure, search its span, as
// CheckNotAlreadyVirtualized::SearchForStringInBIOS does after its WMI read)
// and the raw signature scan IsRunningFromNativeWindows makes over the whole
// firmware-table answer. Reading the bytes from the system is the platform's
// cost and is left out. Neither table holds a marker, so every search runs
// to the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench.h"
#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"
#include "smbios/table_builder.h"

namespace qfbench {
namespace {

using qftest::TableBytes;

constexpr char kMarker[] = "VMware";                // CheckNotAlreadyVirtualized::Test
constexpr char kSignature[] = "Corvane Driftwell";  // IsRunningFromNativeWindows
// The Beelink dump starts with the SMBIOS 3 entry point; the table follows at 0x20.
constexpr std::size_t kBeelinkTableAt = 0x20;

// A 64 KiB table of a large server: firmware and system, then memory
// devices, slots and ports, the OEM strings last (so the walk crosses the
// whole table) without the marker, and the end-of-table structure.
TableBytes Generated64KiB() {
    using qftest::Structure;
    constexpr std::size_t kSize = 64 * 1024;
    TableBytes t;
    const auto add = [&t](const TableBytes& s) { t.insert(t.end(), s.begin(), s.end()); };
    std::uint16_t handle = 0;
    add(Structure(0, handle++, {1, 2, 0x00, 0xF0, 3, 0xFF, 0x80, 0x98, 0x8B, 0x3F, 0, 0, 0, 0, 0x03, 0x0D, 5, 11, 0xFF, 0xFF},
                  {"American Megatrends Inc.", "3.4", "12/03/2020"}));
    add(Structure(1, handle++, TableBytes(23, 0x11), {"Supermicro", "SYS-2049U-TR4", "0123456789", "S411562X0A13425",
                                                     "To be filled by O.E.M.", "Clear Creek"}));
    char text[64];
    for (unsigned i = 0; t.size() < kSize - 1024; ++i) {
        switch (i % 4) {
        case 0:
        case 1: {  // a memory device
            TableBytes formatted(0x28 - 4, 0);
            formatted[12] = 1;  // device locator: string 1
            formatted[13] = 2;  // bank locator
            formatted[19] = 3;  // manufacturer
            formatted[20] = 4;  // serial number
            formatted[21] = 5;  // asset tag
            formatted[22] = 6;  // part number
            std::snprintf(text, sizeof text, "P%u-DIMM%c%u", i / 64 + 1, 'A' + (i / 8) % 8, i % 8 + 1);
            const std::string locator = text;
            std::snprintf(text, sizeof text, "P%u_Node%u_Channel%u_Dimm0", i / 64, i / 32 % 2, i / 8 % 4);
            const std::string bank = text;
            std::snprintf(text, sizeof text, "%08X", 0x3A1B0C2Du * (i + 1));
            add(Structure(17, handle++, formatted,
                          {locator, bank, "Samsung", text, locator + "_AssetTag", "M393A4K40CB2-CTD"}));
            break;
        }
        case 2: {  // a system slot
            std::snprintf(text, sizeof text, "CPU%u SLOT%u PCI-E 3.0 X16", i / 32 + 1, i % 8 + 1);
            add(Structure(9, handle++, {1, 0xB6, 0x0D, 0x04, 0x04, static_cast<std::uint8_t>(i), 0, 0x0C, 0x01, 0, 0, 0, 0},
                          {text}));
            break;
        }
        default: {  // a port connector
            std::snprintf(text, sizeof text, "JUSB%u", i % 16);
            const std::string internal = text;
            std::snprintf(text, sizeof text, "Rear USB 3.1 Gen%u Type-C port %u", i % 2 + 1, i % 16);
            add(Structure(8, handle++, {1, 0x12, 2, 0x12, 0x10}, {internal, text}));
            break;
        }
        }
    }
    const TableBytes end = Structure(127, 0xFEFF, {});
    const std::vector<std::string> fixed = {"Intel Corporation", "Supermicro motherboard-X11 Series",
                                            "Default string", "Cascade Lake-SP"};
    // The OEM structure: header, count, the strings and their NULs, the closing NUL.
    std::size_t oem = 4 + 1 + 1;
    for (const std::string& s : fixed) oem += s.size() + 1;
    const std::size_t pad = kSize - t.size() - end.size() - oem - 1;  // the filler string and its NUL
    std::vector<std::string> strings = fixed;
    std::string filler;
    for (unsigned i = 0; filler.size() < pad; ++i) filler += "Board ID " + std::to_string(i) + "; ";
    filler.resize(pad);
    strings.push_back(filler);
    add(Structure(11, handle++, {static_cast<std::uint8_t>(strings.size())}, strings));
    add(end);
    if (t.size() != kSize) throw std::logic_error("the generated table is not 64 KiB");
    return t;
}

// What GetSystemFirmwareTable('RSMB') answers: its 8-byte header (calling
// method, major and minor version, DMI revision, table length), the table.
TableBytes RsmbAnswer(const TableBytes& table) {
    const auto n = static_cast<std::uint32_t>(table.size());
    TableBytes out = {0, 3, 2, 0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    out.insert(out.end(), table.begin(), table.end());
    return out;
}

// CheckNotAlreadyVirtualized::SearchForStringInBIOS after the read: the
// first OEM Strings structure, and the pattern within its span.
bool MarkerSearch(const std::uint8_t* table, std::uint32_t length, const char* pattern) {
    const auto oem = qf::smbios::FindSmbiosStructure(table, length, 11);
    return oem && qf::smbios::ContainsPattern(oem->bytes, oem->span, pattern);
}

bool Memmem(const std::uint8_t* data, std::size_t size, const char* pattern) {
    return memmem(data, size, pattern, std::strlen(pattern)) != nullptr;
}

template <typename Search>
void Register(const std::string& name, std::shared_ptr<const TableBytes> bytes, const char* pattern, Search search) {
    benchmark::RegisterBenchmark(name.c_str(), [bytes, pattern, search](benchmark::State& state) {
        const std::uint8_t* data = bytes->data();
        const auto size = static_cast<std::uint32_t>(bytes->size());
        for (auto _ : state) {
            benchmark::DoNotOptimize(data);
            benchmark::DoNotOptimize(search(data, size, pattern));
        }
    });
}

void RegisterTable(const std::string& label, const TableBytes& table) {
    auto structures = std::make_shared<const TableBytes>(table);
    auto rsmb = std::make_shared<const TableBytes>(RsmbAnswer(table));
    const std::string oem = "smbios/oem-marker/" + label, raw = "smbios/raw-signature/" + label;
    // Both searches must miss, or the comparison would time an early stop.
    if (MarkerSearch(structures->data(), static_cast<std::uint32_t>(structures->size()), kMarker) ||
        Memmem(structures->data(), structures->size(), kMarker) ||
        qf::smbios::ContainsPattern(rsmb->data(), rsmb->size(), kSignature))
        throw std::logic_error(label + " holds a marker");
    Register(oem + "/ours", structures, kMarker, MarkerSearch);
    Register(oem + "/memmem", structures, kMarker, Memmem);
    Register(raw + "/ours", rsmb, kSignature, qf::smbios::ContainsPattern);
    Register(raw + "/memmem", rsmb, kSignature, Memmem);
    AddComparison({"OEM-strings marker, " + label, oem + "/ours", oem + "/memmem", 1.5});
    AddComparison({"raw signature scan, " + label, raw + "/ours", raw + "/memmem", 1.5});
}

}  // namespace

void RegisterSmbiosBenchmarks() {
    for (const qftest::TestdataFile& file : qftest::SmbiosTestdata()) {
        const std::string suffix = ".dmi";
        if (file.name.size() <= suffix.size() || file.name.compare(file.name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        TableBytes table = file.bytes;
        const std::string label = file.name.substr(0, file.name.size() - suffix.size());
        if (label == "Beelink-EQ12") table.erase(table.begin(), table.begin() + kBeelinkTableAt);
        RegisterTable(label, table);
    }
    if (qftest::SmbiosTestdata().empty())
        std::fprintf(stderr, "no real SMBIOS tables embedded: shared/testdata/smbios must lie beside the repository\n");
    RegisterTable("generated 64 KiB", Generated64KiB());
}

}  // namespace qfbench
