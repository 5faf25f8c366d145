// Every export of both libraries, on the sample machines, made to fail at
// each platform call it makes, one call at a time, with the errors the
// system really answers there. After each failure: the export's failure
// result (or, where a failure is absorbed by design, its normal answer), only
// documented messages among the log lines the failure brought, nothing left
// open or allocated, and ErrorFlag/LastError set only where a documented
// message says so and never cleared.
//
// The exports come from qfcheck's registry, so an export added there without
// an entry below fails this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "exports.h"
#include "platform/sim/sim_platform.h"
#include "session.h"

#ifndef QF_SOURCE_DIR
#error "QF_SOURCE_DIR names the source tree (for machines/)"
#endif

namespace {

using qfcheck::Json;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Log line patterns: the text as logged, with {error} for the injected error
// in decimal, {hex} for it in hexadecimal, {n} for any integer and {text}
// for any text.

bool MatchFrom(const std::string& line, std::size_t at, const std::string& pattern, std::size_t p,
               const std::string& error, const std::string& hex) {
    while (p < pattern.size()) {
        if (pattern[p] == '{') {
            const std::size_t close = pattern.find('}', p);
            const std::string name = pattern.substr(p + 1, close - p - 1);
            p = close + 1;
            if (name == "error" || name == "hex") {
                const std::string& v = name == "error" ? error : hex;
                if (line.compare(at, v.size(), v) != 0) return false;
                at += v.size();
            } else if (name == "n") {
                std::size_t end = at + (at < line.size() && line[at] == '-');
                const std::size_t digits = end;
                while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
                if (end == digits) return false;
                at = end;
            } else {  // text: any split
                for (std::size_t end = line.size() + 1; end-- > at;)
                    if (MatchFrom(line, end, pattern, p, error, hex)) return true;
                return false;
            }
        } else {
            if (at >= line.size() || line[at] != pattern[p]) return false;
            ++at, ++p;
        }
    }
    return at == line.size();
}

bool Matches(const std::string& line, const std::string& pattern, std::uint32_t error) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", error);
    return MatchFrom(line, 0, pattern, 0, std::to_string(static_cast<std::int32_t>(error)), hex);
}

Lines Under(const std::string& function, Lines messages) {
    for (std::string& m : messages) m = m.empty() ? m : function + ": " + m;
    return messages;
}

Lines Join(std::initializer_list<Lines> groups) {
    Lines out;
    for (const Lines& g : groups) out.insert(out.end(), g.begin(), g.end());
    return out;
}

// ---------------------------------------------------------------------------
// The failure messages of each method, by the functions that log them. An
// empty line follows every message whose format ends in a line break.

const Lines kWmiRead = Under("CWMIProperty::GetWMIProperty",
                             {"CoCreateInstance failed", "ConnectServer failed", "", "CoSetProxyBlanket failed",
                              "finished create instance. Error: {text}", "CoCreateInstanceEnum failed",
                              "dwCount = {n}", "Did not find any instances of the class",
                              "finished get, TYPE = {n}", "Get failed"});

const Lines kBootDisk = Join({kWmiRead,
                              Under("DriveFreeSpace::GetDriveLetterFromBootDevice",
                                    {"GetLogicalDrives failed error = {error}", "",
                                     "QueryDosDevice failed, error = {error}"}),
                              Under("DriveFreeSpace::GetPhysicalBootDrive",
                                    {"Cannot get Win32_OperatingSystem", "GetDriveLetterFromBootDevice failed",
                                     "Createfile failed with error {error}",
                                     "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = {error}",
                                     "Volume occupies more than one extent"})});

const Lines kFill = Join({kBootDisk,
                          Under("DriveFreeSpace::GetBootDriveData",
                                {"GetPhysicalBootDrive failed", "PopulatePartitionTableEntries failed"}),
                          Under("DriveFreeSpace::PopulatePartitionTableEntries",
                                {"Createfile failed", "IOCTL_DISK_UPDATE_PROPERTIES",
                                 "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error {error}",
                                 "GetLogicalDrives failed error = {error}", "CreateFile failed error = {error}",
                                 "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = {error}",
                                 "This means that this drive letter is not a hard drive so ignoring",
                                 // a skipped letter leaves its slot without one
                                 "Partition {n}, Logical drive = {text}"})});

