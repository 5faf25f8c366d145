// Every export of both libraries, called through the real system: under
// Wine, on Wine's own machine. The libraries' code (the same the DLLs are
// built from) talks to Windows through a counting platform, so each call is
// checked to give back every handle, interface, device list, file and block
// of memory it took; the system's own handle count says nothing under Wine,
// and a DLL's copy cannot be watched from outside (the DLLs themselves are
// called by the shared-library tests and the MSVC-built caller). Where
// Wine's machine fixes the answer, the answer is checked too. Nothing here
// may change the machine: programs (diskpart) are held back, and so are
// message boxes.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <cpuid.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "exports.h"
#include "live/live_calls.h"
#include "platform/counting_platform.h"

namespace {

namespace fs = std::filesystem;
using Json = qfcheck::Json;
using Lines = std::vector<std::string>;

struct Answer {
    Json call;
    Lines heldAfter;  // what the call took and still holds
    Lines strays;     // what it gave back that it had not taken
};

class Live : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        previous_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ("qf-live-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir_);
        // The helper's files land in the current folder.
        fs::current_path(dir_);
        // A settings file that names a manufacturer no firmware has.
        std::ofstream(dir_ / "CorvaneHelper.ini") << "[systeminfo]\r\nmanufacturer=NoSuchVendor\r\n";

        session_ = qfcheck::Session::Live(std::make_unique<qf::platform::CountingPlatform>(
            qf::platform::MakeDefault(), qf::platform::CountingPlatform::Effects::HoldBack));
        qf::platform::CountingPlatform& counted = session_->counted();

        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::map<std::string, std::string> values = {{"{dir}", dir_.string()},
                                                     {"{exe}", fs::path(exe).filename().string()}};
        for (const qftest::LiveCall& c : qftest::LiveCalls()) {
            Answer a;
            const Lines before = counted.Outstanding();
            const std::size_t strays = counted.strays().size();
            a.call = qfcheck::RunCall(*session_, c.exportName, qftest::Expand(c.args, values));
            // Both lists are sorted: what is held now and was not before.
            const Lines after = counted.Outstanding();
            std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                                std::back_inserter(a.heldAfter));
            a.strays.assign(counted.strays().begin() + strays, counted.strays().end());
            // The boot device the system names, for the letter search.
            if (c.exportName == "CWMIProperty::GetWMIProperty")
                values["{bootDevice}"] = a.call["out"]["text"].get<std::string>();
            answers_[c.exportName] = std::move(a);
        }
    }
    static void TearDownTestSuite() {
        session_.reset();
        fs::current_path(previous_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static const Answer& Of(const std::string& name) { return answers_.at(name); }
    static const Json& Result(const std::string& name) { return Of(name).call.at("result"); }
    static const Json& Out(const std::string& name) { return Of(name).call.at("out"); }
    static const Json& Log(const std::string& name) { return Of(name).call.at("log"); }

    // The log lines of a call that reads the boot device from WMI, as Wine
    // answers: one instance, a text.
    static Lines WmiLines() {
        return Prefixed("CWMIProperty::GetWMIProperty",
                        {"Entered", "After cocreatinstance", "about to create instance of Win32_OperatingSystem class",
                         "dwCount = 1", "About to get BootDevice property", "finished get, TYPE = 8", ".vt = 8",
                         "Caught valid bstr"});
    }
    static Lines LetterLines() {
        return Prefixed("DriveFreeSpace::GetDriveLetterFromBootDevice",
                        {"device to search for = \\Device\\HarddiskVolume1", "Found drive C:",
                         "DosDevice = \\Device\\HarddiskVolume1", "found a match for drive letter = C:"});
    }
    static Lines Prefixed(const std::string& function, const Lines& messages) {
        Lines out;
        for (const std::string& m : messages) out.push_back(function + ": " + m);
        return out;
    }
    static Lines Join(std::initializer_list<Lines> parts) {
        Lines out;
        for (const Lines& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }
    static Lines Tail(const Json& log, std::size_t n) {
        const Lines all = log.get<Lines>();
        return Lines(all.end() - std::min(n, all.size()), all.end());
    }

    static inline std::unique_ptr<qfcheck::Session> session_;
    static inline std::map<std::string, Answer> answers_;
    static inline fs::path dir_, previous_;
};

TEST_F(Live, EveryExportReturnsAndGivesBackWhatItTook) {
    for (const qftest::LiveCall& c : qftest::LiveCalls()) {
        SCOPED_TRACE(c.exportName);
        EXPECT_EQ(Of(c.exportName).heldAfter, Lines{});
        EXPECT_EQ(Of(c.exportName).strays, Lines{});
    }
    EXPECT_EQ(answers_.size(), qfcheck::Exports().size());
}

TEST_F(Live, FrameAndDataItems) {
    EXPECT_EQ(Result("fnQuillFrameInstallerTools"), 42);
    EXPECT_EQ(Result("nQuillFrameInstallerTools"), 0);
    EXPECT_EQ(Result("nCorvaneHelper"), 0);
    EXPECT_EQ(Out("CCorvaneHelper::CCorvaneHelper")["size"], 1);
    EXPECT_EQ(Result("CCorvaneHelper::operator="), true);
}

// Wine's WMI names the boot device, and its letter C: is found through the
// DOS device names; Wine's volume driver then reports no single extent for
// C:, so the boot disk is never known and every planning method that needs
// it says so and answers false, with nothing stored as an error.
TEST_F(Live, BootDiskDiscoveryStopsAtTheVolumeExtents) {
    EXPECT_EQ(Result("CWMIProperty::GetWMIProperty"), true);
    EXPECT_EQ(Out("CWMIProperty::GetWMIProperty")["text"], "\\Device\\HarddiskVolume1");
    EXPECT_EQ(Log("CWMIProperty::GetWMIProperty").get<Lines>(), WmiLines());

    EXPECT_EQ(Result("DriveFreeSpace::GetDriveLetterFromBootDevice"), true);
    EXPECT_EQ(Out("DriveFreeSpace::GetDriveLetterFromBootDevice")["drive"], "C:");
    EXPECT_EQ(Log("DriveFreeSpace::GetDriveLetterFromBootDevice").get<Lines>(), LetterLines());

    EXPECT_EQ(Result("DriveFreeSpace::GetPhysicalBootDrive"), false);
    const Lines bootDrive = Join({Prefixed("DriveFreeSpace::GetPhysicalBootDrive", {"Entered", "About to call get wmi"}),
                                  WmiLines(),
                                  Prefixed("DriveFreeSpace::GetPhysicalBootDrive",
                                           {"BootDevice from WMI = \\Device\\HarddiskVolume1"}),
                                  LetterLines(),
                                  Prefixed("DriveFreeSpace::GetPhysicalBootDrive", {"Volume occupies more than one extent"})});
    EXPECT_EQ(Log("DriveFreeSpace::GetPhysicalBootDrive").get<Lines>(), bootDrive);
    const Lines bootData = Join({{"DriveFreeSpace::GetBootDriveData: entered"}, bootDrive,
                                 {"DriveFreeSpace::GetBootDriveData: GetPhysicalBootDrive failed"}});
    EXPECT_EQ(Result("DriveFreeSpace::GetBootDriveData"), false);
    EXPECT_EQ(Log("DriveFreeSpace::GetBootDriveData").get<Lines>(), bootData);

    // Each method's own last words after the failed boot disk search.
    const std::map<std::string, Lines> after = {
        {"DriveFreeSpace::GetDriveLetter", {"DriveFreeSpace::GetDriveLetter: Cannot get the boot drive data"}},
        {"DriveFreeSpace::GetNumberPartitions", {"DriveFreeSpace::GetNumberPartitions: Cannot get the boot drive data"}},
        {"DriveFreeSpace::DoNotNeedToResize", {"DriveFreeSpace::DoNotNeedToResize: Cannot get the boot drive data"}},
        {"DriveFreeSpace::CanResize", {"DriveFreeSpace::CanResize: Cannot get the boot drive data"}},
        {"DriveFreeSpace::IsQuillFrameInstalled",
         {"DriveFreeSpace::IsQuillFrameInstalled: Cannot get the boot drive data"}},
        {"DriveFreeSpace::Test", {}},
        {"DriveFreeSpace::VerifyMBRIsWindows", {}},
        {"DriveFreeSpace::CheckFreePartition", {}},
    };
    for (const auto& [name, last] : after) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Result(name), false);
        EXPECT_EQ(Tail(Log(name), bootData.size() + last.size()), Join({bootData, last}));
        EXPECT_EQ(Of(name).call["object"], Json({{"ErrorFlag", false}, {"LastError", 0}}));
    }
    EXPECT_EQ(Result("DriveFreeSpace::ForcePartitionTableRescan"), false);
    EXPECT_EQ(Tail(Log("DriveFreeSpace::ForcePartitionTableRescan"), 2),
              Join({{bootDrive.back()}, {"DriveFreeSpace::ForcePartitionTableRescan: GetPhysicalBootDrive failed"}}));
}

