#include <algorithm>
#include <filesystem>

#include "QuillFrameInstallerTools.h"
#include "common/byte_cursor.h"
#include "installer_tools/export_access.h"
#include "installer_tools/log.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

const std::string kBoot = "DriveFreeSpace::GetPhysicalBootDrive";
const std::string kLetter = "DriveFreeSpace::GetDriveLetterFromBootDevice";

// Disk 3 with two partitions: C: names volume 10, E: volume 1 (the boot
// volume), so the boot device name is a prefix of C:'s.
std::string TwoVolumes(const std::string& more = "", const std::string& bootDevice = R"("\\Device\\HarddiskVolume1")") {
    return Machine(R"("os": { "bootDevice": )" + bootDevice + R"( },
        "disks": [ { "number": 3, "sizeBytes": "100GiB", "partitions": [
            { "type": 7, "start": "1MiB", "length": "50GiB" }, { "type": 7, "start": "51201MiB", "length": "40GiB" } ] } ],
        "volumes": [
            { "letter": "C", "device": "\\Device\\HarddiskVolume10", "extents": [ { "disk": 3, "start": "1MiB", "length": "50GiB" } ] },
            { "letter": "E", "device": "\\Device\\HarddiskVolume1", "extents": [ { "disk": 3, "start": "51201MiB", "length": "40GiB" } ] } ])" +
                   (more.empty() ? "" : ", " + more));
}

class BootDiskTest : public qftest::SimTest {
protected:
    std::vector<std::string> Lines(const std::string& f, const std::vector<std::string>& m) { return qftest::Lines(f, m); }
    // The boot drive's log, without the WMI reader's lines.
    std::vector<std::string> OwnLog() {
        std::vector<std::string> log = Log();
        log.erase(std::remove_if(log.begin(), log.end(),
                                 [](const std::string& l) { return l.rfind("CWMIProperty::", 0) == 0; }),
                  log.end());
        return log;
    }
    std::vector<std::string> Capacities() {
        std::vector<std::string> out;
        for (const auto& c : sim().calls())
            if (c.rfind("QueryDosDeviceW ", 0) == 0) out.push_back(c.substr(16));
        return out;
    }
    bool FindLetter(const std::u16string& bootDevice, std::u16string* drive) {
        DriveFreeSpace d;
        QF_WCHAR buffer[3] = {};
        const bool r = qf::ExportAccess::GetDriveLetterFromBootDevice(
            d, reinterpret_cast<const QF_WCHAR*>(bootDevice.c_str()), buffer);
        *drive = reinterpret_cast<const char16_t*>(buffer);
        return r;
    }
};

TEST_F(BootDiskTest, FindsTheDiskUnderTheBootVolume) {
    Load(TwoVolumes());
    DriveFreeSpace d;
    QF_DWORD disk = 77;
    ASSERT_TRUE(d.GetPhysicalBootDrive(&disk));
    EXPECT_EQ(disk, 3u);
    const std::vector<std::string> expected = {
        kBoot + ": Entered",
        kBoot + ": About to call get wmi",
        kBoot + ": BootDevice from WMI = \\Device\\HarddiskVolume1",
        kLetter + ": device to search for = \\Device\\HarddiskVolume1",
        kLetter + ": Found drive C:",
        kLetter + ": DosDevice = \\Device\\HarddiskVolume10",
        // A prefix of a longer name matches, and the first letter wins.
        kLetter + ": found a match for drive letter = C:",
    };
    EXPECT_EQ(OwnLog(), expected);
    EXPECT_EQ(Held(), std::vector<std::string>{});
    EXPECT_FALSE(d.ErrorFlag);
}

