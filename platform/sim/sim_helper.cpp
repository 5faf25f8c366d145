// The simulated system services of the helper library: the raw firmware
// table, profile files (read from the host), the process list, disks opened
// by 8-bit paths with their old-style layout and geometry requests,
// processes (only the system's diskpart, simulated on the machine's disks)
// and message boxes, which the simulated user closes at once.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "platform/sim/sim_platform.h"

namespace qf::sim {

using namespace platform;

namespace {

enum : std::uint32_t {
    kErrorNoMoreFiles = 18,
    kErrorBadLength = 24,
    kMediaFixed = 12,  // FixedMedia
    kIdOk = 1,
};

// diskpart's exit codes.
enum : std::uint32_t {
    kDiskpartBadArguments = 2,
    kDiskpartCannotOpenScript = 3,
    kDiskpartScriptError = 5,  // a syntax error, or an object selected wrongly or not at all
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool SameNoCase(std::string_view a, std::string_view b) { return Lower(std::string(a)) == Lower(std::string(b)); }

// A command line's words: blanks separate them, double quotes group.
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
            if (line[i] == '"') quoted = !quoted;
            else word += line[i];
        }
        words.push_back(word);
    }
    return words;
}

std::string HostPathOf(const char* path) { return SimPlatform::HostPath(Widen(path)); }

}  // namespace

// --- firmware table -------------------------------------------------------------

std::uint32_t SimPlatform::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t, void* buffer,
                                                  std::uint32_t bufferSize) {
    const auto forced = Rule("GetSystemFirmwareTable");
    if (forced && forced->error) return Fail(*forced->error), 0;
    // The raw SMBIOS provider answers whatever table is asked for.
    if (provider != Platform::kProviderRsmb) return Fail(kErrorInvalidParameter), 0;
    const Bytes& data = machine_.firmware.rsmb;
    const auto size = static_cast<std::uint32_t>(data.size());
    if (size == 0) return Fail(kErrorInvalidFunction), 0;
    if (buffer && bufferSize >= size) std::memcpy(buffer, data.data(), size);
    else lastError_ = kErrorInsufficientBuffer;
    return forced && forced->returns ? *forced->returns : size;
}

// --- profile files ----------------------------------------------------------------

std::uint32_t SimPlatform::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                                    char* returned, std::uint32_t size, const char* fileName) {
    Trace("GetPrivateProfileStringA", Widen(fileName ? fileName : ""));
    if (size == 0) return 0;
    // The default loses its trailing blanks, as the system's does.
    std::string value = defaultValue ? defaultValue : "";
    while (!value.empty() && IsBlank(value.back())) value.pop_back();
    if (section && key && fileName) {
        std::ifstream in(HostPathOf(fileName), std::ios::binary);
        bool inSection = false;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string text = Trim(line);
            if (!text.empty() && text[0] == '[') {
                const std::size_t close = text.find(']');
                inSection = SameNoCase(Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                                       section);
                continue;
            }
            const std::size_t eq = text.find('=');
            if (inSection && eq != std::string::npos && SameNoCase(Trim(text.substr(0, eq)), key)) {
                value = Trim(text.substr(eq + 1));
                break;
            }
        }
    }
    const std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(returned, value.data(), n);
    returned[n] = 0;
    return static_cast<std::uint32_t>(n);
}

// --- process list -----------------------------------------------------------------

Handle SimPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
    if (auto f = Rule("CreateToolhelp32Snapshot")) {
        lastError_ = f->error.value_or(kErrorAccessDenied);
        return kInvalidHandle;
    }
    // A snapshot without the process list lists no processes.
    const std::u16string what = flags & Platform::kTh32csSnapProcess ? u"processes" : u"";
    return AddHandle(Object{Object::Kind::Snapshot, "snapshot " + ToUtf8(what), what, 0, nullptr});
}

