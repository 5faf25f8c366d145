#include <algorithm>

#include "installer_tools/export_access.h"
#include "support/disk_fixture.h"

namespace {

using qftest::DiskMachine;
using qftest::Lines;
using qftest::Only;

const std::string kFill = "DriveFreeSpace::GetBootDriveData";
const std::string kPopulate = "DriveFreeSpace::PopulatePartitionTableEntries";

// Disk 0: C: on slot 0, slot 1 empty, E: on slot 2 (offsets that are not
// multiples of 512), an extended partition in slot 3 with F: inside it, and
// H: whose extent starts where slot 3 starts but is shorter. D: is a CD
// drive, G: lies on disk 1.
const std::string kPlanningDisk = R"("os": { "bootDevice": "\\Device\\HarddiskVolume1" },
    "disks": [
      { "sizeBytes": "100GiB", "partitions": [
          { "type": 7, "start": "1MiB", "length": "20GiB" }, { "type": 0 },
          { "type": 7, "start": 21475885156, "length": 10737418440 },
          { "type": "0x0F", "start": "40GiB", "length": "50GiB" },
          { "type": 7, "start": "40961MiB", "length": "10GiB" }, { "type": 0 }, { "type": 0 }, { "type": 0 } ] },
      { "sizeBytes": "20GiB", "partitions": [ { "type": 7, "start": "1MiB", "length": "19GiB" } ] } ],
    "volumes": [
      { "letter": "C", "device": "\\Device\\HarddiskVolume1", "extents": [ { "disk": 0, "start": "1MiB", "length": "20GiB" } ] },
      { "letter": "D" },
      { "letter": "E", "extents": [ { "disk": 0, "start": 21475885356, "length": 10737418640 } ] },
      { "letter": "F", "extents": [ { "disk": 0, "start": "40961MiB", "length": "10GiB" } ] },
      { "letter": "G", "extents": [ { "disk": 1, "start": "1MiB", "length": "19GiB" } ] },
      { "letter": "H", "extents": [ { "disk": 0, "start": "40GiB", "length": "1MiB" } ] } ])";

class BootDriveDataTest : public qftest::DiskTest {};

