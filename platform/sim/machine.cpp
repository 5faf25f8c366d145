// Loader of machine descriptions ("qf-machine/1"): checks every key, applies the
// defaults and derives what the description leaves out, so that the simulated
// platform never has to guess.
#include "platform/sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <set>

#include <nlohmann/json.hpp>

#include "common/text.h"

namespace qf::sim {
namespace {

#include "default_machine_json.inc"

// Ordered, so that WMI properties keep the description's order.
using Json = nlohmann::ordered_json;

constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint32_t kVmxBit = 1u << 5;
// Core 2 Duo (Merom): SSE3, MONITOR, VMX, EST, TM2, SSSE3, CX16, xTPR, PDCM.
constexpr std::uint32_t kDefaultCpuid1Ecx = 0x0000E3BD;
constexpr char16_t kDiskInterfaceClass[] = u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw MachineError(path, reason);
}

// A JSON value and the path that names it in error messages.
struct Node {
    const Json& v;
    std::string path;

    std::optional<Node> Get(const char* key) const {
        auto it = v.find(key);
        if (it == v.end()) return std::nullopt;
        return Node{*it, Key(key)};
    }
    Node Need(const char* key) const {
        if (auto n = Get(key)) return *n;
        Fail(Key(key), "required key is missing");
    }
    std::string Key(std::string_view key) const {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }
};

const Node& Obj(const Node& n) {
    if (!n.v.is_object()) Fail(n.path.empty() ? "$" : n.path, "expected an object");
    return n;
}

// An object whose keys are all among `keys`.
const Node& Obj(const Node& n, std::initializer_list<std::string_view> keys) {
    for (const auto& [key, value] : Obj(n).v.items())
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) Fail(n.Key(key), "unknown key");
    return n;
}

std::vector<Node> Arr(const Node& n) {
    if (!n.v.is_array()) Fail(n.path, "expected an array");
    std::vector<Node> items;
    for (std::size_t i = 0; i < n.v.size(); ++i)
        items.push_back({n.v[i], n.path + "[" + std::to_string(i) + "]"});
    return items;
}

bool Bool(const Node& n) {
    if (!n.v.is_boolean()) Fail(n.path, "expected true or false");
    return n.v.get<bool>();
}

const std::string& Str(const Node& n) {
    if (!n.v.is_string()) Fail(n.path, "expected a string");
    return n.v.get_ref<const std::string&>();
}

std::u16string WStr(const Node& n) { return FromUtf8(Str(n)); }

std::optional<std::u16string> OptWStr(const Node& n) {
    if (n.v.is_null()) return std::nullopt;
    if (!n.v.is_string()) Fail(n.path, "expected a string or null");
    return FromUtf8(n.v.get_ref<const std::string&>());
}

std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return s;
}

// Accepted values of a number; `expected` overrides the generic reason.
struct Range {
    std::int64_t lo;
    std::uint64_t hi;
    const char* expected = nullptr;
};
constexpr Range kU8{0, 0xFF}, kU16{0, 0xFFFF}, kU32{0, 0xFFFFFFFF};
constexpr Range kBytes{0, UINT64_MAX,
                       "expected a byte count: an integer, a \"0x..\" string or a size like \"500GiB\""};
// Win32 errors, HRESULTs and the like: signed or unsigned 32-bit.
constexpr Range kWord{INT32_MIN, 0xFFFFFFFF, "expected a 32-bit integer or a \"0x..\" string"};

int Digit(char c, unsigned base) {
    const int d = c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    return d < static_cast<int>(base) ? d : -1;
}