// Disk 0 opens under Wine, but Wine refuses to re-read its layout.
TEST_F(Live, TheFirstDiskOpensButKeepsItsLayout) {
    EXPECT_EQ(Result("DriveFreeSpace::PopulatePartitionTableEntries"), false);
    EXPECT_EQ(Log("DriveFreeSpace::PopulatePartitionTableEntries").get<Lines>(),
              Prefixed("DriveFreeSpace::PopulatePartitionTableEntries",
                       {"Opening \\\\.\\PHYSICALDRIVE0", "IOCTL_DISK_UPDATE_PROPERTIES"}));
    // The helper cannot size that disk either, so there is nothing to
    // delete and diskpart is never asked to.
    EXPECT_EQ(Result("GetUnallocatedSpace"), -1);
    EXPECT_EQ(Result("DeleteVRA"), -1);
    EXPECT_EQ(Out("DeleteVRA")["script"], nullptr);
    EXPECT_EQ(Of("DeleteVRA").call["messageBoxes"], Json::array());
    EXPECT_TRUE(session_->counted().processesStarted().empty());
}

// The methods that work on the record they are given answer from it alone:
// the empty record of a failed search holds no partition and no letter.
TEST_F(Live, RecordMethodsAnswerFromTheEmptyRecord) {
    EXPECT_EQ(Result("DriveFreeSpace::QuillFramePartitionExists"), false);
    EXPECT_EQ(Log("DriveFreeSpace::QuillFramePartitionExists").get<Lines>(),
              Lines{"DriveFreeSpace::QuillFramePartitionExists: Did not find QuillFrame partition"});
    EXPECT_EQ(Result("DriveFreeSpace::GetQFPartitionSize"), false);
    EXPECT_EQ(Out("DriveFreeSpace::GetQFPartitionSize")["size"], 0);
    EXPECT_EQ(Result("DriveFreeSpace::CheckForNonStandardPartitions"), true);
    EXPECT_EQ(Result("DriveFreeSpace::CheckUnPartitionedSpace"), false);
    EXPECT_EQ(Tail(Log("DriveFreeSpace::CheckUnPartitionedSpace"), 1),
              Lines{"DriveFreeSpace::CheckUnPartitionedSpace: Did not find enough free space"});
    // A slot without a letter names the path "\\.\", which Wine rejects as a name.
    EXPECT_EQ(Result("DriveFreeSpace::GetFreeSpaceInPartition"), false);
    EXPECT_EQ(Log("DriveFreeSpace::GetFreeSpaceInPartition").get<Lines>(),
              (Lines{"DriveFreeSpace::GetFreeSpaceInPartition: Checking free space in partition \\\\.\\",
                     "DriveFreeSpace::GetFreeSpaceInPartition: GetDiskFreeSpaceEx failed error code 123", ""}));
    EXPECT_EQ(Result("DriveFreeSpace::CheckFreeSpaceInPartition"), false);
    EXPECT_EQ(Log("DriveFreeSpace::CheckFreeSpaceInPartition").get<Lines>(),
              Lines{"DriveFreeSpace::CheckFreeSpaceInPartition: GetFreeSpaceInPartition failed"});
}

