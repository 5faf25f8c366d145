// What the benchmarks share: the rows of the table `make bench` prints (each
// row one of our benchmarks against a baseline measured in the same run),
// the simulated machines they run on, and their temporary folders.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_platform.h"

namespace qfbench {

// One row of the table: the median time of `ours` against the median time
// of `baseline`, each divided by its count (per device, or 1 per call); the
// goal is met when the ratio is at most `goal`.
struct Comparison {
    std::string measurement;
    std::string ours;      // benchmark name
    std::string baseline;  // benchmark name
    double goal = 1.0;
    double oursPer = 1;
    double baselinePer = 1;
    std::string unit = "call";  // what a time is per
};

void AddComparison(Comparison row);

// The groups of benchmarks, registered by main before the run.
void RegisterSmbiosBenchmarks();
void RegisterLogBenchmarks();
void RegisterDiskBenchmarks();
void RegisterPciBenchmarks();

// A fresh folder under the host's temporary directory, removed with its
// contents when the owner goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

// The simulation keeps every call it was asked in its trace; a benchmark
// that makes millions of calls forgets them now and then, on both sides of
// a comparison alike, so that memory stays bounded.
void BoundTrace(qf::sim::SimPlatform& sim);

// The sample machines of machines/, read once.
const qf::sim::Machine& SampleMachine(const std::string& file);

}  // namespace qfbench
