// The simulated services of the helper library: profile files read from the
// host, 8-bit disk paths, the old-style layout, the firmware table's size
// protocol, and the simulated diskpart.
#include <cstring>

#include "common/byte_cursor.h"
#include "corvane_helper/helper_fixture.h"

namespace {

using namespace qf::platform;
using qftest::Machine;

class SimHelperTest : public qftest::HelperTest {
protected:
    std::string Profile(const char* section, const char* key, const char* defaultValue, std::uint32_t size = 260,
                        std::uint32_t* copied = nullptr) {
        std::vector<char> buffer(size + 1, '#');
        const std::uint32_t n = sim().GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size,
                                                               (dir() + "\\settings.ini").c_str());
        if (copied) *copied = n;
        EXPECT_EQ(buffer[size], '#') << "nothing written past the buffer";
        return std::string(buffer.data());
    }
};

TEST_F(SimHelperTest, ProfileStringsFollowTheSystemsRules) {
    Load(Machine());
    EXPECT_EQ(Profile("systeminfo", "manufacturer", "none  "), "none") << "no file: the default, trailing blanks dropped";
    WriteHostFile("settings.ini", "[Other]\r\nmanufacturer=wrong\r\n  [ SystemInfo ]  \r\n\tManufacturer\t=  NEC  Corp  \r\n"
                                  "manufacturer=second\r\nlong=" + std::string(300, 'v') + "\r\n");
    EXPECT_EQ(Profile("SYSTEMINFO", "MANUFACTURER", ""), "NEC  Corp");
    EXPECT_EQ(Profile("systeminfo", "model", "dflt"), "dflt");
    EXPECT_EQ(Profile("missing", "manufacturer", ""), "");
    std::uint32_t copied = 0;
    EXPECT_EQ(Profile("systeminfo", "long", "", 260, &copied), std::string(259, 'v'));
    EXPECT_EQ(copied, 259u);
    EXPECT_EQ(Profile("systeminfo", "manufacturer", "", 4, &copied), "NEC");
    EXPECT_EQ(copied, 3u);
}

TEST_F(SimHelperTest, EightBitPathsLoseTheirTrailingBlanks) {
    Load(Machine(R"("errors": [ { "call": "CreateFileA", "target": "\\\\.\\PHYSICALDRIVE1", "error": 5 } ],
                    "disks": [ { "sizeBytes": "1GiB" }, { "sizeBytes": "2GiB" } ])"));
    const Handle disk = sim().CreateFileA("\\\\.\\PhysicalDrive0  ", kGenericRead, 3, kOpenExisting, 0);
    ASSERT_NE(disk, kInvalidHandle);
    EXPECT_EQ(sim().calls().back(), "CreateFileA \\\\.\\PhysicalDrive0  ");
    EXPECT_EQ(sim().CreateFileA("\\\\.\\PhysicalDrive1 ", kGenericRead, 3, kOpenExisting, 0), kInvalidHandle);
    EXPECT_EQ(sim().GetLastError(), 5u) << "the rule names the trimmed path";
    EXPECT_EQ(sim().CreateFileA("\\\\.\\PhysicalDrive 0", kGenericRead, 3, kOpenExisting, 0), kInvalidHandle);
    EXPECT_EQ(sim().GetLastError(), kErrorFileNotFound);

    // DISK_GEOMETRY_EX: the geometry, then DiskSize at 24.
    std::uint8_t geometry[40] = {};
    std::uint32_t returned = 0;
    EXPECT_FALSE(sim().DeviceIoControl(disk, kIoctlDiskGetDriveGeometryEx, nullptr, 0, geometry, 31, &returned));
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    ASSERT_TRUE(sim().DeviceIoControl(disk, kIoctlDiskGetDriveGeometryEx, nullptr, 0, geometry, 40, &returned));
    qf::ByteCursor in(geometry, 40);
    EXPECT_EQ(in.u64(), (1ull << 30) / (512 * 255 * 63));
    in.seek(20);
    EXPECT_EQ(in.u32(), 512u);
    EXPECT_EQ(in.u64(), 1ull << 30);
    EXPECT_TRUE(sim().CloseHandle(disk));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(SimHelperTest, TheOldLayoutListsEveryEntryIn32Bytes) {
    Load(Machine(R"("disks": [ { "sizeBytes": "10GiB", "partitions": [
        { "type": 7, "start": "1MiB", "length": "1GiB" }, { "type": 0 }, { "type": 5, "start": "2GiB", "length": "3GiB" },
        { "type": 7, "start": "2049MiB", "length": "1GiB" } ] } ], "volumes": [])"));
    const Handle disk = sim().CreateFileA("\\\\.\\PhysicalDrive0", kGenericRead, 3, kOpenExisting, 0);
    std::uint8_t layout[8 + 4 * 32] = {};
    std::uint32_t returned = 0;
    EXPECT_FALSE(sim().DeviceIoControl(disk, kIoctlDiskGetDriveLayout, nullptr, 0, layout, sizeof layout - 1, &returned));
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    ASSERT_TRUE(sim().DeviceIoControl(disk, kIoctlDiskGetDriveLayout, nullptr, 0, layout, sizeof layout, &returned));
    EXPECT_EQ(returned, sizeof layout);
    qf::ByteCursor in(layout, sizeof layout);
    EXPECT_EQ(in.u32(), 4u);
    const struct {
        std::uint64_t start, length;
        std::uint32_t number;
        std::uint8_t type;
    } expected[] = {{1 << 20, 1 << 30, 1, 7}, {0, 0, 0, 0}, {2ull << 30, 3ull << 30, 0, 5}, {2049ull << 20, 1 << 30, 2, 7}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        in.seek(8 + 32 * i);
        EXPECT_EQ(in.u64(), expected[i].start);
        EXPECT_EQ(in.u64(), expected[i].length);
        EXPECT_EQ(in.u32(), expected[i].start / 512) << "hidden sectors";
        EXPECT_EQ(in.u32(), expected[i].number);
        EXPECT_EQ(in.u8(), expected[i].type);
    }
    sim().CloseHandle(disk);
}