// "1234", "0x1F" or "500GiB", without sign.
std::uint64_t ParseMagnitude(std::string_view s, const std::string& path, const std::string& expected,
                             const std::string& shown) {
    const bool hex = s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    std::size_t i = hex ? 2 : 0;
    const std::size_t first = i;
    std::uint64_t v = 0;
    for (int d; i < s.size() && (d = Digit(s[i], base)) >= 0; ++i) {
        if (v > (UINT64_MAX - d) / base) Fail(path, shown + " is too large");
        v = v * base + d;
    }
    const std::string_view unit = s.substr(i);
    const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    if (i == first || (!unit.empty() && (hex || !std::all_of(unit.begin(), unit.end(), letter))))
        Fail(path, expected);
    if (unit.empty()) return v;
    static constexpr std::pair<std::string_view, int> kUnits[] = {{"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"TiB", 40}};
    for (const auto& [name, shift] : kUnits) {
        if (unit != name) continue;
        if (v > UINT64_MAX >> shift) Fail(path, shown + " is too large");
        return v << shift;
    }
    Fail(path, "unknown unit \"" + std::string(unit) + "\" (use KiB, MiB, GiB or TiB)");
}

// The value's bit pattern: negative values come back in two's complement.
std::uint64_t Number(const Node& n, const Range& r) {
    const std::string bounds = std::to_string(r.lo) + "-" + std::to_string(r.hi);
    const std::string expected = r.expected ? r.expected : "expected an integer " + bounds + " or a \"0x..\" string";
    const std::string shown = n.v.dump();
    bool negative = false;
    std::uint64_t mag = 0;
    if (n.v.is_number_unsigned()) {
        mag = n.v.get<std::uint64_t>();
    } else if (n.v.is_number_integer()) {
        negative = true;
        mag = 0 - static_cast<std::uint64_t>(n.v.get<std::int64_t>());
    } else if (n.v.is_string()) {
        std::string_view s = n.v.get_ref<const std::string&>();
        negative = !s.empty() && s[0] == '-';
        mag = ParseMagnitude(s.substr(negative), n.path, expected, shown);
    } else {
        Fail(n.path, expected);
    }
    negative = negative && mag != 0;
    if (negative && r.lo >= 0) Fail(n.path, shown + " is negative");
    const bool below = negative ? mag - 1 > static_cast<std::uint64_t>(-(r.lo + 1))
                                : r.lo > 0 && mag < static_cast<std::uint64_t>(r.lo);
    if (below || (!negative && mag > r.hi)) Fail(n.path, shown + " is out of range " + bounds);
    return negative ? 0 - mag : mag;
}

std::uint8_t U8(const Node& n) { return static_cast<std::uint8_t>(Number(n, kU8)); }
std::uint32_t U32(const Node& n) { return static_cast<std::uint32_t>(Number(n, kU32)); }
std::uint64_t ByteCount(const Node& n) { return Number(n, kBytes); }
std::uint32_t Word(const Node& n) { return static_cast<std::uint32_t>(Number(n, kWord)); }

Bytes Hex(const Node& n) {
    const std::string& s = Str(n);
    std::string digits;
    for (char c : s) {
        if (c == ' ') continue;
        if (Digit(c, 16) < 0) Fail(n.path, "'" + std::string(1, c) + "' is not a hex digit");
        digits += c;
    }
    if (digits.size() % 2) Fail(n.path, "odd number of hex digits");
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(Digit(digits[i], 16) * 16 + Digit(digits[i + 1], 16)));
    return out;
}

void PutLe(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Json Parse(std::string_view text) {
    // The parser keeps only the last of repeated keys; a repeated key is as
    // suspicious as an unknown one, so refuse it.
    std::vector<std::set<std::string>> keys;
    auto check = [&keys](int depth, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            keys.resize(depth + 2);
            keys[depth + 1].clear();
        } else if (event == Json::parse_event_t::key && !keys[depth].insert(parsed.get<std::string>()).second) {
            Fail("$", "duplicate key \"" + parsed.get<std::string>() + "\"");
        }
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), check);
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 2, ...": the reason without the library's tag.
        std::string reason = e.what();
        if (reason.rfind("[json.exception.", 0) == 0 && reason.find("] ") != std::string::npos)
            reason.erase(0, reason.find("] ") + 2);
        Fail("$", reason);
    }
}

// ---- Built-in defaults, written as a description so they take the same path.

constexpr const char* kBuiltin = R"({
  "disks": [ { "sizeBytes": 160041885696 } ],
  "structures": [
    { "type": 1, "handle": "0x0001",
      "data": "01 02 03 04 104F8A2E C493 DC11 8B27 001B38A6F4C2 06 05 06",
      "strings": ["Northbay Computer Corp.", "Tessera T7", "A03", "7G3MK71", "Tessera T7 0x01C4", "Tessera"] },
    { "type": 127, "handle": "0xFEFF" }
  ],
  "pciDevices": [
    { "hardwareIds": ["PCI\\VEN_8086&DEV_2A00&SUBSYS_01F91028&REV_0C", "PCI\\VEN_8086&DEV_2A00&SUBSYS_01F91028",
                      "PCI\\VEN_8086&DEV_2A00&CC_060000", "PCI\\VEN_8086&DEV_2A00&CC_0600"] },
    { "hardwareIds": ["PCI\\VEN_8086&DEV_2A02&SUBSYS_01F91028&REV_0C", "PCI\\VEN_8086&DEV_2A02&SUBSYS_01F91028",
                      "PCI\\VEN_8086&DEV_2A02&CC_030000", "PCI\\VEN_8086&DEV_2A02&CC_0300"] }
  ],
  "acpiDevices": [
    { "hardwareIds": ["ACPI\\GenuineIntel_-_x86_Family_6_Model_15", "*GenuineIntel_-_x86_Family_6_Model_15"],
      "friendlyName": "Intel(R) Core(TM)2 Duo CPU     T7500  @ 2.20GHz" }
  ]
})";

const Node& Builtin() {
    static const Json doc = Json::parse(kBuiltin);
    static const Node node{doc, ""};
    return node;
}

// ---- Sections

OsInfo LoadOs(const Node& n) {
    OsInfo os;
    Obj(n, {"major", "minor", "servicePackMajor", "servicePackMinor", "productType", "wow64",
             "windowsDirectory", "bootDevice", "diskpart"});
    if (auto x = n.Get("major")) os.major = U32(*x);
    if (auto x = n.Get("minor")) os.minor = U32(*x);
    if (auto x = n.Get("servicePackMajor")) os.servicePackMajor = U32(*x);
    if (auto x = n.Get("servicePackMinor")) os.servicePackMinor = U32(*x);
    if (auto x = n.Get("productType")) os.productType = U32(*x);
    if (auto x = n.Get("wow64")) os.wow64 = Bool(*x);
    if (auto x = n.Get("windowsDirectory")) os.windowsDirectory = WStr(*x);
    if (auto x = n.Get("bootDevice")) os.bootDevice = OptWStr(*x);  // resolved later when absent
    if (auto x = n.Get("diskpart")) {
        if (x->v.is_object()) {
            os.diskpart = DiskpartMode::FixedExit;
            os.diskpartExitCode = static_cast<std::int32_t>(Word(Obj(*x, {"exitCode"}).Need("exitCode")));
        } else if (x->v.is_boolean()) {
            os.diskpart = x->v.get<bool>() ? DiskpartMode::Present : DiskpartMode::Absent;
        } else {
            Fail(x->path, "expected true, false or { \"exitCode\": n }");
        }
    }
    return os;
}

