#include "support/sim_fixture.h"

namespace {

using namespace qf::platform;
using qftest::Machine;

class SimPlatformTest : public qftest::SimTest {
protected:
    Handle Open(const std::u16string& path) { return sim().CreateFileW(path.c_str(), kGenericRead, 3, kOpenExisting, 0); }
};

TEST_F(SimPlatformTest, ErrorsApplyToTheirNthMatchingCallOnly) {
    Load(Machine(R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\C:", "nth": 2, "error": 5 } ])"));
    const Handle first = Open(u"\\\\.\\PHYSICALDRIVE0");  // another target: not counted
    const Handle second = Open(u"\\\\.\\C:");
    const Handle third = Open(u"\\\\.\\c:");              // targets compare without case
    EXPECT_NE(first, kInvalidHandle);
    EXPECT_NE(second, kInvalidHandle);
    EXPECT_EQ(third, kInvalidHandle);
    EXPECT_EQ(sim().GetLastError(), 5u);
    EXPECT_NE(Open(u"\\\\.\\C:"), kInvalidHandle);
}

TEST_F(SimPlatformTest, FailsWhereWindowsFails) {
    Load(Machine(R"("volumes": [ { "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "1GiB" } ] },
                                 { "letter": "D" } ])"));
    EXPECT_EQ(Open(u"\\\\.\\PHYSICALDRIVE7"), kInvalidHandle);
    EXPECT_EQ(sim().GetLastError(), kErrorFileNotFound);
    EXPECT_EQ(Open(u"\\\\.\\Q:"), kInvalidHandle);
    EXPECT_EQ(sim().GetLastError(), kErrorFileNotFound);

    const Handle cd = Open(u"\\\\.\\D:");
    std::uint8_t extents[32];
    std::uint32_t returned = 0;
    EXPECT_FALSE(sim().DeviceIoControl(cd, kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, extents, 32, &returned));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidFunction);

    char16_t target[4];
    EXPECT_EQ(sim().QueryDosDeviceW(u"C:", target, 4), 0u);
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    EXPECT_TRUE(sim().CloseHandle(cd));
    EXPECT_FALSE(sim().CloseHandle(cd));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidHandle);
}

TEST_F(SimPlatformTest, CountsWhatItHandsOutUntilItIsGivenBack) {
    Load(Machine());
    const Handle disk = Open(u"\\\\.\\PhysicalDrive0");
    Interface locator = 0, services = 0;
    ASSERT_EQ(sim().CreateWbemLocator(&locator), kSOk);
    ASSERT_EQ(sim().ConnectServer(locator, u"root\\cimv2", &services), kSOk);
    EXPECT_EQ(Held(), (std::vector<std::string>{"handle \\\\.\\PhysicalDrive0", "interface IWbemLocator ",
                                                "interface IWbemServices ROOT\\CIMV2"}));
    sim().Release(services);
    sim().Release(locator);
    sim().CloseHandle(disk);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(SimPlatformTest, ReturnsOverridesTheCountOfASucceedingRequest) {
    Load(Machine(R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_UPDATE_PROPERTIES", "returns": 7 } ])"));
    const Handle disk = Open(u"\\\\.\\PHYSICALDRIVE0");
    std::uint32_t returned = 0;
    EXPECT_TRUE(sim().DeviceIoControl(disk, kIoctlDiskUpdateProperties, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(returned, 7u);
    sim().CloseHandle(disk);
}

}  // namespace
