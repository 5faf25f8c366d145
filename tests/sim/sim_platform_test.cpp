#include "common/byte_cursor.h"
#include "common/text.h"
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

namespace {

using namespace qf::platform;

class SimDevicesTest : public qftest::SimTest {};

TEST_F(SimDevicesTest, DiskInterfacesFollowTheSystemsSizeProtocol) {
    Load(qftest::Machine(R"("disks": [ { "sizeBytes": "10GiB", "parentInstanceId": "PCIIDE\\IDECHANNEL\\4&1&0&0" },
                                       { "number": 5, "sizeBytes": "10GiB", "parentInstanceId": null } ])"));
    const DeviceList list = sim().SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, kDigcfPresent | kDigcfDeviceInterface);
    ASSERT_NE(list, kInvalidHandle);
    DeviceInterfaceData data;
    data.cbSize = 32;  // a 64-bit record size is refused, as the system refuses a wrong one
    EXPECT_FALSE(sim().SetupDiEnumDeviceInterfaces(list, kDiskInterfaceClass, 0, &data));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidUserBuffer);
    data.cbSize = kDeviceInterfaceDataSize;
    ASSERT_TRUE(sim().SetupDiEnumDeviceInterfaces(list, kDiskInterfaceClass, 1, &data));
    EXPECT_FALSE(sim().SetupDiEnumDeviceInterfaces(list, kDiskInterfaceClass, 2, &data));
    EXPECT_EQ(sim().GetLastError(), kErrorNoMoreItems);

    ASSERT_TRUE(sim().SetupDiEnumDeviceInterfaces(list, kDiskInterfaceClass, 1, &data));
    std::uint32_t required = 0;
    EXPECT_FALSE(sim().SetupDiGetDeviceInterfaceDetailW(list, data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    const std::u16string path = sim().machine().disks[1].devicePath;
    EXPECT_EQ(required, 4 + 2 * (path.size() + 1));
    std::vector<std::uint8_t> detail(required);
    qf::ByteWriter(detail.data(), detail.size()).u32(kDeviceInterfaceDetailDataSize);
    DevInfoData device;
    device.cbSize = kDevInfoDataSize;
    ASSERT_TRUE(sim().SetupDiGetDeviceInterfaceDetailW(list, data, detail.data(), required, &required, &device));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(detail.data() + 4)), path);

    // The interface path opens the disk; its number is the disk's own.
    const Handle disk = sim().CreateFileW(path.c_str(), 0, 3, kOpenExisting, 0);
    std::uint8_t number[12] = {};
    ASSERT_TRUE(sim().DeviceIoControl(disk, kIoctlStorageGetDeviceNumber, nullptr, 0, number, 12, nullptr));
    qf::ByteCursor in(number, 12);
    EXPECT_EQ(in.u32(), kFileDeviceDisk);
    EXPECT_EQ(in.u32(), 5u);
    sim().CloseHandle(disk);

    std::uint32_t parent = 0;
    EXPECT_EQ(sim().CM_Get_Parent(&parent, device.devInst, 0), kCrNoSuchDevnode) << "the second disk has no parent";
    DevInfoData first;
    first.cbSize = kDevInfoDataSize;
    ASSERT_TRUE(sim().SetupDiEnumDeviceInfo(list, 0, &first));
    ASSERT_EQ(sim().CM_Get_Parent(&parent, first.devInst, 0), kCrSuccess);
    char16_t id[260];
    EXPECT_EQ(sim().CM_Get_Device_IDW(parent, id, 5, 0), kCrBufferSmall);
    ASSERT_EQ(sim().CM_Get_Device_IDW(parent, id, 260, 0), kCrSuccess);
    EXPECT_EQ(std::u16string(id), u"PCIIDE\\IDECHANNEL\\4&1&0&0");

    EXPECT_EQ(Held(), std::vector<std::string>{"device list {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"});
    EXPECT_TRUE(sim().SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(SimDevicesTest, RegistryPropertiesAreMultiStringsOrMissing) {
    Load(qftest::Machine(R"("pciDevices": [ { "hardwareIds": ["PCI\\VEN_8086&DEV_27C0", "PCI\\CC_0101"] }, { "hardwareIds": null } ])"));
    const DeviceList list = sim().SetupDiGetClassDevsW(nullptr, u"PCI", kDigcfPresent | kDigcfAllClasses);
    DevInfoData device;
    device.cbSize = kDevInfoDataSize;
    ASSERT_TRUE(sim().SetupDiEnumDeviceInfo(list, 0, &device));
    std::uint32_t type = 0, required = 0;
    EXPECT_FALSE(sim().SetupDiGetDeviceRegistryPropertyW(list, device, kSpdrpHardwareId, &type, nullptr, 0, &required));
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(required, 2u * (21 + 1 + 11 + 1 + 1));
    std::vector<char16_t> ids(required / 2);
    ASSERT_TRUE(sim().SetupDiGetDeviceRegistryPropertyW(list, device, kSpdrpHardwareId, &type, ids.data(), required, &required));
    EXPECT_EQ(type, kRegMultiSz);
    EXPECT_EQ(std::u16string(ids.data(), ids.size()), std::u16string(u"PCI\\VEN_8086&DEV_27C0\0PCI\\CC_0101\0\0", 35));

    ASSERT_TRUE(sim().SetupDiEnumDeviceInfo(list, 1, &device));
    EXPECT_FALSE(sim().SetupDiGetDeviceRegistryPropertyW(list, device, kSpdrpHardwareId, &type, nullptr, 0, &required));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidData);
    EXPECT_FALSE(sim().SetupDiEnumDeviceInfo(list, 2, &device));
    EXPECT_EQ(sim().GetLastError(), kErrorNoMoreItems);
    sim().SetupDiDestroyDeviceInfoList(list);

    EXPECT_EQ(sim().SetupDiGetClassDevsW(nullptr, u"NOSUCH", kDigcfPresent | kDigcfAllClasses), kInvalidHandle);
}