bool IsExtendedContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// The device path of a disk interface is its instance ID in lower case with
// '\' turned into '#', under "\\?\" and followed by the interface class.
std::u16string DevicePathOf(const std::u16string& instanceId) {
    std::u16string path = u"\\\\?\\" + Lower(instanceId) + u"#" + kDiskInterfaceClass;
    std::replace(path.begin() + 4, path.end(), u'\\', u'#');
    return path;
}

std::u16string InstanceIdOf(std::u16string path) {
    if (AsciiUpper(path.substr(0, 4)) == u"\\\\?\\") path.erase(0, 4);
    const auto classAt = path.rfind(u"#{");
    if (classAt != std::u16string::npos) path.erase(classAt);
    std::replace(path.begin(), path.end(), u'#', u'\\');
    return AsciiUpper(path);
}

Disk LoadDisk(const Node& n, std::uint32_t index) {
    Obj(n, {"number", "sizeBytes", "bytesPerSector", "tracksPerCylinder", "sectorsPerTrack", "style",
            "partitions", "firstSector", "devicePath", "instanceId", "parentInstanceId"});
    Disk d;
    d.number = index;
    if (auto x = n.Get("number")) d.number = U32(*x);
    d.sizeBytes = ByteCount(n.Need("sizeBytes"));
    if (auto x = n.Get("bytesPerSector")) d.bytesPerSector = U32(*x);
    if (auto x = n.Get("tracksPerCylinder")) d.tracksPerCylinder = U32(*x);
    if (auto x = n.Get("sectorsPerTrack")) d.sectorsPerTrack = U32(*x);
    if (auto x = n.Get("style")) {
        const auto& s = x->v.is_string() ? x->v.get_ref<const std::string&>() : std::string();
        if (s == "mbr") d.style = PartitionStyle::Mbr;
        else if (s == "gpt") d.style = PartitionStyle::Gpt;
        else if (s == "raw") d.style = PartitionStyle::Raw;
        else Fail(x->path, "expected \"mbr\", \"gpt\" or \"raw\"");
    }

    // The system numbers used partitions from 1 in layout order; on MBR disks
    // unused entries and extended containers have no number.
    std::uint32_t next = 1;
    const auto add = [&](Partition p, std::optional<std::uint32_t> number) {
        const bool numbered = d.style != PartitionStyle::Mbr || (p.type != 0 && !IsExtendedContainer(p.type));
        p.number = number ? *number : numbered ? next : 0;
        next += numbered;
        d.partitions.push_back(p);
    };
    if (auto list = n.Get("partitions")) {
        for (const Node& e : Arr(*list)) {
            Obj(e, {"type", "start", "length", "number"});
            Partition p;
            if (auto x = e.Get("type")) p.type = U8(*x);
            if (auto x = e.Get("start")) p.start = ByteCount(*x);
            if (auto x = e.Get("length")) p.length = ByteCount(*x);
            std::optional<std::uint32_t> number;
            if (auto x = e.Get("number")) number = U32(*x);
            add(p, number);
        }
    } else if (d.style != PartitionStyle::Raw) {
        // One NTFS partition from 1 MiB to the last whole MiB before the end;
        // an MBR layout always lists its four primary slots.
        const std::uint64_t end = d.sizeBytes ? (d.sizeBytes - 1) / kMiB * kMiB : 0;
        add({0x07, kMiB, end > kMiB ? end - kMiB : 0}, std::nullopt);
        if (d.style == PartitionStyle::Mbr)
            for (int i = 0; i < 3; ++i) add({}, std::nullopt);
    }

    if (auto x = n.Get("firstSector")) d.firstSector = Hex(*x);  // built later when absent
    const auto path = n.Get("devicePath");
    const auto id = n.Get("instanceId");
    const std::u16string num = Widen(std::to_string(d.number));
    d.instanceId = id ? WStr(*id)
                 : path ? InstanceIdOf(WStr(*path))
                 : u"IDE\\DISKVENDOR_MODEL_____________________1.0_____\\5&2AB1B9AB&0&0.0." + num;
    d.devicePath = path ? WStr(*path) : DevicePathOf(d.instanceId);
    d.parentInstanceId = u"PCIIDE\\IDECHANNEL\\4&2617AEAE&0&" + num;
    if (auto x = n.Get("parentInstanceId")) d.parentInstanceId = OptWStr(*x);
    return d;
}

// Cylinder/head/sector of an LBA; addresses past cylinder 1023 (or a geometry
// CHS cannot express) get the customary 1023/254/63 marker.
void PutChs(Bytes& b, std::size_t at, std::uint64_t lba, const Disk& d) {
    const std::uint32_t heads = d.tracksPerCylinder, spt = d.sectorsPerTrack;
    const std::uint64_t cyl = heads && spt ? lba / (std::uint64_t{heads} * spt) : UINT64_MAX;
    if (heads > 255 || spt > 63 || cyl > 1023) {
        b[at] = 0xFE, b[at + 1] = 0xFF, b[at + 2] = 0xFF;
        return;
    }
    b[at] = static_cast<std::uint8_t>(lba / spt % heads);
    b[at + 1] = static_cast<std::uint8_t>((lba % spt + 1) | ((cyl >> 2) & 0xC0));
    b[at + 2] = static_cast<std::uint8_t>(cyl);
}

