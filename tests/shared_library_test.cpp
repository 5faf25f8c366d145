// The shared library as the installer loads it: exports answer, the log
// opened at load lies in the temporary directory. On Windows this runs on
// the real system (under Wine, Wine's own machine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
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