// A method that fills a record of its own and reports a fill that failed.
Lines FillFor(const std::string& method) { return Join({kFill, Under(method, {"Cannot get the boot drive data"})}); }

const Lines kUnpartitioned = Under("DriveFreeSpace::CheckUnPartitionedSpace",
                                   {"CreateFile failed, last error = {error}",
                                    "IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed, last error = {error}"});

const Lines kFreeSpace = Join({Under("DriveFreeSpace::GetFreeSpaceInPartition",
                                     {"GetDiskFreeSpaceEx failed error code {error}", "",
                                      // a slot left without its letter names no volume
                                      "Checking free space in partition {text}",
                                      "GetDiskFreeSpaceEx failed error code {n}"}),
                               Under("DriveFreeSpace::CheckFreeSpaceInPartition",
                                     {"GetFreeSpaceInPartition failed"})});

const Lines kControllerId = Under("EnumerateDiskDevices::GetDriveControllerDeviceID",
                                  {"Failed to open boot volume 0x{hex}",
                                   "Failed to get the device number for boot partition 0x{hex}",
                                   "can not open the dos device drive of boot disk 0x{hex}",
                                   "Drive type is not valid {n}"});

// The boot disk not found among the disk interfaces, or its parent unread:
// false without a message. A Windows directory that cannot be read names no drive.
const std::vector<std::string> kControllerIdSilent = {"GetWindowsDirectoryW", "SetupDi", "CM_", "CreateFileW \\\\?\\",
                                                      "DeviceIoControl \\\\?\\"};

const Lines kAllDisks = Under("EnumerateDiskDevices::GetAllDisksDeviceID",
                              {"Failed to get the device classes for WMI 0x{hex}"});

// An interface that cannot be enumerated or read ends the walk; a parent
// that cannot be read leaves an empty slot.
const std::vector<std::string> kAllDisksSilent = {"SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
                                                  "CM_"};

// The messages after which ErrorFlag is set, and whether LastError then holds
// the error (the logged number, or the injected error where none is logged).
struct FlagMessage {
    std::string pattern;
    bool storesError;
    bool numberLogged;
};
const FlagMessage kFlagMessages[] = {
    {"DriveFreeSpace::PopulatePartitionTableEntries: IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error {n}", true, true},
    {"DriveFreeSpace::PopulatePartitionTableEntries: IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS failed error = {n}", false,
     false},
    {"DriveFreeSpace::CheckUnPartitionedSpace: CreateFile failed, last error = {n}", true, true},
    {"DriveFreeSpace::CheckUnPartitionedSpace: IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed, last error = {n}", true,
     true},
    {"DriveFreeSpace::VerifyMBRIsWindows: CreateFile failed", true, false},
};

// ---------------------------------------------------------------------------
// One entry per export.

struct Entry {
    // "{bootDevice}": the machine's boot device; "{dir}": a folder of the
    // test's own (also its current folder); "{machines}": the sample machines'
    // folder, which holds a settings file.
    std::vector<std::string> args;
    Json failure;                   // the documented failure result
    Lines messages;                 // documented messages a failure may bring
    bool anyResult = false;         // a count or answer a failure may change either way
    bool noCalls = false;           // makes no platform call of its own that can fail
    // Calls (traced text prefixes) whose failure the export may answer
    // without a message of its own.
    std::vector<std::string> silent = {};
    // Where its messages go: the first library's log, the helper library's
    // log ("helperLog"), or message boxes ("messageBoxes").
    std::string log = "log";
};