// The checks against what the test can ask the system itself.
TEST_F(Live, ChecksAgreeWithTheSystem) {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    ASSERT_TRUE(__get_cpuid(1, &eax, &ebx, &ecx, &edx));
    EXPECT_EQ(Result("ProcessorVT::Test"), (ecx & (1u << 5)) != 0);

    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
    EXPECT_EQ(Result("RequiredMemory::Test"), memory.ullTotalPhys >= 2000000000ull);
    EXPECT_EQ(Log("RequiredMemory::Test").get<Lines>(),
              Prefixed("RequiredMemory::Test",
                       {"There are " + std::to_string(memory.ullTotalPhys) + " total bytes of physical memory.",
                        "We need 2000000000 total bytes of physical memory."}));

    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(Result("VistaRequirements::Is32BitVista"), !wow64);
    // Wine's prefix says Windows 7 with service pack 1: a 6.x workstation.
    EXPECT_EQ(Out("VistaRequirements::GetVersion")["version"], "VISTASP1");
    EXPECT_EQ(Result("VistaRequirements::Test"), !wow64);

    // Wine knows no encryptable volumes: nothing to read, no BitLocker.
    EXPECT_EQ(Result("CBitlocker::Test"), true);
    EXPECT_EQ(Log("CBitlocker::Test"), Json::array());
    // No virtualization status driver under Wine, and our hypervisor is not running here.
    EXPECT_EQ(Result("VTEnabled::Test"), false);
    EXPECT_EQ(Log("VTEnabled::Test").get<Lines>(),
              Prefixed("VTEnabled::Test", {"entered", "SetupDiEnumDeviceInterfaces failed"}));
    EXPECT_EQ(Result("QuillFrameRunning::Test"), false);
}

