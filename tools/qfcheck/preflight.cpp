#include "preflight.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <filesystem>

#include "CorvaneHelper.h"
#include "common/text.h"
#include "exports.h"
#include "installer_tools/disk_io.h"
#include "installer_tools/export_access.h"
#include "installer_tools/large_integer.h"
#include "units.h"

namespace qfcheck::preflight {
namespace {

constexpr std::size_t kIdCapacity = 260;       // device IDs and addresses
constexpr std::uint64_t kSectorBytes = 512;     // every sector of the libraries
constexpr std::uint64_t kSectorsPerMB = 2048;

// One run: the session, what has been learnt so far, and the boot drive
// data the installer fills once and hands to the methods that take it.
struct Run {
    Session& session;
    const Options& options;
    Result& result;
    BootDriveData record;
    bool recordRead = false;
    // Answers later questions and the verdict depend on.
    std::uint32_t ntfsMask = 0, anyMask = 0;
    std::vector<std::string> unpartitionedLog, testLog;
};

// The message of a log line written under `function`, or nothing.
std::optional<std::string> MessageOf(const std::string& line, const std::string& function) {
    const std::string prefix = function + ": ";
    if (line.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return line.substr(prefix.size());
}

// The rest of the first message of `function` that begins with `start`.
std::optional<std::string> Find(const std::vector<std::string>& log, const std::string& function,
                                const std::string& start) {
    for (const std::string& line : log)
        if (auto m = MessageOf(line, function); m && m->compare(0, start.size(), start) == 0)
            return m->substr(start.size());
    return std::nullopt;
}

bool Has(const std::vector<std::string>& log, const std::string& function, const std::string& message) {
    for (const std::string& line : log)
        if (auto m = MessageOf(line, function); m && *m == message) return true;
    return false;
}

// The last line that says something (the log's reason for a failure).
std::string LastWords(const std::vector<std::string>& log) {
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (!it->empty()) return *it;
    return "nothing was logged";
}

Check& Add(Run& run, const char* id, const char* group, const char* title, const char* call) {
    Check c;
    c.id = id;
    c.group = group;
    c.title = title;
    c.call = call;
    run.result.checks.push_back(std::move(c));
    return run.result.checks.back();
}

void TakeLog(Run& run, Check& c) {
    std::vector<std::string> lines = run.session.TakeLogLines();
    c.log.insert(c.log.end(), lines.begin(), lines.end());
}

// "C: (slot 1)" or "slot 0".
std::string SlotName(const Run& run, std::uint32_t i) {
    const char16_t letter = static_cast<char16_t>(run.record.PartitionTable[i].LogicalDrive);
    if (letter) return std::string(1, static_cast<char>(letter)) + ": (slot " + std::to_string(i) + ")";
    return "slot " + std::to_string(i);
}

// The slots of a bitmask, by name.
std::string Letters(const Run& run, std::uint32_t mask) {
    std::string out;
    for (std::uint32_t i = 0; i < 4; ++i)
        if (mask & (1u << i)) out += (out.empty() ? "" : ", ") + SlotName(run, i);
    return out;
}

// The free space of each volume the resize question read, for the picture.
void NoteFreeSpace(Run& run, const std::vector<std::string>& log) {
    char letter = 0;
    for (const std::string& line : log) {
        auto m = MessageOf(line, "DriveFreeSpace::GetFreeSpaceInPartition");
        if (!m) continue;
        const std::string checking = "Checking free space in partition \\\\.\\";
        unsigned long long bytes = 0;
        if (m->compare(0, checking.size(), checking) == 0 && m->size() > checking.size())
            letter = (*m)[checking.size()];
        else if (std::sscanf(m->c_str(), "Free space in partition = %llu bytes", &bytes) == 1 && letter)
            for (Slot& s : run.result.disk.slots)
                if (s.letter == letter) s.freeBytes = bytes;
    }
}

// --- prerequisites ------------------------------------------------------------

void AskProcessorVT(Run& run) {
    Check& c = Add(run, "processorVT", "prerequisites", "Processor virtualization", "ProcessorVT::Test");
    const bool vt = ProcessorVT().Test();
    TakeLog(run, c);
    c.result = vt;
    if (vt) {
        c.status = Status::Ok;
        c.answer = "yes";
        c.why = "the processor has hardware virtualization (the VMX flag of CPUID)";
    } else {
        c.status = Status::Blocks;
        c.answer = "no";
        c.why = "the processor lacks hardware virtualization (no VMX flag in CPUID)";
        c.reason = "The processor has no hardware virtualization (Intel VT-x), which QuillFrame's hypervisor needs.";
    }
}

void AskVTEnabled(Run& run) {
    Check& c = Add(run, "vtEnabled", "prerequisites", "Virtualization in firmware", "VTEnabled::Test");
    const bool on = VTEnabled().Test();
    TakeLog(run, c);
    c.result = on;
    const std::string f = "VTEnabled::Test";
    const auto answer = Find(c.log, f, "nVTReturn = ");
    const bool locked = Has(c.log, f, "Lock bit set");
    if (answer) c.details["nVTReturn"] = std::stoll(*answer);
    const std::string driver = answer ? "the virtualization status driver answers " + *answer +
                                            (locked ? "; the firmware has locked the setting" : "")
                                      : std::string();
    if (on) {
        c.status = Status::Ok;
        c.answer = "on";
        c.why = "switched on by the firmware (" + driver + ")";
        return;
    }
    c.status = Status::Blocks;
    if (answer) {
        c.answer = "off";
        c.why = "switched off in the firmware (" + driver + ")";
        c.reason = "Virtualization is switched off in the firmware: turn on Intel VT-x in the BIOS setup" +
                   std::string(locked ? " (the setting is locked until the machine restarts)." : ".");
    } else if (Has(c.log, f, "SetupDiEnumDeviceInterfaces failed")) {
        c.answer = "unknown";
        c.why = "the virtualization status driver is not installed, so the firmware's setting cannot be read";
        c.reason = "Whether the firmware has virtualization switched on cannot be read: the virtualization status "
                   "driver is not installed.";
    } else {
        c.answer = "unknown";
        c.why = "the virtualization status driver could not be asked (" + LastWords(c.log) + ")";
        c.reason = "Whether the firmware has virtualization switched on cannot be read: the virtualization status "
                   "driver did not answer.";
    }
}

void AskOtherHypervisor(Run& run) {
    Check& c = Add(run, "noOtherHypervisor", "prerequisites", "No other hypervisor", "CheckNotAlreadyVirtualized::Test");
    const bool none = CheckNotAlreadyVirtualized().Test();
    TakeLog(run, c);
    c.result = none;
    if (none) {
        c.status = Status::Ok;
        c.answer = "none found";
        c.why = "no \"VMware\" marker in the firmware's OEM strings";
    } else {
        c.status = Status::Blocks;
        c.answer = "VMware";
        c.why = "the firmware's OEM strings carry the \"VMware\" marker: Windows runs in a virtual machine";
        c.reason = "Windows runs inside a VMware virtual machine: QuillFrame has to be installed on the machine itself.";
    }
}

void AskQuillFrameRunning(Run& run) {
    Check& c = Add(run, "quillFrameRunning", "prerequisites", "QuillFrame not running", "QuillFrameRunning::Test");
    const bool running = QuillFrameRunning().Test();
    TakeLog(run, c);
    c.result = running;
    if (!running) {
        c.status = Status::Ok;
        c.answer = "not running";
        c.why = "no \"Corvane Driftwell\" signature in the firmware's OEM strings";
    } else {
        c.status = Status::Blocks;
        c.answer = "running";
        c.why = "the firmware's OEM strings carry the \"Corvane Driftwell\" signature of QuillFrame's hypervisor";
        c.reason = "QuillFrame is already running: this Windows is a guest of its hypervisor.";
    }
}

void AskOperatingSystem(Run& run) {
    Check& c = Add(run, "operatingSystem", "prerequisites", "Operating system",
                   "VistaRequirements::Test, VistaRequirements::GetVersion");
    VistaRequirements v;
    const bool supported = v.Test();
    QF_WCHAR name[200] = {};
    v.GetVersion(name);
    const bool is32 = qf::ExportAccess::Is32BitVista(v);
    TakeLog(run, c);
    std::string version;
    for (std::size_t i = 0; i < 200 && name[i]; ++i) version += static_cast<char>(name[i] < 0x80 ? name[i] : '?');
    c.result = supported;
    c.details["version"] = version;
    c.details["is32Bit"] = is32;
    c.answer = version.empty() ? "unnamed" : version;
    const std::string named = version.empty() ? " (a kind the libraries have no name for)" : "";
    if (supported) {
        c.status = Status::Ok;
        c.why = "Windows 6.0 (Vista) with service pack 1 or later, 32-bit" + named;
    } else if (!is32) {
        c.status = Status::Blocks;
        c.why = "a 64-bit Windows: the installer runs under WOW64" + named;
        c.reason = "Windows is 64-bit: QuillFrame installs on 32-bit Windows only.";
    } else {
        c.status = Status::Blocks;
        c.why = "older than Windows 6.0 (Vista) with service pack 1" + named;
        c.reason = "Windows is too old: QuillFrame needs Windows Vista (6.0) with service pack 1 or later.";
    }
}

void AskMemory(Run& run) {
    Check& c = Add(run, "memory", "prerequisites", "Memory", "RequiredMemory::Test");
    const bool enough = RequiredMemory().Test();
    TakeLog(run, c);
    c.result = enough;
    unsigned long long total = 0;
    const auto line = Find(c.log, "RequiredMemory::Test", "There are ");
    const bool known = line && std::sscanf(line->c_str(), "%llu", &total) == 1;
    if (known) c.details["totalBytes"] = total;
    c.answer = known ? Bytes(total) : "unknown";
    if (enough) {
        c.status = Status::Ok;
        c.why = (known ? Grouped(total) + " bytes: " : std::string()) + "at least the 2,000,000,000 bytes needed";
    } else {
        c.status = Status::Blocks;
        c.why = known ? Grouped(total) + " bytes: less than the 2,000,000,000 bytes needed"
                      : "the amount of memory could not be read (" + LastWords(c.log) + ")";
        c.reason = known ? "Too little memory: " + Bytes(total) + ", and QuillFrame needs 2,000,000,000 bytes (1907 MiB)."
                         : "The amount of memory could not be read.";
    }
}

void AskEncryption(Run& run) {
    Check& c = Add(run, "encryption", "prerequisites", "Volume encryption", "CBitlocker::Test");
    const bool ok = CBitlocker().Test();
    TakeLog(run, c);
    c.result = ok;
    const std::string f = "CBitlocker::Test";
    const auto volume = Find(c.log, f, "PersistentVolumeID = ");
    if (volume) c.details["PersistentVolumeID"] = *volume;
    if (!ok) {
        c.status = Status::Warn;
        c.answer = "unknown";
        c.why = "BitLocker could not be looked for (" + LastWords(c.log) + ")";
    } else if (volume) {
        c.status = Status::Warn;
        c.answer = "BitLocker";
        c.why = "BitLocker is present (first encryptable volume " + *volume +
                "); an encrypted volume cannot be shrunk until its encryption is suspended";
    } else {
        c.status = Status::Ok;
        c.answer = "none";
        c.why = Has(c.log, f, "No instances of Win32_EncryptableVolume, bitlocker is not installed")
                    ? "BitLocker is not installed"
                    : "no encryptable volume (BitLocker's WMI class lists none)";
    }
}

// The helper library writes "corvanehelper.log" into the current directory.
// A simulated machine's process runs in its temporary folder, so the log
// lands beside "Installer-tools.log" and not wherever qfcheck was started;
// on the live system the directory is the one the installer would have.
class HelperDirectory {
public:
    explicit HelperDirectory(Session& session) {
        std::error_code ec;
        here_ = std::filesystem::current_path(ec);
        if (!session.live()) std::filesystem::current_path(std::filesystem::u8path(session.tempDir()), ec);
        dir_ = std::filesystem::current_path(ec);
    }
    ~HelperDirectory() {
        std::error_code ec;
        std::filesystem::current_path(here_, ec);
    }
    std::string Path(const char* file) const { return (dir_ / file).u8string(); }

private:
    std::filesystem::path here_, dir_;
};

void AskNativeWindows(Run& run) {
    Check& c = Add(run, "nativeWindows", "prerequisites", "Windows runs natively", "IsRunningFromNativeWindows");
    int native = -1;
    {
        HelperDirectory directory(run.session);
        native = IsRunningFromNativeWindows();
        const std::string log = directory.Path("corvanehelper.log");
        std::size_t offset = 0;
        c.log = ReadNewLines(log, &offset);
        if (!c.log.empty()) run.result.helperLogPath = log;
    }
    TakeLog(run, c);  // nothing of the first library's log is expected
    c.result = native;
    switch (native) {
    case 1:
        c.status = Status::Ok;
        c.answer = "native";
        c.why = "no \"Corvane Driftwell\" signature in the firmware's raw SMBIOS data";
        break;
    case 0:
        c.status = Status::Blocks;
        c.answer = "guest";
        c.why = "the firmware's raw SMBIOS data carry the \"Corvane Driftwell\" signature of QuillFrame's hypervisor";
        c.reason = "QuillFrame is already running: this Windows is a guest of its hypervisor.";
        break;
    default:
        c.status = Status::Warn;
        c.answer = "unknown";
        c.why = "the firmware's raw SMBIOS data could not be read";
        break;
    }
}

void AskManufacturer(Run& run) {
    Check& c = Add(run, "manufacturer", "prerequisites", "Manufacturer check", "IsRunningOnNECSystem");
    if (run.options.settingsDir.empty()) {
        c.status = Status::Skipped;
        c.answer = "not asked";
        c.why = "asked only with --settings-dir, the folder that holds the installer's \"CorvaneHelper.ini\"";
        return;
    }
    const bool same = IsRunningOnNECSystem(run.options.settingsDir.c_str());
    TakeLog(run, c);
    c.result = same;
    c.status = Status::Info;
    c.answer = same ? "matches" : "differs";
    c.why = std::string("the firmware's manufacturer is ") + (same ? "" : "not ") + "the one " +
            run.options.settingsDir + "\\CorvaneHelper.ini names" + (same ? ": the NEC steps apply" : "");
}

// --- boot disk ---------------------------------------------------------------------

void AskBootDisk(Run& run) {
    Check& c = Add(run, "bootDisk", "bootDisk", "Boot disk", "DriveFreeSpace::GetBootDriveData");
    std::memset(&run.record, 0, sizeof run.record);
    run.recordRead = run.session.driveFreeSpace.GetBootDriveData(&run.record);
    TakeLog(run, c);
    c.result = run.recordRead;
    DiskPicture& disk = run.result.disk;
    disk.read = run.recordRead;
    if (!run.recordRead) {
        c.status = Status::Blocks;
        c.answer = "not read";
        c.why = "the boot disk's partition table could not be read (" + LastWords(c.log) + ")";
        c.reason = "The boot disk could not be read, so no place for the partition can be planned.";
        return;
    }
    disk.diskNumber = run.record.DiskNumber;
    int used = 0;
    std::string letters;
    for (std::uint32_t i = 0; i < 4; ++i) {
        const PartitionTableEntry& e = run.record.PartitionTable[i];
        Slot s;
        s.index = i;
        s.style = e.PartitionStyle;
        s.type = e.PartitionType;
        s.letter = static_cast<char>(e.LogicalDrive);
        s.startSector = static_cast<std::uint64_t>(e.StartingSector);
        s.sizeSectors = static_cast<std::uint64_t>(e.SizeInSectors);
        disk.slots.push_back(s);
        if (e.PartitionType != 0) ++used;
        if (e.LogicalDrive)
            letters += (letters.empty() ? "" : ", ") + std::string(1, static_cast<char>(e.LogicalDrive)) + ": in slot " +
                       std::to_string(i);
    }
    c.status = Status::Info;
    c.answer = "disk " + std::to_string(run.record.DiskNumber);
    c.why = "Windows booted from disk " + std::to_string(run.record.DiskNumber) + "; " + std::to_string(used) +
            " of its 4 primary slots " + (used == 1 ? "holds" : "hold") + " a partition" +
            (letters.empty() ? "" : " (" + letters + ")");
    if (used == 0 && run.record.PartitionTable[0].PartitionStyle == 1)
        c.why += "; it is a GPT disk, whose partitions the libraries do not count";
    c.details["DiskNumber"] = run.record.DiskNumber;
}

void AskFreeSlot(Run& run) {
    Check& c = Add(run, "freeSlot", "bootDisk", "Free primary slot", "DriveFreeSpace::CheckFreePartition");
    const bool free = run.session.driveFreeSpace.CheckFreePartition();
    TakeLog(run, c);
    c.result = free;
    if (free) {
        c.status = Status::Ok;
        c.answer = "yes";
        c.why = "a slot of the partition table is free for the new partition";
    } else {
        c.status = Status::Blocks;
        c.answer = "no";
        c.why = run.recordRead ? "all four primary slots are in use; the new partition needs one of its own"
                               : "the partition table could not be read";
        if (run.recordRead)
            c.reason = "All four primary slots of the boot disk's partition table are in use: the new partition "
                       "needs a free one.";
    }
}

// The gap an unpartitioned-space search settled on, read from its log: the
// slot it was looking behind and, unless the gap runs to the end of the
// disk, the slot that ends it.
struct FoundGap {
    int after = -1, before = -1;
};
std::optional<FoundGap> GapFromLog(const std::vector<std::string>& log) {
    const std::string search = "DriveFreeSpace::CheckUnPartitionedSpace";
    std::optional<FoundGap> found;
    FoundGap current;
    for (const std::string& line : log) {
        auto m = MessageOf(line, search);
        if (!m) continue;
        int i = -1, k = -1, used = 0;
        unsigned long long bytes = 0;
        // %n is stored only when the whole text before it matched.
        if (std::sscanf(m->c_str(), "partition %d is a real partition,%n", &i, &used) == 1 && used > 0) {
            current = FoundGap{i, -1};
        } else if (std::sscanf(m->c_str(), "free space in bytes between partition %d and partition %d = %llu", &i, &k,
                               &bytes) == 3) {
            current = FoundGap{i, k};
        } else if (*m == "Did not find any later partitions than this one, checking versus the end of the drive") {
            current.before = -1;
        } else if (*m == "Found enough free space" || *m == "Found enough free space at end of drive") {
            found = current;
        }
    }
    return found;
}

void AskUnpartitionedSpace(Run& run) {
    Check& c = Add(run, "unpartitionedSpace", "bootDisk", "Unpartitioned space", "DriveFreeSpace::DoNotNeedToResize");
    const bool room = run.session.driveFreeSpace.DoNotNeedToResize(run.options.sizeMB);
    TakeLog(run, c);
    run.unpartitionedLog = c.log;
    c.result = room;
    const std::string wanted = Find(c.log, "DriveFreeSpace::DoNotNeedToResize", "Therefore looking for ")
                                   .value_or(std::to_string(run.options.sizeMB) + "MB of unpartitioned space");
    const std::string asked = wanted.substr(0, wanted.find("MB")) + " MiB";
    if (room) {
        c.status = Status::Ok;
        c.answer = "yes";
        std::string where = "on the disk";
        if (auto gap = GapFromLog(c.log); gap && gap->after >= 0 && gap->after < 4)
            where = "after " + SlotName(run, static_cast<std::uint32_t>(gap->after)) +
                    (gap->before < 0 ? ", at the end of the disk" : "");
        c.why = "a gap of more than " + asked + " (the partition and a 25 MiB margin) lies " + where;
    } else {
        c.status = Status::Info;
        c.answer = "no";
        c.why = run.recordRead ? "no gap behind a partition holds " + asked + " (the partition and a 25 MiB margin)"
                               : "the partition table could not be read";
    }
}

void AskResize(Run& run, std::uint32_t mode) {
    Check& c = mode == 1 ? Add(run, "resizeNtfs", "bootDisk", "Shrinkable NTFS partition", "DriveFreeSpace::CanResize 1")
                         : Add(run, "resizeNtfsOrFat32", "bootDisk", "Shrinkable NTFS or FAT32", "DriveFreeSpace::CanResize 2");
    QF_DWORD value = 0, mask = 0;
    const bool can = run.session.driveFreeSpace.CanResize(mode, run.options.sizeMB, &value, &mask);
    TakeLog(run, c);
    c.result = can;
    c.details["dwPartitionsCanResizeBitmask"] = mask;
    (mode == 1 ? run.ntfsMask : run.anyMask) = can ? mask : 0;
    NoteFreeSpace(run, c.log);
    const std::string kinds = mode == 1 ? "NTFS partition" : "NTFS or FAT32 partition";
    if (can) {
        c.status = Status::Ok;
        c.answer = Letters(run, mask);
        c.why = "has at least " + std::to_string(run.options.sizeMB) + " MiB free, so it could give up the room";
    } else {
        c.status = Status::Info;
        c.answer = "none";
        c.why = run.recordRead ? "no primary " + kinds + " has " + std::to_string(run.options.sizeMB) + " MiB free"
                               : "the partition table could not be read";
    }
}

void AskDiskTest(Run& run) {
    Check& c = Add(run, "diskTest", "bootDisk", "Room for the partition", "DriveFreeSpace::Test");
    const bool yes = run.session.driveFreeSpace.Test(run.options.sizeMB);
    TakeLog(run, c);
    run.testLog = c.log;
    c.result = yes;
    const std::string f = "DriveFreeSpace::Test";
    if (yes) {
        c.status = Status::Ok;
        c.answer = "yes";
        c.why = Has(c.log, f, "Found a resizable partition")
                    ? "the installer's disk question says yes: an NTFS partition can be shrunk"
                    : "the installer's disk question says yes: there is unpartitioned space of more than 1945 MiB";
    } else {
        c.status = Status::Warn;  // the verdict decides whether another way is left
        c.answer = "no";
        if (!run.recordRead)
            c.why = "the partition table could not be read";
        else if (Has(c.log, f, "No Free Primary Partition table entry found"))
            c.why = "the installer's disk question says no: no free primary slot";
        else
            c.why = "the installer's disk question says no: no unpartitioned space of more than 1945 MiB and no "
                    "NTFS partition with " + std::to_string(run.options.sizeMB) + " MiB free";
    }
}

void AskEnvironmentPartition(Run& run) {
    Check& c = Add(run, "environmentInstalled", "bootDisk", "QuillFrame partition",
                   "DriveFreeSpace::IsQuillFrameInstalled, DriveFreeSpace::GetQFPartitionSize");
    const bool installed = run.session.driveFreeSpace.IsQuillFrameInstalled();
    c.result = installed;
    std::optional<std::int64_t> size;
    if (installed && run.recordRead) {
        qf::tools::LargeInteger bytes;
        if (run.session.driveFreeSpace.GetQFPartitionSize(&run.record, bytes.get())) size = bytes.value();
    }
    TakeLog(run, c);
    if (installed) {
        c.status = Status::Blocks;
        c.answer = "installed";
        c.why = "a partition of type 0x49 is already on the boot disk";
        c.reason = "QuillFrame is already installed: its partition (type 0x49) is on the boot disk.";
        if (size) {
            c.details["sizeBytes"] = *size;
            c.why += " (" + Bytes(static_cast<std::uint64_t>(*size)) + ")";
        }
    } else if (run.recordRead) {
        c.status = Status::Ok;
        c.answer = "none";
        c.why = "no primary slot holds a partition of type 0x49";
    } else {
        c.status = Status::Info;
        c.answer = "unknown";
        c.why = "the partition table could not be read";
    }
}

void AskUnallocated(Run& run) {
    Check& c = Add(run, "unallocatedSpace", "bootDisk", "Unallocated space", "GetUnallocatedSpace");
    if (!run.recordRead) {
        c.status = Status::Skipped;
        c.answer = "not asked";
        c.why = "the boot disk's number is not known";
        return;
    }
    // No stretch at the end of the disk has to stay free: all of it counts.
    const int mib = GetUnallocatedSpace(static_cast<int>(run.record.DiskNumber), 0);
    TakeLog(run, c);
    c.result = mib;
    if (mib < 0) {
        c.status = Status::Warn;
        c.answer = "unknown";
        c.why = "the disk's size or layout could not be read";
        return;
    }
    c.status = Status::Info;
    c.answer = Bytes(static_cast<std::uint64_t>(mib) << 20);
    c.why = std::to_string(mib) + " MiB of the boot disk " + (mib == 1 ? "lies" : "lie") + " outside every partition";
}

// --- devices -------------------------------------------------------------------------

void AskController(Run& run) {
    Check& c = Add(run, "bootDiskController", "devices", "Boot disk controller",
                   "EnumerateDiskDevices::GetBootDiskControllerAddress, "
                   "EnumerateDiskDevices::IsOnlyDiskConnectedToController");
    QF_WCHAR address[kIdCapacity] = {};
    const bool found = run.session.diskDevices.GetBootDiskControllerAddress(address);
    c.result = found;
    std::string text;
    for (std::size_t i = 0; i < kIdCapacity && address[i]; ++i) text += static_cast<char>(address[i] < 0x80 ? address[i] : '?');
    if (!found) {
        TakeLog(run, c);
        c.status = Status::Warn;
        c.answer = "not found";
        c.why = "the boot disk's controller could not be found";
        return;
    }
    c.details["address"] = text;
    const bool alone = run.session.diskDevices.IsOnlyDiskConnectedToController(address);
    TakeLog(run, c);
    c.details["onlyDisk"] = alone;
    // The parent's whole ID, from the table the question just filled.
    std::string parent;
    for (const auto& slot : run.session.diskDevices.DisksDeviceID) {
        std::u16string id;
        for (std::size_t i = 0; i < kIdCapacity && slot[i]; ++i) id.push_back(static_cast<char16_t>(slot[i]));
        if (!text.empty() && qf::ToUtf8(id).find(text) != std::string::npos) {
            parent = qf::ToUtf8(id);
            break;
        }
    }
    if (!parent.empty()) c.details["parentDeviceId"] = parent;
    c.status = Status::Info;
    c.answer = alone ? "disk alone on it" : "shared";
    c.why = "address " + text + (parent.empty() ? "" : " (" + parent + ")") +
            (alone ? "; no other disk hangs off it" : "; other disks hang off it too");
}

// The PCI devices' hardware-ID lists, with the buffer size the first call
// reports, as a caller that does not know the size asks.
void AskPciDevices(Run& run) {
    Check& c = Add(run, "pciDevices", "devices", "PCI devices", "EnumeratePCIDevices::GetDevices");
    EnumeratePCIDevices pci;
    QF_DWORD required = 0;
    unsigned char probe[2] = {};
    bool ok = pci.GetDevices(probe, 0, &required);
    std::vector<unsigned char> buffer;
    if (!ok && required > 0) {
        buffer.assign(required, 0);
        ok = pci.GetDevices(buffer.data(), required, &required);
    }
    TakeLog(run, c);
    c.result = ok;
    Json devices = Json::array();
    if (ok) {
        // UTF-16LE multi-strings, one after the other.
        Json ids = Json::array();
        std::u16string id;
        for (std::size_t at = 0; at + 1 < buffer.size(); at += 2) {
            const char16_t unit = static_cast<char16_t>(buffer[at] | buffer[at + 1] << 8);
            if (unit != 0) {
                id.push_back(unit);
            } else if (!id.empty()) {
                ids.push_back(qf::ToUtf8(id));
                id.clear();
            } else {
                devices.push_back(ids);
                ids = Json::array();
            }
        }
    }
    c.details["devices"] = devices;
    if (!ok) {
        c.status = Status::Warn;
        c.answer = "not read";
        c.why = "the PCI devices could not be listed";
        return;
    }
    c.status = Status::Info;
    c.answer = std::to_string(devices.size()) + (devices.size() == 1 ? " device" : " devices");
    std::string names;
    for (const Json& d : devices) {
        if (d.empty()) continue;
        // "PCI\VEN_8086&DEV_2A00&..." shows as 8086:2A00.
        const std::string first = d[0].get<std::string>();
        const auto ven = first.find("VEN_"), dev = first.find("DEV_");
        std::string name = first;
        if (ven != std::string::npos && dev != std::string::npos)
            name = first.substr(ven + 4, 4) + ":" + first.substr(dev + 4, 4);
        names += (names.empty() ? "" : " ") + name;
    }
    c.why = names.empty() ? "no PCI device reported a hardware ID" : "vendor:device " + names;
}

// --- the disk picture and the verdict ---------------------------------------------------

const Check* Get(const Result& r, const char* id) { return r.Find(id); }

bool Answered(const Check* c) { return c && c->status != Status::Skipped; }
bool IsTrue(const Check* c) { return Answered(c) && c->result.is_boolean() && c->result.get<bool>(); }
bool IsFalse(const Check* c) { return Answered(c) && c->result.is_boolean() && !c->result.get<bool>(); }

void DrawDisk(Run& run) {
    DiskPicture& disk = run.result.disk;
    if (!disk.read) return;
    // The disk's size, as the drive geometry gives it.
    qf::platform::unique_handle h = qf::tools::OpenForReading(qf::tools::PhysicalDrivePath(disk.diskNumber));
    qf::tools::DiskGeometryEx geometry;
    if (h && qf::tools::GetDriveGeometryEx(h.get(), &geometry) && geometry.diskSize > 0)
        disk.sizeBytes = static_cast<std::uint64_t>(geometry.diskSize);
    h.reset();
    run.session.TakeLogLines();

    // With QuillFrame's partition already there, nothing new is placed.
    if (IsTrue(run.result.Find("environmentInstalled"))) return;
    const std::uint64_t sizeSectors = std::uint64_t{run.options.sizeMB} * kSectorsPerMB;
    Placement& p = disk.placement;
    auto gapFrom = [&](const std::vector<std::string>& log, const char* by) {
        auto gap = GapFromLog(log);
        if (!gap || gap->after < 0 || gap->after > 3) return false;
        const Slot& after = disk.slots[gap->after];
        const std::uint64_t start = after.startSector + after.sizeSectors;
        std::uint64_t end = 0;
        if (gap->before >= 0 && gap->before < 4) end = disk.slots[gap->before].startSector;
        else if (disk.sizeBytes) end = *disk.sizeBytes / kSectorBytes;
        p.kind = Placement::Kind::Gap;
        p.afterSlot = gap->after;
        p.beforeSlot = gap->before;
        p.startSector = start;
        p.gapSectors = end > start ? end - start : 0;
        p.foundBy = by;
        return true;
    };
    if (gapFrom(run.unpartitionedLog, "DriveFreeSpace::DoNotNeedToResize")) return;
    const std::uint32_t mask = run.ntfsMask ? run.ntfsMask : run.anyMask;
    if (mask) {
        std::uint32_t i = 0;
        while (!(mask & (1u << i))) ++i;
        const Slot& s = disk.slots[i];
        p.kind = Placement::Kind::Shrink;
        p.shrinkSlot = static_cast<int>(i);
        const std::uint64_t end = s.startSector + s.sizeSectors;
        p.startSector = end > sizeSectors ? end - sizeSectors : s.startSector;
        p.foundBy = run.ntfsMask ? "DriveFreeSpace::CanResize 1" : "DriveFreeSpace::CanResize 2";
        return;
    }
    gapFrom(run.testLog, "DriveFreeSpace::Test");
}

void Decide(Run& run) {
    Result& r = run.result;

    // Each blocking answer in the order the questions were asked; two
    // questions that find the same thing give one reason.
    auto block = [&](const std::string& id, std::string text) {
        for (Reason& known : r.reasons)
            if (known.text == text) return known.checkIds.push_back(id);
        r.reasons.push_back({{id}, std::move(text)});
    };
    const std::string size = std::to_string(run.options.sizeMB) + " MiB";
    for (const Check& c : r.checks)
        if (c.status == Status::Blocks && !c.reason.empty()) block(c.id, c.reason);

    // Room for the partition: a free slot, and unpartitioned space or a
    // partition to shrink (the installer's own answer, or either mode of the
    // resize question).
    const Check* freeSlot = Get(r, "freeSlot");
    const bool route = IsTrue(Get(r, "diskTest")) || IsTrue(Get(r, "unpartitionedSpace")) || run.ntfsMask || run.anyMask;
    Check* test = nullptr;
    for (Check& c : r.checks)
        if (c.id == "diskTest") test = &c;
    if (run.recordRead && IsTrue(freeSlot) && !route) {
        block("diskTest", "No room for a " + size + " partition: no large enough unpartitioned gap, and no NTFS or FAT32 "
                          "partition with " + size + " free to shrink.");
        if (test) test->status = Status::Blocks;
    } else if (test && IsFalse(test) && IsTrue(freeSlot) && route) {
        test->why += "; another way is left (see the note under the verdict)";
        std::string other;
        if (IsTrue(Get(r, "unpartitionedSpace")))
            other = "DriveFreeSpace::DoNotNeedToResize finds unpartitioned space for it (DriveFreeSpace::Test looks "
                    "for 1945 MiB of it, whatever the size)";
        else if (run.ntfsMask)
            other = "DriveFreeSpace::CanResize in mode 1 finds " + Letters(run, run.ntfsMask) + " to shrink";
        else
            other = "DriveFreeSpace::CanResize in mode 2, which takes FAT32 too, finds " + Letters(run, run.anyMask) +
                    " to shrink";
        r.notes.push_back("DriveFreeSpace::Test says no, but " + other + ".");
    } else if (test && IsFalse(test) && !IsTrue(freeSlot)) {
        test->status = Status::Blocks;
    }

    r.ready = r.reasons.empty();
}

}  // namespace

const char* StatusName(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Blocks: return "blocks";
    case Status::Warn: return "warn";
    case Status::Info: return "info";
    case Status::Skipped: return "skipped";
    }
    return "?";
}

const Check* Result::Find(const std::string& id) const {
    for (const Check& c : checks)
        if (c.id == id) return &c;
    return nullptr;
}

Result Run(Session& session, const Options& options, std::string machineName, std::string machineSource) {
    Result result;
    result.machineName = std::move(machineName);
    result.machineSource = std::move(machineSource);
    result.sizeMB = options.sizeMB;
    result.settingsDir = options.settingsDir;
    result.logPath = session.logPath();
    session.TakeLogLines();

    struct Run run{session, options, result, {}, false, 0, 0, {}, {}};
    // The installer's order: can the machine host the environment at all,
    // then where its partition goes, then the devices it will hand over.
    AskProcessorVT(run);
    AskVTEnabled(run);
    AskOtherHypervisor(run);
    AskQuillFrameRunning(run);
    AskOperatingSystem(run);
    AskMemory(run);
    AskEncryption(run);
    AskNativeWindows(run);
    AskManufacturer(run);

    AskBootDisk(run);
    AskFreeSlot(run);
    AskUnpartitionedSpace(run);
    AskResize(run, 1);
    AskResize(run, 2);
    AskDiskTest(run);
    AskEnvironmentPartition(run);
    AskUnallocated(run);

    AskController(run);
    AskPciDevices(run);

    DrawDisk(run);
    Decide(run);
    return result;
}

}  // namespace qfcheck::preflight