const std::map<std::string, Entry>& Table() {
    static const std::map<std::string, Entry> table = {
        {"fnQuillFrameInstallerTools", {{}, 42, {}, false, true}},
        {"nQuillFrameInstallerTools", {{}, 0, {}, false, true}},
        {"CWMIProperty::GetWMIProperty", {{"Win32_OperatingSystem", "BootDevice"}, false, kWmiRead}},
        {"DriveFreeSpace::GetPhysicalBootDrive", {{}, false, kBootDisk}},
        {"DriveFreeSpace::GetDriveLetterFromBootDevice", {{"{bootDevice}"}, false, kBootDisk}},

        {"DriveFreeSpace::GetBootDriveData", {{}, false, kFill}},
        {"DriveFreeSpace::PopulatePartitionTableEntries", {{"0"}, false, kFill}},
        {"DriveFreeSpace::GetDriveLetter", {{"1"}, false, FillFor("DriveFreeSpace::GetDriveLetter")}},
        {"DriveFreeSpace::GetNumberPartitions", {{}, false, FillFor("DriveFreeSpace::GetNumberPartitions")}},
        {"DriveFreeSpace::DoNotNeedToResize",
         {{"1945"}, false, Join({FillFor("DriveFreeSpace::DoNotNeedToResize"), kUnpartitioned})}},
        {"DriveFreeSpace::CheckUnPartitionedSpace", {{"1945"}, false, kUnpartitioned}},
        {"DriveFreeSpace::CheckFreePartition", {{}, false, kFill}},
        {"DriveFreeSpace::GetFreeSpaceInPartition", {{"1"}, false, kFreeSpace}},
        {"DriveFreeSpace::CheckFreeSpaceInPartition", {{"1", "1"}, false, kFreeSpace}},
        {"DriveFreeSpace::CanResize",
         {{"2", "1"},
          false,
          Join({FillFor("DriveFreeSpace::CanResize"), kFreeSpace,
                Under("DriveFreeSpace::CanResize", {"Not enough free space in partition {n}",
                                                    // fewer slots qualify
                                                    "*dwPartitionsCanResizeBitmask = {n}"})})}},
        {"DriveFreeSpace::Test",
         {{"1"},
          false,
          Join({kFill, kUnpartitioned, kFreeSpace,
                Under("DriveFreeSpace::Test", {"No Free Primary Partition table entry found",
                                               "no free space in partition",
                                               // the search goes on past a slot that failed
                                               "Partition {n} is not a resizable type",
                                               // and may then succeed by shrinking a partition
                                               "Found a resizable partition"}),
                Under("DriveFreeSpace::GetFreeSpaceInPartition", {"Free space in partition = {n} bytes"}),
                Under("DriveFreeSpace::CheckFreeSpaceInPartition", {"Free space needed = {n} bytes"})})}},
        {"DriveFreeSpace::IsQuillFrameInstalled", {{}, false, FillFor("DriveFreeSpace::IsQuillFrameInstalled")}},
        {"DriveFreeSpace::QuillFramePartitionExists", {{}, false, {}, false, true}},
        {"DriveFreeSpace::GetQFPartitionSize", {{}, false, {}, false, true}},
        {"DriveFreeSpace::VerifyMBRIsWindows",
         {{}, false, Join({kFill, Under("DriveFreeSpace::VerifyMBRIsWindows", {"CreateFile failed",
                                                                                "Cannot read the MBR"})})}},
        {"DriveFreeSpace::CheckForNonStandardPartitions", {{}, true, {}, false, true}},
        {"DriveFreeSpace::ForcePartitionTableRescan",
         {{},
          false,
          Join({kBootDisk, Under("DriveFreeSpace::ForcePartitionTableRescan",
                                 {"GetPhysicalBootDrive failed", "Createfile failed",
                                  "IOCTL_DISK_UPDATE_PROPERTIES failed"})})}},

        // A search that cannot read the table finds no marker; nothing is logged.
        {"CheckNotAlreadyVirtualized::Test", {{}, true, {}}},
        {"CheckNotAlreadyVirtualized::SearchForStringInBIOS", {{"VMware"}, false, {}}},
        {"QuillFrameRunning::Test", {{}, false, {}}},
        {"QuillFrameRunning::SearchForStringInBIOS", {{}, false, {}}},
        {"ProcessorVT::Test", {{}, false, {}, false, true}},  // CPUID cannot fail
        {"VTEnabled::Test",
         {{},
          false,
          Under("VTEnabled::Test", {"SetupDiGetClassDevs failed", "SetupDiEnumDeviceInterfaces failed",
                                    "SetupDiGetDeviceInterfaceDetail failed", "CreateFile failed",
                                    "DeviceIoControl failed"})}},
        {"CPUProperties::IsCPUType", {{"Xeon"}, false, {}}},
        {"RequiredMemory::Test", {{}, false, Under("RequiredMemory::Test", {"GlobalMemoryStatusEx failed"})}},
        {"VistaRequirements::Test", {{}, false, {}}},
        {"VistaRequirements::GetVersion", {{}, true, {}}},
        {"VistaRequirements::Is32BitVista", {{}, false, {}}},
        // Set-up failures are false; an enumeration that fails or is empty is true.
        {"CBitlocker::Test",
         {{},
          false,
          Under("CBitlocker::Test", {"CoCreateInstance failed", "", "ConnectServer failed", "CoSetProxyBlanket failed",
                                     "No instances of Win32_EncryptableVolume, bitlocker is not installed",
                                     "Get failed"})}},

        {"EnumerateDiskDevices::GetBootDiskControllerAddress",
         {{}, false, kControllerId, false, false, kControllerIdSilent}},
        {"EnumerateDiskDevices::GetDriveControllerDeviceID",
         {{"C:\\Windows"}, false, kControllerId, false, false, kControllerIdSilent}},
        // A disk whose parent cannot be read is an empty slot, and an
        // enumeration that fails ends the walk: both may change the count.
        {"EnumerateDiskDevices::IsOnlyDiskConnectedToController",
         {{"2617AEAE"}, false, Join({kAllDisks, Under("EnumerateDiskDevices::GetAllDisksDeviceID", {""})}), true, false,
          kAllDisksSilent}},
        {"EnumerateDiskDevices::GetAllDisksDeviceID",
         {{}, 0, Join({kAllDisks, Under("EnumerateDiskDevices::GetAllDisksDeviceID", {""})}), true, false,
          kAllDisksSilent}},
        // A device whose list cannot be read is an empty entry: the total shrinks.
        {"EnumeratePCIDevices::GetDevices",
         {{"512"},
          false,
          Under("EnumeratePCIDevices::GetDevices",
                {"SetupDiGetDeviceRegistryProperty failed", "SetupDiGetDeviceRegistryProperty bytes returned = {n}",
                 "Caller has NOT allocated enough memory", "*dwCallerRequiredSize = {n}",
                 "Caller did not allocate enough memory"}),
          true}},

        // The helper library, which logs only where its table says.
        {"IsRunningFromNativeWindows",
         {{},
          -1,
          {"Table size = {n}", "GetSystemFirmwareTable returns zero", "Failed to allocate memory of oen table",
           "bytes read = {n}", "nBytesRead != nOemTableSize"},
          false,
          false,
          {},
          "helperLog"}},
        // A table that cannot be read leaves no manufacturer to match.
        {"IsRunningOnNECSystem", {{"{machines}"}, false, {}}},
        {"IsProcessRunning", {{"explorer.exe"}, 0, {}}},
        {"GetUnallocatedSpace", {{"0", "0"}, -1, {}}},
        // Only a start of diskpart that fails shows a message; every other failure is silent.
        {"DeleteVRA",
         {{"0", "{dir}"}, -1, {"Failed to delete the VRA partition, Error code = {error}"}, false, false,
          {"CreateFileA", "DeviceIoControl"}, "messageBoxes"}},
        // Whatever fails, every type is dumped from the copy held, or skipped.
        {"DumpAll", {{}, true, {}}},
        {"CCorvaneHelper::CCorvaneHelper", {{}, nullptr, {}, false, true}},
        {"CCorvaneHelper::operator=", {{}, true, {}, false, true}},
        {"nCorvaneHelper", {{}, 0, {}, false, true}},
    };
    return table;
}

