#include <algorithm>

#include "support/disk_fixture.h"

namespace {

using qftest::DiskMachine;
using qftest::Lines;
using qftest::Only;

const std::string kSearch = "DriveFreeSpace::CheckUnPartitionedSpace";
const std::string kResize = "DriveFreeSpace::DoNotNeedToResize";
constexpr std::uint64_t kMiB = 1ull << 20, kGiB = 1ull << 30;

std::string Part(int type, std::uint64_t start, std::uint64_t length) {
    return R"({ "type": )" + std::to_string(type) + R"(, "start": )" + std::to_string(start) + R"(, "length": )" +
           std::to_string(length) + " }";
}

// One disk of `size` bytes whose cylinder is `cylinder` sectors; C: sits on
// the first partition listed (or at 1 MiB when there is none).
std::string Planning(std::uint64_t size, const std::vector<std::string>& parts, int cylinder = 512,
                     const std::string& more = "") {
    std::string list;
    for (const auto& p : parts) list += (list.empty() ? "" : ", ") + p;
    for (std::size_t i = parts.size(); i < 4; ++i) list += (list.empty() ? "" : ", ") + std::string(R"({ "type": 0 })");
    std::string extent = R"("start": "1MiB", "length": "1MiB")";
    if (!parts.empty()) extent = parts[0].substr(parts[0].find("\"start\""), parts[0].size() - parts[0].find("\"start\"") - 2);
    return DiskMachine(R"("sizeBytes": )" + std::to_string(size) + R"(, "tracksPerCylinder": 1, "sectorsPerTrack": )" +
                           std::to_string(cylinder),
                       list, R"({ "letter": "C", "extents": [ { "disk": 0, )" + extent + " } ] }", more);
}

class UnpartitionedSpaceTest : public qftest::DiskTest {};

TEST_F(UnpartitionedSpaceTest, SearchLogsEveryComparison) {
    // Slot 0 from 1 MiB, slot 1 from 2 GiB, slot 3 from 4 GiB, each 1 GiB
    // long; the disk is 10 GiB.
    Load(Planning(10 * kGiB, {Part(7, kMiB, kGiB), Part(0x27, 2 * kGiB, kGiB), Part(0, 0, 0), Part(7, 4 * kGiB, kGiB)}, 8));
    DriveFreeSpace d;
    BootDriveData r = Filled(d);
    ASSERT_TRUE(d.CheckUnPartitionedSpace(&r, 1024));
    EXPECT_EQ(Log(), Lines(kSearch, {
        "BytesPerSector = 512", "Cylinder size = 8", "we need 1073741832 bytes of free space",
        "partition 0 is a real partition, checking to see if there is enough free space between this and any other partition",
        "Comparing other partitions to see which is next on the drive",
        "checking partition 0 that starts at sector 2048", "partition 0 is not later on the drive than partition 0",
        "checking partition 1 that starts at sector 4194304",
        "partition 1 is later on the drive than partition 0 and is a valid partition",
        "checking partition 3 that starts at sector 8388608",
        "partition 3 is later on the drive than partition 0 and is a valid partition",
        "partition 3 is not next to partition 0 on the drive so not checking free space",
        "free space in bytes between partition 0 and partition 1 = 1072693248", "Free space needed in bytes = 1073741832",
        "Did not find enough free space between these two partitions, continuing to look",
        "partition 1 is a real partition, checking to see if there is enough free space between this and any other partition",
        "Comparing other partitions to see which is next on the drive",
        "checking partition 0 that starts at sector 2048", "partition 0 is not later on the drive than partition 1",
        "checking partition 1 that starts at sector 4194304", "partition 1 is not later on the drive than partition 1",
        "checking partition 3 that starts at sector 8388608",
        "partition 3 is later on the drive than partition 1 and is a valid partition",
        "free space in bytes between partition 1 and partition 3 = 1073741824", "Free space needed in bytes = 1073741832",
        "Did not find enough free space between these two partitions, continuing to look",
        "partition 3 is a real partition, checking to see if there is enough free space between this and any other partition",
        "Comparing other partitions to see which is next on the drive",
        "checking partition 0 that starts at sector 2048", "partition 0 is not later on the drive than partition 3",
        "checking partition 1 that starts at sector 4194304", "partition 1 is not later on the drive than partition 3",
        "checking partition 3 that starts at sector 8388608", "partition 3 is not later on the drive than partition 3",
        "Did not find any later partitions than this one, checking versus the end of the drive",
        "Last sector of partition 3 is 10485760", "Last sector of drive is 20971520",
        "Found enough free space at end of drive"}));
    EXPECT_EQ(r.BytesPerSector, 512u);
    EXPECT_EQ(r.CylinderSize, 8u);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(UnpartitionedSpaceTest, CandidateChoiceAndStrictComparisons) {
    // With a cylinder of 512 sectors a request of m MB needs N = m MiB + 512
    // bytes, which a gap of whole sectors can equal.
    const std::uint64_t n100 = 100 * kMiB + 512;
    const std::uint64_t end0 = kMiB + kGiB;  // the end of a first partition of 1 GiB at 1 MiB
    struct Case {
        const char* name;
        std::uint64_t size;
        std::vector<std::string> parts;
        std::uint32_t megabytes;
        bool found;
        std::vector<std::string> lines;  // in this order; the last ends the log when found
    };
    const std::vector<Case> cases = {
        {"end of the disk: exactly N is not enough", end0 + n100, {Part(7, kMiB, kGiB)}, 100, false,
         {"did not find enough free space at end of drive", "Did not find enough free space"}},
        {"end of the disk: one byte more is enough", end0 + n100 + 1, {Part(7, kMiB, kGiB)}, 100, true,
         {"Last sector of drive is " + std::to_string((end0 + n100 + 1) / 512), "Found enough free space at end of drive"}},
        {"gap of exactly N", 100 * kGiB, {Part(7, kMiB, kGiB), Part(7, end0 + n100, 100 * kGiB - end0 - n100)}, 100, false,
         {"free space in bytes between partition 0 and partition 1 = " + std::to_string(n100),
          "Free space needed in bytes = " + std::to_string(n100),
          "Did not find enough free space between these two partitions, continuing to look"}},
        {"gap of one sector more", 100 * kGiB, {Part(7, kMiB, kGiB), Part(7, end0 + n100 + 512, 10 * kGiB)}, 100, true,
         {"free space in bytes between partition 0 and partition 1 = " + std::to_string(n100 + 512),
          "Free space needed in bytes = " + std::to_string(n100), "Found enough free space"}},
        {"no partitions", 100 * kGiB, {}, 1, false, {"we need 1049088 bytes of free space", "Did not find enough free space"}},
        {"space in front of the first partition", 100 * kGiB, {Part(7, 50 * kGiB, 50 * kGiB)}, 1, false,
         {"did not find enough free space at end of drive", "Did not find enough free space"}},
        // Slot 0 ends last with nothing behind it; the gap behind slot 1 is
        // still found.
        {"slots out of disk order", 100 * kGiB, {Part(7, 60 * kGiB, 40 * kGiB), Part(7, kMiB, kGiB)}, 100, true,
         {"Last sector of drive is 209715200", "did not find enough free space at end of drive",
          "partition 1 is a real partition, checking to see if there is enough free space between this and any other partition",
          "Comparing other partitions to see which is next on the drive",
          "checking partition 0 that starts at sector 125829120",
          "partition 0 is later on the drive than partition 1 and is a valid partition",
          "checking partition 1 that starts at sector 2048", "partition 1 is not later on the drive than partition 1",
          "free space in bytes between partition 1 and partition 0 = " + std::to_string(60 * kGiB - end0),
          "Free space needed in bytes = " + std::to_string(n100), "Found enough free space"}},
        {"two later partitions at one sector: the lower slot", 100 * kGiB,
         {Part(7, kMiB, kGiB), Part(7, 50 * kGiB, kGiB), Part(7, 50 * kGiB, kGiB)}, 100, true,
         {"partition 2 is not next to partition 0 on the drive so not checking free space",
          "free space in bytes between partition 0 and partition 1 = " + std::to_string(50 * kGiB - end0),
          "Free space needed in bytes = " + std::to_string(n100), "Found enough free space"}},
        {"a partition of size 0 is later than itself", 100 * kGiB, {Part(7, kGiB, 0)}, 1, false,
         {"partition 0 is later on the drive than partition 0 and is a valid partition",
          "free space in bytes between partition 0 and partition 0 = 0", "Free space needed in bytes = 1049088",
          "Did not find enough free space between these two partitions, continuing to look",
          "Did not find enough free space"}},
        // 4096 MB is 2^32 bytes: counted in 64 bits, not wrapped to nothing.
        {"4096 MB", end0 + 3 * kGiB, {Part(7, kMiB, kGiB)}, 4096, false,
         {"we need 4294967808 bytes of free space"}},
        {"4096 MB with room", end0 + 5 * kGiB, {Part(7, kMiB, kGiB)}, 4096, true,
         {"Found enough free space at end of drive"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Planning(c.size, c.parts));
        DriveFreeSpace d;
        BootDriveData r = Filled(d);
        EXPECT_EQ(d.CheckUnPartitionedSpace(&r, c.megabytes), c.found);
        const std::vector<std::string> log = Log();
        const std::vector<std::string> lines = Lines(kSearch, c.lines);
        EXPECT_NE(std::search(log.begin(), log.end(), lines.begin(), lines.end()), log.end()) << testing::PrintToString(log);
        EXPECT_EQ(log.back(), c.found ? lines.back() : kSearch + ": Did not find enough free space");
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(UnpartitionedSpaceTest, DiskFailuresSetTheErrorMembers) {
    Load(Planning(10 * kGiB, {Part(7, kMiB, kGiB)}, 512,
                  R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_GEOMETRY_EX", "error": 1117 } ])"));
    DriveFreeSpace d;
    BootDriveData r = Filled(d);
    r.DiskNumber = 9;
    EXPECT_FALSE(d.CheckUnPartitionedSpace(&r, 1));
    EXPECT_EQ(Log(), Lines(kSearch, {"CreateFile failed, last error = 2"}));
    EXPECT_TRUE(d.ErrorFlag);
    EXPECT_EQ(d.LastError, 2u);

    r.DiskNumber = 0;
    EXPECT_FALSE(d.CheckUnPartitionedSpace(&r, 1));
    EXPECT_EQ(Log(), Lines(kSearch, {"IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed, last error = 1117"}));
    EXPECT_EQ(d.LastError, 1117u);
    EXPECT_EQ(r.BytesPerSector, 0u);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(UnpartitionedSpaceTest, GeometryStaysInTheRecordWhenNothingIsFound) {
    Load(Planning(2 * kGiB, {Part(7, kMiB, kGiB)}, 63));
    DriveFreeSpace d;
    BootDriveData r = Filled(d);
    EXPECT_FALSE(d.CheckUnPartitionedSpace(&r, 2000));
    EXPECT_EQ(r.BytesPerSector, 512u);
    EXPECT_EQ(r.CylinderSize, 63u);
    EXPECT_FALSE(d.ErrorFlag);
}

TEST_F(UnpartitionedSpaceTest, DoNotNeedToResizeAddsTheMargin) {
    // 1 GiB behind the only partition, cylinder of 512 sectors.
    Load(Planning(kMiB + 2 * kGiB, {Part(7, kMiB, kGiB)}));
    DriveFreeSpace d;
    ASSERT_TRUE(d.DoNotNeedToResize(0));
    const std::vector<std::string> log = Only(Log(), {kResize, kSearch});
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
              (std::vector<std::string>{kResize + ": nRequiredPartitionSizeInMB = 0",
                                        kResize + ": UNPARTITIONED_SPACE_SAFETY_FACTOR = 25",
                                        kResize + ": Therefore looking for 25MB of unpartitioned space",
                                        kSearch + ": BytesPerSector = 512", kSearch + ": Cylinder size = 512",
                                        kSearch + ": we need 26214912 bytes of free space"}));
    EXPECT_EQ(log.back(), kResize + ": Already unpartitioned space");

    struct Case {
        QF_DWORD megabytes;
        bool found;
    };
    // 999 + 25 MB fits in 1 GiB, 1000 + 25 does not; sums past 32 bits do not wrap.
    for (const Case& c : std::vector<Case>{{998, true}, {999, false}, {1000, false}, {0xFFFFFFF0, false}}) {
        SCOPED_TRACE(c.megabytes);
        EXPECT_EQ(d.DoNotNeedToResize(c.megabytes), c.found);
        const std::vector<std::string> lines = Log();
        EXPECT_EQ(lines.back(), c.found ? kResize + ": Already unpartitioned space" : kSearch + ": Did not find enough free space");
    }
    EXPECT_EQ(Held(), std::vector<std::string>{});

    Load(Planning(10 * kGiB, {Part(7, kMiB, kGiB)}, 512, R"("os": { "bootDevice": null })"));
    EXPECT_FALSE(d.DoNotNeedToResize(0));
    EXPECT_EQ(Log().back(), kResize + ": Cannot get the boot drive data");
}

}  // namespace