bool SimPlatform::Process32First(Handle snapshot, ProcessEntry* entry) {
    if (auto f = Rule("Process32First")) return Fail(f->error.value_or(kErrorNoMoreFiles));
    Object* o = FindHandle(snapshot);
    if (!o || o->kind != Object::Kind::Snapshot) return Fail(kErrorInvalidHandle);
    o->index = 0;
    return Process32Next(snapshot, entry);
}

bool SimPlatform::Process32Next(Handle snapshot, ProcessEntry* entry) {
    Object* o = FindHandle(snapshot);
    if (!o || o->kind != Object::Kind::Snapshot) return Fail(kErrorInvalidHandle);
    if (!entry || entry->size < Platform::kProcessEntry32Size) return Fail(kErrorBadLength);
    if (o->path.empty() || o->index >= machine_.processes.size()) return Fail(kErrorNoMoreFiles);
    const std::string& name = machine_.processes[o->index++];
    const std::size_t n = std::min(name.size(), sizeof entry->exeFile - 1);
    std::memcpy(entry->exeFile, name.data(), n);
    entry->exeFile[n] = 0;
    return true;
}

// --- disks by 8-bit paths -----------------------------------------------------------

Handle SimPlatform::CreateFileA(const char* path, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    const std::string asked = path ? path : "";
    // The system drops trailing blanks from the last component of the path.
    std::string opened = asked;
    while (!opened.empty() && opened.back() == ' ') opened.pop_back();
    const auto forced = Rule("CreateFileA", Widen(opened));
    calls_.back() = "CreateFileA " + asked;  // the trace shows the path as the caller wrote it
    if (forced) {
        lastError_ = forced->error.value_or(kErrorAccessDenied);
        return kInvalidHandle;
    }
    return OpenPath(Widen(opened));
}

std::optional<bool> SimPlatform::HelperDiskRequest(const Object& disk, std::uint32_t code, void* out,
                                                   std::uint32_t outSize, std::uint32_t* bytesReturned) {
    const Disk& d = machine_.disks[disk.index];
    // DISK_GEOMETRY: cylinders, media type, tracks per cylinder, sectors per
    // track, bytes per sector.
    const auto geometry = [&](ByteWriter& w) {
        const std::uint64_t cylinder = std::uint64_t{d.bytesPerSector} * d.tracksPerCylinder * d.sectorsPerTrack;
        w.u64(cylinder ? d.sizeBytes / cylinder : 0);
        w.u32(kMediaFixed);
        w.u32(d.tracksPerCylinder);
        w.u32(d.sectorsPerTrack);
        w.u32(d.bytesPerSector);
    };
    switch (code) {
    case kIoctlDiskGetDriveGeometry: {
        if (outSize < 24) return Fail(kErrorInsufficientBuffer);
        ByteWriter w(out, outSize);
        geometry(w);
        if (bytesReturned) *bytesReturned = 24;
        return true;
    }
    case kIoctlDiskGetDriveLayout: {
        // DRIVE_LAYOUT_INFORMATION: count, signature, then one 32-byte
        // PARTITION_INFORMATION per entry of the layout.
        const std::size_t needed = 8 + 32 * d.partitions.size();
        if (outSize < needed) return Fail(kErrorInsufficientBuffer);
        ByteWriter w(out, outSize);
        w.u32(d.partitions.size());
        std::uint32_t signature = 0;
        if (d.style == PartitionStyle::Mbr && d.firstSector.size() >= 444)
            for (int i = 0; i < 4; ++i) signature |= std::uint32_t{d.firstSector[440 + i]} << (8 * i);
        w.u32(signature);
        for (std::size_t i = 0; i < d.partitions.size(); ++i) {
            const Partition& p = d.partitions[i];
            w.seek(8 + 32 * i);  // 28 bytes of fields, padded to 32
            w.u64(p.start);
            w.u64(p.length);
            w.u32(d.bytesPerSector ? p.start / d.bytesPerSector : 0);  // HiddenSectors
            w.u32(p.number);
            w.u8(p.type);
            w.u8(0);                                          // BootIndicator
            w.u8(p.type != 0);                                // RecognizedPartition
            w.u8(0);                                          // RewritePartition
        }
        if (bytesReturned) *bytesReturned = static_cast<std::uint32_t>(needed);
        return true;
    }
    default:
        return std::nullopt;
    }
}