TEST_F(SimDevicesTest, TheVirtualizationDriverWritesTheBytesItReturns) {
    Load(qftest::Machine(R"("vtDriver": { "answer": "0x04030205", "bytesReturned": 2 })"));
    const Handle driver = sim().CreateFileW(qf::sim::SimPlatform::kVtDriverPath.c_str(), 0xC0000000u, 0, kOpenExisting, 0);
    ASSERT_NE(driver, kInvalidHandle);
    std::uint8_t answer[4] = {};
    std::uint32_t returned = 0;
    ASSERT_TRUE(sim().DeviceIoControl(driver, kIoctlVtGetStatus, nullptr, 0, answer, 4, &returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(qf::ByteCursor(answer, 4).u32(), 0x0205u);
    sim().CloseHandle(driver);

    Load(qftest::Machine());
    const DeviceList list = sim().SetupDiGetClassDevsW(&kVtDriverInterfaceClass, nullptr, kDigcfPresent | kDigcfDeviceInterface);
    DeviceInterfaceData data;
    data.cbSize = kDeviceInterfaceDataSize;
    EXPECT_FALSE(sim().SetupDiEnumDeviceInterfaces(list, kVtDriverInterfaceClass, 0, &data)) << "no driver installed";
    sim().SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SimDevicesTest, WindowsDirectoryAndDriveTypesComeFromTheDescription) {
    Load(qftest::Machine(R"("os": { "windowsDirectory": "E:\\WINNT" },
        "volumes": [ { "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "1GiB" } ] },
                     { "letter": "D" },
                     { "letter": "E", "driveType": 2, "extents": [ { "disk": 0, "start": "2GiB", "length": "1GiB" } ] } ],
        "errors": [ { "call": "GetDriveTypeW", "target": "c:\\", "nth": 2, "returns": 4 },
                    { "call": "GetWindowsDirectoryW", "nth": 3, "error": 8 } ])"));
    char16_t dir[16] = {};
    EXPECT_EQ(sim().GetWindowsDirectoryW(dir, 8), 9u) << "too small: the length needed, terminator included";
    EXPECT_EQ(dir[0], 0);
    EXPECT_EQ(sim().GetWindowsDirectoryW(dir, 9), 8u);
    EXPECT_EQ(std::u16string(dir), u"E:\\WINNT");
    EXPECT_EQ(sim().GetWindowsDirectoryW(dir, 16), 0u);
    EXPECT_EQ(sim().GetLastError(), 8u);

    const std::vector<std::pair<std::u16string, std::uint32_t>> types = {
        {u"C:\\", Platform::kDriveFixed}, {u"D:\\", Platform::kDriveCdRom}, {u"e:\\", Platform::kDriveRemovable},
        {u"C:\\", 4},  // the second ask of C:\ answers what `errors` says
        {u"Q:\\", Platform::kDriveNoRootDir}, {u"C:", Platform::kDriveNoRootDir}, {u"", Platform::kDriveNoRootDir},
    };
    for (const auto& [root, type] : types) EXPECT_EQ(sim().GetDriveTypeW(root.c_str()), type) << qf::ToUtf8(root);
    EXPECT_EQ(sim().GetDriveTypeW(nullptr), Platform::kDriveNoRootDir);
}

}  // namespace