TEST_F(BootDiskTest, LetterSearchWalksPresentLettersInOrder) {
    Load(TwoVolumes());
    std::u16string drive;
    EXPECT_FALSE(FindLetter(u"\\Device\\HarddiskVolume1\\", &drive));
    EXPECT_EQ(Log(), Lines(kLetter, {"device to search for = \\Device\\HarddiskVolume1\\", "Found drive C:",
                                     "DosDevice = \\Device\\HarddiskVolume10", "Found drive E:",
                                     "DosDevice = \\Device\\HarddiskVolume1"}))
        << "no match: a longer name is not a prefix of a shorter target";

    ASSERT_TRUE(FindLetter(u"", &drive));
    EXPECT_EQ(drive, u"C:") << "an empty name matches the first present letter";
    EXPECT_FALSE(FindLetter(u"\\device\\harddiskvolume1", &drive)) << "the comparison respects case";
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(BootDiskTest, TargetCapacityDoublesAndStaysDoubled) {
    const std::string longName(1500, 'x');
    Load(Machine(R"("os": { "bootDevice": "\\Device\\Boot" }, "volumes": [
        { "letter": "C", "device": "\\Device\\)" + longName + R"(" },
        { "letter": "E", "device": "\\Device\\Other" },
        { "letter": "F", "device": "\\Device\\Boot" } ])"));
    std::u16string drive;
    ASSERT_TRUE(FindLetter(u"\\Device\\Boot", &drive));
    EXPECT_EQ(drive, u"F:");
    EXPECT_EQ(Capacities(), (std::vector<std::string>{"C: capacity=1024", "C: capacity=2048", "E: capacity=2048",
                                                       "F: capacity=2048"}));
}

TEST_F(BootDiskTest, OnlyPresentLettersAreVisited) {
    Load(Machine(R"("volumes": [ { "letter": "C", "device": "\\Device\\HarddiskVolume2" } ])"));
    std::u16string drive;
    EXPECT_FALSE(FindLetter(u"\\Device\\HarddiskVolume1", &drive));
    EXPECT_EQ(Log(), Lines(kLetter, {"device to search for = \\Device\\HarddiskVolume1", "Found drive C:",
                                     "DosDevice = \\Device\\HarddiskVolume2"}));
}

TEST_F(BootDiskTest, FailuresEndWithTheirMessageAndLeaveTheNumber) {
    struct Case {
        const char* name;
        std::string machine;
        std::vector<std::string> tail;  // the last lines of the log
    };
    const std::vector<Case> cases = {
        {"WMI unavailable", TwoVolumes(R"("errors": [ { "call": "CoCreateInstance", "error": "0x800401F0" } ])"),
         {kBoot + ": About to call get wmi", kBoot + ": Cannot get Win32_OperatingSystem"}},
        {"boot device without value", TwoVolumes("", "null"),
         {kLetter + ": Found drive E:", kLetter + ": DosDevice = \\Device\\HarddiskVolume1",
          kBoot + ": GetDriveLetterFromBootDevice failed"}},
        {"drive mask unavailable", TwoVolumes(R"("errors": [ { "call": "GetLogicalDrives", "error": 5 } ])"),
         {kLetter + ": GetLogicalDrives failed error = 5", "", kBoot + ": GetDriveLetterFromBootDevice failed"}},
        {"one letter's target unreadable", TwoVolumes(R"("errors": [ { "call": "QueryDosDeviceW", "target": "C:", "error": 5 } ])"),
         {kLetter + ": Found drive C:", kLetter + ": QueryDosDevice failed, error = 5",
          kBoot + ": GetDriveLetterFromBootDevice failed"}},
        {"volume cannot be opened", TwoVolumes(R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\C:", "error": 5 } ])"),
         {kLetter + ": found a match for drive letter = C:", kBoot + ": Createfile failed with error 5"}},
        {"extents unreadable", TwoVolumes(R"("errors": [ { "call": "DeviceIoControl", "ioctl": "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS", "error": 21 } ])"),
         {kLetter + ": found a match for drive letter = C:",
          kBoot + ": IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = 21"}},
        // The buffer holds one extent: a spanned volume fails for lack of room.
        {"volume on two disks", Machine(R"("os": { "bootDevice": "\\Device\\HarddiskVolume1" },
            "disks": [ { "sizeBytes": "10GiB" }, { "sizeBytes": "10GiB" } ],
            "volumes": [ { "letter": "C", "device": "\\Device\\HarddiskVolume1",
                "extents": [ { "disk": 0, "start": "1MiB", "length": "5GiB" }, { "disk": 1, "start": "1MiB", "length": "5GiB" } ] } ])"),
         {kLetter + ": found a match for drive letter = C:",
          kBoot + ": IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = 234"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        DriveFreeSpace d;
        QF_DWORD disk = 77;
        EXPECT_FALSE(d.GetPhysicalBootDrive(&disk));
        EXPECT_EQ(disk, 77u);
        const std::vector<std::string> log = OwnLog();
        ASSERT_GE(log.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - c.tail.size(), log.end()), c.tail);
        EXPECT_EQ(Held(), std::vector<std::string>{});
        EXPECT_FALSE(d.ErrorFlag) << "boot disk discovery leaves the error members alone";
        EXPECT_EQ(d.LastError, 0u);
    }
}

// A system whose extents request succeeds but reports two extents.
class TwoExtentSystem : public qf::sim::SimPlatform {
public:
    using SimPlatform::SimPlatform;
    bool DeviceIoControl(qf::platform::Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned) override {
        const bool ok = SimPlatform::DeviceIoControl(device, code, in, inSize, out, outSize, returned);
        if (ok && code == qf::platform::kIoctlVolumeGetVolumeDiskExtents) qf::ByteWriter(out, outSize).u32(2);
        return ok;
    }
};

TEST_F(BootDiskTest, AnExtentCountOtherThanOneFails) {
    Load(TwoVolumes());
    qf::tools::CloseLog();
    auto system = std::make_unique<TwoExtentSystem>(qf::sim::LoadMachine(TwoVolumes(), "two"), session().tempDir());
    TwoExtentSystem* raw = system.get();
    auto previous = qf::platform::SetCurrent(std::move(system));
    qf::tools::OpenLog();
    DriveFreeSpace d;
    QF_DWORD disk = 77;
    EXPECT_FALSE(d.GetPhysicalBootDrive(&disk));
    EXPECT_EQ(disk, 77u);
    qf::tools::CloseLog();
    std::size_t offset = 0;
    const auto log = qfcheck::ReadNewLines(session().logPath(), &offset);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), kBoot + ": Volume occupies more than one extent");
    EXPECT_EQ(raw->Outstanding(), std::vector<std::string>{});
    qf::platform::SetCurrent(std::move(previous));
    qf::tools::OpenLog();
}

}  // namespace
