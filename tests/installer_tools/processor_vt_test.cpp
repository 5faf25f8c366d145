#include "QuillFrameInstallerTools.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

const std::string kVt = "VTEnabled::Test";

class ProcessorVtTest : public qftest::SimTest {
protected:
    bool IsCPUType(const std::u16string& text) {
        std::u16string buffer = text;
        const bool r = CPUProperties().IsCPUType(reinterpret_cast<QF_WCHAR*>(&buffer[0]));
        EXPECT_EQ(Log(), std::vector<std::string>{}) << "IsCPUType logs nothing";
        EXPECT_EQ(Held(), std::vector<std::string>{});
        return r;
    }
};

TEST_F(ProcessorVtTest, TheVmxFlagOfCpuidLeafOneDecides) {
    struct Case {
        std::string cpu;
        bool vmx;
    };
    const Case cases[] = {
        {"{}", true},  // the default processor has it
        {R"({ "cpuid1Ecx": "0x20" })", true},
        {R"({ "cpuid1Ecx": "0xFFFFFFDF" })", false},
        {R"({ "cpuid1Ecx": 0 })", false},
        {R"({ "vmx": false })", false},
    };
    for (const Case& c : cases) {
        Load(Machine(R"("cpu": )" + c.cpu));
        EXPECT_EQ(ProcessorVT().Test(), c.vmx) << c.cpu;
        EXPECT_EQ(Log(), std::vector<std::string>{});
    }
}

