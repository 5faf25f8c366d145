#include "installer_tools/export_access.h"
#include "installer_tools/large_integer.h"
#include "support/disk_fixture.h"

namespace {

using qftest::DiskMachine;
using qftest::Lines;
using qftest::Only;

const std::string kInstalled = "DriveFreeSpace::IsQuillFrameInstalled";
const std::string kExists = "DriveFreeSpace::QuillFramePartitionExists";
const std::string kSize = "DriveFreeSpace::GetQFPartitionSize";
const std::string kVolumes = R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "20GiB" } ] })";

// C: in slot 0, then `rest` as the other entries of the layout.
std::string WithEntries(const std::string& rest) {
    return DiskMachine(R"("sizeBytes": "100GiB")", R"({ "type": 7, "start": "1MiB", "length": "20GiB" }, )" + rest, kVolumes);
}

class QfPartitionTest : public qftest::DiskTest {};

TEST_F(QfPartitionTest, TheLowestSlotOfType0x49IsTheEnvironmentsPartition) {
    // Two of them, the lower one larger than 4 GiB.
    Load(WithEntries(R"({ "type": 0 }, { "type": "0x49", "start": "30GiB", "length": "6GiB" },
                        { "type": "0x49", "start": "40GiB", "length": "1GiB" })"));
    DriveFreeSpace d;
    ASSERT_TRUE(d.IsQuillFrameInstalled());
    const std::vector<std::string> log = Log();
    EXPECT_EQ(log.front(), kInstalled + ": Entered");
    EXPECT_EQ(Only(log, {kInstalled, kExists}),
              (std::vector<std::string>{kInstalled + ": Entered", kInstalled + ": Got boot drive data",
                                        kExists + ": Found QuillFrame partition",
                                        kInstalled + ": QuillFramePartitionExists returns true"}));

    BootDriveData r = Filled(d);
    qf::tools::LargeInteger size(1234);
    ASSERT_TRUE(d.GetQFPartitionSize(&r, size.get()));
    EXPECT_EQ(size.value(), 6ll << 30);
    EXPECT_EQ(Log(), Lines(kSize, {"pBootDrive->PartitionTable[i].PartitionType = 7",
                                   "pBootDrive->PartitionTable[i].PartitionType = 0",
                                   "pBootDrive->PartitionTable[i].PartitionType = 73", "Found QuillFrame partition"}));
    EXPECT_TRUE(qf::ExportAccess::QuillFramePartitionExists(d, &r));
    EXPECT_EQ(Log(), Lines(kExists, {"Found QuillFrame partition"}));
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(QfPartitionTest, OnlyThePrimarySlotsAreExamined) {
    // An extended partition whose logical drive has type 0x49.
    Load(WithEntries(R"({ "type": 15, "start": "30GiB", "length": "20GiB" }, { "type": 0 }, { "type": 0 },
                        { "type": "0x49", "start": "30721MiB", "length": "10GiB" }, { "type": 0 }, { "type": 0 }, { "type": 0 })"));
    DriveFreeSpace d;
    EXPECT_FALSE(d.IsQuillFrameInstalled());
    EXPECT_EQ(Only(Log(), {kInstalled, kExists}),
              (std::vector<std::string>{kInstalled + ": Entered", kInstalled + ": Got boot drive data",
                                        kExists + ": Did not find QuillFrame partition",
                                        kInstalled + ": QuillFramePartitionExists returns false"}));
    BootDriveData r = Filled(d);
    qf::tools::LargeInteger size(1234);
    EXPECT_FALSE(d.GetQFPartitionSize(&r, size.get()));
    EXPECT_EQ(size.value(), 1234) << "left as the caller set it";
    EXPECT_EQ(Log(), Lines(kSize, {"pBootDrive->PartitionTable[i].PartitionType = 7",
                                   "pBootDrive->PartitionTable[i].PartitionType = 15",
                                   "pBootDrive->PartitionTable[i].PartitionType = 0",
                                   "pBootDrive->PartitionTable[i].PartitionType = 0", "Did not find QuillFrame partition"}));

    Load(qftest::Machine(R"("os": { "bootDevice": null })"));
    EXPECT_FALSE(d.IsQuillFrameInstalled());
    const std::vector<std::string> log = Log();
    EXPECT_EQ(log.front(), kInstalled + ": Entered");
    EXPECT_EQ(log.back(), kInstalled + ": Cannot get the boot drive data");
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