TEST_F(BootDriveDataTest, MatchesEachLetterToTheSlotItsExtentCoincidesWith) {
    Load(qftest::Machine(kPlanningDisk));
    DriveFreeSpace d;
    BootDriveData r = qftest::ZeroRecord();
    ASSERT_TRUE(d.GetBootDriveData(&r));

    const std::vector<std::string> onDisk = {"Partition 0 is on drive 0", "Partition 1 is on drive 0",
                                             "Partition 2 is on drive 0", "Partition 3 is on drive 0"};
    std::vector<std::string> expected = {"Opening \\\\.\\PHYSICALDRIVE0", "About to enter the logical drives loop",
                                         "Checking drive letter C", "szLogicalDrive = \\\\.\\C:",
                                         "Partition 0 is on drive 0", "Starting offset is the same",
                                         "length is the same, this is the partition",
                                         "pBootDrive->PartitionTable[i].LogicalDrive = C", "Partition 1 is on drive 0",
                                         "Partition 2 is on drive 0", "Partition 3 is on drive 0",
                                         "Checking drive letter D", "szLogicalDrive = \\\\.\\D:",
                                         "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = 1",
                                         "This means that this drive letter is not a hard drive so ignoring",
                                         "Checking drive letter E", "szLogicalDrive = \\\\.\\E:",
                                         "Partition 0 is on drive 0", "Partition 1 is on drive 0",
                                         "Partition 2 is on drive 0", "Starting offset is the same",
                                         "length is the same, this is the partition",
                                         "pBootDrive->PartitionTable[i].LogicalDrive = E", "Partition 3 is on drive 0",
                                         "Checking drive letter F", "szLogicalDrive = \\\\.\\F:"};
    expected.insert(expected.end(), onDisk.begin(), onDisk.end());
    // G: lies on another disk: opened and read, and nothing more.
    for (const char* line : {"Checking drive letter G", "szLogicalDrive = \\\\.\\G:", "Checking drive letter H",
                             "szLogicalDrive = \\\\.\\H:", "Partition 0 is on drive 0", "Partition 1 is on drive 0",
                             "Partition 2 is on drive 0", "Partition 3 is on drive 0", "Starting offset is the same"})
        expected.push_back(line);
    const std::vector<std::string> log = Log();
    std::vector<std::string> populate = Only(log, {kPopulate});
    ASSERT_EQ(populate.size(), expected.size() + 4 * 8);
    EXPECT_EQ(std::vector<std::string>(populate.begin(), populate.begin() + expected.size()), Lines(kPopulate, expected));
    // The dump of a used slot without a letter ends after the equals sign.
    EXPECT_EQ(std::vector<std::string>(populate.end() - 8, populate.end()),
              Lines(kPopulate, {"--------------------------------------", "Partition 3, partition number = 3",
                                "Partition 3, Partition Style = 0", "Partition 3, Logical drive = ",
                                "Partition 3, partition type = 0xf", "Partition 3, Starting sector = 83886080",
                                "Partition 3, Size in sectors = 104857600", "--------------------------------------"}));
    EXPECT_EQ(log.back(), kFill + ": Leaving");

    struct Slot {
        QF_DWORD type;
        char16_t letter;
        std::int64_t start, size;
    };
    const Slot slots[4] = {{7, u'C', 2048, 41943040}, {0, 0, 0, 0}, {7, u'E', 41945088, 20971520},
                           {0x0F, 0, 83886080, 104857600}};
    for (QF_DWORD i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const PartitionTableEntry& e = r.PartitionTable[i];
        EXPECT_EQ(e.PartitionNumber, i);
        EXPECT_EQ(e.PartitionStyle, 0u);
        EXPECT_EQ(e.PartitionType, slots[i].type);
        EXPECT_EQ(e.LogicalDrive, static_cast<QF_WCHAR>(slots[i].letter));
        EXPECT_EQ(e.StartingSector, slots[i].start);
        EXPECT_EQ(e.SizeInSectors, slots[i].size);
    }
    EXPECT_EQ(r.DiskNumber, 0u);
    EXPECT_EQ(r.CylinderSize, 0u);
    EXPECT_EQ(r.BytesPerSector, 0u);
    EXPECT_TRUE(d.ErrorFlag) << "the CD drive's extents request failed";
    EXPECT_EQ(d.LastError, 0u);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(BootDriveDataTest, LetterAndCountQueries) {
    Load(qftest::Machine(kPlanningDisk));
    DriveFreeSpace d;
    struct Case {
        QF_DWORD index;
        bool result;
        char16_t letter;  // what is stored; '?' when nothing is
    };
    const std::vector<Case> cases = {
        {0, true, u'C'}, {1, false, u'?'}, {2, true, u'E'},
        {3, true, 0},  // a used slot without a letter
        {4, false, u'?'}, {0xFFFFFFFF, false, u'?'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        QF_WCHAR letter = u'?';
        EXPECT_EQ(d.GetDriveLetter(&letter, c.index), c.result);
        EXPECT_EQ(letter, static_cast<QF_WCHAR>(c.letter));
        EXPECT_EQ(Only(Log(), {"DriveFreeSpace::GetDriveLetter"}), std::vector<std::string>{});
    }
    QF_DWORD count = 99;
    ASSERT_TRUE(d.GetNumberPartitions(&count));
    EXPECT_EQ(count, 1u) << "counting stops at the first empty slot";
    EXPECT_TRUE(d.ErrorFlag) << "set by the first fill, never cleared";
    EXPECT_EQ(Held(), std::vector<std::string>{});

    Load(DiskMachine(R"("sizeBytes": "100GiB")",
                     R"({ "type": 7, "start": "1MiB", "length": "1GiB" }, { "type": 7, "start": "2GiB", "length": "1GiB" },
                        { "type": 12, "start": "4GiB", "length": "1GiB" }, { "type": 39, "start": "6GiB", "length": "1GiB" })",
                     R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "1GiB" } ] })"));
    ASSERT_TRUE(d.GetNumberPartitions(&count));
    EXPECT_EQ(count, 4u);
}