void PutMbrEntry(Bytes& b, int slot, std::uint8_t status, std::uint8_t type, std::uint64_t firstLba,
                 std::uint64_t sectors, const Disk& d) {
    const std::size_t at = 446 + 16 * slot;
    b[at] = status;
    PutChs(b, at + 1, firstLba, d);
    b[at + 4] = type;
    PutChs(b, at + 5, firstLba + (sectors ? sectors - 1 : 0), d);
    PutLe(b, at + 8, std::min<std::uint64_t>(firstLba, UINT32_MAX), 4);
    PutLe(b, at + 12, std::min<std::uint64_t>(sectors, UINT32_MAX), 4);
}

// What the disk's first sector holds when the description does not say: an
// MBR of the first four entries (the boot volume's partition marked active),
// a protective MBR on GPT disks, nothing on raw disks.
Bytes BuildFirstSector(const Disk& d, const std::vector<Volume>& volumes, char16_t bootLetter) {
    Bytes b(512, 0);
    if (d.style == PartitionStyle::Raw) return b;
    b[510] = 0x55, b[511] = 0xAA;
    if (d.style == PartitionStyle::Gpt) {
        const std::uint64_t sectors = d.sizeBytes / 512;
        PutMbrEntry(b, 0, 0, 0xEE, 1, sectors ? sectors - 1 : 0, d);
        return b;
    }
    const auto holdsBoot = [&](const Partition& p) {
        for (const Volume& v : volumes)
            if (v.letter == bootLetter)
                for (const Extent& e : v.extents)
                    if (e.disk == d.number && e.start == p.start) return true;
        return false;
    };
    for (std::size_t i = 0; i < std::min<std::size_t>(d.partitions.size(), 4); ++i) {
        const Partition& p = d.partitions[i];
        if (p.type != 0)
            PutMbrEntry(b, static_cast<int>(i), holdsBoot(p) ? 0x80 : 0, p.type, p.start / 512, p.length / 512, d);
    }
    return b;
}

char16_t Letter(const Node& n) {
    const std::string& s = n.v.is_string() ? n.v.get_ref<const std::string&>() : std::string();
    if (s.size() != 1 || !std::isalpha(static_cast<unsigned char>(s[0])))
        Fail(n.path, "expected a drive letter \"A\" to \"Z\"");
    return static_cast<char16_t>(std::toupper(static_cast<unsigned char>(s[0])));
}

Volume LoadVolume(const Node& n, const std::vector<Disk>& disks) {
    Obj(n, {"letter", "device", "extents", "driveType", "freeBytes"});
    Volume v;
    v.letter = Letter(n.Need("letter"));
    if (auto x = n.Get("device")) v.device = WStr(*x);  // numbered by the caller when absent
    if (auto list = n.Get("extents")) {
        for (const Node& e : Arr(*list)) {
            Obj(e, {"disk", "start", "length"});
            const Node disk = e.Need("disk");
            Extent x{U32(disk), ByteCount(e.Need("start")), ByteCount(e.Need("length"))};
            if (std::none_of(disks.begin(), disks.end(), [&](const Disk& d) { return d.number == x.disk; }))
                Fail(disk.path, "no disk has number " + std::to_string(x.disk));
            v.extents.push_back(x);
        }
    }
    v.driveType = v.extents.empty() ? 5 : 3;
    if (auto x = n.Get("driveType")) v.driveType = U32(*x);
    if (auto x = n.Get("freeBytes")) v.freeBytes = ByteCount(*x);
    return v;
}

std::vector<Volume> DefaultVolumes(const std::vector<Disk>& disks) {
    if (disks.empty()) return {};
    const auto& parts = disks[0].partitions;
    const auto p = std::find_if(parts.begin(), parts.end(), [](const Partition& p) { return p.type != 0; });
    if (p == parts.end()) return {};
    Volume c;
    c.device = u"\\Device\\HarddiskVolume1";
    c.extents = {{disks[0].number, p->start, p->length}};
    c.freeBytes = std::min<std::uint64_t>(40ull << 30, p->length / 2);
    return {c};
}

Bytes BuildStructureTable(const Node& list) {
    Bytes t;
    const auto items = Arr(list);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Node& s = Obj(items[i], {"type", "handle", "data", "strings"});
        const std::uint8_t type = U8(s.Need("type"));
        std::uint64_t handle = i;
        if (auto x = s.Get("handle")) handle = Number(*x, kU16);
        Bytes data;
        if (auto x = s.Get("data")) data = Hex(*x);
        if (data.size() > 251) Fail(s.Key("data"), "the formatted area holds at most 251 bytes after the header");
        t.insert(t.end(), {type, static_cast<std::uint8_t>(4 + data.size()), static_cast<std::uint8_t>(handle),
                           static_cast<std::uint8_t>(handle >> 8)});
        t.insert(t.end(), data.begin(), data.end());
        std::size_t count = 0;
        if (auto list = s.Get("strings")) {
            for (const Node& x : Arr(*list)) {
                const std::string& text = Str(x);
                if (text.empty() || text.find('\0') != std::string::npos)
                    Fail(x.path, "a string of the string-set must be non-empty and free of NUL");
                t.insert(t.end(), text.begin(), text.end());
                t.push_back(0);
                ++count;
            }
        }
        if (count == 0) t.push_back(0);
        t.push_back(0);
    }
    return t;
}

