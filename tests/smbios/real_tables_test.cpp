// The walk and the string lookups on firmware tables of real machines
// (shared/testdata/smbios), against the values another decoder read from
// the same bytes.
#include <nlohmann/json.hpp>

#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"
#include "smbios/table_builder.h"
#include "support/sim_fixture.h"

namespace {

using namespace qf::smbios;
using qftest::TableBytes;

const char* const kMachines[] = {"ASRock-Single-Ryzen", "Beelink-EQ12", "Dell-PowerEdge-R630-Dual-Xeon",
                                 "HyperV", "SuperMicro-Dual-Xeon", "SuperMicro-Quad-Opteron"};

// The Beelink dump starts with the SMBIOS 3 entry point; the table follows at 0x20.
constexpr std::size_t kBeelinkTableAt = 0x20;

struct RealTable {
    TableBytes table;
    nlohmann::json decoded;
};

RealTable Load(const std::string& machine) {
    const qftest::TestdataFile* dmi = qftest::FindTestdata(machine + ".dmi");
    const qftest::TestdataFile* json = qftest::FindTestdata(machine + ".json");
    if (!dmi || !json) {
        ADD_FAILURE() << machine << ": not embedded; shared/testdata/smbios must lie beside the repository";
        return {};
    }
    RealTable t;
    t.table = dmi->bytes;
    if (machine == "Beelink-EQ12") t.table.erase(t.table.begin(), t.table.begin() + kBeelinkTableAt);
    t.decoded = nlohmann::json::parse(json->bytes.begin(), json->bytes.end());
    return t;
}

std::optional<SmbiosStructure> Find(const TableBytes& table, std::uint8_t type) {
    return FindSmbiosStructure(table.data(), static_cast<std::uint32_t>(table.size()), type);
}

std::string TrimEnd(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

TEST(RealSmbiosTables, TheWalkCoversEachTableToItsEnd) {
    for (const char* machine : kMachines) {
        SCOPED_TRACE(machine);
        const TableBytes table = Load(machine).table;
        ASSERT_FALSE(table.empty());
        // From each structure, the first structure of its own type is itself.
        std::size_t at = 0, count = 0;
        std::uint8_t last = 0;
        while (at < table.size()) {
            const auto s = FindSmbiosStructure(table.data() + at, static_cast<std::uint32_t>(table.size() - at), table[at]);
            ASSERT_TRUE(s) << "structure at " << at;
            ASSERT_EQ(s->offset, 0u);
            ASSERT_GE(s->span, table[at + 1] + 1u);
            last = table[at];
            at += s->span + 1;
            ++count;
        }
        EXPECT_EQ(at, table.size()) << "the last structure closes at the table's end";
        EXPECT_GT(count, 20u);
        if (std::string(machine) != "Beelink-EQ12") {
            EXPECT_EQ(last, 127) << "end-of-table structure last";
        }
    }
}

TEST(RealSmbiosTables, StringsMatchTheDecodedValues) {
    struct Field {
        std::uint8_t type;
        const char* section;
        const char* name;
        std::uint8_t byte;  // the string number's place in the structure
    };
    const Field fields[] = {
        {0, "BIOSInformation", "Vendor", 4},         {0, "BIOSInformation", "Version", 5},
        {0, "BIOSInformation", "ReleaseDate", 8},    {1, "SystemInformation", "Manufacturer", 4},
        {1, "SystemInformation", "ProductName", 5},  {1, "SystemInformation", "Version", 6},
        {1, "SystemInformation", "SerialNumber", 7}, {2, "BaseboardInformation", "Manufacturer", 4},
        {2, "BaseboardInformation", "Product", 5},   {2, "BaseboardInformation", "SerialNumber", 7},
        {3, "SystemEnclosure", "Manufacturer", 4},   {3, "SystemEnclosure", "SerialNumber", 7},
    };
    std::size_t compared = 0;
    for (const char* machine : kMachines) {
        SCOPED_TRACE(machine);
        const RealTable t = Load(machine);
        for (const Field& f : fields) {
            SCOPED_TRACE(std::string(f.section) + "." + f.name);
            const auto s = Find(t.table, f.type);
            ASSERT_TRUE(s);
            const std::string expected = t.decoded[f.section][f.name];
            const char* text = SmbiosString(*s, s->bytes[f.byte]);
            // The decoder shows placeholders and unset strings as empty texts
            // and drops trailing blanks; compare what it did decode.
            if (expected.empty()) continue;
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(TrimEnd(text), expected);
            ++compared;
        }

        // OEM Strings: the count in byte 4 and every string, exactly.
        const auto oem = Find(t.table, 11);
        ASSERT_TRUE(oem);
        const auto& strings = t.decoded["OEMStrings"]["Strings"];
        EXPECT_EQ(oem->bytes[4], t.decoded["OEMStrings"]["Count"].get<int>());
        for (std::size_t i = 0; i < strings.size(); ++i) {
            const char* text = SmbiosString(*oem, static_cast<std::uint8_t>(i + 1));
            ASSERT_NE(text, nullptr) << "string " << i + 1;
            EXPECT_EQ(std::string(text), strings[i].get<std::string>());
        }
        EXPECT_EQ(SmbiosString(*oem, static_cast<std::uint8_t>(strings.size() + 1)), nullptr);
        compared += strings.size();
    }
    EXPECT_GE(compared, 60u) << "most decoded values take part";
}

TEST(RealSmbiosTables, WhatTheirReadmeSaysOfThem) {
    const RealTable dell = Load("Dell-PowerEdge-R630-Dual-Xeon");
    ASSERT_FALSE(dell.table.empty());
    EXPECT_EQ(Find(dell.table, 218)->offset, 0u) << "an OEM-specific structure first";
    EXPECT_STREQ(SmbiosString(*Find(dell.table, 11), 8), "19[?]");

    const RealTable asrock = Load("ASRock-Single-Ryzen");
    ASSERT_FALSE(asrock.table.empty());
    const auto system = Find(asrock.table, 1);
    EXPECT_STREQ(SmbiosString(*system, system->bytes[4]), "To Be Filled By O.E.M.");

    const RealTable hyperv = Load("HyperV");
    ASSERT_FALSE(hyperv.table.empty());
    const auto oem = Find(hyperv.table, 11);
    EXPECT_TRUE(ContainsPattern(oem->bytes, oem->span, "MS_VM_CERT"));
    EXPECT_FALSE(ContainsPattern(oem->bytes, oem->span, "Microsoft Corporation")) << "that is type 1's";
}

class RealSmbiosReadTest : public qftest::SimTest {};

TEST_F(RealSmbiosReadTest, AMachineWithARealTableReadsItBack) {
    const qftest::TestdataFile* beelink = qftest::FindTestdata("Beelink-EQ12.dmi");
    ASSERT_NE(beelink, nullptr);
    // The entry point holds the version the firmware reports.
    const int major = beelink->bytes[7], minor = beelink->bytes[8];
    const TableBytes table(beelink->bytes.begin() + kBeelinkTableAt, beelink->bytes.end());
    Load(qftest::Machine(qftest::RawFirmware(table, major, minor)));
    RawSmbiosTable record;
    ASSERT_TRUE(installer_tools::ReadRawSmbiosTable(record));
    EXPECT_EQ(record.majorVersion, 3);
    EXPECT_EQ(record.minorVersion, 5);
    ASSERT_EQ(record.tableLength, table.size());
    EXPECT_EQ(TableBytes(record.tableBytes.get(), record.tableBytes.get() + record.tableLength), table);
    const auto system = FindSmbiosStructure(record, 1);
    ASSERT_TRUE(system);
    EXPECT_STREQ(SmbiosString(*system, system->bytes[4]), "AZW");
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