TEST_F(BootDriveDataTest, SlotsOfGptRawAndShortLayoutsCarryNoMbrValues) {
    struct Case {
        const char* name;
        std::string disk, partitions;
        std::vector<QF_DWORD> styles;
    };
    const std::string four = R"({ "start": "1MiB", "length": "1GiB" }, { "start": "2GiB", "length": "1GiB" },
                                { "start": "3GiB", "length": "1GiB" }, { "type": 7, "start": "4GiB", "length": "1GiB" },
                                { "start": "5GiB", "length": "1GiB" })";
    const std::vector<Case> cases = {
        {"GPT, five partitions", R"("sizeBytes": "1TiB", "style": "gpt")", four, {1, 1, 1, 1}},
        // Fewer than four entries: the rest of the slots are empty.
        {"GPT, one partition", R"("sizeBytes": "1TiB", "style": "gpt")", R"({ "start": "1MiB", "length": "1GiB" })",
         {1, 0, 0, 0}},
        {"raw", R"("sizeBytes": "1TiB", "style": "raw")", "", {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(DiskMachine(c.disk, c.partitions,
                         R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "1GiB" } ] })"));
        DriveFreeSpace d;
        BootDriveData r = qftest::ZeroRecord();
        ASSERT_TRUE(d.GetBootDriveData(&r));
        for (QF_DWORD i = 0; i < 4; ++i) {
            const PartitionTableEntry& e = r.PartitionTable[i];
            EXPECT_EQ(e.PartitionNumber, i);
            EXPECT_EQ(e.PartitionStyle, c.styles[i]) << i;
            EXPECT_EQ(e.PartitionType, 0u) << i;
            EXPECT_EQ(e.StartingSector, 0) << i;
            EXPECT_EQ(e.SizeInSectors, 0) << i;
            EXPECT_EQ(e.LogicalDrive, 0) << i;
            QF_WCHAR letter = u'?';
            EXPECT_FALSE(d.GetDriveLetter(&letter, i));
        }
        QF_DWORD count = 99;
        ASSERT_TRUE(d.GetNumberPartitions(&count));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(BootDriveDataTest, LettersThatCannotBeOpenedOrReadAreSkipped) {
    Load(qftest::Machine(R"("os": { "bootDevice": "\\Device\\HarddiskVolume1" },
        "disks": [ { "number": 100, "sizeBytes": "100GiB", "partitions": [
            { "type": 7, "start": "1MiB", "length": "20GiB" }, { "type": 7, "start": "30GiB", "length": "20GiB" } ] },
                   { "number": 7, "sizeBytes": "100GiB" } ],
        "volumes": [
          { "letter": "C", "device": "\\Device\\HarddiskVolume1", "extents": [ { "disk": 100, "start": "1MiB", "length": "20GiB" } ] },
          { "letter": "E", "extents": [ { "disk": 100, "start": "30GiB", "length": "20GiB" } ] },
          { "letter": "S", "extents": [ { "disk": 100, "start": "30GiB", "length": "20GiB" },
                                        { "disk": 7, "start": "1MiB", "length": "20GiB" } ] } ],
        "errors": [ { "call": "CreateFileW", "target": "\\\\.\\E:", "error": 5 } ])"));
    DriveFreeSpace d;
    BootDriveData r = qftest::ZeroRecord();
    ASSERT_TRUE(d.GetBootDriveData(&r));
    EXPECT_EQ(r.DiskNumber, 100u);
    EXPECT_EQ(r.PartitionTable[0].LogicalDrive, u'C');
    EXPECT_EQ(r.PartitionTable[1].LogicalDrive, 0);
    const std::vector<std::string> populate = Only(Log(), {kPopulate});
    EXPECT_EQ(populate.front(), kPopulate + ": Opening \\\\.\\PHYSICALDRIVE100");
    const auto at = std::find(populate.begin(), populate.end(), kPopulate + ": Checking drive letter E");
    ASSERT_NE(at, populate.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 7),
              Lines(kPopulate, {"Checking drive letter E", "szLogicalDrive = \\\\.\\E:", "CreateFile failed error = 5",
                                // A volume of two extents does not fit the room for one.
                                "Checking drive letter S", "szLogicalDrive = \\\\.\\S:",
                                "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = 234",
                                "This means that this drive letter is not a hard drive so ignoring"}));
    EXPECT_TRUE(d.ErrorFlag);
    EXPECT_EQ(d.LastError, 0u);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

std::string Entries(int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? "," : "") + std::string(R"({ "type": 7, "start": ")") + std::to_string(i + 1) +
                R"(GiB", "length": "512MiB" })";
    return list;
}

