#include "installer_tools/large_integer.h"
#include "support/disk_fixture.h"

namespace {

using qftest::DiskMachine;
using qftest::Lines;
using qftest::Only;

const std::string kCanResize = "DriveFreeSpace::CanResize";
const std::string kCheck = "DriveFreeSpace::CheckFreeSpaceInPartition";
const std::string kGet = "DriveFreeSpace::GetFreeSpaceInPartition";
const std::string kTest = "DriveFreeSpace::Test";
const std::string kFree = "DriveFreeSpace::CheckFreePartition";

// All four slots used: NTFS C: with 5 GiB free, FAT32 (CHS) E: with 3 GiB,
// FAT32 (LBA) F: with 100 MiB, and an NTFS partition without a letter.
const std::string kFourCandidates = DiskMachine(R"("sizeBytes": "100GiB")", R"(
        { "type": 7, "start": "1MiB", "length": "20GiB" }, { "type": 11, "start": "21GiB", "length": "10GiB" },
        { "type": 12, "start": "31GiB", "length": "10GiB" }, { "type": 7, "start": "41GiB", "length": "10GiB" })",
    R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "20GiB" } ], "freeBytes": "5GiB" },
       { "letter": "E", "extents": [ { "disk": 0, "start": "21GiB", "length": "10GiB" } ], "freeBytes": "3GiB" },
       { "letter": "F", "extents": [ { "disk": 0, "start": "31GiB", "length": "10GiB" } ], "freeBytes": "100MiB" })");

class ResizeTest : public qftest::DiskTest {
protected:
    std::vector<std::string> Own() { return Only(Log(), {kCanResize, kCheck, kGet, kTest, kFree}); }
};