// Wine's device tree: one PCI device with a made-up ID, and no disk devices.
TEST_F(Live, DevicesAsWineListsThem) {
    EXPECT_EQ(Result("EnumeratePCIDevices::GetDevices"), true);
    EXPECT_EQ(Out("EnumeratePCIDevices::GetDevices")["entries"],
              Json::parse(R"([["PCI\\VEN_0000&DEV_0000&SUBSYS_00000000&REV_00"]])"));
    EXPECT_EQ(Out("EnumeratePCIDevices::GetDevices")["dwCallerRequiredSize"], 92);
    EXPECT_EQ(Result("EnumerateDiskDevices::GetAllDisksDeviceID"), 0);
    EXPECT_EQ(Result("EnumerateDiskDevices::GetBootDiskControllerAddress"), false);
    EXPECT_EQ(Result("EnumerateDiskDevices::GetDriveControllerDeviceID"), false);
    EXPECT_EQ(Result("EnumerateDiskDevices::IsOnlyDiskConnectedToController"), false);
}

TEST_F(Live, HelperAnswers) {
    // The firmware table read in full: its size as the system gives it.
    const UINT size = GetSystemFirmwareTable(0x52534D42 /* 'RSMB' */, 0, nullptr, 0);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(Result("IsRunningFromNativeWindows"), 1);
    EXPECT_EQ(Of("IsRunningFromNativeWindows").call["helperLog"].get<Lines>(),
              (Lines{"Table size = " + std::to_string(size), "bytes read = " + std::to_string(size), "In native vista"}));
    EXPECT_EQ(Result("IsRunningOnNECSystem"), false);  // the settings name a maker no firmware has
    EXPECT_EQ(Result("IsProcessRunning"), 1);          // this very program
    // Wine's WMI has no raw SMBIOS data: nothing to dump, and no error.
    EXPECT_EQ(Result("DumpAll"), true);
    EXPECT_EQ(Out("DumpAll")["files"], Json::array());
}

}  // namespace
