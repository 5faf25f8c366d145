// The shared library as the installer loads it: exports answer, the log
// opened at load lies in the temporary directory. On Windows this runs on
// the real system (under Wine, Wine's own machine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <fstream>
#include <iterator>
#include <cstring>
#include <string>
#include <type_traits>

#include "QuillFrameInstallerTools.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>

// What the installer does before it asks anything that reads WMI.
static const bool comReady = [] {
    return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) &&
           SUCCEEDED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr));
}();

// The 64-bit out-values are the system's own types.
static_assert(std::is_same<QF_LARGE_INTEGER, LARGE_INTEGER>::value, "LARGE_INTEGER");
static_assert(std::is_same<QF_ULARGE_INTEGER, ULARGE_INTEGER>::value, "ULARGE_INTEGER");

static std::string TempDir() {
    wchar_t dir[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, dir);
    std::string out;
    for (DWORD i = 0; i < n; ++i) out.push_back(static_cast<char>(dir[i]));
    return out;
}
#else
static std::string TempDir() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/";
}
#endif

static std::string LogText() {
    std::ifstream in(TempDir() + "Installer-tools.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SharedLibrary, SampleExportsAnswer) {
    EXPECT_EQ(fnQuillFrameInstallerTools(), 42);
    EXPECT_EQ(nQuillFrameInstallerTools, 0);
}

// The boot volume is C: on the built-in machine and on Wine's. What the
// system answers about its extents is the system's: Wine's volume driver
// reports no extents, which the library must turn into its documented
// failure, not into a number.
TEST(SharedLibrary, FindsTheBootVolumeAndLogsEveryStep) {
    DriveFreeSpace drive;
    QF_DWORD disk = 0xFFFFFFFF;
    const bool found = drive.GetPhysicalBootDrive(&disk);
    const std::string log = LogText();
    std::cout << log;
    EXPECT_NE(log.find("DriveFreeSpace::GetPhysicalBootDrive: Entered\r\n"
                       "DriveFreeSpace::GetPhysicalBootDrive: About to call get wmi\r\n"
                       "CWMIProperty::GetWMIProperty: Entered\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("DriveFreeSpace::GetPhysicalBootDrive: BootDevice from WMI = \\Device\\HarddiskVolume"),
              std::string::npos);
    EXPECT_NE(log.find("DriveFreeSpace::GetDriveLetterFromBootDevice: found a match for drive letter = C:\r\n"),
              std::string::npos);
    const std::string last = log.substr(log.rfind("\r\n", log.size() - 3) + 2);
    if (found) {
        EXPECT_NE(disk, 0xFFFFFFFFu);
        EXPECT_EQ(last, "DriveFreeSpace::GetDriveLetterFromBootDevice: found a match for drive letter = C:\r\n");
    } else {
        EXPECT_EQ(disk, 0xFFFFFFFFu) << "the number is written only on success";
        EXPECT_TRUE(last == "DriveFreeSpace::GetPhysicalBootDrive: Volume occupies more than one extent\r\n" ||
                    last.rfind("DriveFreeSpace::GetPhysicalBootDrive: IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = ", 0) == 0)
            << last;
    }
#ifndef _WIN32
    EXPECT_TRUE(found) << "the built-in machine boots from disk 0";
    EXPECT_EQ(disk, 0u);
#endif
}

// The planning methods answer through the library's exports. On Wine's
// machine the boot disk may not be found, and then every method that reads
// the boot drive data says no.
TEST(SharedLibrary, PlanningMethodsAnswer) {
    DriveFreeSpace drive;
    QF_DWORD disk = 0;
    const bool bootDisk = drive.GetPhysicalBootDrive(&disk);
    EXPECT_TRUE(drive.CheckForNonStandardPartitions());
    BootDriveData record;
    std::memset(&record, 0, sizeof record);
    const bool filled = drive.GetBootDriveData(&record);
    if (!bootDisk) {
        EXPECT_FALSE(filled);
    } else if (filled) {
        EXPECT_EQ(record.DiskNumber, disk);
    }
    QF_LARGE_INTEGER size;
    std::memset(&size, 0, sizeof size);
    drive.GetQFPartitionSize(&record, &size);
    QF_DWORD count = 99;
    EXPECT_EQ(drive.GetNumberPartitions(&count), filled);
    EXPECT_EQ(drive.VerifyMBRIsWindows(), filled && bootDisk);
    const bool test = drive.Test(1945);
    if (!filled) {
        EXPECT_FALSE(test);
    }
#ifndef _WIN32
    // The built-in machine: C: in slot 1, room at the end of the disk.
    EXPECT_TRUE(filled);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(test);
    EXPECT_FALSE(drive.IsQuillFrameInstalled());
#endif
}
