// Native or guest by the firmware signature, with the log's lines; the
// manufacturer against the settings file; running processes by name.
#include "CorvaneHelper.h"
#include "corvane_helper/helper_fixture.h"
#include "smbios/table_builder.h"

namespace {

using qftest::Machine;
using qftest::TableBytes;

// The raw firmware data: the platform's 8-byte header, then `body`.
std::string Rsmb(const std::string& body) {
    return R"("firmware": { "rsmb": ")" + qftest::Hex(qftest::Raw(std::string("\0\2\4\0\0\0\0\0", 8) + body)) + R"(" })";
}

class NativeWindowsTest : public qftest::HelperTest {
protected:
    std::string LogText() { return ReadHostFile("corvanehelper.log"); }
};

TEST_F(NativeWindowsTest, ScansTheWholeDataForTheSignature) {
    const std::string s = "Corvane Driftwell";
    struct Case {
        const char* name;
        std::string body;
        int expected;
    };
    const Case cases[] = {
        {"the signature as the data's last 17 bytes", "\x01\x1b\x00\x01" + s, 0},
        {"its first character, a mismatch, then the signature", "Corvane Driftwel!" + s + "\x7f", 0},
        {"in another letter case", "Corvane DriftWell and corvane driftwell", 1},
        {"its words on either side of a NUL", std::string("Corvane\0Driftwell", 17), 1},
        {"cut one byte short at the end", "xx" + s.substr(0, 16), 1},
        {"none of it", "Northbay Computer Corp.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Machine(Rsmb(c.body)));
        const std::string n = std::to_string(8 + c.body.size());
        EXPECT_EQ(IsRunningFromNativeWindows(), c.expected);
        EXPECT_EQ(LogText(), "Table size = " + n + "\r\nbytes read = " + n + "\r\n" +
                                 (c.expected == 0 ? "In domU\r\n" : "In native vista\r\n"));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

// The data is scanned from its first byte, header included; data shorter
// than the signature is native.
TEST_F(NativeWindowsTest, DataOfTheSignaturesLengthOrLess) {
    struct Case {
        const char* hex;
        int expected;
        const char* last;
    };
    const Case cases[] = {
        {"436f7276616e6520447269667477656c6c", 0, "In domU"},        // exactly the 17 bytes
        {"436f7276616e6520447269667477656c", 1, "In native vista"},  // the first 16 of them
        {"43", 1, "In native vista"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        Load(Machine(std::string(R"("firmware": { "rsmb": ")") + c.hex + R"(" })"));
        EXPECT_EQ(IsRunningFromNativeWindows(), c.expected);
        const std::string log = LogText();
        EXPECT_EQ(log.substr(log.rfind("\r\n", log.size() - 3) + 2), std::string(c.last) + "\r\n");
    }
}

TEST_F(NativeWindowsTest, FailuresLogWhatFailed) {
    const std::string body(100, 'x');  // 108 bytes with the header
    struct Case {
        const char* name;
        std::string errors;
        std::string log;
    };
    const Case cases[] = {
        {"the size query answers 0", R"({ "call": "GetSystemFirmwareTable", "nth": 1, "returns": 0 })",
         "Table size = 0\r\nGetSystemFirmwareTable returns zero\r\n"},
        {"the firmware table cannot be read", R"({ "call": "GetSystemFirmwareTable", "error": 1 })",
         "Table size = 0\r\nGetSystemFirmwareTable returns zero\r\n"},
        {"no memory for the size asked", R"({ "call": "GetSystemFirmwareTable", "nth": 1, "returns": "0x80000000" })",
         "Table size = -2147483648\r\nFailed to allocate memory of oen table\r\n"},
        {"fewer bytes than announced", R"({ "call": "GetSystemFirmwareTable", "nth": 2, "returns": 107 })",
         "Table size = 108\r\nbytes read = 107\r\nnBytesRead != nOemTableSize\r\n"},
        {"more announced than there is", R"({ "call": "GetSystemFirmwareTable", "nth": 1, "returns": 200 })",
         "Table size = 200\r\nbytes read = 108\r\nnBytesRead != nOemTableSize\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Machine(Rsmb(body) + R"(, "errors": [ )" + c.errors + " ]"));
        EXPECT_EQ(IsRunningFromNativeWindows(), -1);
        EXPECT_EQ(LogText(), c.log);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(NativeWindowsTest, TheLogHoldsTheLatestCallOnly) {
    Load(Machine(Rsmb("Corvane Driftwell")));
    WriteHostFile("corvanehelper.log", std::string(500, 'x') + "\r\n");
    EXPECT_EQ(IsRunningFromNativeWindows(), 0);
    EXPECT_EQ(IsRunningFromNativeWindows(), 0);
    EXPECT_EQ(LogText(), "Table size = 25\r\nbytes read = 25\r\nIn domU\r\n");
}

TEST_F(NativeWindowsTest, ALogThatCannotBeCreatedChangesNothingElse) {
    Load(Machine(Rsmb("Corvane Driftwell")));
    std::filesystem::create_directory("corvanehelper.log");
    EXPECT_EQ(IsRunningFromNativeWindows(), 0);
    EXPECT_TRUE(std::filesystem::is_directory("corvanehelper.log"));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

// A machine whose System Information names `manufacturer` (string 1).
std::string Manufacturer(const std::string& manufacturer, const std::string& version = "[2, 5]") {
    return R"("firmware": { "smbiosVersion": )" + version +
           R"(, "structures": [ { "type": 1, "data": "01 02 03 04", "strings": [")" + manufacturer +
           R"(", "Model", "1.0", "SN"] }, { "type": 127 } ] })";
}

class NecSystemTest : public qftest::HelperTest {
protected:
    void Settings(const std::string& text) { WriteHostFile(std::filesystem::path(dir()) / "CorvaneHelper.ini", text); }
};

TEST_F(NecSystemTest, TheSettingsValueMustBeTheWholeNameApartFromTheCaseOfAToZ) {
    struct Case {
        const char* firmware;
        const char* settings;
        bool expected;
    };
    const Case cases[] = {
        {"NEC Corporation", "[systeminfo]\r\nmanufacturer=NEC Corporation\r\n", true},
        // Section and key in any case, blanks around the value dropped.
        {"NEC Corporation", "; installer\n[SystemInfo]\nManufacturer =   nec CORPORATION  \n", true},
        {"NEC Corporation", "[other]\nmanufacturer=x\n[systeminfo]\nmanufacturer=NEC Corporation\n", true},
        {"NEC Corporation", "[systeminfo]\nmanufacturer=NEC Corporatio\n", false},
        {"NEC Corporation", "[systeminfo]\nmanufacturer=NEC Corporation.\n", false},
        {"NEC Corporation", "[systeminfo]\nmanufacturer=\n", false},
        {"NEC Corporation", "[other]\nmanufacturer=NEC Corporation\n", false},
        {"NEC Corporation", "[systeminfo]\nvendor=NEC Corporation\n", false},
        // Only A to Z fold: '[' and '{', or the second bytes of Ü and ü,
        // differ by the same bit as a letter's cases.
        {"Acme[1]", "[systeminfo]\nmanufacturer=ACME[1]\n", true},
        {"Acme[1]", "[systeminfo]\nmanufacturer=ACME{1}\n", false},
        {"\xc3\x9cnited", "[systeminfo]\nmanufacturer=\xc3\xbcnited\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.firmware) + " / " + c.settings);
        Load(Machine(Manufacturer(c.firmware)));
        Settings(c.settings);
        EXPECT_EQ(IsRunningOnNECSystem(dir().c_str()), c.expected);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(NecSystemTest, NoSettingsFileIsFalse) {
    Load(Machine(Manufacturer("NEC Corporation")));
    EXPECT_FALSE(IsRunningOnNECSystem(dir().c_str()));
}

TEST_F(NecSystemTest, AFolderWithBlanks) {
    Load(Machine(Manufacturer("NEC Corporation")));
    const std::filesystem::path folder = std::filesystem::path(dir()) / "settings folder";
    std::filesystem::create_directory(folder);
    WriteHostFile(folder / "CorvaneHelper.ini", "[systeminfo]\nmanufacturer=NEC Corporation\n");
    EXPECT_TRUE(IsRunningOnNECSystem(folder.string().c_str()));
}

// Without a manufacturer string nothing matches, not even an empty value.
TEST_F(NecSystemTest, NoManufacturerStringIsFalse) {
    const std::string noType1 = R"("firmware": { "structures": [ { "type": 2, "data": "01", "strings": ["NEC"] } ] })";
    const std::string numberZero = R"("firmware": { "structures": [ { "type": 1, "data": "00", "strings": ["NEC"] } ] })";
    const std::string pastTheStrings = R"("firmware": { "structures": [ { "type": 1, "data": "02", "strings": ["NEC"] } ] })";
    const std::string unreadable = Manufacturer("NEC") + R"(, "errors": [ { "call": "CoInitializeEx", "error": 1 } ])";
    for (const std::string& machine : {noType1, Manufacturer("NEC", "[2, 0]"), numberZero, pastTheStrings, unreadable}) {
        SCOPED_TRACE(machine);
        Load(Machine(machine));
        Settings("[systeminfo]\nmanufacturer=\n");
        EXPECT_FALSE(IsRunningOnNECSystem(dir().c_str()));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(NecSystemTest, AFailedReadKeepsTheCopyReadBefore) {
    Load(Machine(Manufacturer("NEC Corporation") +
                 R"(, "errors": [ { "call": "CoInitializeEx", "nth": 2, "error": "0x80010106" } ])"));
    Settings("[systeminfo]\nmanufacturer=nec corporation\n");
    EXPECT_TRUE(IsRunningOnNECSystem(dir().c_str()));
    EXPECT_TRUE(IsRunningOnNECSystem(dir().c_str()));
}

// "%s\CorvaneHelper.ini" must fit in 260 bytes: a folder of 241 characters
// is read, one of 242 is not.
TEST_F(NecSystemTest, AFolderTooLongForThePathReadsNothing) {
    Load(Machine(Manufacturer("NEC Corporation")));
    for (std::size_t length : {241u, 242u}) {
        const std::string folder = "C:\\" + std::string(length - 3, 'f');
        const std::size_t before = sim().calls().size();
        EXPECT_FALSE(IsRunningOnNECSystem(folder.c_str()));
        const auto calls = CallsSince(before);
        const bool read = std::find(calls.begin(), calls.end(),
                                    "GetPrivateProfileStringA " + folder + "\\CorvaneHelper.ini") != calls.end();
        EXPECT_EQ(read, length == 241) << length;
    }
}

class ProcessRunningTest : public qftest::HelperTest {};

TEST_F(ProcessRunningTest, WholeNamesWithoutRegardToTheCaseOfAToZ) {
    Load(Machine(R"("processes": ["[System Process]", "System", "explorer.exe", "Setup[1].exe"])"));
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {
        {"explorer.exe", 1}, {"EXPLORER.EXE", 1}, {"Setup[1].EXE", 1}, {"explorer", 0},      {"xplorer.exe", 0},
        {"explorer.exe ", 0}, {"explorer.exe.exe", 0}, {"setup{1}.exe", 0}, {"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsProcessRunning(c.name), c.expected) << c.name;
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(ProcessRunningTest, AListThatCannotBeReadIsNotRunning) {
    const char* const machines[] = {
        R"("processes": [])",
        R"("errors": [ { "call": "CreateToolhelp32Snapshot", "error": 5 } ])",
        R"("errors": [ { "call": "Process32First", "error": 18 } ])",
    };
    for (const char* machine : machines) {
        SCOPED_TRACE(machine);
        Load(Machine(machine));
        EXPECT_EQ(IsProcessRunning("explorer.exe"), 0);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

}  // namespace