Firmware LoadFirmware(const Node& n) {
    Obj(n, {"smbiosVersion", "structures", "raw", "rsmb"});
    Firmware f;
    if (auto x = n.Get("smbiosVersion")) {
        if (!x->v.is_array() || x->v.size() != 2) Fail(x->path, "expected [major, minor]");
        const auto parts = Arr(*x);
        f.majorVersion = U8(parts[0]);
        f.minorVersion = U8(parts[1]);
    }
    const auto structures = n.Get("structures"), raw = n.Get("raw"), rsmb = n.Get("rsmb");
    if (structures && raw) Fail(n.path, "give either \"structures\" or \"raw\", not both");
    f.table = raw ? Hex(*raw) : BuildStructureTable(structures.value_or(Builtin().Need("structures")));
    if (rsmb) {
        f.rsmb = Hex(*rsmb);
    } else {
        // RawSMBIOSData: Used20CallingMethod, major, minor, DmiRevision, 32-bit length.
        f.rsmb = {0, f.majorVersion, f.minorVersion, 0, 0, 0, 0, 0};
        PutLe(f.rsmb, 4, f.table.size(), 4);
        f.rsmb.insert(f.rsmb.end(), f.table.begin(), f.table.end());
    }
    return f;
}

HardwareIds LoadHardwareIds(const Node& n) {
    if (n.v.is_null()) return std::nullopt;
    if (!n.v.is_array()) Fail(n.path, "expected an array of strings or null");
    std::vector<std::u16string> ids;
    for (const Node& x : Arr(n)) ids.push_back(WStr(x));
    return ids;
}

std::vector<PciDevice> LoadPci(const Node& list) {
    std::vector<PciDevice> out;
    for (const Node& n : Arr(list)) {
        Obj(n, {"hardwareIds"});
        PciDevice d;
        if (auto x = n.Get("hardwareIds")) d.hardwareIds = LoadHardwareIds(*x);
        out.push_back(d);
    }
    return out;
}

std::vector<AcpiDevice> LoadAcpi(const Node& list) {
    std::vector<AcpiDevice> out;
    for (const Node& n : Arr(list)) {
        Obj(n, {"hardwareIds", "friendlyName"});
        AcpiDevice d;
        if (auto x = n.Get("hardwareIds")) d.hardwareIds = LoadHardwareIds(*x);
        if (auto x = n.Get("friendlyName")) d.friendlyName = OptWStr(*x);
        out.push_back(d);
    }
    return out;
}

// ---- WMI

WmiValue Typed(std::int32_t cimType) {
    WmiValue v;
    v.cimType = cimType;
    return v;
}
WmiValue Text(std::u16string s) {
    WmiValue v;
    v.text = std::move(s);
    return v;
}
WmiValue Int(std::int32_t cimType, std::int64_t x) {
    WmiValue v = Typed(cimType);
    v.integer = x;
    return v;
}
WmiValue Null(std::int32_t cimType) {
    WmiValue v = Typed(cimType);
    v.isNull = true;
    return v;
}

Range IntRange(std::int32_t base) {
    switch (base) {
    case CIM_SINT8: return {INT8_MIN, INT8_MAX};
    case CIM_SINT16: return {INT16_MIN, INT16_MAX};
    case CIM_SINT32: return {INT32_MIN, INT32_MAX};
    case CIM_SINT64: return {INT64_MIN, INT64_MAX};
    case CIM_UINT8: return kU8;
    case CIM_UINT16: case CIM_CHAR16: return kU16;
    case CIM_UINT32: return kU32;
    default: return {0, UINT64_MAX, "expected an integer or a \"0x..\" string"};  // CIM_UINT64
    }
}

// One element of a typed value, written into `out` as the type's representation.
void TypedElement(const Node& n, std::int32_t base, bool array, WmiValue& out) {
    switch (base) {
    case CIM_STRING: case CIM_DATETIME: case CIM_REFERENCE:
        (array ? out.strings.emplace_back() : out.text) = WStr(n);
        return;
    case CIM_SINT64: case CIM_UINT64: {
        // WMI hands 64-bit integers over as decimal text.
        const std::uint64_t x = Number(n, IntRange(base));
        (array ? out.strings.emplace_back() : out.text) =
            Widen(base == CIM_SINT64 ? std::to_string(static_cast<std::int64_t>(x)) : std::to_string(x));
        return;
    }
    case CIM_REAL32: case CIM_REAL64:
        if (array) Fail(n.path, "arrays of reals are not supported");
        if (!n.v.is_number()) Fail(n.path, "expected a number");
        out.real = n.v.get<double>();
        return;
    case CIM_OBJECT:
        Fail(n.path, "embedded objects are not supported");
    default: {
        std::int64_t x;
        if (base == CIM_BOOLEAN) x = Bool(n);
        else if (base == CIM_CHAR16 && n.v.is_string() && FromUtf8(Str(n)).size() == 1) x = FromUtf8(Str(n))[0];
        else x = static_cast<std::int64_t>(Number(n, IntRange(base)));
        if (base == CIM_UINT8 && array) out.bytes.push_back(static_cast<std::uint8_t>(x));
        else (array ? out.integers.emplace_back() : out.integer) = x;
    }
    }
}