// ---------------------------------------------------------------------------
// The errors a call really fails with. Enumerations are not ended with 259:
// that is their normal end, which the sweep does not count as a failure.

const std::map<std::string, std::vector<std::uint32_t>>& Errors() {
    static const std::map<std::string, std::vector<std::uint32_t>> errors = {
        {"CreateFileW", {5, 2}},
        {"DeviceIoControl", {1, 21, 122}},
        {"ReadFile", {23}},                 // ERROR_CRC
        {"QueryDosDeviceW", {2, 122}},      // 122: asked again with room to spare
        {"GetLogicalDrives", {5}},
        {"GetDiskFreeSpaceExW", {21, 3}},
        {"GetDriveTypeW", {5}},             // answers DRIVE_UNKNOWN
        {"GetWindowsDirectoryW", {5}},
        {"CoCreateInstance", {0x800401F0}},  // CO_E_NOTINITIALIZED
        {"ConnectServer", {0x8004100E, 0x80070005}},
        {"CoSetProxyBlanket", {0x80070005}},
        {"CreateInstanceEnum", {0x80041010, 0x80070005}},
        {"Next", {0x80041001}},              // WBEM_E_FAILED
        {"Get", {0x80041002}},
        {"CoInitializeEx", {0x80010106}},     // RPC_E_CHANGED_MODE
        {"GetSystemFirmwareTable", {1}},
        {"CreateToolhelp32Snapshot", {5}},
        {"Process32First", {18}},             // ERROR_NO_MORE_FILES
        {"CreateFileA", {5, 2}},
        {"CreateProcessA", {2, 5}},
        {"GlobalMemoryStatusEx", {87}},
        {"VerifyVersionInfoW", {1150}},
        {"GetVersionExW", {87}},
        {"IsWow64Process", {6}},
        {"SetupDiGetClassDevsW", {13}},
        {"SetupDiEnumDeviceInfo", {13}},
        {"SetupDiEnumDeviceInterfaces", {13}},
        {"SetupDiGetDeviceInterfaceDetailW", {122, 13}},
        {"SetupDiGetDeviceRegistryPropertyW", {13, 122}},
        {"CM_Get_Parent", {0x0D}},           // CR_NO_SUCH_DEVNODE
        {"CM_Get_Device_IDW", {0x0D, 0x1A}}, // CR_BUFFER_SMALL
    };
    return errors;
}

