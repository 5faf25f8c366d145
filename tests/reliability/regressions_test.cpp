// Faults found by the fault sweep, the fuzz targets and reviews of the
// failure paths, kept from coming back.
#include <algorithm>

#include "QuillFrameInstallerTools.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Machine;
using Lines = std::vector<std::string>;

class Regressions : public qftest::SimTest {};

// A system that answers every device-target query with "buffer too small"
// made the letter search double its buffer without end, until memory ran
// out. Real targets are at most 32,767 characters; the search now stops at
// 65,536 as it does for any other error.
TEST_F(Regressions, ADeviceTargetThatNeverFitsEndsTheSearch) {
    Load(Machine(R"("errors": [ { "call": "QueryDosDeviceW", "error": 122 } ])"));
    DriveFreeSpace d;
    QF_DWORD disk = 7;
    EXPECT_FALSE(d.GetPhysicalBootDrive(&disk));
    EXPECT_EQ(disk, 7u);
    std::vector<std::string> log = Log();
    log.erase(std::remove_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("CWMIProperty", 0) == 0; }),
              log.end());
    const std::string boot = "DriveFreeSpace::GetPhysicalBootDrive: ", letter = "DriveFreeSpace::GetDriveLetterFromBootDevice: ";
    EXPECT_EQ(log, (Lines{boot + "Entered", boot + "About to call get wmi",
                          boot + "BootDevice from WMI = \\Device\\HarddiskVolume1",
                          letter + "device to search for = \\Device\\HarddiskVolume1", letter + "Found drive C:",
                          letter + "QueryDosDevice failed, error = 122", boot + "GetDriveLetterFromBootDevice failed"}));
    std::size_t asked = 0;
    for (const std::string& c : sim().calls()) asked += c.rfind("QueryDosDeviceW", 0) == 0;
    EXPECT_EQ(asked, 7u) << "1,024 characters doubled up to 65,536";
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

}  // namespace
