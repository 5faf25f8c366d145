#include "corvane_helper/vendor_partition.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "CorvaneHelper.h"
#include "common/boundary.h"
#include "common/byte_cursor.h"
#include "common/format.h"
#include "platform/resources.h"

namespace qf::helper {
namespace {

using namespace platform;

constexpr std::int64_t kSectorBytes = 512;
constexpr std::uint8_t kVendorPartitionType = 0x49;
constexpr std::size_t kMaxPath = 260;
// DRIVE_LAYOUT_INFORMATION with room for 26 entries: more do not fit and
// the request fails.
constexpr std::uint32_t kLayoutHeaderSize = 8, kLayoutEntrySize = 32, kLayoutEntries = 26;
constexpr std::uint32_t kLayoutBufferSize = kLayoutHeaderSize + kLayoutEntries * kLayoutEntrySize;  // 840
constexpr std::uint32_t kGeometryExSize = 40;
constexpr std::uint32_t kNoPartitionNumber = 0xFFFFFFFF;

struct LayoutEntry {
    std::uint64_t startSector = 0;
    std::uint64_t sectorCount = 0;
    std::uint32_t number = 0;
    std::uint8_t type = 0;
};

// The containers of an extended partition: the logical partitions inside
// them are listed on their own.
bool IsExtendedContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

unique_handle OpenDisk(int diskNumber) {
    const std::string path = PhysicalDrivePath(diskNumber);
    return unique_handle(Current().CreateFileA(path.c_str(), kGenericRead | kGenericWrite,
                                               kFileShareRead | kFileShareWrite, kOpenExisting, 0));
}

// IOCTL_DISK_GET_DRIVE_LAYOUT into its 840-byte buffer: every entry the
// system lists, none when it lists none.
bool GetDriveLayout(Handle disk, std::vector<LayoutEntry>* entries) {
    Platform& os = Current();
    unique_local buffer(os.LocalAlloc(kLmemZeroInit, kLayoutBufferSize));
    if (!buffer) return false;
    std::uint32_t returned = 0;
    if (!os.DeviceIoControl(disk, kIoctlDiskGetDriveLayout, nullptr, 0, buffer.get(), kLayoutBufferSize, &returned))
        return false;
    ByteCursor in(buffer.get(), kLayoutBufferSize);
    const auto count = static_cast<std::int32_t>(in.u32());
    entries->clear();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t at = kLayoutHeaderSize + kLayoutEntrySize * static_cast<std::size_t>(i);
        if (!in.has(at, kLayoutEntrySize)) break;
        in.seek(at);
        LayoutEntry e;
        e.startSector = static_cast<std::uint64_t>(in.i64() / kSectorBytes);
        e.sectorCount = static_cast<std::uint64_t>(in.i64() / kSectorBytes);
        in.u32();  // HiddenSectors
        e.number = in.u32();
        e.type = in.u8();
        entries->push_back(e);
    }
    return true;
}

std::string ScriptPath(const char* folder) { return FormatNarrow("%s\\DEL_VRA_SCRIPT_FILE", {folder}); }

}  // namespace

std::string PhysicalDrivePath(int diskNumber) { return FormatNarrow("\\\\.\\PhysicalDrive%-3d", {diskNumber}); }

std::optional<std::uint64_t> GetDiskSectorCount(int diskNumber) {
    unique_handle disk = OpenDisk(diskNumber);
    if (!disk) return std::nullopt;
    std::uint8_t geometry[kGeometryExSize] = {};
    std::uint32_t returned = 0;
    if (!Current().DeviceIoControl(disk.get(), kIoctlDiskGetDriveGeometryEx, nullptr, 0, geometry, sizeof geometry,
                                   &returned))
        return std::nullopt;
    // DISK_GEOMETRY_EX: DiskSize follows the 24-byte geometry.
    ByteCursor in(geometry, sizeof geometry);
    in.seek(24);
    const std::int64_t size = in.i64();
    if (size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size / kSectorBytes);
}

