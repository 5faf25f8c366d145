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
#include <vector>
#include <type_traits>
#include <cstdio>

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

// The installer's size negotiation for the PCI hardware IDs: on Windows
// through the real setup interface (under Wine, Wine's own devices, which
// may be none), elsewhere on the built-in machine.
TEST(SharedLibrary, PciHardwareIdsNegotiateTheirSize) {
    EnumeratePCIDevices pci;
    unsigned char untouched[1] = {0x5A};
    QF_DWORD required = 0xFFFFFFFF;
    const bool first = pci.GetDevices(untouched, 0, &required);
    ASSERT_NE(required, 0xFFFFFFFFu) << "the size is always reported";
    EXPECT_EQ(first, required == 0) << "an empty buffer holds everything only when there is nothing";
    EXPECT_EQ(untouched[0], 0x5A);

    // Room for what was asked and a little more, which must stay unwritten.
    std::vector<unsigned char> buffer(required + 4, 0xEE);
    QF_DWORD again = 0;
    ASSERT_TRUE(pci.GetDevices(buffer.data(), required, &again));
    EXPECT_EQ(again, required);
    EXPECT_EQ(std::vector<unsigned char>(buffer.end() - 4, buffer.end()), std::vector<unsigned char>(4, 0xEE));

    // Back to back whole multi-strings: each ID ends with a NUL, each list
    // with one more, and together they fill exactly what was asked for.
    std::vector<std::vector<std::string>> lists;
    std::size_t at = 0;
    while (at + 2 <= required) {
        std::vector<std::string> ids;
        std::string id;
        for (; at + 2 <= required; at += 2) {
            const unsigned unit = buffer[at] | buffer[at + 1] << 8;
            if (unit != 0) {
                id.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
            } else if (!id.empty()) {
                ids.push_back(id);
                id.clear();
            } else {
                at += 2;
                break;
            }
        }
        lists.push_back(ids);
    }
    EXPECT_EQ(at, required) << "the lists end where the size says";
    for (const auto& ids : lists) {
        std::cout << "PCI device:";
        for (const auto& id : ids) std::cout << " " << id;
        std::cout << "\n";
        ASSERT_FALSE(ids.empty());
        EXPECT_EQ(ids.front().rfind("PCI\\", 0), 0u) << ids.front();
    }

    const std::string log = LogText();
    EXPECT_NE(log.find("EnumeratePCIDevices::GetDevices: dwCallerBufferSize = 0\r\n"), std::string::npos);
    EXPECT_NE(log.find("EnumeratePCIDevices::GetDevices: *dwCallerRequiredSize = " + std::to_string(required) + "\r\n"),
              std::string::npos);
#ifndef _WIN32
    EXPECT_EQ(lists.size(), 3u) << "the built-in machine's three devices";
#endif
}

// The boot disk's controller: pinned on the built-in machine; on Windows
// the device tree is the system's, so only the shape of the answer is.
TEST(SharedLibrary, BootDiskControllerAnswers) {
    EnumerateDiskDevices disks;
    QF_WCHAR address[260] = {};
    const bool found = disks.GetBootDiskControllerAddress(address);
    std::string text;
    for (const QF_WCHAR* c = address; *c; ++c) text.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    std::cout << "boot disk controller address: " << (found ? text : "(none)") << "\n";
    if (found) EXPECT_EQ(text.find('&'), std::string::npos) << text;
    else EXPECT_EQ(text, "");
    const int considered = disks.GetAllDisksDeviceID();
    EXPECT_GE(considered, 0);
    EXPECT_LE(considered, 10);
#ifndef _WIN32
    EXPECT_TRUE(found);
    EXPECT_EQ(text, "2617AEAE");
    EXPECT_EQ(considered, 1);
    EXPECT_TRUE(disks.IsOnlyDiskConnectedToController(address));
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

// --- prerequisite checks on the machine the library runs on ---------------

#ifdef _WIN32
#include <cpuid.h>
#endif

namespace {

// The lines of the log that `function` wrote, in order, without line ends.
std::vector<std::string> LogLinesOf(const std::string& function) {
    std::vector<std::string> lines;
    const std::string log = LogText();
    const std::string prefix = function + ": ";
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(at, end - at);
        if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
        at = end + 2;
    }
    return lines;
}

}  // namespace