// Traced operations that report no failure to fail with.
// (A profile file that cannot be read reads as the default; a message box
// and the wait for a started program have nothing to report.)
const std::set<std::string> kCannotFail = {"OpenFile",    "FlushFile", "CoUninitialize", "CPUID", "GetPrivateProfileStringA",
                                           "MessageBoxA", "WaitForSingleObject"};

// One traced call, "Name target[ capacity=N][ ioctl=NAME]", as a rule names it.
struct Traced {
    std::string name, target;
};
Traced Parse(const std::string& traced) {
    Traced c;
    const std::size_t space = traced.find(' ');
    c.name = traced.substr(0, space);
    std::string rest = space == std::string::npos ? "" : traced.substr(space);
    for (const char* suffix : {" ioctl=", " capacity="}) {
        const std::size_t at = rest.rfind(suffix);
        if (at != std::string::npos) rest.erase(at);
    }
    c.target = rest.empty() ? rest : rest.substr(1);
    return c;
}
bool Same(const Traced& a, const Traced& b) {
    return a.name == b.name && qf::AsciiUpper(qf::FromUtf8(a.target)) == qf::AsciiUpper(qf::FromUtf8(b.target));
}

// ---------------------------------------------------------------------------

struct Outcome {
    Json call;
    Lines trace;            // from the start of the process
    std::size_t first = 0;  // index in `trace` of the export's own first call
    Lines held;
    bool errorFlag = false;
    std::uint32_t lastError = 0;
};

constexpr std::uint32_t kUntouched = 0xA5A5A5A5u;  // LastError before the call

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FaultSweep : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        dir_ = qf::sim::MakeFreshTempDir();
        json_ = ReadFile(GetParam());
        ASSERT_FALSE(json_.empty()) << GetParam();
        // The helper library writes its log and dumps into the current folder.
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }

    qf::sim::Machine Machine(const std::optional<qf::sim::ErrorRule>& fault) {
        qf::sim::Machine m = qf::sim::LoadMachine(json_, "sample");
        if (fault) m.errors.push_back(*fault);
        return m;
    }

    Outcome Call(const std::string& name, const std::vector<std::string>& args, bool presetFlag,
                 const std::optional<qf::sim::ErrorRule>& fault = std::nullopt) {
        qfcheck::Session session(Machine(fault), dir_);
        session.driveFreeSpace.ErrorFlag = presetFlag;
        session.driveFreeSpace.LastError = kUntouched;
        Outcome r;
        r.first = session.platform().calls().size();
        r.call = qfcheck::RunCall(session, name, args);
        r.trace = session.platform().calls();
        for (const std::string& h : session.platform().Outstanding())
            if (h.find("Installer-tools.log") == std::string::npos) r.held.push_back(h);
        r.errorFlag = session.driveFreeSpace.ErrorFlag;
        r.lastError = session.driveFreeSpace.LastError;
        return r;
    }

    std::string dir_;
    std::string json_;
    std::filesystem::path previous_;
};

