// EnumeratePCIDevices::GetDevices on machines with 50, 500 and 5,000 PCI
// devices, with a buffer that holds every list (the installer's second
// call): the time per device stays the same when the count grows tenfold.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "bench.h"
#include "common/text.h"
#include "session.h"

namespace qfbench {
namespace {

const int kCounts[] = {50, 500, 5000};

qf::sim::Machine WithPciDevices(int count) {
    qf::sim::Machine machine = SampleMachine("default.json");
    machine.pciDevices.clear();
    char text[80];
    for (int i = 0; i < count; ++i) {
        const unsigned device = 0x2A00 + i % 0x400, subsystem = 0x01F91028 + i / 0x400, revision = i % 16;
        const unsigned klass = i % 2 ? 0x060400 : 0x0C0330;
        std::vector<std::u16string> ids;
        std::snprintf(text, sizeof text, "PCI\\VEN_8086&DEV_%04X&SUBSYS_%08X&REV_%02X", device, subsystem, revision);
        ids.push_back(qf::Widen(text));
        std::snprintf(text, sizeof text, "PCI\\VEN_8086&DEV_%04X&SUBSYS_%08X", device, subsystem);
        ids.push_back(qf::Widen(text));
        std::snprintf(text, sizeof text, "PCI\\VEN_8086&DEV_%04X&CC_%06X", device, klass);
        ids.push_back(qf::Widen(text));
        std::snprintf(text, sizeof text, "PCI\\VEN_8086&DEV_%04X&CC_%04X", device, klass >> 8);
        ids.push_back(qf::Widen(text));
        machine.pciDevices.push_back({ids});
    }
    return machine;
}

void GetDevices(benchmark::State& state, const qf::sim::Machine& machine) {
    TempDir dir;
    qfcheck::Session session(machine, dir.path());
    EnumeratePCIDevices pci;
    QF_DWORD required = 0;
    pci.GetDevices(nullptr, 0, &required);
    std::vector<unsigned char> buffer(required);
    if (!pci.GetDevices(buffer.data(), required, &required)) {
        state.SkipWithError("the lists do not fit the size asked for");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(pci.GetDevices(buffer.data(), required, &required));
        benchmark::ClobberMemory();
        BoundTrace(session.platform());
    }
}

std::string Name(int count) { return "pci/GetDevices/" + std::to_string(count); }

}  // namespace

void RegisterPciBenchmarks() {
    static std::vector<qf::sim::Machine> machines;
    machines.reserve(std::size(kCounts));
    for (int count : kCounts) {
        const qf::sim::Machine& machine = machines.emplace_back(WithPciDevices(count));
        benchmark::RegisterBenchmark(Name(count).c_str(), [&machine](benchmark::State& s) { GetDevices(s, machine); });
    }
    for (std::size_t i = 1; i < std::size(kCounts); ++i) {
        Comparison row{"EnumeratePCIDevices::GetDevices, " + std::to_string(kCounts[i]) + " vs " +
                           std::to_string(kCounts[i - 1]) + " devices",
                       Name(kCounts[i]), Name(kCounts[i - 1]), 1.2};
        row.oursPer = kCounts[i];
        row.baselinePer = kCounts[i - 1];
        row.unit = "device";
        AddComparison(row);
    }
}

}  // namespace qfbench
