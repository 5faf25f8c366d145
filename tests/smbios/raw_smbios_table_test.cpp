#include <cstring>

#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"
#include "smbios/table_builder.h"
#include "support/sim_fixture.h"

namespace {

using namespace qf::smbios;
using qftest::Concat;
using qftest::Raw;
using qftest::Structure;
using qftest::TableBytes;

struct Found {
    std::uint32_t offset, span;
};
bool operator==(const Found& a, const Found& b) { return a.offset == b.offset && a.span == b.span; }
void PrintTo(const Found& f, std::ostream* os) { *os << "{offset " << f.offset << ", span " << f.span << "}"; }

// The walk over the first `length` bytes of `bytes`. The buffer may hold
// more: bytes past `length` that would complete a structure show a walk that
// reads beyond the table.
std::optional<Found> Find(const TableBytes& bytes, std::size_t length, std::uint8_t type) {
    // A heap block of exactly `length` bytes, so that a sanitizer sees any
    // read past it, followed in `bytes` by what a reader must not see.
    TableBytes copy(bytes.begin(), bytes.begin() + length);
    auto inside = FindSmbiosStructure(copy.data(), static_cast<std::uint32_t>(length), type);
    auto whole = FindSmbiosStructure(bytes.data(), static_cast<std::uint32_t>(length), type);
    EXPECT_EQ(inside.has_value(), whole.has_value());
    if (!whole) return std::nullopt;
    EXPECT_EQ(whole->bytes, bytes.data() + whole->offset);
    return Found{whole->offset, whole->span};
}
std::optional<Found> Find(const TableBytes& bytes, std::uint8_t type) { return Find(bytes, bytes.size(), type); }

const TableBytes kBios = Structure(0, 0x0000, {1, 2, 0, 0xF0}, {"Vendor", "1.0"});  // 8 + 11 + 1 = 20 bytes
const TableBytes kEnd = Structure(127, 0xFEFF, {});                                 // 4 + 2 = 6 bytes

TEST(SmbiosWalk, FindsTheFirstStructureOfATypeWithItsSpan) {
    const TableBytes system = Structure(1, 0x0100, {1, 2}, {"Acme", "Box"});  // 6 + 9 + 1
    const TableBytes noStrings = Structure(11, 0x0B00, {0});                  // 5 + 2
    const TableBytes second = Structure(1, 0x0101, {1, 0}, {"Second"});
    const TableBytes table = Concat({kBios, kEnd, system, noStrings, second});
    struct Case {
        std::uint8_t type;
        std::optional<Found> expected;
    };
    const Case cases[] = {
        {0, Found{0, 19}},
        // Type 127 is passed like any other; the walk goes on behind it.
        {127, Found{20, 5}},
        // Formatted length plus the string-set without its final NUL.
        {1, Found{26, 6 + 9}},
        // Without strings: the formatted length and one NUL.
        {11, Found{42, 6}},
        {2, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(Find(table, c.type), c.expected) << "type " << int(c.type);
}

TEST(SmbiosWalk, NeverReadsAtOrPastTheTableLength) {
    // Each table is cut at `length`; the bytes behind the cut would complete
    // its last structure and add a type-11 structure, which the walk must
    // not see.
    const TableBytes oem = Structure(11, 0x0B00, {1}, {"VMware"});
    struct Case {
        const char* name;
        TableBytes bytes;
        std::size_t length;
    };
    const Case cases[] = {
        {"a closing NUL pair past the end", Concat({kBios, oem}), kBios.size() + oem.size() - 1},
        {"strings running to the end", Concat({kBios, oem}), kBios.size() + oem.size() - 2},
        {"a header cut short", Concat({kBios, oem}), kBios.size() + 3},
        {"a header of two bytes", Concat({kBios, oem}), kBios.size() + 2},
        {"a formatted length past the end", Concat({kBios, {11, 200, 0, 0, 1, 0}, oem}), kBios.size() + 6},
        // The bytes of a type-11 structure inside a string-set that never
        // closes are part of that set, not a structure.
        {"a wanted type only inside an unclosed set", Concat({kBios, {1, 4, 0, 1}, oem, {0}}), kBios.size() + 4 + oem.size() - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.length, c.bytes.size());
        EXPECT_EQ(Find(c.bytes, c.length, 11), std::nullopt);
        EXPECT_EQ(Find(c.bytes, c.length, 0), (Found{0, 19})) << "structures before the cut are found";
    }
    EXPECT_EQ(Find(Concat({kBios, oem}), 11), (Found{20, 5 + 7})) << "the whole table";
    EXPECT_EQ(FindSmbiosStructure(nullptr, 0, 0), std::nullopt);
    const TableBytes empty;
    EXPECT_EQ(Find(empty, 0), std::nullopt);
    EXPECT_EQ(FindSmbiosStructure(RawSmbiosTable{}, 0), std::nullopt) << "a record without a copy";
}

TEST(SmbiosWalk, OddFormattedLengthsStillMoveForward) {
    // A formatted length below the header's own size is taken as it stands:
    // the NUL pair is looked for from there, and the walk still advances.
    const TableBytes table = Concat({{0, 0, 0, 0}, {5, 2, 0, 0, 0, 0}, kEnd});
    EXPECT_EQ(Find(table, 0), (Found{0, 1}));
    EXPECT_EQ(Find(table, 5), (Found{4, 3}));
    EXPECT_EQ(Find(table, 127), (Found{10, 5})) << "behind the odd ones";
}

TEST(SmbiosStrings, NumberedStringsStayInTheirSet) {
    const TableBytes table = Concat({Structure(1, 1, {1, 2, 3}, {"Acme", "Box", "7"}), Structure(2, 2, {1}, {"Board"}),
                                     Structure(3, 3, {0})});
    const auto system = FindSmbiosStructure(table.data(), static_cast<std::uint32_t>(table.size()), 1);
    ASSERT_TRUE(system);
    EXPECT_EQ(SmbiosString(*system, 0), nullptr) << "0 names no string";
    EXPECT_STREQ(SmbiosString(*system, 1), "Acme");
    EXPECT_STREQ(SmbiosString(*system, 2), "Box");
    EXPECT_STREQ(SmbiosString(*system, 3), "7");
    EXPECT_EQ(SmbiosString(*system, 4), nullptr) << "the next structure's strings are not this one's";
    EXPECT_EQ(SmbiosString(*system, 255), nullptr);
    const auto chassis = FindSmbiosStructure(table.data(), static_cast<std::uint32_t>(table.size()), 3);
    ASSERT_TRUE(chassis);
    EXPECT_EQ(SmbiosString(*chassis, 1), nullptr) << "a structure without strings";
}

TEST(SmbiosStrings, PatternSearchTestsEveryStartPosition) {
    const TableBytes bytes = Raw(std::string("Vx\0VMwar\0VMware", 15));
    struct Case {
        const char* pattern;
        std::size_t size;
        bool found;
    };
    const Case cases[] = {
        {"VMware", 15, true},   // after a first-byte candidate that does not match, at the last position
        {"VMware", 14, false},  // one byte short
        {"vmware", 15, false},  // case-sensitive
        {"war\0VM", 15, true},  // the pattern ends at its own NUL
        {"", 15, true},         // an empty pattern is found at a NUL
        {"", 2, false},         // ... and only at a NUL
        {"VMware-", 15, false},
        {"TooLongForTheseBytes", 15, false},
    };
    for (const Case& c : cases) EXPECT_EQ(ContainsPattern(bytes.data(), c.size, c.pattern), c.found) << c.pattern << " in " << c.size;
    EXPECT_FALSE(ContainsPattern(nullptr, 0, ""));
    const std::uint8_t high[] = {0xE9, 'c', 'r'};
    EXPECT_TRUE(ContainsPattern(high, 3, "\xE9" "c")) << "bytes compare as unsigned values";
}

// ---- The read through WMI, on simulated machines.

class RawSmbiosReadTest : public qftest::SimTest {
protected:
    // A record that already holds a copy, as the helper library's does.
    static RawSmbiosTable Previous() {
        RawSmbiosTable r;
        r.majorVersion = 9;
        r.minorVersion = 9;
        r.tableBytes.reset(static_cast<std::uint8_t*>(std::malloc(3)));
        std::memcpy(r.tableBytes.get(), "\x01\x02\x03", 3);
        r.tableLength = 3;
        return r;
    }
    TableBytes Copy(const RawSmbiosTable& r) { return TableBytes(r.tableBytes.get(), r.tableBytes.get() + r.tableLength); }
    std::size_t Calls(const std::string& name) {
        std::size_t n = 0;
        for (const auto& c : sim().calls()) n += c == name || c.rfind(name + " ", 0) == 0;
        return n;
    }
};

TEST_F(RawSmbiosReadTest, TakesTheVersionsAndACopyOfTheTable) {
    Load(qftest::Machine(qftest::RawFirmware(Concat({kBios, kEnd}), 3, 2)));
    RawSmbiosTable record = Previous();
    const std::size_t before = sim().calls().size();
    ASSERT_TRUE(installer_tools::ReadRawSmbiosTable(record));
    EXPECT_EQ(record.majorVersion, 3);
    EXPECT_EQ(record.minorVersion, 2);
    EXPECT_EQ(Copy(record), Concat({kBios, kEnd}));
    EXPECT_EQ(Calls("CoInitializeEx"), 0u) << "COM is the caller's in this build";
    EXPECT_EQ(Held(), std::vector<std::string>{});
    EXPECT_EQ(std::vector<std::string>(sim().calls().begin() + before, sim().calls().end()),
              (std::vector<std::string>{"CoCreateInstance", "ConnectServer ROOT\\WMI", "CoSetProxyBlanket",
                                                       "CreateInstanceEnum MSSMBios_RawSMBiosTables",
                                                       "Next MSSMBios_RawSMBiosTables",
                                                       "Get MSSMBios_RawSMBiosTables.SmbiosMajorVersion",
                                                       "Get MSSMBios_RawSMBiosTables.SmbiosMinorVersion",
                                                       "Get MSSMBios_RawSMBiosTables.SMBiosData"}));
}

TEST_F(RawSmbiosReadTest, AnyFailedStepKeepsThePreviousCopy) {
    struct Case {
        const char* name;
        std::string machine;
        int major, minor;  // versions read before the failure are kept
    };
    const auto raw = [](const std::string& properties) {
        return qftest::Machine(R"("wmi": { "ROOT\\WMI": { "MSSMBios_RawSMBiosTables": [ { )" + properties + " } ] } }");
    };
    const auto error = [](const std::string& rule) { return qftest::Machine(R"("errors": [ )" + rule + " ]"); };
    const Case cases[] = {
        {"COM not initialised", error(R"({ "call": "CoCreateInstance", "error": "0x800401F0" })"), 9, 9},
        {"no connection to ROOT\\WMI", error(R"({ "call": "ConnectServer", "target": "ROOT\\WMI", "error": "0x8004100E" })"), 9, 9},
        {"proxy security refused", error(R"({ "call": "CoSetProxyBlanket", "error": "0x80070005" })"), 9, 9},
        {"class not available", error(R"({ "call": "CreateInstanceEnum", "target": "MSSMBios_RawSMBiosTables", "error": "0x80041010" })"), 9, 9},
        {"no instance", qftest::Machine(R"("wmi": { "ROOT\\WMI": { "MSSMBios_RawSMBiosTables": [] } })"), 9, 9},
        {"enumeration fails", error(R"({ "call": "Next", "error": "0x80041001" })"), 9, 9},
        {"major version unreadable", error(R"({ "call": "Get", "target": "MSSMBios_RawSMBiosTables.SmbiosMajorVersion", "error": "0x80041002" })"), 9, 9},
        {"minor version missing", raw(R"("SmbiosMajorVersion": 3, "SMBiosData": { "cimType": 8209, "value": "0000" })"), 3, 9},
        {"data unreadable", error(R"({ "call": "Get", "target": "MSSMBios_RawSMBiosTables.SMBiosData", "error": "0x80041002" })"), 2, 5},
        {"data as text", raw(R"("SmbiosMajorVersion": 2, "SmbiosMinorVersion": 5, "SMBiosData": "00000000")"), 2, 5},
        {"data without a value", raw(R"("SmbiosMajorVersion": 2, "SmbiosMinorVersion": 5, "SMBiosData": { "cimType": 8209, "value": null })"), 2, 5},
        {"data as an array of words", raw(R"("SmbiosMajorVersion": 2, "SmbiosMinorVersion": 5, "SMBiosData": { "cimType": 8210, "value": [0, 0] })"), 2, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        RawSmbiosTable record = Previous();
        const std::uint8_t* before = record.tableBytes.get();
        EXPECT_FALSE(installer_tools::ReadRawSmbiosTable(record));
        EXPECT_EQ(record.tableBytes.get(), before);
        EXPECT_EQ(Copy(record), (TableBytes{1, 2, 3}));
        EXPECT_EQ(record.majorVersion, c.major);
        EXPECT_EQ(record.minorVersion, c.minor);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(RawSmbiosReadTest, VersionsAreTheLowBytesWhateverTheirType) {
    Load(qftest::Machine(R"("wmi": { "ROOT\\WMI": { "MSSMBios_RawSMBiosTables": [
        { "SmbiosMajorVersion": 515, "SmbiosMinorVersion": { "cimType": 18, "value": "0x1207" },
          "SMBiosData": { "cimType": 8209, "value": [] } },
        { "SmbiosMajorVersion": 9, "SmbiosMinorVersion": 9, "SMBiosData": { "cimType": 8209, "value": "7f0400000000" } } ] } })"));
    RawSmbiosTable record = Previous();
    ASSERT_TRUE(installer_tools::ReadRawSmbiosTable(record)) << "an empty table is still a copy";
    EXPECT_EQ(record.majorVersion, 3);
    EXPECT_EQ(record.minorVersion, 7);
    EXPECT_EQ(record.tableLength, 0u);
    EXPECT_EQ(record.tableBytes, nullptr) << "only the first instance is read";
    EXPECT_EQ(FindSmbiosStructure(record, 127), std::nullopt);
}

TEST_F(RawSmbiosReadTest, ACopyThatCannotBeMadeFailsTheRead) {
    Load(qftest::Machine());
    struct Refuse {
        Refuse() : previous(SetTableAllocator([](std::size_t) -> void* { return nullptr; })) {}
        ~Refuse() { SetTableAllocator(previous); }
        TableAllocator previous;
    };
    RawSmbiosTable record = Previous();
    {
        Refuse refuse;
        EXPECT_FALSE(installer_tools::ReadRawSmbiosTable(record));
        EXPECT_EQ(corvane_helper::ReadRawSmbiosTable(record), 0);
    }
    EXPECT_EQ(Copy(record), (TableBytes{1, 2, 3}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
    ASSERT_TRUE(installer_tools::ReadRawSmbiosTable(record));
    EXPECT_EQ(Copy(record), sim().machine().firmware.table);
}

TEST_F(RawSmbiosReadTest, TheHelperBuildSetsUpComAroundEachRead) {
    Load(qftest::Machine());
    RawSmbiosTable record;
    std::size_t before = sim().calls().size();
    EXPECT_EQ(corvane_helper::ReadRawSmbiosTable(record), 1);
    EXPECT_EQ(Copy(record), sim().machine().firmware.table);
    EXPECT_EQ(sim().calls().at(before), "CoInitializeEx");
    EXPECT_EQ(sim().calls().back(), "CoUninitialize");
    EXPECT_EQ(Held(), std::vector<std::string>{});

    // A failure after COM was set up still uninitialises it.
    Load(qftest::Machine(R"("errors": [ { "call": "ConnectServer", "error": "0x8004100E" } ])"));
    EXPECT_EQ(corvane_helper::ReadRawSmbiosTable(record), 0);
    EXPECT_EQ(sim().calls().back(), "CoUninitialize");
    EXPECT_EQ(Held(), std::vector<std::string>{});

    // COM that cannot be set up: nothing else is tried, nothing to undo.
    Load(qftest::Machine(R"("errors": [ { "call": "CoInitializeEx", "error": "0x80010106" } ])"));
    before = sim().calls().size();
    EXPECT_EQ(corvane_helper::ReadRawSmbiosTable(record), 0);
    EXPECT_EQ(std::vector<std::string>(sim().calls().begin() + before, sim().calls().end()),
              std::vector<std::string>{"CoInitializeEx"});

    // A thread already in a single-threaded apartment cannot enter the
    // multithreaded one.
    Load(qftest::Machine());
    ASSERT_EQ(sim().CoInitializeEx(qf::platform::Platform::kCoinitApartmentThreaded), qf::platform::kSOk);
    EXPECT_EQ(corvane_helper::ReadRawSmbiosTable(record), 0);
    EXPECT_EQ(Calls("CoUninitialize"), 0u);
    sim().CoUninitialize();
    EXPECT_EQ(Held(), std::vector<std::string>{});
    EXPECT_EQ(Copy(record), sim().machine().firmware.table) << "failed reads keep the copy";
}

}  // namespace
