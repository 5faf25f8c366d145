#include <algorithm>

#include "QuillFrameInstallerTools.h"
#include "installer_tools/log.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

const std::string kGetDevices = "EnumeratePCIDevices::GetDevices";
constexpr unsigned char kMarker = 0xAB;

// Hardware-ID lists as the system hands them out: UTF-16LE, each ID
// NUL-terminated, one more NUL at the end.
std::vector<unsigned char> MultiString(const std::vector<std::u16string>& ids) {
    std::vector<unsigned char> bytes;
    const auto put = [&](char16_t c) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    };
    for (const auto& id : ids) {
        for (char16_t c : id) put(c);
        put(0);
    }
    put(0);
    return bytes;
}

const std::vector<std::u16string> kBridge = {u"PCI\\VEN_8086&DEV_27C0", u"PCI\\CC_0101"};  // 70 bytes
const std::vector<std::u16string> kNic = {u"PCI\\VEN_10EC&DEV_8136"};                       // 46 bytes

std::string TwoDevices(const std::string& more = "") {
    return Machine(R"("pciDevices": [ { "hardwareIds": ["PCI\\VEN_8086&DEV_27C0", "PCI\\CC_0101"] },
                                      { "hardwareIds": ["PCI\\VEN_10EC&DEV_8136"] } ])" +
                   (more.empty() ? "" : ", " + more));
}