// --- processes ------------------------------------------------------------------------

std::uint32_t SimPlatform::GetSystemDirectoryA(char* buffer, std::uint32_t capacity) {
    const std::string dir = Narrow(machine_.os.windowsDirectory) + "\\System32";
    if (dir.size() + 1 > capacity) return static_cast<std::uint32_t>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<std::uint32_t>(dir.size());
}

bool SimPlatform::CreateProcessA(const char* applicationName, char* commandLine, bool, std::uint32_t,
                                 ProcessInformation* information) {
    const std::string line = commandLine ? commandLine : "";
    // Without an application name the command line's first word names it.
    std::string module = applicationName ? applicationName : "";
    std::size_t argumentsAt = 0;
    if (!line.empty()) {
        std::size_t i = 0;
        while (i < line.size() && IsBlank(line[i])) ++i;
        const bool quoted = i < line.size() && line[i] == '"';
        const std::size_t end = quoted ? line.find('"', i + 1) : line.find_first_of(" \t", i);
        if (module.empty()) module = line.substr(i + quoted, end == std::string::npos ? std::string::npos : end - i - quoted);
        argumentsAt = end == std::string::npos ? line.size() : end + quoted;
    }
    const auto forced = Rule("CreateProcessA", Widen(module));
    calls_.back() += " commandLine=" + line;
    if (forced) return Fail(forced->error.value_or(kErrorAccessDenied));

    char systemDir[260];
    GetSystemDirectoryA(systemDir, sizeof systemDir);
    const std::string diskpart = std::string(systemDir) + "\\diskpart.exe";
    // The search for a bare name: the current folder (the host's), then
    // the system folder. The simulated Windows folder holds diskpart alone;
    // another program is simulated when its file exists on the host: it
    // runs and changes nothing.
    std::string program = module;
    const bool bare = module.find_first_of("\\/") == std::string::npos;
    if (bare) {
        std::string name = module;
        if (!applicationName && name.find('.') == std::string::npos) name += ".exe";
        std::error_code ec;
        program = std::filesystem::is_regular_file(name, ec) ? ".\\" + name : std::string(systemDir) + "\\" + name;
    }
    std::uint32_t exitCode = 0;
    std::error_code ec;
    if (SameNoCase(program, diskpart)) {
        switch (machine_.os.diskpart) {
        case DiskpartMode::Absent: return Fail(kErrorFileNotFound);
        case DiskpartMode::FixedExit: exitCode = static_cast<std::uint32_t>(machine_.os.diskpartExitCode); break;
        case DiskpartMode::Present: exitCode = RunDiskpart(line.substr(argumentsAt)); break;
        }
    } else {
        const std::string windows = Narrow(machine_.os.windowsDirectory) + "\\";
        if (SameNoCase(program.substr(0, windows.size()), windows) ||
            !std::filesystem::is_regular_file(HostPath(Widen(program)), ec))
            return Fail(kErrorFileNotFound);
    }
    information->process = AddHandle(Object{Object::Kind::Process, "process " + program, Widen(program), exitCode, nullptr});
    information->thread = AddHandle(Object{Object::Kind::Thread, "thread of " + program, Widen(program), 0, nullptr});
    information->processId = static_cast<std::uint32_t>(information->process);
    information->threadId = static_cast<std::uint32_t>(information->thread);
    return true;
}

std::uint32_t SimPlatform::WaitForSingleObject(Handle object, std::uint32_t) {
    Trace("WaitForSingleObject");
    // A simulated program has ended by the time its start returns.
    if (!FindHandle(object)) return Fail(kErrorInvalidHandle), Platform::kWaitFailed;
    return Platform::kWaitObject0;
}

bool SimPlatform::GetExitCodeProcess(Handle process, std::uint32_t* exitCode) {
    const Object* o = FindHandle(process);
    if (!o || o->kind != Object::Kind::Process) return Fail(kErrorInvalidHandle);
    *exitCode = o->index;
    return true;
}

