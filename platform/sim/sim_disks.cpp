// The simulated disks: the control requests a disk handle answers, reading
// its first sector, and the free space of a volume.
#include <algorithm>
#include <cstring>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "platform/sim/sim_platform.h"

namespace qf::sim {

using namespace platform;

namespace {

// DRIVE_LAYOUT_INFORMATION_EX: a 48-byte header, then one 144-byte
// PARTITION_INFORMATION_EX per entry.
constexpr std::size_t kLayoutHeader = 48;
constexpr std::size_t kLayoutEntry = 144;
// DISK_GEOMETRY_EX up to and including DiskSize; the system adds its
// partition and detection data only when the caller makes room for them.
constexpr std::uint32_t kGeometryEx = 32;
constexpr std::uint32_t kFixedMedia = 12;
// Sectors a GPT disk keeps for its header and entry array, at each end.
constexpr std::uint64_t kGptHead = 34 * 512, kGptTail = 33 * 512;

bool IsExtendedContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

}  // namespace

bool SimPlatform::DiskRequest(const Object& disk, std::uint32_t code, void* out, std::uint32_t outSize,
                              std::uint32_t* bytesReturned) {
    const Disk& d = machine_.disks[disk.index];
    switch (code) {
    case kIoctlDiskUpdateProperties:
        return true;
    case kIoctlDiskGetDriveLayoutEx:
        return DriveLayoutEx(d, out, outSize, bytesReturned);
    case kIoctlDiskGetDriveGeometryEx:
        return DriveGeometryEx(d, out, outSize, bytesReturned);
    default:
        return Fail(kErrorInvalidFunction);
    }
}

bool SimPlatform::DriveLayoutEx(const Disk& d, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    const std::size_t needed = kLayoutHeader + kLayoutEntry * d.partitions.size();
    if (!out || outSize < needed) return Fail(kErrorInsufficientBuffer);
    std::memset(out, 0, needed);
    ByteWriter w(out, outSize);
    w.u32(static_cast<std::uint32_t>(d.style));
    w.u32(d.partitions.size());
    if (d.style == PartitionStyle::Mbr && d.firstSector.size() >= 444) {
        ByteCursor sector(d.firstSector.data(), d.firstSector.size());
        sector.seek(440);
        w.u32(sector.u32());  // the disk signature
    } else if (d.style == PartitionStyle::Gpt) {
        w.seek(24);
        w.u64(kGptHead);
        w.u64(d.sizeBytes > kGptHead + kGptTail ? d.sizeBytes - kGptHead - kGptTail : 0);
        w.u32(128);
    }
    for (std::size_t i = 0; i < d.partitions.size(); ++i) {
        const Partition& p = d.partitions[i];
        const std::size_t at = kLayoutHeader + kLayoutEntry * i;
        w.seek(at);
        w.u32(static_cast<std::uint32_t>(d.style));
        w.seek(at + 8);
        w.u64(p.start);
        w.u64(p.length);
        w.u32(p.number);
        // The MBR part of the entry's union; on other styles only the type
        // byte is kept there, as the description asks.
        w.seek(at + 32);
        w.u8(p.type);
        if (d.style != PartitionStyle::Mbr) continue;
        const std::size_t slot = 446 + 16 * i;
        w.u8(i < 4 && slot < d.firstSector.size() && d.firstSector[slot] == 0x80);  // BootIndicator
        w.u8(p.type != 0 && !IsExtendedContainer(p.type));                        // RecognizedPartition
        w.seek(at + 36);
        w.u32(p.start / 512);                                                       // HiddenSectors
    }
    if (bytesReturned) *bytesReturned = static_cast<std::uint32_t>(needed);
    return true;
}

bool SimPlatform::DriveGeometryEx(const Disk& d, void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    if (!out || outSize < kGeometryEx) return Fail(kErrorInsufficientBuffer);
    const std::uint64_t cylinderBytes = std::uint64_t{d.tracksPerCylinder} * d.sectorsPerTrack * d.bytesPerSector;
    ByteWriter w(out, outSize);
    w.u64(cylinderBytes ? d.sizeBytes / cylinderBytes : 0);
    w.u32(kFixedMedia);
    w.u32(d.tracksPerCylinder);
    w.u32(d.sectorsPerTrack);
    w.u32(d.bytesPerSector);
    w.u64(d.sizeBytes);
    if (bytesReturned) *bytesReturned = kGeometryEx;
    return true;
}

bool SimPlatform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    Object* o = FindHandle(file);
    const auto forced = Rule("ReadFile", o ? o->path : u"");
    if (forced && forced->error) return Fail(*forced->error);
    // The libraries' own files are C runtime streams, not kernel handles.
    if (!o || o->kind == Object::Kind::File) return Fail(kErrorInvalidHandle);
    // A description holds no volume contents.
    if (o->kind != Object::Kind::Disk) return Fail(kErrorInvalidFunction);
    // All the description holds of a disk is its first sector; a shorter
    // one makes a short read, and the disk ends there.
    const Bytes& data = machine_.disks[o->index].firstSector;
    std::uint64_t& position = readPositions_[file];
    const std::size_t from = static_cast<std::size_t>(std::min<std::uint64_t>(position, data.size()));
    const std::size_t n = std::min<std::size_t>(size, data.size() - from);
    if (n) std::memcpy(buffer, data.data() + from, n);
    position += n;
    if (bytesRead) *bytesRead = forced && forced->returns ? *forced->returns : static_cast<std::uint32_t>(n);
    return true;
}

const Volume* SimPlatform::VolumeOfPath(const std::u16string& path) const {
    std::u16string p = path;
    if (p.compare(0, 4, u"\\\\.\\") == 0 || p.compare(0, 4, u"\\\\?\\") == 0) p.erase(0, 4);
    if (p.size() < 2 || p[1] != u':' || (p.size() > 2 && p[2] != u'\\' && p[2] != u'/')) return nullptr;
    const char16_t letter = AsciiUpper(p.substr(0, 1))[0];
    return letter >= u'A' && letter <= u'Z' ? VolumeByLetter(letter) : nullptr;
}

bool SimPlatform::GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeToCaller, std::uint64_t* total,
                                      std::uint64_t* totalFree) {
    const std::u16string p = path ? path : u"";
    // The call answers with no count, so only an `error` rule changes it.
    if (auto f = Rule("GetDiskFreeSpaceExW", p); f && f->error) return Fail(*f->error);
    const Volume* v = VolumeOfPath(p);
    if (!v) return Fail(kErrorPathNotFound);
    if (v->extents.empty()) return Fail(kErrorNotReady);  // a drive without a disk volume: no medium
    std::uint64_t size = 0;
    for (const Extent& e : v->extents) size += e.length;
    // No quotas: the caller may use all the free space.
    if (freeToCaller) *freeToCaller = v->freeBytes;
    if (total) *total = size;
    if (totalFree) *totalFree = v->freeBytes;
    return true;
}

}  // namespace qf::sim
