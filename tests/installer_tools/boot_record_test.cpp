#include <algorithm>

#include "support/disk_fixture.h"

namespace {

using qftest::Lines;
using qftest::Only;

const std::string kVerify = "DriveFreeSpace::VerifyMBRIsWindows";
const std::string kRescan = "DriveFreeSpace::ForcePartitionTableRescan";

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// The boot volume C: on disk `number`, whose first sector is `sectorHex`
// (the default MBR when empty); `more` top-level members.
std::string BootDisk(int number, const std::string& sectorHex = "", const std::string& more = "") {
    const std::string n = std::to_string(number);
    return qftest::Machine(R"("disks": [ { "number": )" + n + R"(, "sizeBytes": "10GiB",)" +
                           (sectorHex.empty() ? "" : R"( "firstSector": ")" + sectorHex + "\",") + R"( "partitions": [
            { "type": 7, "start": "1MiB", "length": "5GiB" }, { "type": 0 }, { "type": 0 }, { "type": 0 } ] } ],
        "volumes": [ { "letter": "C", "extents": [ { "disk": )" + n + R"(, "start": "1MiB", "length": "5GiB" } ] } ])" +
                           (more.empty() ? "" : ", " + more));
}

std::vector<std::string> Repeated(std::vector<std::string> head, const std::string& line, std::size_t count) {
    head.insert(head.end(), count, line);
    return head;
}

class BootRecordTest : public qftest::DiskTest {};

TEST_F(BootRecordTest, DumpsEachByteOfTheFirstSectorOnALine) {
    std::vector<std::uint8_t> sector(512);
    for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>('A' + i % 26);
    Load(BootDisk(0, Hex(sector)));
    DriveFreeSpace d;
    ASSERT_TRUE(d.VerifyMBRIsWindows());
    std::vector<std::string> expected = {"Entered", "reading the MBR returned 512 bytes"};
    for (std::uint8_t b : sector) expected.push_back(std::string(1, static_cast<char>(b)));
    const std::vector<std::string> log = Log();
    EXPECT_EQ(Only(log, {kVerify}), Lines(kVerify, expected));
    EXPECT_EQ(log.end() - std::find(log.begin(), log.end(), kVerify + ": Entered"), 514) << "nothing after the dump";
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(BootRecordTest, ReadsOfEveryLengthAndFailures) {
    const std::string xs(1024, '7');  // 512 bytes of 'w'
    struct Case {
        const char* name;
        std::string machine;
        bool result;
        std::vector<std::string> own;  // the messages after "Entered"
        bool errorFlag;
        QF_DWORD lastError;
    };
    const std::vector<Case> cases = {
        // A zero byte ends its message; bytes from 0x80 up are not 8-bit text.
        {"odd bytes", BootDisk(0, "00 41 80 ff 0d"), true, {"reading the MBR returned 5 bytes", "", "A", "?", "?", "\r"}, false, 0},
        {"zero-filled", BootDisk(0, std::string(1024, '0')), true,
         Repeated({"reading the MBR returned 512 bytes"}, "", 512), false, 0},
        {"short read", BootDisk(0, "55 aa 01"), true, {"reading the MBR returned 3 bytes", "U", "?", "\x01"}, false, 0},
        // Never past the sector, whatever count the system reports.
        {"a count past the sector", BootDisk(123, xs, R"("errors": [ { "call": "ReadFile", "returns": 600 } ])"), true,
         Repeated({"reading the MBR returned 600 bytes"}, "w", 512), false, 0},
        {"read fails", BootDisk(0, "", R"("errors": [ { "call": "ReadFile", "error": 23 } ])"), false, {"Cannot read the MBR"}, false, 0},
        // The fill opens the disk first.
        {"disk cannot be opened",
         BootDisk(0, "", R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\PHYSICALDRIVE0", "nth": 2, "error": 32 } ])"),
         false, {"CreateFile failed"}, true, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        DriveFreeSpace d;
        EXPECT_EQ(d.VerifyMBRIsWindows(), c.result);
        std::vector<std::string> expected = {kVerify + ": Entered"};
        for (const std::string& m : c.own) expected.push_back(kVerify + ": " + m);
        EXPECT_EQ(Only(Log(), {kVerify}), expected);
        EXPECT_EQ(d.ErrorFlag, c.errorFlag);
        EXPECT_EQ(d.LastError, c.lastError);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }

    Load(qftest::Machine(R"("os": { "bootDevice": null })"));
    DriveFreeSpace d;
    EXPECT_FALSE(d.VerifyMBRIsWindows());
    EXPECT_EQ(Only(Log(), {kVerify}), std::vector<std::string>{}) << "the fill logs the cause";
    EXPECT_TRUE(d.CheckForNonStandardPartitions());
    EXPECT_EQ(Log(), std::vector<std::string>{});
}

TEST_F(BootRecordTest, RescanAsksTheSystemToReadTheTableAgain) {
    struct Case {
        const char* name;
        std::string machine;
        bool result;
        std::vector<std::string> own;
    };
    const std::vector<Case> cases = {
        {"accepted", BootDisk(123), true, {"Opening \\\\.\\PHYSICALDRIVE123"}},
        {"no boot disk", BootDisk(0, "", R"("os": { "bootDevice": null })"), false, {"GetPhysicalBootDrive failed"}},
        {"disk cannot be opened",
         BootDisk(0, "", R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\PHYSICALDRIVE0", "error": 5 } ])"), false,
         {"Opening \\\\.\\PHYSICALDRIVE0", "Createfile failed"}},
        {"refused",
         BootDisk(0, "", R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_DISK_UPDATE_PROPERTIES", "error": 19 } ])"),
         false, {"Opening \\\\.\\PHYSICALDRIVE0", "IOCTL_DISK_UPDATE_PROPERTIES failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        DriveFreeSpace d;
        EXPECT_EQ(d.ForcePartitionTableRescan(), c.result);
        const std::vector<std::string> log = Log();
        EXPECT_EQ(Only(log, {kRescan}), Lines(kRescan, c.own));
        EXPECT_EQ(log.back(), kRescan + ": " + c.own.back());
        EXPECT_EQ(Only(log, {"DriveFreeSpace::PopulatePartitionTableEntries"}), std::vector<std::string>{})
            << "the table itself is not read";
        EXPECT_FALSE(d.ErrorFlag);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

}  // namespace