std::vector<unsigned char> Concat(std::vector<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Answer {
    bool result = false;
    QF_DWORD required = 0;
    std::vector<unsigned char> buffer;  // the caller's, marker-filled before the call
};

Answer GetDevices(QF_DWORD size) {
    Answer a;
    a.buffer.assign(size, kMarker);
    a.required = 0xDEADBEEF;
    EnumeratePCIDevices pci;
    a.result = pci.GetDevices(a.buffer.data(), size, &a.required);
    return a;
}

// The buffer expected after a call: `copied` at its start, the marker after.
std::vector<unsigned char> Filled(const std::vector<unsigned char>& copied, std::size_t size) {
    std::vector<unsigned char> out(size, kMarker);
    std::copy(copied.begin(), copied.end(), out.begin());
    return out;
}

class PciDevicesTest : public qftest::SimTest {};

TEST_F(PciDevicesTest, NegotiatesTheSizeAndCopiesWholeEntriesOnly) {
    const auto bridge = MultiString(kBridge), nic = MultiString(kNic);
    ASSERT_EQ(bridge.size(), 70u);
    ASSERT_EQ(nic.size(), 46u);
    const std::string readBridge = "SetupDiGetDeviceRegistryProperty bytes returned = 70";
    const std::string readNic = "SetupDiGetDeviceRegistryProperty bytes returned = 46";
    const std::string notEnough = "Caller has NOT allocated enough memory";
    struct Case {
        QF_DWORD size;
        bool result;
        std::vector<unsigned char> copied;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {0, false, {}, {"dwCallerBufferSize = 0", readBridge, notEnough, readNic, notEnough, "*dwCallerRequiredSize = 116",
                        "Caller did not allocate enough memory"}},
        {116, true, Concat({bridge, nic}), {"dwCallerBufferSize = 116", readBridge, readNic, "*dwCallerRequiredSize = 116"}},
        {115, false, bridge, {"dwCallerBufferSize = 115", readBridge, readNic, notEnough, "*dwCallerRequiredSize = 116",
                              "Caller did not allocate enough memory"}},
        {69, false, {}, {"dwCallerBufferSize = 69", readBridge, notEnough, readNic, notEnough,
                         "*dwCallerRequiredSize = 116", "Caller did not allocate enough memory"}},
        {300, true, Concat({bridge, nic}), {"dwCallerBufferSize = 300", readBridge, readNic, "*dwCallerRequiredSize = 116"}},
    };
    Load(TwoDevices());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Answer a = GetDevices(c.size);
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.required, 116u);
        EXPECT_EQ(a.buffer, Filled(c.copied, c.size));
        EXPECT_EQ(Log(), Lines(kGetDevices, c.log));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(PciDevicesTest, EmptyAndUnreadableListsAreEmptyEntries) {
    // The third device has no hardware IDs at all, the second an empty list.
    Load(Machine(R"("pciDevices": [ { "hardwareIds": ["PCI\\VEN_10EC&DEV_8136"] }, { "hardwareIds": [] },
                                    { "hardwareIds": null }, { "hardwareIds": ["PCI\\VEN_8086&DEV_27C0", "PCI\\CC_0101"] } ])"));
    const Answer fits = GetDevices(116);
    EXPECT_TRUE(fits.result);
    EXPECT_EQ(fits.required, 116u);
    EXPECT_EQ(fits.buffer, Concat({MultiString(kNic), MultiString(kBridge)})) << "no gap for the empty entries";
    EXPECT_EQ(Log(), Lines(kGetDevices, {"dwCallerBufferSize = 116", "SetupDiGetDeviceRegistryProperty bytes returned = 46",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 0",
                                         "SetupDiGetDeviceRegistryProperty failed",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 0",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 70",
                                         "*dwCallerRequiredSize = 116"}));

    // Once an entry did not fit, no later one does, however small.
    const Answer short_ = GetDevices(45);
    EXPECT_FALSE(short_.result);
    EXPECT_EQ(short_.buffer, Filled({}, 45));
    EXPECT_EQ(Log(), Lines(kGetDevices, {"dwCallerBufferSize = 45", "SetupDiGetDeviceRegistryProperty bytes returned = 46",
                                         "Caller has NOT allocated enough memory",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 0",
                                         "Caller has NOT allocated enough memory",
                                         "SetupDiGetDeviceRegistryProperty failed",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 0",
                                         "Caller has NOT allocated enough memory",
                                         "SetupDiGetDeviceRegistryProperty bytes returned = 70",
                                         "Caller has NOT allocated enough memory", "*dwCallerRequiredSize = 116",
                                         "Caller did not allocate enough memory"}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(PciDevicesTest, NoDevicesNoListAndABrokenEnumeration) {
    Load(Machine(R"("pciDevices": [])"));
    Answer a = GetDevices(8);
    EXPECT_TRUE(a.result);
    EXPECT_EQ(a.required, 0u);
    EXPECT_EQ(a.buffer, Filled({}, 8));
    EXPECT_EQ(Log(), Lines(kGetDevices, {"dwCallerBufferSize = 8", "*dwCallerRequiredSize = 0"}));
    a = GetDevices(0);
    EXPECT_TRUE(a.result) << "nothing to hold fits an empty buffer";

    Load(TwoDevices(R"("errors": [ { "call": "SetupDiGetClassDevsW", "target": "PCI", "error": 5 } ])"));
    a = GetDevices(200);
    EXPECT_FALSE(a.result);
    EXPECT_EQ(a.required, 0u);
    EXPECT_EQ(Log(), Lines(kGetDevices, {"dwCallerBufferSize = 200"}));
    EXPECT_EQ(Held(), std::vector<std::string>{});

    // The second device cannot be enumerated: what was seen is kept, and
    // the call fails without a further message.
    Load(TwoDevices(R"("errors": [ { "call": "SetupDiEnumDeviceInfo", "nth": 2, "error": 5 } ])"));
    a = GetDevices(200);
    EXPECT_FALSE(a.result);
    EXPECT_EQ(a.required, 70u);
    EXPECT_EQ(a.buffer, Filled(MultiString(kBridge), 200));
    EXPECT_EQ(Log(), Lines(kGetDevices, {"dwCallerBufferSize = 200", "SetupDiGetDeviceRegistryProperty bytes returned = 70"}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(PciDevicesTest, WithoutABufferNothingFitsAndWithoutASizePointerNothingIsReported) {
    Load(TwoDevices());
    EnumeratePCIDevices pci;
    QF_DWORD required = 0;
    EXPECT_FALSE(pci.GetDevices(nullptr, 500, &required));
    EXPECT_EQ(required, 116u);
    const auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), kGetDevices + ": Caller has NOT allocated enough memory"), 2);

    std::vector<unsigned char> buffer(116);
    EXPECT_TRUE(pci.GetDevices(buffer.data(), 116, nullptr));
    EXPECT_EQ(buffer, Concat({MultiString(kBridge), MultiString(kNic)}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

// A system whose first device's hardware-ID list gains an ID each time it
// is read with too small a buffer, `growths` times.
class GrowingIds : public qf::sim::SimPlatform {
public:
    GrowingIds(qf::sim::Machine m, std::string dir, int growths) : SimPlatform(std::move(m), std::move(dir)), growths_(growths) {}
    bool SetupDiGetDeviceRegistryPropertyW(qf::platform::DeviceList list, const qf::platform::DevInfoData& data,
                                           std::uint32_t property, std::uint32_t* regType, void* buffer,
                                           std::uint32_t bufferSize, std::uint32_t* requiredSize) override {
        ++reads;
        const bool ok = SimPlatform::SetupDiGetDeviceRegistryPropertyW(list, data, property, regType, buffer, bufferSize,
                                                                      requiredSize);
        if (!ok && GetLastError() == qf::platform::kErrorInsufficientBuffer && data.memberIndex == 0 && growths_ > 0) {
            --growths_;
            machine().pciDevices[0].hardwareIds->push_back(u"PCI\\CC_01");
        }
        return ok;
    }
    int reads = 0;

private:
    int growths_;
};

TEST_F(PciDevicesTest, AListThatGrowsBetweenReadsIsReadAgainWithItsNewSize) {
    const std::string machine = Machine(R"("pciDevices": [ { "hardwareIds": ["PCI\\VEN_8086&DEV_27C0"] } ])");
    Load(machine);
    qf::tools::CloseLog();
    auto system = std::make_unique<GrowingIds>(qf::sim::LoadMachine(machine, "growing"), session().tempDir(), 2);
    GrowingIds* raw = system.get();
    auto previous = qf::platform::SetCurrent(std::move(system));
    qf::tools::OpenLog();

    std::vector<unsigned char> buffer(200, kMarker);
    QF_DWORD required = 0;
    EnumeratePCIDevices pci;
    const bool result = pci.GetDevices(buffer.data(), 200, &required);
    const auto grown = MultiString({u"PCI\\VEN_8086&DEV_27C0", u"PCI\\CC_01", u"PCI\\CC_01"});
    std::vector<std::string> held = raw->Outstanding();
    held.erase(std::remove_if(held.begin(), held.end(),
                              [](const std::string& r) { return r.find("Installer-tools.log") != std::string::npos; }),
               held.end());
    const int reads = raw->reads;
    qf::tools::CloseLog();
    std::size_t offset = 0;
    const auto log = qfcheck::ReadNewLines(session().logPath(), &offset);
    qf::platform::SetCurrent(std::move(previous));
    qf::tools::OpenLog();

    EXPECT_TRUE(result);
    EXPECT_EQ(required, grown.size());
    EXPECT_EQ(buffer, Filled(grown, 200));
    EXPECT_EQ(reads, 4) << "the first read asks the size, two more meet a grown list";
    EXPECT_EQ(log, Lines(kGetDevices, {"dwCallerBufferSize = 200",
                                       "SetupDiGetDeviceRegistryProperty bytes returned = " + std::to_string(grown.size()),
                                       "*dwCallerRequiredSize = " + std::to_string(grown.size())}));
    EXPECT_EQ(held, std::vector<std::string>{}) << "every property buffer given back";
}

}  // namespace