TEST_F(ProcessorVtTest, TheDriversAnswerBitByBit) {
    struct Case {
        std::string driver;
        bool enabled;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {R"({ "answer": 5 })", true, {"entered", "nVTReturn = 5", "", "Lock bit set", ""}},
        {R"({ "answer": 1 })", false, {"entered", "nVTReturn = 1", "", "Lock bit set", ""}},
        {R"({ "answer": 4 })", true, {"entered", "nVTReturn = 4", ""}},
        {R"({ "answer": 0 })", false, {"entered", "nVTReturn = 0", ""}},
        {R"({ "answer": "0xFFFFFFFB" })", false, {"entered", "nVTReturn = -5", "", "Lock bit set", ""}},
        {R"({ "answer": "0x80000006" })", true, {"entered", "nVTReturn = -2147483642", ""}},
        // Bytes the driver does not write count as 0.
        {R"({ "answer": "0x01010104", "bytesReturned": 1 })", true, {"entered", "nVTReturn = 4", ""}},
        {R"({ "answer": "0x01010505", "bytesReturned": 2 })", true, {"entered", "nVTReturn = 1285", "", "Lock bit set", ""}},
        {R"({ "answer": 5, "bytesReturned": 0 })", false, {"entered", "nVTReturn = 0", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        Load(Machine(R"("vtDriver": )" + c.driver));
        EXPECT_EQ(VTEnabled().Test(), c.enabled);
        EXPECT_EQ(Log(), Lines(kVt, c.messages));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(ProcessorVtTest, EachFailureEndsWithItsMessage) {
    const std::string driver = R"("vtDriver": { "answer": 5 }, )";
    struct Case {
        std::string machine;
        std::string last;
    };
    const Case cases[] = {
        {Machine(), "SetupDiEnumDeviceInterfaces failed"},  // no driver installed
        {Machine(driver + R"("errors": [ { "call": "SetupDiGetClassDevsW", "error": 13 } ])"), "SetupDiGetClassDevs failed"},
        {Machine(driver + R"("errors": [ { "call": "SetupDiEnumDeviceInterfaces", "error": 259 } ])"),
         "SetupDiEnumDeviceInterfaces failed"},
        // The size query fails without reporting a size ...
        {Machine(driver + R"("errors": [ { "call": "SetupDiGetDeviceInterfaceDetailW", "nth": 1, "error": 87 } ])"),
         "SetupDiGetDeviceInterfaceDetail failed"},
        // ... or the detail itself cannot be had.
        {Machine(driver + R"("errors": [ { "call": "SetupDiGetDeviceInterfaceDetailW", "nth": 2, "error": 87 } ])"),
         "SetupDiGetDeviceInterfaceDetail failed"},
        {Machine(driver + R"("errors": [ { "call": "CreateFileW", "error": 5 } ])"), "CreateFile failed"},
        {Machine(driver + R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_VT_GET_STATUS", "error": 1 } ])"),
         "DeviceIoControl failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.last);
        Load(c.machine);
        EXPECT_FALSE(VTEnabled().Test());
        EXPECT_EQ(Log(), Lines(kVt, {"entered", c.last}));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
    // A failed check leaves nothing a later one depends on.
    Load(Machine(driver + R"("errors": [ { "call": "CreateFileW", "nth": 1, "error": 32 } ])"));
    EXPECT_FALSE(VTEnabled().Test());
    Log();
    EXPECT_TRUE(VTEnabled().Test());
}

TEST_F(ProcessorVtTest, CpuTypeIsFoundInFriendlyNamesOfAcpiDevices) {
    const std::string core2 = R"({ "hardwareIds": ["ACPI\\GenuineIntel_-_x86_Family_6_Model_15"],
                                   "friendlyName": "Intel(R) Core(TM)2 Duo CPU     T7500  @ 2.20GHz" })";
    const std::string button = R"({ "hardwareIds": ["ACPI\\PNP0C0C", "*PNP0C0C"], "friendlyName": "ACPI Power Button" })";
    const auto devices = [](const std::string& list) { return Machine(R"("acpiDevices": [ )" + list + " ]"); };
    struct Case {
        const char* name;
        std::string machine;
        std::u16string text;
        bool found;
    };
    const Case cases[] = {
        {"in the friendly name", devices(button + ", " + core2), u"Core(TM)2", true},
        {"the whole name", devices(core2), u"Intel(R) Core(TM)2 Duo CPU     T7500  @ 2.20GHz", true},
        {"in another letter case", devices(core2), u"core(tm)2", false},
        {"only in the hardware IDs", devices(core2), u"GenuineIntel", false},
        {"longer than the name", devices(core2), u"Intel(R) Core(TM)2 Duo CPU     T7500  @ 2.20GHz!", false},
        {"an empty text", devices(core2), u"", true},
        {"no devices", devices(""), u"", false},
        // The hardware-ID query decides which devices are looked at: one
        // without the property, or with an empty one, is passed over.
        {"no hardware IDs", devices(R"({ "hardwareIds": null, "friendlyName": "Intel(R) Core(TM)2" })"), u"Core", false},
        {"empty hardware IDs", devices(R"({ "hardwareIds": [], "friendlyName": "Intel(R) Core(TM)2" })"), u"", false},
        {"a device without a friendly name first",
         devices(R"({ "hardwareIds": ["ACPI\\PNP0A03"], "friendlyName": null }, )" + core2), u"T7500", true},
        // Fixed: the name is read with its own room, not the hardware IDs' size.
        {"a name longer than the hardware IDs",
         devices(R"({ "hardwareIds": ["A"], "friendlyName": "AMD Athlon(tm) 64 X2 Dual Core Processor 4200+" })"),
         u"Athlon", true},
        {"a list that cannot be made",
         devices(core2).insert(1, R"("errors": [ { "call": "SetupDiGetClassDevsW", "target": "ACPI", "error": 13 } ], )"),
         u"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        EXPECT_EQ(IsCPUType(c.text), c.found);
    }
}

TEST_F(ProcessorVtTest, FriendlyNamesUpToTheNameBuffersSize) {
    // 2048 bytes: 1023 characters and the NUL fit, 1024 do not.
    for (const std::size_t length : {1023u, 1024u}) {
        const std::string name = std::string(length - 4, 'x') + "Xeon";
        Load(Machine(R"("acpiDevices": [ { "hardwareIds": ["ACPI\\CPU"], "friendlyName": ")" + name + R"(" } ])"));
        EXPECT_EQ(IsCPUType(u"Xeon"), length == 1023) << length;
    }
}

}  // namespace
