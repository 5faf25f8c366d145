#include <algorithm>
#include <optional>

#include "QuillFrameInstallerTools.h"
#include "common/text.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

const std::string kDeviceId = "EnumerateDiskDevices::GetDriveControllerDeviceID";
const std::string kAllDisks = "EnumerateDiskDevices::GetAllDisksDeviceID";

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out + "\"";
}

struct DiskSpec {
    std::optional<std::string> parent;  // nullopt: no parent
    std::string extra = "";             // more members of the disk
};

// Disks numbered `firstNumber`, `firstNumber` + 1, ... in interface order;
// C: lies on the disk at `bootIndex`.
std::string Disks(const std::vector<DiskSpec>& disks, std::size_t bootIndex = 0, const std::string& more = "",
                  unsigned firstNumber = 0) {
    std::string list;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        list += std::string(i ? ", " : "") + R"({ "number": )" + std::to_string(firstNumber + i) +
                R"(, "sizeBytes": "10GiB", "parentInstanceId": )" +
                (disks[i].parent ? JsonText(*disks[i].parent) : "null") + disks[i].extra + " }";
    }
    return Machine(R"("disks": [ )" + list + R"( ], "volumes": [
        { "letter": "C", "extents": [ { "disk": )" + std::to_string(firstNumber + bootIndex) +
                   R"(, "start": "1MiB", "length": "5GiB" } ] },
        { "letter": "D" },
        { "letter": "F", "driveType": 2, "extents": [ { "disk": )" + std::to_string(firstNumber) +
                   R"(, "start": "6GiB", "length": "1GiB" } ] },
        { "letter": "S", "extents": [ { "disk": )" + std::to_string(firstNumber) +
                   R"(, "start": "8GiB", "length": "1GiB" }, { "disk": )" + std::to_string(firstNumber) +
                   R"(, "start": "9GiB", "length": "512MiB" } ] } ])" +
                   (more.empty() ? "" : ", " + more));
}

const std::string kIdeChannel = R"(PCIIDE\IDECHANNEL\4&2617AEAE&0&0)";
const std::string kIchController = R"(PCI\VEN_8086&DEV_27C0&SUBSYS_01AD1028&REV_01\3&172E68DD&0&FA)";

std::u16string Text(const QF_WCHAR* s) { return reinterpret_cast<const char16_t*>(s); }

// A caller's 260-unit buffer holding a marker, to see whether it was written.
struct CallerBuffer {
    QF_WCHAR units[260];
    CallerBuffer() {
        std::fill(std::begin(units), std::end(units), QF_WCHAR('#'));
        units[259] = 0;
    }
    bool untouched() const {
        return std::all_of(units, units + 259, [](QF_WCHAR c) { return c == QF_WCHAR('#'); });
    }
};

class DiskControllerTest : public qftest::SimTest {
protected:
    bool DeviceIdOf(const std::u16string& path, CallerBuffer* id) {
        std::u16string copy = path;
        return disks_.GetDriveControllerDeviceID(reinterpret_cast<QF_WCHAR*>(copy.data()), id->units);
    }
    // The platform calls of the last action, "Name target" each.
    std::vector<std::string> CallsSince(std::size_t from) {
        const auto& all = sim().calls();
        return std::vector<std::string>(all.begin() + std::min(from, all.size()), all.end());
    }
    std::vector<std::string> Opened(std::size_t from) {
        std::vector<std::string> out;
        for (const std::string& c : CallsSince(from))
            if (c.rfind("CreateFileW ", 0) == 0) out.push_back(c.substr(12));
        return out;
    }
    std::size_t CallCount() { return sim().calls().size(); }

    EnumerateDiskDevices disks_{};
};

TEST_F(DiskControllerTest, AddressIsTheTextBetweenTheFirstTwoAmpersandsOfTheBootDisksParent) {
    struct Case {
        std::string parent;
        bool found;
        std::u16string address;  // with found
    };
    const std::vector<Case> cases = {
        {kIdeChannel, true, u"2617AEAE"},
        {kIchController, true, u"DEV_27C0"},
        {R"(PCI\VEN_8086&&DEV_27C0)", true, u""},
        // No address text: false, and the caller's buffer stays as it was.
        {R"(ACPI\PNP0A03&1)", false, {}},
        {R"(ROOT\SCSIADAPTER\0000)", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parent);
        Load(Disks({{c.parent}}));
        CallerBuffer address;
        EXPECT_EQ(disks_.GetBootDiskControllerAddress(address.units), c.found);
        if (c.found) EXPECT_EQ(Text(address.units), c.address);
        else EXPECT_TRUE(address.untouched());
        EXPECT_EQ(Log(), std::vector<std::string>{}) << "nothing to say on the way to the parent";
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(DiskControllerTest, TheWindowsDirectoryNamesTheBootVolume) {
    Load(Disks({{"A&B&C"}, {kIdeChannel}}, 1, R"("os": { "windowsDirectory": "f:\\WINNT" })"));
    CallerBuffer address;
    EXPECT_FALSE(disks_.GetBootDiskControllerAddress(address.units));
    EXPECT_EQ(Log(), Lines(kDeviceId, {"Drive type is not valid 2"})) << "F: is removable";

    Load(Disks({{"A&B&C"}}, 0, R"("os": { "windowsDirectory": "Q:\\Windows" })"));
    EXPECT_FALSE(disks_.GetBootDiskControllerAddress(address.units));
    EXPECT_EQ(Log(), Lines(kDeviceId, {"Failed to open boot volume 0x2"}));

    // A directory that cannot be read names no drive: nothing is opened.
    Load(Disks({{"A&B&C"}}, 0, R"("errors": [ { "call": "GetWindowsDirectoryW", "error": 8 } ])"));
    EXPECT_FALSE(disks_.GetBootDiskControllerAddress(address.units));
    EXPECT_EQ(Opened(0), std::vector<std::string>{});
    EXPECT_EQ(Log(), std::vector<std::string>{});
    EXPECT_TRUE(address.untouched());
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DiskControllerTest, FindsTheBootDiskAmongSeveralInterfaces) {
    // Disks 5, 6, 7 and 8: C: lies on the third; the fourth is never looked at.
    Load(Disks({{"P&0&A"}, {"P&1&B"}, {kIchController}, {"P&3&D"}}, 2, "", 5));
    CallerBuffer id;
    ASSERT_TRUE(DeviceIdOf(u"C:\\Windows", &id));
    EXPECT_EQ(Text(id.units), qf::FromUtf8(kIchController));
    const auto& disks = sim().machine().disks;
    EXPECT_EQ(Opened(0), (std::vector<std::string>{"\\\\.\\C:", qf::ToUtf8(disks[0].devicePath),
                                                    qf::ToUtf8(disks[1].devicePath), qf::ToUtf8(disks[2].devicePath)}));
    std::size_t numberRequests = 0;
    for (const std::string& c : CallsSince(0)) numberRequests += c.rfind("DeviceIoControl ", 0) == 0;
    EXPECT_EQ(numberRequests, 4u) << "the volume's and one per disk up to the boot disk";
    EXPECT_EQ(Log(), std::vector<std::string>{});
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DiskControllerTest, OnlyTheFirstCharacterOfThePathCountsAndItMustBeALetter) {
    Load(Disks({{kIdeChannel}}));
    for (const std::u16string path : {u"C:\\Windows", u"c:\\windows", u"c", u"C:\\no\\such\\folder"}) {
        SCOPED_TRACE(qf::ToUtf8(path));
        const std::size_t before = CallCount();
        CallerBuffer id;
        ASSERT_TRUE(DeviceIdOf(path, &id));
        EXPECT_EQ(Text(id.units), qf::FromUtf8(kIdeChannel));
        EXPECT_EQ(Opened(before).front(), "\\\\.\\C:") << "the letter is upper-cased";
    }
    for (const std::u16string path : {u"\\\\server\\share", u"", u"1:\\", u"\u00e9:\\"}) {
        SCOPED_TRACE(qf::ToUtf8(path));
        const std::size_t before = CallCount();
        CallerBuffer id;
        EXPECT_FALSE(DeviceIdOf(path, &id));
        EXPECT_TRUE(id.untouched());
        EXPECT_EQ(CallsSince(before), std::vector<std::string>{}) << "nothing asked of the system";
    }
    CallerBuffer id;
    EXPECT_FALSE(disks_.GetDriveControllerDeviceID(nullptr, id.units));
    EXPECT_EQ(Log(), std::vector<std::string>{});
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DiskControllerTest, EveryFailureGivesFalseWithItsMessageAndReleasesEverything) {
    const std::string longPath = std::string(R"(\\?\ide#disk)") + std::string(520, 'x') + "#1";
    struct Case {
        const char* name;
        std::string machine;
        std::u16string path;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"volume cannot be opened",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\C:", "error": 5 } ])"),
         u"C:\\", {"Failed to open boot volume 0x5"}},
        {"no volume behind the letter", Disks({{kIdeChannel}}), u"Q:\\", {"Failed to open boot volume 0x2"}},
        {"volume on two extents", Disks({{kIdeChannel}}), u"S:\\",
         {"Failed to get the device number for boot partition 0x1"}},
        {"device number refused",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "DeviceIoControl", "target": "\\\\.\\C:", "ioctl": "IOCTL_STORAGE_GET_DEVICE_NUMBER", "error": 21 } ])"),
         u"C:\\", {"Failed to get the device number for boot partition 0x15"}},
        {"CD drive", Disks({{kIdeChannel}}), u"D:\\", {"Drive type is not valid 5"}},
        {"removable disk", Disks({{kIdeChannel}}), u"F:\\", {"Drive type is not valid 2"}},
        {"drive type unknown", Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "GetDriveTypeW", "target": "C:\\", "returns": 0 } ])"),
         u"C:\\", {"Drive type is not valid 0"}},
        {"DOS device unreadable",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "QueryDosDeviceW", "target": "C:", "error": 2 } ])"),
         u"C:\\", {"can not open the dos device drive of boot disk 0x2"}},
        // From here on the operation ends without a message.
        {"no disk list", Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "SetupDiGetClassDevsW", "error": 5 } ])"),
         u"C:\\", {}},
        {"no disk interfaces",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "SetupDiEnumDeviceInterfaces", "error": 259 } ])"), u"C:\\", {}},
        {"boot disk's detail too large for 1024 bytes",
         Disks({{kIdeChannel, R"(, "devicePath": )" + JsonText(longPath)}}), u"C:\\", {}},
        {"boot disk's detail unreadable",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "SetupDiGetDeviceInterfaceDetailW", "nth": 2, "error": 87 } ])"),
         u"C:\\", {}},
        {"boot disk cannot be opened",
         Disks({{kIdeChannel, R"(, "devicePath": "\\\\?\\ide#boot#1")"}}, 0,
               R"("errors": [ { "call": "CreateFileW", "target": "\\\\?\\ide#boot#1", "error": 5 } ])"),
         u"C:\\", {}},
        {"boot disk's number refused",
         Disks({{kIdeChannel, R"(, "devicePath": "\\\\?\\ide#boot#1")"}}, 0,
               R"("errors": [ { "call": "DeviceIoControl", "target": "\\\\?\\ide#boot#1", "error": 1 } ])"),
         u"C:\\", {}},
        {"boot disk without a parent", Disks({{std::nullopt}}), u"C:\\", {}},
        {"parent's ID unreadable",
         Disks({{kIdeChannel}}, 0, R"("errors": [ { "call": "CM_Get_Device_IDW", "error": 5 } ])"), u"C:\\", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        CallerBuffer id;
        EXPECT_FALSE(DeviceIdOf(c.path, &id));
        EXPECT_TRUE(id.untouched());
        EXPECT_EQ(Log(), Lines(kDeviceId, c.log));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

// Eleven disks, each on a parent of its own.
std::string ElevenDisks() {
    std::vector<DiskSpec> disks;
    for (int i = 0; i < 11; ++i) disks.push_back({"PCI\\VEN_1000&DEV_0058\\4&3A1B0C2D&0&" + std::to_string(i)});
    return Disks(disks);
}

TEST_F(DiskControllerTest, AllDisksFillsAtMostTenSlots) {
    Load(ElevenDisks());
    EXPECT_EQ(disks_.GetAllDisksDeviceID(), 10);
    std::vector<std::string> expectedLog;
    for (int i = 0; i < 10; ++i) {
        const std::string parent = "PCI\\VEN_1000&DEV_0058\\4&3A1B0C2D&0&" + std::to_string(i);
        EXPECT_EQ(Text(disks_.DisksDeviceID[i]), qf::FromUtf8(parent));
        expectedLog.push_back(kAllDisks + ": DeviceId = " + parent);
        expectedLog.push_back("");  // the message's own line end
    }
    EXPECT_EQ(Log(), expectedLog);
    std::size_t asked = 0;
    for (const std::string& c : sim().calls()) asked += c.rfind("SetupDiEnumDeviceInterfaces", 0) == 0;
    EXPECT_EQ(asked, 10u) << "the eleventh interface is not asked for";
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DiskControllerTest, AllDisksLeavesSlotsEmptyOrStopsAsTheStepsSay) {
    const std::string longPath = std::string(R"(\\?\ide#disk)") + std::string(520, 'x') + "#1";
    struct Case {
        const char* name;
        std::string machine;
        int considered;
        std::vector<std::u16string> slots;  // the first `considered` + 1; "#" untouched
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"long path and no parent: empty slots",
         Disks({{"A&1&0"}, {"B&2&0", R"(, "devicePath": )" + JsonText(longPath)}, {std::nullopt}, {"D&4&0"}}), 4,
         {u"A&1&0", u"", u"", u"D&4&0", u"#"},
         {"DeviceId = A&1&0", "", "DeviceId = D&4&0", ""}},
        // Two detail calls per interface: the fourth is the second one's read.
        {"detail unreadable: the slot is not counted",
         Disks({{"A&1&0"}, {"B&2&0"}, {"C&3&0"}}, 0,
               R"("errors": [ { "call": "SetupDiGetDeviceInterfaceDetailW", "nth": 4, "error": 87 } ])"),
         1, {u"A&1&0", u"#"}, {"DeviceId = A&1&0", ""}},
        {"parent's ID unreadable",
         Disks({{"A&1&0"}, {"B&2&0"}}, 0, R"("errors": [ { "call": "CM_Get_Device_IDW", "nth": 1, "error": 5 } ])"), 2,
         {u"", u"B&2&0", u"#"}, {"DeviceId = B&2&0", ""}},
        {"no disks", Machine(R"("disks": [], "volumes": [])"), 0, {u"#"}, {}},
        {"no list", Disks({{"A&1&0"}}, 0, R"("errors": [ { "call": "SetupDiGetClassDevsW", "error": 5 } ])"), 0,
         {u"#"}, {"Failed to get the device classes for WMI 0x5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        for (auto& slot : disks_.DisksDeviceID) {
            std::fill(std::begin(slot), std::end(slot), QF_WCHAR(0));
            slot[0] = QF_WCHAR('#');
        }
        EXPECT_EQ(disks_.GetAllDisksDeviceID(), c.considered);
        for (std::size_t i = 0; i < c.slots.size(); ++i) EXPECT_EQ(Text(disks_.DisksDeviceID[i]), c.slots[i]) << i;
        EXPECT_EQ(Log(), Lines(kAllDisks, c.log));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(DiskControllerTest, OnlyDiskWhenExactlyOneParentContainsTheText) {
    struct Case {
        const char* name;
        std::vector<DiskSpec> disks;
        std::u16string text;
        bool only;
    };
    const std::vector<Case> cases = {
        {"one disk", {{kIchController}, {R"(USB\VID_0781&PID_5530\2006)"}}, u"DEV_27C0", true},
        {"two disks on one channel", {{kIdeChannel}, {kIdeChannel}}, u"2617AEAE", false},
        {"no disk there", {{kIdeChannel}}, u"DEV_27C0", false},
        {"a short text found in several", {{kIchController}, {R"(PCI\VEN_1000&DEV_0058\4&1&0)"}}, u"PCI", false},
        {"case counts", {{kIchController}}, u"dev_27c0", false},
        {"a disk past the tenth does not count",
         {{"A"}, {"B"}, {"C"}, {"D"}, {"E"}, {"F"}, {"G"}, {"H"}, {"I"}, {"J"}, {"K&only"}}, u"only", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Disks(c.disks));
        EXPECT_EQ(disks_.IsOnlyDiskConnectedToController(reinterpret_cast<const QF_WCHAR*>(c.text.c_str())), c.only);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }

    Load(Disks({{kIchController}}));
    const std::size_t before = CallCount();
    EXPECT_FALSE(disks_.IsOnlyDiskConnectedToController(reinterpret_cast<const QF_WCHAR*>(u"")));
    EXPECT_FALSE(disks_.IsOnlyDiskConnectedToController(nullptr));
    EXPECT_EQ(CallsSince(before), std::vector<std::string>{}) << "no enumeration for an empty text";
    EXPECT_EQ(Log(), std::vector<std::string>{});
}

}  // namespace