Lines LogOf(const Json& call, const std::string& key) {
    if (!call.contains(key)) return {};
    Lines lines;
    for (const Json& line : call[key])
        lines.push_back(line.is_object() ? line["text"].get<std::string>() : line.get<std::string>());
    return lines;
}

// ErrorFlag and LastError after a run, as its log says they must be.
void CheckErrorState(const Outcome& r, bool presetFlag, std::optional<std::uint32_t> injected, const std::string& what) {
    bool flag = presetFlag;
    std::uint32_t last = kUntouched;
    for (const Lines& lines : {LogOf(r.call, "prepareLog"), LogOf(r.call, "log")}) {
        for (const std::string& line : lines) {
            for (const FlagMessage& m : kFlagMessages) {
                if (!Matches(line, m.pattern, 0)) continue;
                flag = true;
                if (!m.storesError) continue;
                if (m.numberLogged)
                    last = static_cast<std::uint32_t>(std::stoll(line.substr(line.find_last_of(' ') + 1)));
                else if (injected) last = *injected;
            }
        }
    }
    EXPECT_EQ(r.errorFlag, flag) << what;
    EXPECT_EQ(r.lastError, last) << what;
}

std::string Substitute(const std::string& arg, const qf::sim::Machine& m, const std::string& dir) {
    if (arg == "{bootDevice}") return m.os.bootDevice ? qf::ToUtf8(*m.os.bootDevice) : "NOT_AVAILABLE";
    if (arg == "{dir}") return dir;
    if (arg == "{machines}") return std::string(QF_SOURCE_DIR) + "/machines";
    return arg;
}

TEST_P(FaultSweep, EveryExportFailsCleanlyAtEveryCall) {
    const auto& table = Table();
    std::set<std::string> registered;
    for (const qfcheck::ExportDef& def : qfcheck::Exports()) registered.insert(def.name);
    for (const auto& [name, entry] : table)
        EXPECT_TRUE(registered.count(name)) << name << ": in the sweep's table but no longer an export";

    const qf::sim::Machine machine = Machine(std::nullopt);
    // The platform calls qfcheck makes to fill the record an export takes.
    const Outcome prepare = Call("DriveFreeSpace::GetBootDriveData", {}, false);

    std::size_t faults = 0;
    for (const qfcheck::ExportDef& def : qfcheck::Exports()) {
        SCOPED_TRACE(def.name);
        const auto it = table.find(def.name);
        if (it == table.end()) {
            ADD_FAILURE() << def.name << ": an export without an entry in the fault sweep";
            continue;
        }
        const Entry& entry = it->second;
        std::vector<std::string> args;
        for (const std::string& a : entry.args) args.push_back(Substitute(a, machine, dir_));

        const Outcome base = Call(def.name, args, true);
        EXPECT_EQ(base.held, Lines{}) << "without a failure";
        if (def.usesDriveFreeSpace) CheckErrorState(base, true, std::nullopt, "without a failure");
        const Lines baseLog = LogOf(base.call, entry.log);
        const std::set<std::string> baseLines(baseLog.begin(), baseLog.end());

        std::size_t first = base.first;
        if (base.call.contains("prepareLog")) {
            const std::size_t n = prepare.trace.size() - prepare.first;
            ASSERT_TRUE(base.trace.size() >= first + n &&
                        std::equal(prepare.trace.begin() + prepare.first, prepare.trace.end(), base.trace.begin() + first))
                << "the export's record is prepared as GetBootDriveData fills one";
            first += n;
        }
        std::vector<Traced> calls;
        for (const std::string& t : base.trace) calls.push_back(Parse(t));
        bool swept = false;
        for (std::size_t i = first; i < calls.size(); ++i) {
            const Traced& c = calls[i];
            if (kCannotFail.count(c.name)) continue;
            const auto errors = Errors().find(c.name);
            if (errors == Errors().end()) {
                ADD_FAILURE() << base.trace[i] << ": a call the sweep has no errors for";
                continue;
            }
            swept = true;
            // The rule counts every call of this name and target from the
            // start of the process.
            std::uint32_t nth = 0;
            for (std::size_t j = 0; j <= i; ++j) nth += Same(calls[j], c);
            for (std::uint32_t error : errors->second) {
                qf::sim::ErrorRule rule;
                rule.call = c.name;
                rule.target = qf::FromUtf8(c.target);
                rule.nth = nth;
                rule.error = error;
                const std::string what = base.trace[i] + " (#" + std::to_string(nth) + ") failing with " +
                                         std::to_string(error) + " on " + GetParam();
                const Outcome r = Call(def.name, args, false, rule);
                ++faults;
                // The fault must have hit the call it aimed at.
                ASSERT_GT(r.trace.size(), i) << what;
                ASSERT_TRUE(Same(Parse(r.trace[i]), c)) << what << ": " << r.trace[i];

                EXPECT_EQ(r.held, Lines{}) << what;
                const Json& result = r.call["result"];
                if (!entry.anyResult) {
                    EXPECT_TRUE(result == entry.failure || result == base.call["result"])
                        << what << ": " << result << ", expected " << entry.failure << " or " << base.call["result"];
                }
                bool documented = false;
                for (const std::string& line : LogOf(r.call, entry.log)) {
                    if (baseLines.count(line)) continue;
                    const bool known = std::any_of(entry.messages.begin(), entry.messages.end(),
                                                   [&](const std::string& p) { return Matches(line, p, error); });
                    EXPECT_TRUE(known) << what << ": undocumented line «" << line << "»";
                    documented = documented || (known && !line.empty());
                }
                // A failure that changes the answer says why, where the export logs at all.
                const bool silent = std::any_of(entry.silent.begin(), entry.silent.end(),
                                                [&](const std::string& p) { return base.trace[i].rfind(p, 0) == 0; });
                if (result != base.call["result"] && result == entry.failure && !entry.messages.empty() && !silent) {
                    EXPECT_TRUE(documented) << what << ": failed without a documented message";
                }
                if (def.usesDriveFreeSpace) CheckErrorState(r, false, error, what);
            }
        }
        EXPECT_EQ(swept, !entry.noCalls) << (entry.noCalls ? "listed as making no platform call that can fail"
                                                            : "made no platform call that can fail");
    }
    RecordProperty("faults", static_cast<int>(faults));
}