TEST_F(ResizeTest, FreeSpaceOfASlotsVolume) {
    Load(kFourCandidates);
    DriveFreeSpace d;
    BootDriveData r = Filled(d);
    qf::tools::ULargeInteger freeBytes(7);
    ASSERT_TRUE(d.GetFreeSpaceInPartition(&r, 1, freeBytes.get()));
    EXPECT_EQ(freeBytes.value(), 3ull << 30);
    EXPECT_EQ(Own(), Lines(kGet, {"Checking free space in partition \\\\.\\E:\\", "Free space in partition = 3221225472 bytes"}));

    // A slot without a letter names no volume.
    EXPECT_FALSE(d.GetFreeSpaceInPartition(&r, 3, freeBytes.get()));
    EXPECT_EQ(freeBytes.value(), 3ull << 30);
    EXPECT_EQ(Own(), (std::vector<std::string>{kGet + ": Checking free space in partition \\\\.\\",
                                               kGet + ": GetDiskFreeSpaceEx failed error code 3", ""}));
    // There are four slots only.
    EXPECT_FALSE(d.GetFreeSpaceInPartition(&r, 4, freeBytes.get()));
    EXPECT_EQ(Log(), std::vector<std::string>{});

    struct Case {
        QF_DWORD megabytes, index;
        bool enough;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {5120, 0, true, {"Free space needed = 5368709120 bytes"}},  // equal is enough
        {5121, 0, false, {"Not enough free space in partition 0"}},
        {8192, 0, false, {"Not enough free space in partition 0"}},  // 8 GiB, not 0 after 32 bits
        {1, 3, false, {"GetFreeSpaceInPartition failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.megabytes);
        EXPECT_EQ(d.CheckFreeSpaceInPartition(&r, c.megabytes, c.index), c.enough);
        EXPECT_EQ(Only(Log(), {kCheck}), Lines(kCheck, c.log));
    }
    EXPECT_FALSE(d.ErrorFlag);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(ResizeTest, CanResizeModes) {
    Load(kFourCandidates);
    DriveFreeSpace d;
    const std::vector<std::string> letterless = {kGet + ": Checking free space in partition \\\\.\\",
                                                 kGet + ": GetDiskFreeSpaceEx failed error code 3", "",
                                                 kCheck + ": GetFreeSpaceInPartition failed",
                                                 kCanResize + ": Not enough free space in partition 3"};
    const std::vector<std::string> c = {kGet + ": Checking free space in partition \\\\.\\C:\\",
                                        kGet + ": Free space in partition = 5368709120 bytes",
                                        kCheck + ": Free space needed = 2147483648 bytes"};

    // Mode 1: NTFS only; the bitmask is ORed into what the caller passed.
    QF_DWORD value = 77, bitmask = 8;
    ASSERT_TRUE(d.CanResize(1, 2048, &value, &bitmask));
    EXPECT_EQ(bitmask, 9u);
    EXPECT_EQ(value, 7u) << "the type of the last partition that qualified";
    std::vector<std::string> expected = {kCanResize + ": Only checking NTFS partitions", kCanResize + ": Found NTFS partition"};
    expected.insert(expected.end(), c.begin(), c.end());
    expected.insert(expected.end(), {kCanResize + ": Resizable Partition type = 7",
                                     kCanResize + ": *dwPartitionsCanResizeBitmask = 9",
                                     kCanResize + ": Found NTFS partition"});
    expected.insert(expected.end(), letterless.begin(), letterless.end());
    EXPECT_EQ(Own(), expected);

    // Mode 2: FAT32 of either kind too; too little space is reported twice.
    value = 77, bitmask = 0;
    ASSERT_TRUE(d.CanResize(2, 2048, &value, &bitmask));
    EXPECT_EQ(bitmask, 3u);
    EXPECT_EQ(value, 11u);
    expected = c;
    expected.insert(expected.end(), {kCanResize + ": Resizable Partition type = 7",
                                     kCanResize + ": *dwPartitionsCanResizeBitmask = 1",
                                     kGet + ": Checking free space in partition \\\\.\\E:\\",
                                     kGet + ": Free space in partition = 3221225472 bytes",
                                     kCheck + ": Free space needed = 2147483648 bytes",
                                     kCanResize + ": Resizable Partition type = 11",
                                     kCanResize + ": *dwPartitionsCanResizeBitmask = 3",
                                     kGet + ": Checking free space in partition \\\\.\\F:\\",
                                     kGet + ": Free space in partition = 104857600 bytes",
                                     kCheck + ": Not enough free space in partition 2",
                                     kCanResize + ": Not enough free space in partition 2"});
    expected.insert(expected.end(), letterless.begin(), letterless.end());
    EXPECT_EQ(Own(), expected);

    struct Case {
        QF_DWORD mode, megabytes;
        bool result;
        QF_DWORD bitmask;
    };
    // Nothing qualifies, or an unknown mode: false, the values untouched.
    for (const Case& k : std::vector<Case>{{1, 6000, false, 4}, {2, 6000, false, 4}, {2, 3072, true, 7}, {3, 1, false, 4},
                                           {0, 1, false, 4}}) {
        SCOPED_TRACE(testing::Message() << "mode " << k.mode << ", " << k.megabytes << " MB");
        value = 77, bitmask = 4;
        EXPECT_EQ(d.CanResize(k.mode, k.megabytes, &value, &bitmask), k.result);
        EXPECT_EQ(bitmask, k.bitmask);
        EXPECT_EQ(value, k.result ? 11u : 77u);
        const std::vector<std::string> own = Own();
        if (k.mode != 1 && k.mode != 2) {
            EXPECT_EQ(own, std::vector<std::string>{});
        }
    }
    EXPECT_FALSE(d.ErrorFlag);
    EXPECT_EQ(Held(), std::vector<std::string>{});

    Load(qftest::Machine(R"("os": { "bootDevice": null })"));
    value = 77, bitmask = 4;
    EXPECT_FALSE(d.CanResize(1, 1, &value, &bitmask));
    EXPECT_EQ(Log().back(), kCanResize + ": Cannot get the boot drive data");
    EXPECT_EQ(bitmask, 4u);
}

// One disk (100 GiB unless `disk` says otherwise) with C: at 1 MiB.
std::string TestMachine(const std::string& partitions, const std::string& cFree, const std::string& cLength = "99GiB",
                        const std::string& disk = R"("sizeBytes": "100GiB")", const std::string& more = "") {
    return DiskMachine(disk, partitions,
                       R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": ")" + cLength +
                           R"(" } ], "freeBytes": ")" + cFree + R"(" })",
                       more);
}

