#include "QuillFrameInstallerTools.h"
#include "installer_tools/export_access.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

const std::string kMemory = "RequiredMemory::Test";
const std::string kBitlocker = "CBitlocker::Test";

class OsChecksTest : public qftest::SimTest {
protected:
    void TearDown() override {
        EXPECT_EQ(Held(), std::vector<std::string>{});
        SimTest::TearDown();
    }
    std::string Os(int major, int minor, int spMajor, int spMinor = 0, int productType = 1, bool wow64 = false) {
        return R"("os": { "major": )" + std::to_string(major) + R"(, "minor": )" + std::to_string(minor) +
               R"(, "servicePackMajor": )" + std::to_string(spMajor) + R"(, "servicePackMinor": )" +
               std::to_string(spMinor) + R"(, "productType": )" + std::to_string(productType) +
               R"(, "wow64": )" + (wow64 ? "true" : "false") + " }";
    }
    std::u16string GetVersion(bool* result) {
        std::u16string buffer = u"untouched";
        buffer.resize(200, u'\0');
        *result = VistaRequirements().GetVersion(reinterpret_cast<QF_WCHAR*>(&buffer[0]));
        return buffer.substr(0, buffer.find(u'\0'));
    }
};

TEST_F(OsChecksTest, MemoryOfTwoThousandMillionBytesIsEnough) {
    struct Case {
        const char* total;
        bool enough;
        const char* shown;
    };
    const Case cases[] = {
        {"2000000000", true, "2000000000"},
        {"1999999999", false, "1999999999"},
        // 2 GiB installed, somewhat less reported: still more than needed.
        {"2095054848", true, "2095054848"},
        {"1GiB", false, "1073741824"},
        {"8GiB", true, "8589934592"},  // above 4 GiB, compared in full
        {"0x100000000", true, "4294967296"},
        {"1000", false, "   1000"},  // at least seven characters wide
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        Load(Machine(R"("memory": { "totalPhysical": ")" + std::string(c.total) + R"(" })"));
        EXPECT_EQ(RequiredMemory().Test(), c.enough);
        EXPECT_EQ(Log(), Lines(kMemory, {std::string("There are ") + c.shown + " total bytes of physical memory.",
                                         "We need 2000000000 total bytes of physical memory."}));
    }
    Load(Machine(R"("errors": [ { "call": "GlobalMemoryStatusEx", "error": 87 } ])"));
    EXPECT_FALSE(RequiredMemory().Test());
    EXPECT_EQ(Log(), Lines(kMemory, {"GlobalMemoryStatusEx failed"}));
}

TEST_F(OsChecksTest, VistaWithServicePackOneOrLaterOnThirtyTwoBits) {
    struct Case {
        int major, minor, spMajor, spMinor;
        bool wow64, passes;
    };
    const Case cases[] = {
        {6, 0, 0, 0, false, false},  {6, 0, 0, 9, false, false}, {6, 0, 1, 0, false, true},
        {6, 0, 2, 0, false, true},   {6, 1, 0, 0, false, true},  {10, 0, 0, 0, false, true},
        {5, 1, 3, 0, false, false},  {5, 2, 2, 0, false, false}, {6, 1, 1, 0, true, false},
        {6, 0, 1, 0, true, false},   {7, 0, 0, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + " SP" + std::to_string(c.spMajor) +
                     "." + std::to_string(c.spMinor) + (c.wow64 ? " WOW64" : ""));
        Load(Machine(Os(c.major, c.minor, c.spMajor, c.spMinor, 1, c.wow64)));
        EXPECT_EQ(VistaRequirements().Test(), c.passes);
        VistaRequirements v;
        EXPECT_EQ(qf::ExportAccess::Is32BitVista(v), !c.wow64);
        EXPECT_EQ(Log(), std::vector<std::string>{});
    }
}

TEST_F(OsChecksTest, VersionQueriesThatFailAreNoPass) {
    Load(Machine(R"("errors": [ { "call": "VerifyVersionInfoW", "error": 1150 } ])"));
    EXPECT_FALSE(VistaRequirements().Test());
    // A system that cannot say whether it is 64-bit is not taken for 32-bit.
    Load(Machine(R"("errors": [ { "call": "IsWow64Process", "error": 5 } ])"));
    EXPECT_FALSE(VistaRequirements().Test());
    VistaRequirements v;
    EXPECT_FALSE(qf::ExportAccess::Is32BitVista(v));
}

