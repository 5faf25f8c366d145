// Unallocated space of a disk and the vendor partition's removal through
// the (simulated) system diskpart.
#include "CorvaneHelper.h"
#include "corvane_helper/helper_fixture.h"
#include "corvane_helper/vendor_partition.h"

namespace {

using qftest::Machine;

// A layout entry in 512-byte sectors.
std::string P(int type, std::uint64_t start, std::uint64_t sectors, const std::string& more = "") {
    return "{ \"type\": " + std::to_string(type) + ", \"start\": " + std::to_string(start * 512) +
           ", \"length\": " + std::to_string(sectors * 512) + more + " }";
}
const std::string kUnused = "{ \"type\": 0 }";

// One disk (number 0) of `sectors` sectors with `entries`.
std::string OneDisk(std::uint64_t sectors, const std::vector<std::string>& entries, const std::string& more = "") {
    std::string list;
    for (const std::string& e : entries) list += (list.empty() ? "" : ", ") + e;
    return R"("disks": [ { "sizeBytes": )" + std::to_string(sectors * 512) + R"(, "partitions": [ )" + list +
           " ] } ], \"volumes\": []" + more;
}

TEST(PhysicalDrivePath, TheNumberLeftJustifiedInThreeCharacters) {
    EXPECT_EQ(qf::helper::PhysicalDrivePath(0), "\\\\.\\PhysicalDrive0  ");
    EXPECT_EQ(qf::helper::PhysicalDrivePath(0).size(), 20u);
    EXPECT_EQ(qf::helper::PhysicalDrivePath(7), "\\\\.\\PhysicalDrive7  ");
    EXPECT_EQ(qf::helper::PhysicalDrivePath(10), "\\\\.\\PhysicalDrive10 ");
    EXPECT_EQ(qf::helper::PhysicalDrivePath(123), "\\\\.\\PhysicalDrive123");
}

class UnallocatedSpaceTest : public qftest::HelperTest {};

TEST_F(UnallocatedSpaceTest, UncoveredSectorsInWholeMiB) {
    constexpr std::uint64_t T = 100000;
    struct Case {
        const char* name;
        std::uint64_t sectors;
        std::vector<std::string> layout;
        int tail;
        int expected;
    };
    const Case cases[] = {
        {"an empty layout", T, {}, 0, static_cast<int>(T / 2048)},
        {"2047 sectors uncovered", T, {P(7, 2047, T - 2047)}, 0, 0},
        {"2048 sectors uncovered", T, {P(7, 2048, T - 2048)}, 0, 1},
        {"a partition ending where the free tail begins", T, {P(7, 2048, T - 1000 - 2048)}, 1000, 1},
        {"a partition ending one sector into the free tail", T, {P(7, 2048, T - 1000 - 2047)}, 1000, 0},
        // Unused entries count for nothing, whatever they say.
        {"unused entries first", T, {"{ \"type\": 0, \"start\": 0, \"length\": 1000000000000 }", kUnused, P(7, 2048, 40960)}, 0,
         static_cast<int>((T - 40960) / 2048)},
        {"a free tail larger than the disk", T, {P(7, 2048, T - 2048 - 4096)}, 200000, 3},
        // Containers of an extended partition (primary and link) cover
        // nothing of their own; the logical partitions inside them do.
        {"an extended partition", 1000000,
         {P(7, 2048, 200000), P(5, 202048, 400000), P(7, 204096, 100000), P(0x0F, 304096, 100000),
          P(7, 306144, 50000)},
         0, (1000000 - 350000) / 2048},
        {"an extended container reaching into the free tail", 1000000,
         {P(7, 2048, 200000), P(0x85, 202048, 1000000 - 202048), P(7, 204096, 100000)}, 1000, 0},
        {"partitions covering more than the disk", T, {P(7, 2048, 60000), P(7, 2048, 60000)}, 0, 0},
        // 3 TiB with 1 TiB covered: 2 TiB free, in MiB.
        {"a disk of 3 TiB", 3ull << 31, {P(7, 2048, 1ull << 31)}, 0, 2 << 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Machine(OneDisk(c.sectors, c.layout)));
        EXPECT_EQ(GetUnallocatedSpace(0, c.tail), c.expected);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(UnallocatedSpaceTest, ADiskThatCannotBeReadIsMinusOne) {
    const std::string layout = OneDisk(100000, {P(7, 2048, 50000)});
    const char* const errors[] = {
        R"({ "call": "CreateFileA", "error": 5 })",
        R"({ "call": "CreateFileA", "nth": 2, "error": 32 })",
        R"({ "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_GEOMETRY_EX", "error": 1 })",
        R"({ "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_LAYOUT", "error": 1 })",
    };
    for (const char* error : errors) {
        SCOPED_TRACE(error);
        Load(Machine(layout + R"(, "errors": [ )" + error + " ]"));
        EXPECT_EQ(GetUnallocatedSpace(0, 0), -1);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
    Load(Machine(layout));
    EXPECT_EQ(GetUnallocatedSpace(3, 0), -1) << "no disk 3";
}

// 840 bytes hold the header and 26 entries; a layout of 27 does not fit.
TEST_F(UnallocatedSpaceTest, TwentySixEntriesFitAndTwentySevenDoNot) {
    for (int count : {26, 27}) {
        std::vector<std::string> layout;
        for (int i = 0; i < count; ++i) layout.push_back(P(7, 2048 + 2048 * i, 2048));
        Load(Machine(OneDisk(1000000, layout)));
        EXPECT_EQ(GetUnallocatedSpace(0, 0), count == 26 ? (1000000 - 26 * 2048) / 2048 : -1) << count;
    }
}

TEST_F(UnallocatedSpaceTest, TheDiskIsOpenedByItsPaddedPath) {
    Load(Machine(R"("disks": [ { "number": 10, "sizeBytes": "1GiB", "partitions": [] } ], "volumes": [])"));
    const std::size_t before = sim().calls().size();
    EXPECT_EQ(GetUnallocatedSpace(10, 0), 1024);
    const auto calls = CallsSince(before);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateFileA \\\\.\\PhysicalDrive10 "), 2)
        << "opened twice, blank and all";
}

class DeleteVraTest : public qftest::HelperTest {
protected:
    // Disk 1 holds C: and D: and the vendor's partition, number 3.
    static std::string TwoDisks(const std::string& more = "") {
        return R"("disks": [ { "sizeBytes": "10GiB" }, { "sizeBytes": )" + std::to_string(1000000ull * 512) +
               R"(, "partitions": [ )" + P(7, 2048, 400000) + ", " + P(7, 402048, 200000) + ", " +
               P(0x49, 602048, 100000) + R"(, { "type": 0 } ] } ], "volumes": [])" + more;
    }
    std::string Script(const std::string& folder = "") {
        return ReadHostFile(std::filesystem::path(folder.empty() ? dir() : folder) / "DEL_VRA_SCRIPT_FILE");
    }
    std::vector<std::uint8_t> Types(std::size_t disk) {
        std::vector<std::uint8_t> types;
        for (const auto& p : sim().machine().disks[disk].partitions) types.push_back(p.type);
        return types;
    }
};

TEST_F(DeleteVraTest, WritesTheScriptAndDiskpartRemovesThePartition) {
    Load(Machine(TwoDisks(R"(, "os": { "windowsDirectory": "D:\\WINNT" })")));
    const int before = GetUnallocatedSpace(1, 0);
    const std::size_t from = sim().calls().size();

    EXPECT_EQ(DeleteVRA(1, dir().c_str()), 0);
    EXPECT_EQ(Script(), "select disk 1\r\nselect part 3\r\ndelete part\r\nexit");
    // The system's own diskpart, the script path in quotes.
    const auto calls = CallsSince(from);
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "CreateProcessA D:\\WINNT\\System32\\diskpart.exe commandLine=diskpart /s \"" + dir() +
                            "\\DEL_VRA_SCRIPT_FILE\""),
              calls.end());
    EXPECT_TRUE(sim().messageBoxes().empty());
    EXPECT_EQ(Held(), std::vector<std::string>{});

    // The layout no longer lists it: later calls see the space it held.
    EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0, 0}));
    EXPECT_EQ(GetUnallocatedSpace(1, 0), (1000000 - 600000) / 2048);
    EXPECT_GT(GetUnallocatedSpace(1, 0), before);
    EXPECT_EQ(DeleteVRA(1, dir().c_str()), -1) << "nothing of type 0x49 is left";
}