// A temporary folder and a current folder the libraries' files cannot be
// created in (as root no permission stops a write: a path that is a file,
// and a current folder that no longer exists, stand for them). Every export
// answers as it does with its files, and leaves nothing open.
TEST_P(FaultSweep, EveryExportAnswersTheSameWithoutItsFiles) {
    const qf::sim::Machine machine = Machine(std::nullopt);
    const std::string notAFolder = (std::filesystem::path(dir_) / "not-a-folder").string();
    std::ofstream(notAFolder) << "a file";
    const std::filesystem::path gone = std::filesystem::path(dir_) / "gone";
    for (const qfcheck::ExportDef& def : qfcheck::Exports()) {
        SCOPED_TRACE(def.name);
        const auto it = Table().find(def.name);
        if (it == Table().end()) continue;  // reported by the sweep
        std::vector<std::string> args;
        for (const std::string& a : it->second.args) args.push_back(Substitute(a, machine, dir_));
        Json with, without;
        {
            qfcheck::Session session(Machine(std::nullopt), dir_);
            with = qfcheck::RunCall(session, def.name, args);
        }
        {
            std::filesystem::create_directory(gone);
            std::filesystem::current_path(gone);
            std::filesystem::remove(gone);
            qfcheck::Session session(Machine(std::nullopt), notAFolder);
            without = qfcheck::RunCall(session, def.name, args);
            EXPECT_EQ(session.platform().Outstanding(), Lines{}) << "not even a log";
            std::filesystem::current_path(dir_);
        }
        EXPECT_EQ(without["result"], with["result"]);
        EXPECT_EQ(without["object"], with["object"]);
        EXPECT_EQ(without["log"], Json::array());
        if (with.contains("helperLog")) {
            EXPECT_EQ(without["helperLog"], Json::array());
        }
        // The dumps are the files themselves; the rest of the answer is the same.
        if (with["out"].contains("files")) {
            EXPECT_EQ(without["out"]["files"], Json::array());
            with["out"].erase("files"), without["out"].erase("files");
        }
        EXPECT_EQ(without["out"], with["out"]);
    }
}

std::vector<std::string> SampleMachines() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(std::string(QF_SOURCE_DIR) + "/machines"))
        if (e.path().extension() == ".json") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(SampleMachines, FaultSweep, ::testing::ValuesIn(SampleMachines()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = std::filesystem::path(info.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