WmiValue LoadWmiValue(const Node& n) {
    if (n.v.is_string()) return Text(WStr(n));
    if (n.v.is_boolean()) return Int(CIM_BOOLEAN, n.v.get<bool>());
    if (n.v.is_number_integer()) return Int(CIM_SINT32, static_cast<std::int32_t>(Number(n, IntRange(CIM_SINT32))));
    if (!n.v.is_object())
        Fail(n.path, "expected a string, an integer, true, false or { \"cimType\": n, \"value\": .. }");
    Obj(n, {"cimType", "value"});
    const Node typeNode = n.Need("cimType");
    const auto cimType = static_cast<std::int32_t>(Number(typeNode, kU16));
    const std::int32_t base = cimType & ~CIM_FLAG_ARRAY;
    static const std::set<std::int32_t> kKnown = {
        CIM_SINT16, CIM_SINT32, CIM_REAL32, CIM_REAL64, CIM_STRING, CIM_BOOLEAN, CIM_OBJECT, CIM_SINT8,
        CIM_UINT8, CIM_UINT16, CIM_UINT32, CIM_SINT64, CIM_UINT64, CIM_DATETIME, CIM_REFERENCE, CIM_CHAR16};
    if (!kKnown.count(base))
        Fail(typeNode.path, "unknown CIM type " + std::to_string(cimType));
    const Node value = n.Need("value");
    if (value.v.is_null()) return Null(cimType);
    WmiValue out = Typed(cimType);
    if (!(cimType & CIM_FLAG_ARRAY)) {
        TypedElement(value, base, false, out);
    } else if (base == CIM_UINT8 && value.v.is_string()) {
        out.bytes = Hex(value);
    } else {
        for (const Node& e : Arr(value)) TypedElement(e, base, true, out);
    }
    return out;
}

// WMI names compare without case; the same name twice is a mistake.
std::u16string UniqueName(std::set<std::u16string>& seen, const std::string& name, const std::string& path) {
    std::u16string key = AsciiUpper(FromUtf8(name));
    if (!seen.insert(key).second) Fail(path, "named twice (names compare without case)");
    return key;
}

// Classes with their names as given: a `__CLASS` property, as WMI has it.
WmiClass LoadWmiClass(const Node& n, const std::u16string& className) {
    WmiClass c;
    for (const Node& inst : Arr(n)) {
        WmiInstance props;
        std::set<std::u16string> seen;
        for (const auto& [name, value] : Obj(inst).v.items()) {
            UniqueName(seen, name, inst.Key(name));
            props.emplace_back(FromUtf8(name), LoadWmiValue({value, inst.Key(name)}));
        }
        if (!seen.count(u"__CLASS")) props.insert(props.begin(), {u"__CLASS", Text(className)});
        c.push_back(std::move(props));
    }
    return c;
}

void LoadWmi(const Node& n, WmiStore& store) {
    std::set<std::u16string> namespaces;
    for (const auto& [ns, classes] : Obj(n).v.items()) {
        const Node nsNode = Obj({classes, n.Key(ns)});
        auto& target = store[UniqueName(namespaces, ns, nsNode.path)];
        std::set<std::u16string> seen;
        for (const auto& [cls, instances] : classes.items()) {
            const Node c{instances, nsNode.Key(cls)};
            target[UniqueName(seen, cls, c.path)] = LoadWmiClass(c, FromUtf8(cls));
        }
    }
}

std::uint32_t BaseBuild(std::uint32_t major, std::uint32_t minor) {
    static const std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> kBuilds = {
        {{5, 0}, 2195}, {{5, 1}, 2600}, {{5, 2}, 3790}, {{6, 0}, 6000}, {{6, 1}, 7600},
        {{6, 2}, 9200}, {{6, 3}, 9600}, {{10, 0}, 19045}};
    auto it = kBuilds.find({major, minor});
    return it == kBuilds.end() ? 0 : it->second;
}

