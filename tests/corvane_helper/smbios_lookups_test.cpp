// The process-wide table's lookups: the System Information header by SMBIOS
// version on hand-made and real tables, and the dumps of DumpAll.
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "CorvaneHelper.h"
#include "corvane_helper/helper_fixture.h"
#include "corvane_helper/smbios_lookups.h"
#include "smbios/table_builder.h"

namespace {

using namespace qf::helper;
using qftest::Concat;
using qftest::Structure;
using qftest::TableBytes;

const TableBytes kBios = Structure(0, 0x0000, {1, 2, 0, 0xF0}, {"Vendor", "1.0"});
const TableBytes kOem = Structure(11, 0x0B00, {1}, {"OEM"});
// Manufacturer is string 2 of three.
const TableBytes kSystem = Structure(1, 0x0123, {2, 1, 3, 0}, {"Tessera T7", "Acme Computers", "A03"});
const TableBytes kEnd = Structure(127, 0xFEFF, {});

void ReadTable() { qf::smbios::corvane_helper::ReadRawSmbiosTable(ProcessSmbiosTable()); }

class SystemInformationTest : public qftest::HelperTest {
protected:
    // The header read from `table` reported as SMBIOS major.minor.
    SystemInformationHeader HeaderOf(const TableBytes& table, int major, int minor) {
        Load(qftest::Machine(qftest::RawFirmware(table, major, minor)));
        ReadTable();
        SystemInformationHeader header;
        header.manufacturer = "untouched";
        EXPECT_TRUE(GetSystemInformation(&header));
        return header;
    }
};

TEST_F(SystemInformationTest, HeaderFieldsAreTakenFromVersion21On) {
    const TableBytes table = Concat({kBios, kOem, kSystem, kEnd});
    struct Case {
        int major, minor;
        bool taken;
    };
    // 3.0 counts as a version with the fields, as every 3.x table has them.
    const Case cases[] = {{1, 9, false}, {2, 0, false}, {2, 1, true}, {2, 4, true}, {3, 0, true}, {3, 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        const SystemInformationHeader h = HeaderOf(table, c.major, c.minor);
        if (c.taken) {
            EXPECT_EQ(h.type, 1);
            EXPECT_EQ(h.length, 8);
            EXPECT_EQ(h.handle, 0x0123);
            EXPECT_EQ(h.manufacturerNumber, 2);
            EXPECT_STREQ(h.manufacturer, "Acme Computers");
        } else {
            EXPECT_EQ(h.type + h.length + h.handle + h.manufacturerNumber, 0);
            EXPECT_EQ(h.manufacturer, nullptr);
        }
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(SystemInformationTest, ManufacturerOnlyWhereTheStringSetHoldsIt) {
    struct Case {
        const char* name;
        TableBytes system;
    };
    const Case cases[] = {
        {"string number 0", Structure(1, 0x0100, {0, 1, 2, 3}, {"Product"})},
        {"number past the last string", Structure(1, 0x0100, {4, 1, 2, 3}, {"A", "B", "C"})},
        {"no strings at all", Structure(1, 0x0100, {1, 0, 0, 0})},
        // The formatted area ends before byte 4: what follows is the string-set.
        {"formatted area of 4 bytes", Structure(1, 0x0100, {}, {"Acme"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SystemInformationHeader h = HeaderOf(Concat({kBios, c.system, kEnd}), 2, 4);
        EXPECT_EQ(h.manufacturer, nullptr);
    }
}

TEST_F(SystemInformationTest, NoSystemInformationLeavesTheHeaderAsItWas) {
    Load(qftest::Machine(qftest::RawFirmware(Concat({kBios, kOem, kEnd}))));
    SystemInformationHeader header;
    header.handle = 0x4242;
    EXPECT_FALSE(GetSystemInformation(&header)) << "nothing read yet";
    ReadTable();
    EXPECT_FALSE(GetSystemInformation(&header));
    EXPECT_EQ(header.handle, 0x4242);
}

// The real tables of shared/testdata, whatever version they are said to be.
TEST_F(SystemInformationTest, RealTablesGiveTheDecodedManufacturer) {
    const char* const machines[] = {"ASRock-Single-Ryzen", "Beelink-EQ12", "Dell-PowerEdge-R630-Dual-Xeon",
                                    "HyperV", "SuperMicro-Dual-Xeon", "SuperMicro-Quad-Opteron"};
    for (const char* machine : machines) {
        SCOPED_TRACE(machine);
        const qftest::TestdataFile* dmi = qftest::FindTestdata(std::string(machine) + ".dmi");
        const qftest::TestdataFile* json = qftest::FindTestdata(std::string(machine) + ".json");
        ASSERT_TRUE(dmi && json) << "shared/testdata/smbios must lie beside the repository";
        TableBytes table = dmi->bytes;
        if (std::string(machine) == "Beelink-EQ12") table.erase(table.begin(), table.begin() + 0x20);  // entry point
        const auto decoded = nlohmann::json::parse(json->bytes.begin(), json->bytes.end());
        const std::string expected = decoded["SystemInformation"]["Manufacturer"];
        for (const auto& [major, minor] : {std::pair{2, 0}, {2, 4}, {3, 0}, {3, 2}}) {
            SCOPED_TRACE(std::to_string(major) + "." + std::to_string(minor));
            const SystemInformationHeader h = HeaderOf(table, major, minor);
            if (major == 2 && minor == 0) {
                EXPECT_EQ(h.manufacturer, nullptr);
                continue;
            }
            ASSERT_NE(h.manufacturer, nullptr);
            std::string read = h.manufacturer;
            while (!read.empty() && read.back() == ' ') read.pop_back();  // the decoder drops trailing blanks
            if (std::string(machine) == "ASRock-Single-Ryzen") {
                // The decoder shows the placeholder as an empty text.
                EXPECT_EQ(expected, "");
                EXPECT_EQ(read, "To Be Filled By O.E.M.");
            } else {
                EXPECT_EQ(read, expected);
            }
        }
    }
}

class DumpAllTest : public qftest::HelperTest {};

TEST_F(DumpAllTest, WritesTheFirstStructureOfEachTypeFrom1To14) {
    // Type 3 holds 0x0A in its formatted area and in a string; there is no
    // type 2 or 5; types 0 and 15 are not dumped; table4.out cannot be
    // created (a folder has that name); an old table5.out stays.
    const TableBytes chassis = Structure(3, 0x0300, {0x0A, 0x01, 0x0A}, {"Line\nbreak"});
    const TableBytes table =
        Concat({kBios, kSystem, chassis, Structure(3, 0x0301, {0}, {"second"}), Structure(4, 0x0400, {0}),
                Structure(14, 0x0E00, {0}, {"Group"}), Structure(15, 0x0F00, {0}), kEnd});
    Load(qftest::Machine(qftest::RawFirmware(table)));
    std::filesystem::create_directory("table4.out");
    WriteHostFile("table5.out", "old dump");
    const std::size_t before = sim().calls().size();

    EXPECT_TRUE(DumpAll());

    const auto span = [](const TableBytes& s) { return std::string(s.begin(), s.end() - 1); };
    EXPECT_EQ(ReadHostFile("table1.out"), span(kSystem));
    EXPECT_EQ(ReadHostFile("table3.out"), std::string("\x03\x07\x00\x03\x0D\x0A\x01\x0D\x0A", 9) + "Line\r\nbreak" +
                                              std::string(1, '\0'));
    EXPECT_EQ(ReadHostFile("table14.out"), span(Structure(14, 0x0E00, {0}, {"Group"})));
    EXPECT_EQ(ReadHostFile("table5.out"), "old dump");
    EXPECT_TRUE(std::filesystem::is_directory("table4.out"));
    for (const char* absent : {"table0.out", "table2.out", "table15.out"})
        EXPECT_FALSE(std::filesystem::exists(absent)) << absent;

    std::size_t reads = 0;
    for (const std::string& call : CallsSince(before)) reads += call == "CoInitializeEx";
    EXPECT_EQ(reads, 14u) << "the table is read anew before each type";
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DumpAllTest, FailedReadsDumpTheCopyHeldBefore) {
    Load(qftest::Machine(qftest::RawFirmware(Concat({kBios, kEnd})) +
                         R"(, "errors": [ { "call": "CoInitializeEx", "error": "0x80010106" } ])"));
    const TableBytes held = Concat({kSystem, kEnd});
    auto& table = ProcessSmbiosTable();
    table.tableBytes.reset(static_cast<std::uint8_t*>(std::malloc(held.size())));
    std::memcpy(table.tableBytes.get(), held.data(), held.size());
    table.tableLength = static_cast<std::uint32_t>(held.size());

    EXPECT_TRUE(DumpAll());
    EXPECT_EQ(ReadHostFile("table1.out"), std::string(kSystem.begin(), kSystem.end() - 1));
    EXPECT_FALSE(std::filesystem::exists("table0.out"));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