TEST(SharedLibrary, ProcessorVtIsTheVmxFlag) {
#ifdef _WIN32
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(1, a, b, c, d);
    EXPECT_EQ(ProcessorVT().Test(), (c & (1u << 5)) != 0);
#else
    EXPECT_TRUE(ProcessorVT().Test()) << "the built-in machine's processor has VMX";
#endif
}

TEST(SharedLibrary, RequiredMemoryComparesTheSystemsTotal) {
    const bool enough = RequiredMemory().Test();
    const std::vector<std::string> lines = LogLinesOf("RequiredMemory::Test");
    ASSERT_GE(lines.size(), 2u);
    const std::string there = lines[lines.size() - 2];
    EXPECT_EQ(lines.back(), "We need 2000000000 total bytes of physical memory.");
#ifdef _WIN32
    MEMORYSTATUSEX m = {};
    m.dwLength = sizeof m;
    ASSERT_TRUE(GlobalMemoryStatusEx(&m));
    EXPECT_EQ(enough, m.ullTotalPhys >= 2000000000ull);
    char expected[100];
    std::snprintf(expected, sizeof expected, "There are %7llu total bytes of physical memory.", m.ullTotalPhys);
    EXPECT_EQ(there, expected);
#else
    EXPECT_TRUE(enough);
    EXPECT_EQ(there, "There are 3218079744 total bytes of physical memory.");
#endif
}

TEST(SharedLibrary, VersionNameOfTheRunningSystem) {
    std::vector<QF_WCHAR> buffer(200, 0);
    buffer[0] = 'x';
    EXPECT_TRUE(VistaRequirements().GetVersion(buffer.data()));
    std::string name;
    for (std::size_t i = 0; buffer[i]; ++i) name.push_back(static_cast<char>(buffer[i]));
#ifdef _WIN32
    OSVERSIONINFOEXW v = {};
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v)));
    std::string expected = "x";
    const std::string sp = "SP" + std::to_string(v.wServicePackMajor);
    if (v.dwMajorVersion == 6) expected = (v.wProductType == VER_NT_WORKSTATION ? "VISTA" : "Server2008") + sp;
    else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) expected = "XP" + sp;
    else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) expected = "SERVER2003" + sp;
    std::cout << "system " << v.dwMajorVersion << "." << v.dwMinorVersion << ": " << name << "\n";
    EXPECT_EQ(name, expected);
#else
    EXPECT_EQ(name, "VISTASP1");
#endif
}

TEST(SharedLibrary, BitlockerAnswersThroughWmi) {
    const bool result = CBitlocker().Test();
    const std::vector<std::string> lines = LogLinesOf("CBitlocker::Test");
    for (const std::string& line : lines) std::cout << "CBitlocker::Test: " << line << "\n";
    // Each message ends in a line break of its own: an empty line follows.
    if (lines.empty()) {
        EXPECT_TRUE(result) << "only an empty or failing enumeration is silent";
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    const std::string& message = lines[0];
    if (message == "No instances of Win32_EncryptableVolume, bitlocker is not installed" ||
        message.rfind("PersistentVolumeID = ", 0) == 0) {
        EXPECT_TRUE(result);
    } else {
        EXPECT_TRUE(message == "CoCreateInstance failed" || message == "ConnectServer failed" ||
                    message == "CoSetProxyBlanket failed" || message == "Get failed")
            << message;
        EXPECT_FALSE(result);
    }
#ifndef _WIN32
    EXPECT_EQ(message, "No instances of Win32_EncryptableVolume, bitlocker is not installed");
#endif
    EXPECT_NE(LogText().find("CBitlocker::Test: " + message + "\r\n\r\n"), std::string::npos);
}

TEST(SharedLibrary, TheOwnHypervisorIsNotRunningHere) {
    EXPECT_FALSE(QuillFrameRunning().Test());
}
