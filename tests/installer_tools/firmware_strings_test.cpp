#include "QuillFrameInstallerTools.h"
#include "smbios/table_builder.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Machine;

// A firmware of a System Information structure (manufacturer `maker`) and
// the given further structures.
std::string Firmware(const std::string& maker, const std::string& more = "") {
    return R"("firmware": { "structures": [
        { "type": 1, "handle": 1, "data": "01 02 00 00", "strings": [")" + maker + R"(", "Box"] })" +
           (more.empty() ? "" : ", " + more) + R"(,
        { "type": 127, "handle": 65279 } ] })";
}
std::string Oem(const std::string& strings) {
    return R"({ "type": 11, "handle": 11, "data": "01", "strings": [)" + strings + "] }";
}

class FirmwareStringsTest : public qftest::SimTest {
protected:
    struct Answers {
        bool notVirtualized, running;
    };
    Answers Ask() {
        const Answers a{CheckNotAlreadyVirtualized().Test(), QuillFrameRunning().Test()};
        EXPECT_EQ(QuillFrameRunning().SearchForStringInBIOS(), a.running);
        EXPECT_EQ(Log(), std::vector<std::string>{}) << "the searches log nothing";
        EXPECT_EQ(Held(), std::vector<std::string>{});
        return a;
    }
    bool Search(std::string text) {
        const bool found = CheckNotAlreadyVirtualized().SearchForStringInBIOS(text.data());
        EXPECT_EQ(Held(), std::vector<std::string>{});
        return found;
    }
};

TEST_F(FirmwareStringsTest, OnlyTheFirstOemStringsStructureIsSearched) {
    struct Case {
        const char* name;
        std::string firmware;
        bool notVirtualized, running;
    };
    const Case cases[] = {
        {"no marker", Firmware("Acme", Oem(R"("Acme OEM")")), true, false},
        {"the other hypervisor's marker", Firmware("Acme", Oem(R"("Welcome", "VMware-56 4d 2a")")), false, false},
        {"the marker as the last string", Firmware("Acme", Oem(R"("Welcome", "Built by VMware")")), false, false},
        {"the marker only in System Information", Firmware("VMware, Inc."), true, false},
        {"another letter case", Firmware("Acme", Oem(R"("vmware", "VMWARE", "corvane driftwell")")), true, false},
        {"only in a second OEM Strings structure",
         Firmware("Acme", Oem(R"("Acme")") + ", " + Oem(R"("VMware", "Corvane Driftwell")")), true, false},
        {"the own signature", Firmware("Acme", Oem(R"("[Corvane Driftwell 2.1]")")), true, true},
        {"the signature's words as two strings", Firmware("Acme", Oem(R"("Corvane", "Driftwell")")), true, false},
        {"both markers", Firmware("Acme", Oem(R"("VMware", "Corvane Driftwell")")), false, true},
        {"no OEM Strings structure", Firmware("Corvane Driftwell VMware"), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Machine(c.firmware));
        const Answers a = Ask();
        EXPECT_EQ(a.notVirtualized, c.notVirtualized);
        EXPECT_EQ(a.running, c.running);
    }
}