TEST_F(BootDriveDataTest, FillFailuresEndWithTheirMessages) {
    const std::string volumes = R"({ "letter": "C", "extents": [ { "disk": 0, "start": "1GiB", "length": "512MiB" } ] })";
    const auto machine = [&](const std::string& more, const std::string& partitions = Entries(2)) {
        return DiskMachine(R"("sizeBytes": "100GiB")", partitions, volumes, more);
    };
    struct Case {
        const char* name;
        std::string machine;
        std::vector<std::string> tail;
        bool errorFlag;
        QF_DWORD lastError;
    };
    const std::string failed = kFill + ": PopulatePartitionTableEntries failed";
    const std::vector<Case> cases = {
        {"no boot device", machine(R"("os": { "bootDevice": null })"),
         {"DriveFreeSpace::GetPhysicalBootDrive: GetDriveLetterFromBootDevice failed", kFill + ": GetPhysicalBootDrive failed"},
         false, 0},
        {"disk cannot be opened", machine(R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\PHYSICALDRIVE0", "error": 5 } ])"),
         {kPopulate + ": Opening \\\\.\\PHYSICALDRIVE0", kPopulate + ": Createfile failed", failed}, false, 0},
        {"re-read refused", machine(R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_UPDATE_PROPERTIES", "error": 19 } ])"),
         {kPopulate + ": Opening \\\\.\\PHYSICALDRIVE0", kPopulate + ": IOCTL_DISK_UPDATE_PROPERTIES", failed}, false, 0},
        {"layout unreadable", machine(R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_LAYOUT_EX", "error": 1117 } ])"),
         {kPopulate + ": IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error 1117", failed}, true, 1117},
        {"more than 24 entries", machine("", Entries(25)),
         {kPopulate + ": IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error 122", failed}, true, 122},
        // The first drive mask is the boot disk search's.
        {"drive mask unavailable", machine(R"("errors": [ { "call": "GetLogicalDrives", "nth": 2, "error": 8 } ])"),
         {kPopulate + ": GetLogicalDrives failed error = 8", failed}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        DriveFreeSpace d;
        BootDriveData r = qftest::ZeroRecord();
        r.DiskNumber = 55;
        EXPECT_FALSE(d.GetBootDriveData(&r));
        const std::vector<std::string> log = Log();
        ASSERT_GE(log.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - c.tail.size(), log.end()), c.tail);
        EXPECT_EQ(d.ErrorFlag, c.errorFlag);
        EXPECT_EQ(d.LastError, c.lastError);
        EXPECT_EQ(Held(), std::vector<std::string>{});
        if (std::string(c.name) == "drive mask unavailable") {
            EXPECT_EQ(r.PartitionTable[0].PartitionType, 7u) << "the slots keep what the layout gave them";
            EXPECT_EQ(r.PartitionTable[0].StartingSector, 2097152);
        }
    }

    // The queries built on the fill add their own line and store nothing.
    Load(machine(R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_GET_DRIVE_LAYOUT_EX", "error": 21 } ])"));
    DriveFreeSpace d;
    QF_DWORD count = 99;
    EXPECT_FALSE(d.GetNumberPartitions(&count));
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(Log().back(), "DriveFreeSpace::GetNumberPartitions: Cannot get the boot drive data");
    QF_WCHAR letter = u'?';
    EXPECT_FALSE(d.GetDriveLetter(&letter, 0));
    EXPECT_EQ(letter, u'?');
    EXPECT_EQ(Log().back(), "DriveFreeSpace::GetDriveLetter: Cannot get the boot drive data");
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(BootDriveDataTest, PopulateReadsTheDiskItIsGiven) {
    Load(qftest::Machine(kPlanningDisk));
    DriveFreeSpace d;
    BootDriveData r = qftest::ZeroRecord();
    r.DiskNumber = 1;
    ASSERT_TRUE(qf::ExportAccess::PopulatePartitionTableEntries(d, &r));
    EXPECT_EQ(r.PartitionTable[0].PartitionType, 7u);
    EXPECT_EQ(r.PartitionTable[0].LogicalDrive, u'G');
    EXPECT_EQ(r.PartitionTable[1].PartitionType, 0u);
    r.DiskNumber = 2;
    EXPECT_FALSE(qf::ExportAccess::PopulatePartitionTableEntries(d, &r));
    EXPECT_EQ(Log().back(), kPopulate + ": Createfile failed");
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