TEST_F(SimHelperTest, TheFirmwareTableTellsItsSizeFirst) {
    Load(Machine(R"("firmware": { "rsmb": "00 02 05 00 03 00 00 00 7f 04 00" })"));
    std::uint8_t buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(sim().GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, buffer, 1), 11u);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(sim().GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, buffer, 11), 11u);
    EXPECT_EQ(buffer[8], 0x7F);
    EXPECT_EQ(buffer[11], 0xEE);
    EXPECT_EQ(sim().GetSystemFirmwareTable(0x41435049 /* 'ACPI' */, 0, buffer, 16), 0u);
}

class SimDiskpartTest : public qftest::HelperTest {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        Load(Machine(R"("disks": [ { "sizeBytes": "10GiB" }, { "sizeBytes": "20GiB", "partitions": [
            { "type": 7, "start": "1MiB", "length": "5GiB" }, { "type": "0x49", "start": "5121MiB", "length": "1GiB" },
            { "type": 0 }, { "type": 0 } ] } ],
            "volumes": [ { "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "9GiB" } ] },
                         { "letter": "E", "extents": [ { "disk": 1, "start": "5121MiB", "length": "1GiB" } ] } ])"));
    }
    // Starts the system's diskpart on a script; its exit code.
    std::uint32_t Run(const std::string& script, const char* arguments = nullptr) {
        WriteHostFile("script.txt", script);
        std::string line = arguments ? arguments : "diskpart /s \"" + dir() + "\\script.txt\"";
        Platform::ProcessInformation started;
        EXPECT_TRUE(sim().CreateProcessA("C:\\Windows\\System32\\diskpart.exe", line.data(), true,
                                         Platform::kCreateNoWindow, &started));
        EXPECT_EQ(sim().WaitForSingleObject(started.process, Platform::kInfinite), Platform::kWaitObject0);
        std::uint32_t code = 99;
        EXPECT_TRUE(sim().GetExitCodeProcess(started.process, &code));
        sim().CloseHandle(started.process);
        sim().CloseHandle(started.thread);
        EXPECT_EQ(Held(), std::vector<std::string>{});
        return code;
    }
    std::size_t VendorPartitions() {
        std::size_t n = 0;
        for (const auto& p : sim().machine().disks[1].partitions) n += p.type == 0x49;
        return n;
    }
};

TEST_F(SimDiskpartTest, RejectedScriptsChangeNothing) {
    struct Case {
        const char* script;
        std::uint32_t code;
    };
    const Case cases[] = {
        {"select disk 9\r\nselect part 2\r\ndelete part\r\nexit", 5},
        {"select disk 1\r\nselect part 7\r\ndelete part\r\nexit", 5},
        {"select disk 1\r\nselect part 1\r\nformat fs=ntfs quick\r\ndelete part\r\nexit", 5},
        {"select disk 1\r\ndelete part\r\nexit", 5},
        {"select part 2\r\ndelete part", 5},
        {"select disk 1\r\nselect part 2\r\nexit\r\ndelete part", 0},  // nothing runs after exit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(Run(c.script), c.code);
        EXPECT_EQ(VendorPartitions(), 1u);
    }
    EXPECT_EQ(Run("", "diskpart /s"), 2u);
    EXPECT_EQ(Run("", ("diskpart /s " + dir() + "\\missing.txt").c_str()), 3u);
}

TEST_F(SimDiskpartTest, ACarriedOutScriptRemovesThePartitionAndItsLetter) {
    EXPECT_EQ(Run("rem vendor partition\r\n\r\nSEL DISK 1\r\nsel part 2\r\ndel partition override\r\nexit"), 0u);
    EXPECT_EQ(VendorPartitions(), 0u);
    EXPECT_EQ(sim().machine().disks[1].partitions.size(), 4u) << "the primary slot stays, unused";
    EXPECT_EQ(sim().GetLogicalDrives(), 1u << 2) << "E: is gone, C: stays";
}

TEST_F(SimDiskpartTest, OnlyTheSystemsDiskpartIsFound) {
    std::string line = "notepad.exe";
    Platform::ProcessInformation started;
    EXPECT_FALSE(sim().CreateProcessA(nullptr, line.data(), false, 0, &started));
    EXPECT_EQ(sim().GetLastError(), kErrorFileNotFound);
    // A bare name is searched in the current folder first.
    WriteHostFile("diskpart.exe", "MZ");
    WriteHostFile("script.txt", "select disk 1\r\nselect part 2\r\ndelete part\r\nexit");
    line = "diskpart /s script.txt";
    ASSERT_TRUE(sim().CreateProcessA(nullptr, line.data(), false, 0, &started));
    sim().CloseHandle(started.process);
    sim().CloseHandle(started.thread);
    EXPECT_EQ(VendorPartitions(), 1u) << "the planted program ran, not the system's diskpart";
}

}  // namespace
