// The boot drive data and the planning built on it, on machines made from
// arbitrary bytes: disks with arbitrary layouts (any types, starts, lengths
// and numbers, more entries than the layout buffer holds, any style and
// geometry, first sectors of any length), volumes with arbitrary letters and
// extents, and any boot device; then records a caller filled with anything.
// Every call must give back all it took, and the record must stay within its
// four slots.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "QuillFrameInstallerTools.h"
#include "common/text.h"
#include "installer_tools/export_access.h"
#include "installer_tools/large_integer.h"
#include "platform/sim/sim_platform.h"

namespace {

using namespace qf::sim;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

const Machine& Base() {
    static const Machine base = LoadMachine(R"({ "format": "qf-machine/1" })", "fuzz");
    return base;
}

// Numbers the planning cares about most often, else any.
std::uint64_t Size(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<std::uint64_t>(0, 4096) * 512;
    case 1: return in.ConsumeIntegralInRange<std::uint64_t>(0, 1u << 20) << 20;  // whole MiB
    case 2: return in.ConsumeIntegral<std::uint32_t>();
    default: return in.ConsumeIntegral<std::uint64_t>();
    }
}

std::uint8_t Type(FuzzedDataProvider& in) {
    static const std::uint8_t kTypes[] = {0x00, 0x07, 0x0B, 0x0C, 0x49, 0x05, 0x0F, 0x27, 0xEE};
    return in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<std::uint8_t>();
}