void DeriveWmi(Machine& m) {
    const OsInfo& os = m.os;
    // Vista and 7 count their service packs in the build number.
    const std::uint32_t build =
        BaseBuild(os.major, os.minor) + (os.major == 6 && os.minor <= 1 ? os.servicePackMajor : 0);
    m.os.buildNumber = build;
    const std::u16string buildText = Widen(std::to_string(build));
    auto& cimv2 = m.wmi[u"ROOT\\CIMV2"];
    cimv2[u"WIN32_OPERATINGSYSTEM"] = {{
        {u"__CLASS", Text(u"Win32_OperatingSystem")},
        {u"BootDevice", os.bootDevice ? Text(*os.bootDevice) : Null(CIM_STRING)},
        {u"BuildNumber", Text(buildText)},
        {u"ProductType", Int(CIM_UINT32, os.productType)},
        {u"ServicePackMajorVersion", Int(CIM_UINT16, os.servicePackMajor)},
        {u"ServicePackMinorVersion", Int(CIM_UINT16, os.servicePackMinor)},
        {u"SystemDirectory", Text(os.windowsDirectory + u"\\system32")},
        {u"Version", Text(Widen(std::to_string(os.major) + "." + std::to_string(os.minor) + ".") + buildText)},
        {u"WindowsDirectory", Text(os.windowsDirectory)},
    }};
    WmiValue data = Typed(CIM_UINT8 | CIM_FLAG_ARRAY);
    data.bytes = m.firmware.table;
    m.wmi[u"ROOT\\WMI"][u"MSSMBIOS_RAWSMBIOSTABLES"] = {{
        {u"__CLASS", Text(u"MSSMBios_RawSMBiosTables")},
        {u"DmiRevision", Int(CIM_UINT8, 0)},
        {u"Size", Int(CIM_UINT32, static_cast<std::int64_t>(m.firmware.table.size()))},
        {u"SMBiosData", data},
        {u"SmbiosMajorVersion", Int(CIM_UINT8, m.firmware.majorVersion)},
        {u"SmbiosMinorVersion", Int(CIM_UINT8, m.firmware.minorVersion)},
        {u"Used20CallingMethod", Int(CIM_BOOLEAN, 0)},
    }};
    if (m.bitlockerVolumes) {
        WmiClass& volumes = cimv2[u"WIN32_ENCRYPTABLEVOLUME"];
        for (const auto& id : *m.bitlockerVolumes)
            volumes.push_back({{u"__CLASS", Text(u"Win32_EncryptableVolume")},
                               {u"PersistentVolumeID", id ? Text(*id) : Null(CIM_STRING)}});
    }
}

ErrorRule LoadErrorRule(const Node& n) {
    static const std::set<std::string> kCalls = {
        "CreateFileW", "CreateFileA", "DeviceIoControl", "ReadFile", "QueryDosDeviceW", "GetLogicalDrives",
        "GetDiskFreeSpaceExW", "GetDriveTypeW", "GetTempPathW", "GetWindowsDirectoryW", "CoInitializeEx",
        "CoCreateInstance", "ConnectServer", "CoSetProxyBlanket", "CreateInstanceEnum", "Next", "Get",
        "GlobalMemoryStatusEx", "VerifyVersionInfoW", "GetVersionExW", "IsWow64Process", "GetSystemFirmwareTable",
        "CreateToolhelp32Snapshot", "Process32First", "CreateProcessA", "SetupDiGetClassDevsW",
        "SetupDiEnumDeviceInfo", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
        "SetupDiGetDeviceRegistryPropertyW", "CM_Get_Parent", "CM_Get_Device_IDW"};
    Obj(n, {"call", "target", "ioctl", "nth", "error", "returns"});
    ErrorRule r;
    const Node call = n.Need("call");
    r.call = Str(call);
    if (!kCalls.count(r.call)) Fail(call.path, "unknown call \"" + r.call + "\"");
    if (auto x = n.Get("target")) r.target = WStr(*x);
    if (auto x = n.Get("ioctl")) {
        if (r.call != "DeviceIoControl") Fail(x->path, "only DeviceIoControl takes an ioctl");
        const bool named = x->v.is_string() && !x->v.get_ref<const std::string&>().empty() &&
                           !std::isdigit(static_cast<unsigned char>(x->v.get_ref<const std::string&>()[0]));
        r.ioctl = named ? IoctlCode(Str(*x)) : U32(*x);
        if (!r.ioctl) Fail(x->path, "unknown control code \"" + Str(*x) + "\"");
    }
    if (auto x = n.Get("nth")) r.nth = static_cast<std::uint32_t>(Number(*x, {1, 0xFFFFFFFF}));
    if (auto x = n.Get("error")) r.error = Word(*x);
    if (auto x = n.Get("returns")) r.returns = U32(*x);
    if (r.error.has_value() == r.returns.has_value()) Fail(n.path, "give exactly one of \"error\" or \"returns\"");
    return r;
}

}  // namespace

