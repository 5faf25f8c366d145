#include "exports.h"
#include "support/sim_fixture.h"

namespace {

using qfcheck::Json;
using qfcheck::RunCall;

class QfcheckDiskTest : public qftest::SimTest {};

TEST_F(QfcheckDiskTest, MethodsThatTakeARecordGetOneFilledFirst) {
    Load(std::string(qf::sim::DefaultMachineJson()));
    const Json call = RunCall(session(), "DriveFreeSpace::CheckUnPartitionedSpace", {"1945"});
    EXPECT_EQ(call["result"], true);
    ASSERT_TRUE(call.contains("prepareLog"));
    EXPECT_EQ(call["prepareLog"].front(), "DriveFreeSpace::GetBootDriveData: entered");
    EXPECT_EQ(call["prepareLog"].back(), "DriveFreeSpace::GetBootDriveData: Leaving");
    EXPECT_EQ(call["log"].front(), "DriveFreeSpace::CheckUnPartitionedSpace: BytesPerSector = 512");
    EXPECT_EQ(call["object"], Json({{"ErrorFlag", true}, {"LastError", 0}})) << "the DVD drive's extents request failed";

    const Json& record = call["out"]["record"];
    std::vector<std::string> keys;
    for (const auto& [key, value] : record.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"DiskNumber", "CylinderSize", "Reserved", "PartitionTable", "BytesPerSector"}));
    EXPECT_EQ(record["CylinderSize"], 16065);
    EXPECT_EQ(record["BytesPerSector"], 512);
    ASSERT_EQ(record["PartitionTable"].size(), 4u);
    EXPECT_EQ(record["PartitionTable"][1],
              Json({{"PartitionNumber", 1}, {"PartitionStyle", 0}, {"PartitionType", 7}, {"LogicalDrive", "C"},
                    {"StartingSector", 20973568}, {"SizeInSectors", 251658240}, {"EntryReserved", 0}}));
    EXPECT_EQ(record["PartitionTable"][0]["LogicalDrive"], "");

    // Methods that fill their own record, or take only a disk number, have no preparation.
    const Json test = RunCall(session(), "DriveFreeSpace::Test", {"1945"});
    EXPECT_EQ(test["result"], true);
    EXPECT_FALSE(test.contains("prepareLog"));
    const Json populate = RunCall(session(), "DriveFreeSpace::PopulatePartitionTableEntries", {"0"});
    EXPECT_FALSE(populate.contains("prepareLog"));
    EXPECT_EQ(populate["out"]["record"]["PartitionTable"][1]["LogicalDrive"], "C");
    EXPECT_EQ(populate["out"]["record"]["CylinderSize"], 0);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(QfcheckDiskTest, OutValuesByName) {
    Load(std::string(qf::sim::DefaultMachineJson()));
    struct Case {
        std::string exportName;
        std::vector<std::string> args;
        bool result;
        Json out;  // the members checked
    };
    const std::vector<Case> cases = {
        {"DriveFreeSpace::GetDriveLetter", {"1"}, true, {{"letter", "C"}}},
        {"DriveFreeSpace::GetDriveLetter", {"0"}, true, {{"letter", ""}}},
        {"DriveFreeSpace::GetDriveLetter", {"2"}, false, {{"letter", ""}}},
        {"DriveFreeSpace::GetNumberPartitions", {}, true, {{"count", 2}}},
        {"DriveFreeSpace::CanResize", {"1", "1000", "8"}, true, {{"dwPartitionsCanResizeBitmask", 10}, {"value", 7}}},
        {"DriveFreeSpace::CanResize", {"2", "1000"}, true, {{"dwPartitionsCanResizeBitmask", 2}, {"value", 7}}},
        {"DriveFreeSpace::CanResize", {"3", "1000", "0x4"}, false, {{"dwPartitionsCanResizeBitmask", 4}, {"value", 0}}},
        {"DriveFreeSpace::GetFreeSpaceInPartition", {"1"}, true, {{"freeBytes", 39268ull << 20}}},
        {"DriveFreeSpace::GetQFPartitionSize", {"5"}, false, {{"size", 5}}},
        {"DriveFreeSpace::GetQFPartitionSize", {}, false, {{"size", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exportName + " " + testing::PrintToString(c.args));
        const Json call = RunCall(session(), c.exportName, c.args);
        EXPECT_EQ(call["result"], c.result);
        for (const auto& [key, value] : c.out.items()) EXPECT_EQ(call["out"][key], value) << key;
    }
    for (const auto& wrong : std::vector<std::vector<std::string>>{{"1"}, {"1", "2", "3", "4"}, {"1", "-2"}})
        EXPECT_THROW(RunCall(session(), "DriveFreeSpace::CanResize", wrong), qfcheck::UsageError);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