TEST_F(ResizeTest, TestDecisionTable) {
    const std::string fullDisk = R"({ "type": 7, "start": "1MiB", "length": "99GiB" })";
    // A cylinder of 512 sectors, added to 1945 MiB as bytes.
    const std::uint64_t needed = 1945ull * 1048576 + 512;
    const auto endingAt = [](std::uint64_t end) {
        return R"({ "type": 7, "start": "1MiB", "length": )" + std::to_string(end - 1048576) + " }";
    };
    const std::string size =
        "\"sizeBytes\": " + std::to_string(100ull << 30) + R"(, "tracksPerCylinder": 1, "sectorsPerTrack": 512)";
    struct Case {
        const char* name;
        std::string machine;
        QF_DWORD megabytes;
        bool result;
        std::string last;  // the call's last log line
    };
    const std::vector<Case> cases = {
        {"all four slots used",
         TestMachine(fullDisk + R"(, { "type": 7, "start": "100GiB", "length": "1MiB" },
                      { "type": 7, "start": "100GiB", "length": "1MiB" }, { "type": 7, "start": "100GiB", "length": "1MiB" })",
                     "50GiB"),
         1, false, kTest + ": No Free Primary Partition table entry found"},
        {"room at the end of the disk", TestMachine(R"({ "type": 7, "start": "1MiB", "length": "10GiB" })", "0", "10GiB"),
         100000, true, "DriveFreeSpace::CheckUnPartitionedSpace: Found enough free space at end of drive"},
        {"exactly 1945 MB and a cylinder at the end is not enough",
         TestMachine(endingAt((100ull << 30) - needed), "0", std::to_string((100ull << 30) - needed - 1048576), size),
         1, false, kTest + ": Partition 3 is not a resizable type"},
        {"one sector more is", TestMachine(endingAt((100ull << 30) - needed - 512), "0",
                                           std::to_string((100ull << 30) - needed - 512 - 1048576), size),
         1, true, "DriveFreeSpace::CheckUnPartitionedSpace: Found enough free space at end of drive"},
        {"NTFS with the free space asked", TestMachine(fullDisk, "1945MiB"), 1945, true,
         kTest + ": Found a resizable partition"},
        {"NTFS with too little", TestMachine(fullDisk, "1944MiB"), 1945, false,
         kTest + ": Partition 3 is not a resizable type"},
        {"FAT32 only", TestMachine(R"({ "type": 12, "start": "1MiB", "length": "99GiB" })", "50GiB"), 1, false,
         kTest + ": Partition 3 is not a resizable type"},
        {"GPT", TestMachine(fullDisk, "50GiB", "99GiB", R"("sizeBytes": "100GiB", "style": "gpt")"), 1, false,
         kTest + ": Partition 3 is not a resizable type"},
        {"boot disk unreadable",
         TestMachine(fullDisk, "50GiB", "99GiB", R"("sizeBytes": "100GiB")",
                     R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_UPDATE_PROPERTIES", "error": 5 } ])"),
         1, false, "DriveFreeSpace::GetBootDriveData: PopulatePartitionTableEntries failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        DriveFreeSpace d;
        EXPECT_EQ(d.Test(c.megabytes), c.result);
        EXPECT_EQ(Log().back(), c.last);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(ResizeTest, TestLogOfAFullDisk) {
    Load(TestMachine(R"({ "type": 7, "start": "1MiB", "length": "99GiB" }, { "type": 39, "start": "99GiB", "length": "1GiB" })",
                     "1GiB"));
    DriveFreeSpace d;
    EXPECT_FALSE(d.Test(2048));
    EXPECT_EQ(Own(), (std::vector<std::string>{
                         kFree + ": found free partition table entry", "",
                         kGet + ": Checking free space in partition \\\\.\\C:\\",
                         kGet + ": Free space in partition = 1073741824 bytes",
                         kCheck + ": Not enough free space in partition 0", kTest + ": no free space in partition",
                         kTest + ": Partition 1 is not a resizable type", kTest + ": Partition 2 is not a resizable type",
                         kTest + ": Partition 3 is not a resizable type"}));
    EXPECT_FALSE(d.ErrorFlag);

    // Four used slots: the free-slot check says so and Test stops there.
    Load(TestMachine(R"({ "type": 7, "start": "1MiB", "length": "20GiB" }, { "type": 39, "start": "30GiB", "length": "1GiB" },
                        { "type": 7, "start": "40GiB", "length": "1GiB" }, { "type": 7, "start": "50GiB", "length": "1GiB" })",
                     "10GiB", "20GiB"));
    EXPECT_FALSE(d.Test(1));
    EXPECT_EQ(Own(), (std::vector<std::string>{kFree + ": Did not find free partition table entry", "",
                                               kTest + ": No Free Primary Partition table entry found"}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