TEST_F(OsChecksTest, VersionNamesOfTheFourKnownKinds) {
    struct Case {
        int major, minor, spMajor, spMinor, productType;
        const char16_t* name;
    };
    const Case cases[] = {
        {6, 0, 1, 0, 1, u"VISTASP1"},
        {6, 1, 1, 0, 1, u"VISTASP1"},  // the minor version does not count for 6
        {6, 0, 2, 3, 1, u"VISTASP2"},  // nor does the service pack's minor number
        {6, 0, 2, 0, 3, u"Server2008SP2"},
        {6, 1, 0, 0, 2, u"Server2008SP0"},
        {5, 1, 3, 0, 1, u"XPSP3"},
        {5, 2, 0, 0, 1, u"SERVER2003SP0"},  // only the minor version decides within 5
        {5, 2, 2, 0, 3, u"SERVER2003SP2"},
        {5, 0, 4, 0, 1, u"untouched"},
        {10, 0, 0, 0, 1, u"untouched"},
        {5, 3, 0, 0, 1, u"untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + " type " + std::to_string(c.productType));
        Load(Machine(Os(c.major, c.minor, c.spMajor, c.spMinor, c.productType)));
        bool result = false;
        EXPECT_EQ(GetVersion(&result), c.name);
        EXPECT_TRUE(result);
    }
    Load(Machine(R"("errors": [ { "call": "GetVersionExW", "error": 87 } ])"));
    bool result = false;
    EXPECT_EQ(GetVersion(&result), u"untouched");
    EXPECT_TRUE(result) << "GetVersion never reports failure";
    EXPECT_EQ(Log(), std::vector<std::string>{});
}

TEST_F(OsChecksTest, BitlockerLogsTheFirstVolumesIdentifier) {
    struct Case {
        const char* name;
        std::string machine;
        bool result;
        std::vector<std::string> messages;
    };
    const std::string volumes = R"("bitlocker": { "volumes": [ { "PersistentVolumeID": "{7B2A1C3D-0001}" },
                                                                { "PersistentVolumeID": "{7B2A1C3D-0002}" } ] })";
    const auto failing = [&](const std::string& rule) { return Machine(volumes + R"(, "errors": [ )" + rule + " ]"); };
    const Case cases[] = {
        {"volumes", Machine(volumes), true, {"PersistentVolumeID = {7B2A1C3D-0001}", ""}},
        {"no such class", Machine(), true, {"No instances of Win32_EncryptableVolume, bitlocker is not installed", ""}},
        {"no volumes", Machine(R"("bitlocker": { "volumes": [] })"), true, {}},
        // Decided: an identifier without a text form is one that cannot be read.
        {"identifier without a value", Machine(R"("bitlocker": { "volumes": [ { "PersistentVolumeID": null } ] })"),
         false, {"Get failed", ""}},
        {"a numeric identifier",
         Machine(R"("wmi": { "ROOT\\CIMV2": { "Win32_EncryptableVolume": [ { "PersistentVolumeID": 42 } ] } })"), true,
         {"PersistentVolumeID = 42", ""}},
        {"an identifier that is an array",
         Machine(R"("wmi": { "ROOT\\CIMV2": { "Win32_EncryptableVolume": [ { "PersistentVolumeID": { "cimType": 8200, "value": ["a"] } } ] } })"),
         false, {"Get failed", ""}},
        {"COM not initialised", failing(R"({ "call": "CoCreateInstance", "error": "0x800401F0" })"), false,
         {"CoCreateInstance failed", ""}},
        {"no connection", failing(R"({ "call": "ConnectServer", "target": "ROOT\\CIMV2", "error": "0x8004100E" })"),
         false, {"ConnectServer failed", ""}},
        {"proxy security refused", failing(R"({ "call": "CoSetProxyBlanket", "error": "0x80070005" })"), false,
         {"CoSetProxyBlanket failed", ""}},
        {"enumeration refused", failing(R"({ "call": "CreateInstanceEnum", "error": "0x80041003" })"), true,
         {"No instances of Win32_EncryptableVolume, bitlocker is not installed", ""}},
        {"enumeration fails", failing(R"({ "call": "Next", "error": "0x80041001" })"), true, {}},
        {"identifier unreadable", failing(R"({ "call": "Get", "target": "Win32_EncryptableVolume.PersistentVolumeID", "error": "0x80041002" })"),
         false, {"Get failed", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        EXPECT_EQ(CBitlocker().Test(), c.result);
        EXPECT_EQ(Log(), Lines(kBitlocker, c.messages));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
    // ROOT\CIMV2 exactly: the class's own sub-namespace is not asked.
    Load(Machine(volumes));
    CBitlocker().Test();
    const auto& calls = sim().calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ConnectServer ROOT\\CIMV2"), calls.end());
}

}  // namespace