TEST_F(DeleteVraTest, TheFirstVendorPartitionInLayoutOrderGoes) {
    Load(Machine(OneDisk(1000000, {P(0x49, 2048, 1000), P(7, 4096, 1000), P(0x49, 8192, 1000)})));
    EXPECT_EQ(DeleteVRA(0, dir().c_str()), 0);
    EXPECT_EQ(Script(), "select disk 0\r\nselect part 1\r\ndelete part\r\nexit");
    EXPECT_EQ(Types(0), (std::vector<std::uint8_t>{0, 7, 0x49}));
    EXPECT_EQ(DeleteVRA(0, dir().c_str()), 0);
    EXPECT_EQ(Script(), "select disk 0\r\nselect part 3\r\ndelete part\r\nexit");
    EXPECT_EQ(Types(0), (std::vector<std::uint8_t>{0, 7, 0}));
}

TEST_F(DeleteVraTest, NoVendorPartitionWritesNothing) {
    const std::string noNumber = P(0x49, 2048, 1000, R"(, "number": 4294967295)");
    const std::vector<std::string> machines = {
        OneDisk(100000, {}),
        OneDisk(100000, {P(7, 2048, 1000), kUnused}),
        OneDisk(100000, {noNumber}),
        OneDisk(100000, {P(0x49, 2048, 1000)}, R"(, "errors": [ { "call": "CreateFileA", "error": 2 } ])"),
        OneDisk(100000, {P(0x49, 2048, 1000)},
                R"(, "errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_LAYOUT", "error": 1 } ])"),
    };
    for (const std::string& machine : machines) {
        SCOPED_TRACE(machine);
        Load(Machine(machine));
        EXPECT_EQ(DeleteVRA(0, dir().c_str()), -1);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir()) / "DEL_VRA_SCRIPT_FILE"));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(DeleteVraTest, AFailedStartShowsTheErrorNumber) {
    struct Case {
        const char* machine;
        const char* text;
    };
    const Case cases[] = {
        {R"(, "os": { "diskpart": false })", "Failed to delete the VRA partition, Error code = 2"},
        {R"(, "errors": [ { "call": "CreateProcessA", "error": 5 } ])", "Failed to delete the VRA partition, Error code = 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        Load(Machine(TwoDisks(c.machine)));
        EXPECT_EQ(DeleteVRA(1, dir().c_str()), -1);
        ASSERT_EQ(sim().messageBoxes().size(), 1u);
        EXPECT_EQ(sim().messageBoxes()[0].text, c.text);
        EXPECT_EQ(sim().messageBoxes()[0].caption, "Error");
        EXPECT_EQ(sim().messageBoxes()[0].type, 0x40u);
        EXPECT_EQ(Script(), "select disk 1\r\nselect part 3\r\ndelete part\r\nexit") << "the script stays";
        EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0x49, 0}));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