int WriteDeletionScript(int diskNumber, std::uint32_t partitionNumber, const char* folder) {
    const std::string path = ScriptPath(folder);
    if (path.size() >= kMaxPath) return -1;
    Platform& os = Current();
    unique_file file(os.OpenFile(Widen(path), "w+b"));
    if (!file) return -1;
    const std::string script = ToTextMode(FormatNarrow("select disk %d\n", {diskNumber}) +
                                          FormatNarrow("select part %d\n", {partitionNumber}) + "delete part\n" + "exit");
    // A script that did not reach the disk whole must not be run.
    if (!os.WriteFile(file.get(), script.data(), script.size())) return -1;
    return os.CloseFile(file.release()) ? 0 : -1;
}

int RunDeletionScript(const char* folder) {
    Platform& os = Current();
    const std::string script = ScriptPath(folder);
    // The system's own diskpart, by its full path: never one that the
    // search for programs would find first (in the current folder, say).
    char systemDir[kMaxPath] = {};
    const std::uint32_t length = os.GetSystemDirectoryA(systemDir, kMaxPath);
    const std::string application = FormatNarrow("%s\\diskpart.exe", {systemDir});
    // The script path in quotes, so that a folder with blanks reaches diskpart whole.
    std::string commandLine = FormatNarrow("diskpart /s \"%s\"", {script});
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);

    const auto startFailed = [&os](std::uint32_t error) {
        const std::string text = FormatNarrow("Failed to delete the VRA partition, Error code = %d", {error});
        os.MessageBoxA(0, text.c_str(), "Error", Platform::kMbOk | Platform::kMbIconInformation);
        return -1;
    };
    if (length == 0) return startFailed(os.GetLastError());
    if (length >= kMaxPath) return startFailed(kErrorInsufficientBuffer);
    Platform::ProcessInformation started;
    if (!os.CreateProcessA(application.c_str(), mutableLine.data(), true, Platform::kCreateNoWindow, &started))
        return startFailed(os.GetLastError());
    unique_handle process(started.process), thread(started.thread);
    if (os.WaitForSingleObject(process.get(), Platform::kInfinite) != Platform::kWaitObject0) return -1;
    // diskpart ends with a non-zero code when it could not carry the script out.
    std::uint32_t exitCode = 1;
    if (!os.GetExitCodeProcess(process.get(), &exitCode)) return -1;
    return exitCode == 0 ? 0 : -1;
}

int GetUnallocatedSpace(int diskNumber, int tailSectors) {
    const std::optional<std::uint64_t> total = GetDiskSectorCount(diskNumber);
    if (!total) return -1;
    std::vector<LayoutEntry> layout;
    {
        unique_handle disk = OpenDisk(diskNumber);
        if (!disk) return -1;
        if (!GetDriveLayout(disk.get(), &layout)) return -1;
    }
    // The last `tailSectors` sectors must be free; more than the disk has
    // wraps the limit beyond every partition's end.
    const std::uint64_t limit = *total - static_cast<std::uint32_t>(tailSectors);
    std::uint64_t covered = 0;
    for (const LayoutEntry& e : layout) {
        if (e.type == 0) continue;
        if (!IsExtendedContainer(e.type)) covered += e.sectorCount;
        if (e.startSector + e.sectorCount > limit) return 0;
    }
    if (covered > *total) return 0;
    const std::uint64_t mib = (*total - covered) >> 11;
    return mib > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(mib);
}

int DeleteVRA(int diskNumber, const char* folder) {
    std::uint32_t partitionNumber = 0;
    {
        unique_handle disk = OpenDisk(diskNumber);
        if (!disk) return -1;
        std::vector<LayoutEntry> layout;
        if (!GetDriveLayout(disk.get(), &layout)) return -1;
        const auto vendor = std::find_if(layout.begin(), layout.end(),
                                         [](const LayoutEntry& e) { return e.type == kVendorPartitionType; });
        if (vendor == layout.end() || vendor->number == kNoPartitionNumber) return -1;
        partitionNumber = vendor->number;
    }
    if (WriteDeletionScript(diskNumber, partitionNumber, folder) == -1) return -1;
    return RunDeletionScript(folder);
}

}  // namespace qf::helper

int GetUnallocatedSpace(int nDiskNumber, int nTailSectors) {
    return qf::AtBoundary(-1, [&] { return qf::helper::GetUnallocatedSpace(nDiskNumber, nTailSectors); });
}

int DeleteVRA(int nDiskNumber, const char* pszScriptFolder) {
    return qf::AtBoundary(-1, [&] { return qf::helper::DeleteVRA(nDiskNumber, pszScriptFolder); });
}