int SimPlatform::MessageBoxA(std::uintptr_t, const char* text, const char* caption, std::uint32_t type) {
    Trace("MessageBoxA", Widen(text ? text : ""));
    messageBoxes_.push_back({text ? text : "", caption ? caption : "", type});
    return kIdOk;
}

// The system's partitioning tool on a script: "select disk N", "select
// partition N", "delete partition", "exit", "rem" lines and blank lines,
// words abbreviated as diskpart allows. Each command takes effect at once;
// the first that cannot be carried out ends the run with its exit code.
std::uint32_t SimPlatform::RunDiskpart(const std::string& arguments) {
    const std::vector<std::string> args = Words(arguments);
    if (args.size() != 2 || !SameNoCase(args[0], "/s")) return kDiskpartBadArguments;
    std::ifstream in(HostPathOf(args[1].c_str()), std::ios::binary);
    if (!in) return kDiskpartCannotOpenScript;

    // A word that abbreviates `full` to at least `least` letters.
    const auto is = [](const std::string& word, const char* full, std::size_t least) {
        const std::string w = Lower(word);
        return w.size() >= least && std::string_view(full).substr(0, w.size()) == w;
    };
    const auto number = [](const std::string& word) -> std::optional<std::uint32_t> {
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        if (word.empty() || word.size() > 9 || !std::all_of(word.begin(), word.end(), digit)) return std::nullopt;
        return static_cast<std::uint32_t>(std::stoul(word));
    };
    Disk* disk = nullptr;
    constexpr std::size_t kNone = SIZE_MAX;
    std::size_t partition = kNone;  // index in the disk's layout
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> w = Words(line);
        if (w.empty() || is(w[0], "rem", 3)) continue;
        if (is(w[0], "exit", 4) && w.size() == 1) return 0;
        if (is(w[0], "select", 3) && w.size() == 3) {
            const auto n = number(w[2]);
            if (!n) return kDiskpartScriptError;
            if (is(w[1], "disk", 4)) {
                const auto it = std::find_if(machine_.disks.begin(), machine_.disks.end(),
                                             [&](const Disk& d) { return d.number == *n; });
                if (it == machine_.disks.end()) return kDiskpartScriptError;
                disk = &*it;
                partition = kNone;
                continue;
            }
            if (is(w[1], "partition", 4)) {
                if (!disk) return kDiskpartScriptError;
                const auto it = std::find_if(disk->partitions.begin(), disk->partitions.end(),
                                             [&](const Partition& p) { return p.type != 0 && p.number == *n; });
                if (it == disk->partitions.end()) return kDiskpartScriptError;
                partition = static_cast<std::size_t>(it - disk->partitions.begin());
                continue;
            }
            return kDiskpartScriptError;
        }
        if (is(w[0], "delete", 3) && (w.size() == 2 || (w.size() == 3 && is(w[2], "override", 8))) &&
            is(w[1], "partition", 4)) {
            if (!disk || partition == kNone) return kDiskpartScriptError;
            const Partition gone = disk->partitions[partition];
            // An MBR primary slot stays in the layout, unused; other entries leave it.
            if (disk->style == PartitionStyle::Mbr && partition < 4) disk->partitions[partition] = Partition{};
            else disk->partitions.erase(disk->partitions.begin() + static_cast<std::ptrdiff_t>(partition));
            // A drive letter on the partition goes with it.
            auto& volumes = machine_.volumes;
            volumes.erase(std::remove_if(volumes.begin(), volumes.end(),
                                         [&](const Volume& v) {
                                             return std::any_of(v.extents.begin(), v.extents.end(), [&](const Extent& e) {
                                                 return e.disk == disk->number && e.start == gone.start;
                                             });
                                         }),
                          volumes.end());
            partition = kNone;
            continue;
        }
        return kDiskpartScriptError;
    }
    return 0;
}

}  // namespace qf::sim