TEST_F(FirmwareStringsTest, CallersPatternMatchesWithinOneStringOfTheStructure) {
    using qftest::Concat;
    using qftest::Structure;
    // The OEM Strings structure holds the handle 0x0B0B and a count of 2.
    const qftest::TableBytes table = Concat({Structure(1, 1, {1, 0, 0, 0}, {"Acme"}),
                                             Structure(11, 0x0B0B, {2}, {"Alpha", "Beta"}), Structure(2, 2, {1}, {"Gamma"})});
    Load(Machine(qftest::RawFirmware(table)));
    struct Case {
        const char* pattern;
        bool found;
    };
    const Case cases[] = {
        {"Alpha", true}, {"Beta", true}, {"lpha", true}, {"Alpha Beta", false}, {"Acme", false}, {"Gamma", false},
        {"\x0B\x0B\x02", true},  // the header and formatted area are searched too
        {"", true},              // the NUL closing a string
        {"AlphaBeta", false},    {"beta", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Search(c.pattern), c.found) << c.pattern;
    EXPECT_EQ(Log(), std::vector<std::string>{});
}

TEST_F(FirmwareStringsTest, SpansShorterThanThePatternAndCutTables) {
    using qftest::Concat;
    using qftest::Structure;
    // An OEM Strings structure without strings spans 5 bytes.
    Load(Machine(qftest::RawFirmware(Concat({Structure(11, 0x0B0B, {}), Structure(1, 1, {1}, {"VMware"})}))));
    EXPECT_FALSE(Search("VMware"));
    EXPECT_TRUE(Search("\x0B\x04\x0B\x0B"));
    EXPECT_TRUE(Search(""));

    // A table cut short before its OEM Strings structure closes.
    qftest::TableBytes cut = Concat({Structure(1, 1, {1}, {"Acme"}), Structure(11, 11, {1}, {"VMware"})});
    cut.pop_back();
    Load(Machine(qftest::RawFirmware(cut)));
    EXPECT_FALSE(Search("VMware"));
    EXPECT_FALSE(Search(""));
    EXPECT_TRUE(CheckNotAlreadyVirtualized().Test());
}

TEST_F(FirmwareStringsTest, AnyFailedWmiStepMeansNoMarker) {
    const std::string marked = Firmware("Acme", Oem(R"("VMware Corvane Driftwell")"));
    const char* const rules[] = {
        R"({ "call": "CoCreateInstance", "error": "0x800401F0" })",
        R"({ "call": "ConnectServer", "target": "ROOT\\WMI", "error": "0x8004100E" })",
        R"({ "call": "CoSetProxyBlanket", "error": "0x80070005" })",
        R"({ "call": "CreateInstanceEnum", "target": "MSSMBios_RawSMBiosTables", "error": "0x80041010" })",
        R"({ "call": "Next", "target": "MSSMBios_RawSMBiosTables", "error": "0x80041001" })",
        R"({ "call": "Get", "target": "MSSMBios_RawSMBiosTables.SmbiosMinorVersion", "error": "0x80041002" })",
        R"({ "call": "Get", "target": "MSSMBios_RawSMBiosTables.SMBiosData", "error": "0x80041002" })",
    };
    Load(Machine(marked));
    EXPECT_FALSE(Ask().notVirtualized) << "the marker is there when WMI answers";
    for (const char* rule : rules) {
        SCOPED_TRACE(rule);
        Load(Machine(marked + R"(, "errors": [ )" + rule + " ]"));
        const Answers a = Ask();
        EXPECT_TRUE(a.notVirtualized);
        EXPECT_FALSE(a.running);
    }
    // "SMBiosData" as anything but a byte array is no table.
    Load(Machine(R"("wmi": { "ROOT\\WMI": { "MSSMBios_RawSMBiosTables": [
        { "SmbiosMajorVersion": 2, "SmbiosMinorVersion": 5, "SMBiosData": "0b05000b01564d7761726500000000" } ] } })"));
    EXPECT_TRUE(Ask().notVirtualized);
    EXPECT_FALSE(Search(""));
}

TEST_F(FirmwareStringsTest, EachCallReadsTheTableAnew) {
    Load(Machine(Firmware("Acme", Oem(R"("VMware")")) +
                 R"(, "errors": [ { "call": "CoCreateInstance", "nth": 2, "error": "0x800401F0" } ])"));
    EXPECT_FALSE(CheckNotAlreadyVirtualized().Test());
    EXPECT_TRUE(CheckNotAlreadyVirtualized().Test()) << "the second read failed";
    EXPECT_FALSE(CheckNotAlreadyVirtualized().Test());
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(FirmwareStringsTest, RealTables) {
    const qftest::TestdataFile* hyperv = qftest::FindTestdata("HyperV.dmi");
    const qftest::TestdataFile* dell = qftest::FindTestdata("Dell-PowerEdge-R630-Dual-Xeon.dmi");
    ASSERT_TRUE(hyperv && dell) << "shared/testdata/smbios must lie beside the repository";
    // A guest of another vendor's hypervisor: its OEM strings name a certificate.
    Load(Machine(qftest::RawFirmware(hyperv->bytes, 3, 3)));
    EXPECT_TRUE(Search("MS_VM_CERT/SHA1/"));
    EXPECT_TRUE(Search("To be filed by MSFT"));
    EXPECT_FALSE(Search("Microsoft Corporation")) << "System Information's";
    EXPECT_TRUE(Ask().notVirtualized);

    Load(Machine(qftest::RawFirmware(dell->bytes, 2, 8)));
    EXPECT_TRUE(Search("Dell System"));
    EXPECT_TRUE(Search("19[?]"));
    EXPECT_FALSE(Search("PowerEdge R630"));
    EXPECT_FALSE(Search("Dell System5[0000]")) << "never across two strings";
}

}  // namespace