Machine MakeMachine(FuzzedDataProvider& in) {
    Machine m = Base();
    m.disks.clear();
    const int disks = in.ConsumeIntegralInRange<int>(1, 3);
    std::set<std::uint32_t> numbers;
    for (int i = 0; i < disks; ++i) {
        Disk d = Base().disks[0];
        d.number = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 3) : in.ConsumeIntegral<std::uint32_t>();
        if (!numbers.insert(d.number).second) continue;
        d.sizeBytes = Size(in);
        if (in.ConsumeBool()) {
            d.bytesPerSector = in.ConsumeIntegral<std::uint32_t>();
            d.tracksPerCylinder = in.ConsumeIntegral<std::uint32_t>();
            d.sectorsPerTrack = in.ConsumeIntegral<std::uint32_t>();
        }
        d.style = static_cast<PartitionStyle>(in.ConsumeIntegralInRange<int>(0, 2));
        d.partitions.clear();
        const int entries = in.ConsumeIntegralInRange<int>(0, 30);
        for (int e = 0; e < entries; ++e) {
            Partition p;
            p.type = Type(in);
            p.start = Size(in);
            p.length = Size(in);
            p.number = in.ConsumeIntegral<std::uint32_t>();
            d.partitions.push_back(p);
        }
        const std::string sector = in.ConsumeRandomLengthString(600);
        d.firstSector.assign(sector.begin(), sector.end());
        m.disks.push_back(std::move(d));
    }

    m.volumes.clear();
    const int volumes = in.ConsumeIntegralInRange<int>(0, 26);
    std::set<char16_t> letters;
    for (int i = 0; i < volumes; ++i) {
        Volume v;
        v.letter = static_cast<char16_t>(u'A' + in.ConsumeIntegralInRange<int>(0, 25));
        if (!letters.insert(v.letter).second) continue;
        v.device = in.ConsumeBool() ? u"\\Device\\HarddiskVolume" + qf::Widen(std::to_string(i))
                                    : qf::FromUtf8(in.ConsumeRandomLengthString(40));
        const int extents = in.ConsumeIntegralInRange<int>(0, 3);
        for (int e = 0; e < extents; ++e) {
            Extent x;
            x.disk = m.disks[in.ConsumeIntegralInRange<std::size_t>(0, m.disks.size() - 1)].number;
            // Often exactly a partition's place, so letters land on slots.
            const Disk& d = *std::find_if(m.disks.begin(), m.disks.end(), [&](const Disk& d) { return d.number == x.disk; });
            if (!d.partitions.empty() && in.ConsumeBool()) {
                const Partition& p = d.partitions[in.ConsumeIntegralInRange<std::size_t>(0, d.partitions.size() - 1)];
                x.start = p.start, x.length = p.length;
            } else {
                x.start = Size(in), x.length = Size(in);
            }
            v.extents.push_back(x);
        }
        v.driveType = v.extents.empty() ? 5 : 3;
        v.freeBytes = Size(in);
        m.volumes.push_back(std::move(v));
    }

    // The boot device: a volume's device, a start of one, anything, or no value.
    std::optional<std::u16string> boot;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        if (!m.volumes.empty()) boot = m.volumes[in.ConsumeIntegralInRange<std::size_t>(0, m.volumes.size() - 1)].device;
        break;
    case 1:
        boot = u"\\Device\\HarddiskVolume";
        break;
    case 2:
        boot = qf::FromUtf8(in.ConsumeRandomLengthString(300));
        break;
    default:
        break;
    }
    m.os.bootDevice = boot;
    for (auto& [name, value] : m.wmi[u"ROOT\\CIMV2"][u"WIN32_OPERATINGSYSTEM"].at(0)) {
        if (name != u"BootDevice") continue;
        value.isNull = !boot;
        value.text = boot.value_or(u"");
    }
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    auto owned = std::make_unique<SimPlatform>(MakeMachine(in), "/nonexistent-qf-fuzz");
    SimPlatform* sim = owned.get();
    auto previous = qf::platform::SetCurrent(std::move(owned));
    const auto nothingHeld = [&] { Check(sim->Outstanding().empty()); };

    DriveFreeSpace d;
    BootDriveData record{};
    const bool filled = d.GetBootDriveData(&record);
    nothingHeld();
    for (const PartitionTableEntry& slot : record.PartitionTable) {
        Check(slot.LogicalDrive == 0 || (slot.LogicalDrive >= 'A' && slot.LogicalDrive <= 'Z'));
        Check(slot.PartitionStyle <= 2 || !filled);
        Check(slot.PartitionType <= 0xFF);
    }
    if (filled) {
        for (QF_DWORD i = 0; i < 4; ++i) {
            Check(record.PartitionTable[i].PartitionNumber == i);
            qf::tools::ULargeInteger freeBytes;
            d.GetFreeSpaceInPartition(&record, i, freeBytes.get());
            d.CheckFreeSpaceInPartition(&record, in.ConsumeIntegralInRange<QF_DWORD>(0, 4095), i);
        }
        BootDriveData copy = record;
        d.CheckUnPartitionedSpace(&copy, in.ConsumeIntegralInRange<QF_DWORD>(0, 4095));
        qf::tools::LargeInteger size;
        d.GetQFPartitionSize(&record, size.get());
        nothingHeld();
    }
    // A record the caller filled with anything at all.
    BootDriveData garbage;
    const std::size_t got = in.ConsumeData(&garbage, sizeof garbage);
    if (got == sizeof garbage) {
        for (QF_DWORD i = 0; i < 4; ++i) {
            qf::tools::ULargeInteger freeBytes;
            d.GetFreeSpaceInPartition(&garbage, i, freeBytes.get());
            d.CheckFreeSpaceInPartition(&garbage, 1945, i);
        }
        d.CheckUnPartitionedSpace(&garbage, in.ConsumeIntegral<QF_DWORD>());
        qf::tools::LargeInteger size;
        d.GetQFPartitionSize(&garbage, size.get());
        qf::ExportAccess::QuillFramePartitionExists(d, &garbage);
        nothingHeld();
    }

    QF_WCHAR letter = 0;
    d.GetDriveLetter(&letter, in.ConsumeIntegralInRange<QF_DWORD>(0, 3));
    QF_DWORD count = 0;
    if (d.GetNumberPartitions(&count)) Check(count <= 4);
    d.DoNotNeedToResize(in.ConsumeIntegralInRange<QF_DWORD>(0, 4070));
    QF_DWORD value = 0, mask = 0;
    d.CanResize(in.ConsumeIntegralInRange<QF_DWORD>(0, 3), in.ConsumeIntegralInRange<QF_DWORD>(0, 4095), &value, &mask);
    Check(mask <= 15);
    d.Test(in.ConsumeIntegralInRange<QF_DWORD>(0, 4095));
    d.CheckFreePartition();
    d.IsQuillFrameInstalled();
    d.VerifyMBRIsWindows();
    d.ForcePartitionTableRescan();
    nothingHeld();

    qf::platform::SetCurrent(std::move(previous));
    return 0;
}