// diskpart started but could not carry the script out: a failure, and no
// message, since it did start.
TEST_F(DeleteVraTest, ADiskpartEndingWithAnErrorIsAFailure) {
    Load(Machine(TwoDisks(R"(, "os": { "diskpart": { "exitCode": 5 } })")));
    EXPECT_EQ(DeleteVRA(1, dir().c_str()), -1);
    EXPECT_TRUE(sim().messageBoxes().empty());
    EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0x49, 0}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(DeleteVraTest, AFolderWithABlankReachesDiskpartWhole) {
    Load(Machine(TwoDisks()));
    const std::string folder = (std::filesystem::path(dir()) / "script folder").string();
    std::filesystem::create_directory(folder);
    EXPECT_EQ(DeleteVRA(1, folder.c_str()), 0);
    EXPECT_EQ(Script(folder), "select disk 1\r\nselect part 3\r\ndelete part\r\nexit");
    EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0, 0}));
}

// A diskpart.exe in the current folder is not the system's and must not run.
TEST_F(DeleteVraTest, APlantedDiskpartDoesNotRun) {
    Load(Machine(TwoDisks()));
    WriteHostFile("diskpart.exe", "MZ");
    EXPECT_EQ(DeleteVRA(1, dir().c_str()), 0);
    EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0, 0})) << "the system's diskpart ran";
}

// "%s\DEL_VRA_SCRIPT_FILE" must fit in 260 bytes; a script that cannot be
// created stops everything before diskpart.
TEST_F(DeleteVraTest, AScriptThatCannotBeWrittenStartsNothing) {
    Load(Machine(TwoDisks()));
    for (std::size_t length : {239u, 240u}) {
        const std::string folder = (std::filesystem::path(dir()) / "missing").string() + std::string(length, 'f');
        const std::string cut = folder.substr(0, length);
        const std::size_t before = sim().calls().size();
        EXPECT_EQ(DeleteVRA(1, cut.c_str()), -1);
        const auto calls = CallsSince(before);
        const auto has = [&](const std::string& prefix) {
            return std::any_of(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
        };
        EXPECT_EQ(has("OpenFile "), length == 239) << length;
        EXPECT_FALSE(has("CreateProcessA")) << length;
    }
    EXPECT_EQ(Types(1), (std::vector<std::uint8_t>{7, 7, 0x49, 0}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