Machine LoadMachine(std::string_view jsonText, const std::string& defaultName) {
    const Json doc = Parse(jsonText);
    const Node root = Obj({doc, ""}, {"format", "name", "os", "memory", "cpu", "vtDriver", "firmware", "disks",
                                      "volumes", "pciDevices", "acpiDevices", "processes", "bitlocker", "wmi",
                                      "errors"});
    const Node format = root.Need("format");
    if (!format.v.is_string() || format.v.get<std::string>() != "qf-machine/1")
        Fail(format.path, "expected \"qf-machine/1\"");

    Machine m;
    m.name = defaultName;
    if (auto x = root.Get("name")) m.name = Str(*x);
    // An absent section reads as an empty one: all its defaults.
    static const Json kEmpty = Json::object();
    const auto section = [&root](const char* key) { return root.Get(key).value_or(Node{kEmpty, key}); };
    const Node os = section("os");
    m.os = LoadOs(os);
    if (auto x = Obj(section("memory"), {"totalPhysical"}).Get("totalPhysical")) m.totalPhysicalMemory = ByteCount(*x);

    const Node cpu = Obj(section("cpu"), {"cpuid1Ecx", "vmx"});
    const auto ecx = cpu.Get("cpuid1Ecx"), vmx = cpu.Get("vmx");
    if (ecx && vmx) Fail(cpu.path, "give either \"cpuid1Ecx\" or \"vmx\", not both");
    m.cpuid1Ecx = ecx ? U32(*ecx) : kDefaultCpuid1Ecx;
    if (vmx && !Bool(*vmx)) m.cpuid1Ecx &= ~kVmxBit;

    if (auto x = root.Get("vtDriver"); x && !x->v.is_null()) {
        Obj(*x, {"answer", "bytesReturned"});
        VtDriver vt;
        if (auto a = x->Get("answer")) vt.answer = Word(*a);
        if (auto b = x->Get("bytesReturned")) vt.bytesReturned = static_cast<std::uint32_t>(Number(*b, {0, 4}));
        m.vtDriver = vt;
    }

    m.firmware = LoadFirmware(section("firmware"));

    const auto diskNodes = Arr(root.Get("disks").value_or(Builtin().Need("disks")));
    for (std::size_t i = 0; i < diskNodes.size(); ++i) {
        Disk d = LoadDisk(diskNodes[i], static_cast<std::uint32_t>(i));
        for (std::size_t j = 0; j < i; ++j)
            if (m.disks[j].number == d.number)
                Fail(diskNodes[i].Key("number"), "disk number " + std::to_string(d.number) +
                                                     " is already used by disks[" + std::to_string(j) + "]");
        m.disks.push_back(std::move(d));
    }

    if (auto list = root.Get("volumes")) {
        std::uint32_t diskVolumes = 0, cdDrives = 0;
        std::map<char16_t, std::size_t> letters;
        const auto nodes = Arr(*list);
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            Volume v = LoadVolume(nodes[i], m.disks);
            if (auto [it, fresh] = letters.emplace(v.letter, i); !fresh)
                Fail(nodes[i].Key("letter"), "drive letter " + std::string(1, static_cast<char>(v.letter)) +
                                                 " is already used by volumes[" + std::to_string(it->second) + "]");
            const std::uint32_t ordinal = v.extents.empty() ? cdDrives++ : ++diskVolumes;
            if (!nodes[i].Get("device"))
                v.device = (v.extents.empty() ? u"\\Device\\CdRom" : u"\\Device\\HarddiskVolume") +
                           Widen(std::to_string(ordinal));
            m.volumes.push_back(std::move(v));
        }
    } else {
        m.volumes = DefaultVolumes(m.disks);
    }

    const char16_t bootLetter = m.os.windowsDirectory.empty() ? 0 : AsciiUpper(m.os.windowsDirectory.substr(0, 1))[0];
    if (!os.Get("bootDevice")) {
        const auto boot = std::find_if(m.volumes.begin(), m.volumes.end(),
                                       [&](const Volume& v) { return v.letter == bootLetter; });
        m.os.bootDevice = boot != m.volumes.end() ? boot->device : u"\\Device\\HarddiskVolume1";
    }
    for (std::size_t i = 0; i < m.disks.size(); ++i)
        if (!diskNodes[i].Get("firstSector"))
            m.disks[i].firstSector = BuildFirstSector(m.disks[i], m.volumes, bootLetter);

    m.pciDevices = LoadPci(root.Get("pciDevices").value_or(Builtin().Need("pciDevices")));
    m.acpiDevices = LoadAcpi(root.Get("acpiDevices").value_or(Builtin().Need("acpiDevices")));

    if (auto list = root.Get("processes")) {
        for (const Node& x : Arr(*list)) m.processes.push_back(Str(x));
    } else {
        m.processes = {"System", "explorer.exe"};
    }

    if (auto x = root.Get("bitlocker"); x && !x->v.is_null()) {
        m.bitlockerVolumes.emplace();
        if (auto list = Obj(*x, {"volumes"}).Get("volumes")) {
            for (const Node& v : Arr(*list)) {
                Obj(v, {"PersistentVolumeID"});
                const auto id = v.Get("PersistentVolumeID");
                m.bitlockerVolumes->push_back(id ? OptWStr(*id) : std::nullopt);
            }
        }
    }

    DeriveWmi(m);
    if (auto x = root.Get("wmi")) LoadWmi(*x, m.wmi);

    if (auto list = root.Get("errors"))
        for (const Node& x : Arr(*list)) m.errors.push_back(LoadErrorRule(x));
    return m;
}

std::string_view DefaultMachineJson() { return kDefaultMachineJson; }

namespace {

const std::map<std::string_view, std::uint32_t>& IoctlCodes() {
    static const std::map<std::string_view, std::uint32_t> kCodes = {
        {"IOCTL_DISK_GET_DRIVE_GEOMETRY", 0x00070000},
        {"IOCTL_DISK_GET_DRIVE_LAYOUT", 0x0007400C},
        {"IOCTL_DISK_GET_DRIVE_LAYOUT_EX", 0x00070050},
        {"IOCTL_DISK_GET_DRIVE_GEOMETRY_EX", 0x000700A0},
        {"IOCTL_DISK_UPDATE_PROPERTIES", 0x00070140},
        {"IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS", 0x00560000},
        {"IOCTL_STORAGE_GET_DEVICE_NUMBER", 0x002D1080},
        // The virtualization status driver's request:
        // CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS).
        {"IOCTL_VT_GET_STATUS", 0x00222000},
    };
    return kCodes;
}

}  // namespace

std::optional<std::uint32_t> IoctlCode(std::string_view name) {
    auto it = IoctlCodes().find(name);
    return it == IoctlCodes().end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

std::string IoctlName(std::uint32_t code) {
    for (const auto& [name, value] : IoctlCodes())
        if (value == code) return std::string(name);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    return hex;
}

}  // namespace qf::sim
