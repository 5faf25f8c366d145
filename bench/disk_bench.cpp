// The installer's disk questions on simulated machines, against the
// simulated platform's own cost of the same platform calls replayed without
// the logic. The log is written through the platform (files opened, written
// and flushed), so its writes are platform calls like any other: the replay
// writes the same bytes to a log file of its own and flushes as often. What
// the library does to produce those bytes (formatting, narrowing, line ends)
// is its own work and counts on its side.
#include <benchmark/benchmark.h>

#include <functional>
#include <stdexcept>

#include "QuillFrameInstallerTools.h"
#include "bench.h"
#include "common/text.h"
#include "installer_tools/log.h"
#include "recording_platform.h"
#include "session.h"

namespace qfbench {
namespace {

using qf::platform::Handle;
using Question = std::function<bool(DriveFreeSpace&)>;

constexpr QF_DWORD kRequiredMB = 1945;

bool Test(DriveFreeSpace& d) { return d.Test(kRequiredMB); }

bool GetBootDriveData(DriveFreeSpace& d) {
    BootDriveData record{};
    return d.GetBootDriveData(&record);
}

void Ours(benchmark::State& state, const qf::sim::Machine& machine, const Question& question) {
    TempDir dir;
    qfcheck::Session session(machine, dir.path());
    for (auto _ : state) {
        benchmark::DoNotOptimize(question(session.driveFreeSpace));
        BoundTrace(session.platform());
    }
}

// The platform calls of one question, with the log open as the library
// keeps it.
Recording Record(const qf::sim::Machine& machine, const std::string& tempDir, const Question& question,
                 bool* answer) {
    auto recorder = std::make_unique<RecordingPlatform>(std::make_unique<qf::sim::SimPlatform>(machine, tempDir));
    RecordingPlatform& r = *recorder;
    auto previous = qf::platform::SetCurrent(std::move(recorder));
    qf::tools::OpenLog();
    DriveFreeSpace object;
    r.Start();
    *answer = question(object);
    Recording recording = r.Stop();
    qf::tools::CloseLog();
    qf::platform::SetCurrent(std::move(previous));
    return recording;
}

void Replayed(benchmark::State& state, const qf::sim::Machine& machine, const Question& question) {
    TempDir recordDir, replayDir;
    bool answer = false;
    Recording recording = Record(machine, recordDir.path(), question, &answer);
    // The one handle the calls use without making it is the log, opened
    // when the library was loaded: the replay has a log file of its own.
    for (const auto& [slot, value] : recording.externals)
        for (const RecordedCall& c : recording.calls)
            if (c.in == slot && c.op != RecordedCall::Op::WriteFile && c.op != RecordedCall::Op::FlushFile)
                throw std::logic_error(std::string("a handle made before the recording is used by ") + c.name);
    qf::sim::SimPlatform sim(machine, replayDir.path());
    const Handle log = sim.OpenFile(qf::FromUtf8(replayDir.File("Installer-tools.log")), "w+b");
    std::map<std::uintptr_t, std::uintptr_t> externals;
    for (const auto& external : recording.externals) externals[external.second] = log;
    Replay replay(std::move(recording), externals);
    if (replay.Check(sim) != 0) {
        state.SkipWithError("the replay answers differently from the recording");
        return;
    }
    for (auto _ : state) {
        replay.Run(sim);
        BoundTrace(sim);
    }
    state.counters["calls"] = static_cast<double>(replay.size());
    sim.CloseFile(log);
}

void Register(const std::string& label, const std::string& machineFile, const std::string& method,
              const Question& question) {
    const qf::sim::Machine& machine = SampleMachine(machineFile);
    const std::string name = "disk/" + method + "/" + machineFile;
    benchmark::RegisterBenchmark((name + "/ours").c_str(),
                                 [&machine, question](benchmark::State& s) { Ours(s, machine, question); });
    benchmark::RegisterBenchmark((name + "/replay").c_str(),
                                 [&machine, question](benchmark::State& s) { Replayed(s, machine, question); });
    AddComparison({"DriveFreeSpace::" + method + ", " + label, name + "/ours", name + "/replay", 1.2});
}

}  // namespace

void RegisterDiskBenchmarks() {
    Register("default machine", "default.json", "Test", Test);
    Register("default machine", "default.json", "GetBootDriveData", GetBootDriveData);
    Register("26 letters, 4 disks", "twenty-six-letters.json", "Test", Test);
    Register("26 letters, 4 disks", "twenty-six-letters.json", "GetBootDriveData", GetBootDriveData);
}

}  // namespace qfbench
