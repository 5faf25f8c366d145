// One line of the diagnostic log, written through the library's log onto
// the simulated platform (a real file in a temporary folder), against one
// fprintf and fflush of the same bytes to the same kind of file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "bench.h"
#include "installer_tools/log.h"
#include "session.h"

namespace qfbench {
namespace {

// A line of the partition dump, the bulk of every planning call's log.
constexpr char16_t kFunction[] = u"DriveFreeSpace::PopulatePartitionTableEntries";
constexpr char16_t kFormat[] = u"Partition %d, Starting sector = %llu";
constexpr int kSlot = 1;
constexpr unsigned long long kSector = 20973568;
// The same line as the C runtime writes it; the log's line end is CR LF.
constexpr char kFprintfFormat[] = "%s: Partition %d, Starting sector = %llu\r\n";
constexpr char kFprintfFunction[] = "DriveFreeSpace::PopulatePartitionTableEntries";

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Ours(benchmark::State& state) {
    TempDir dir;
    qfcheck::Session session(SampleMachine("default.json"), dir.path());
    for (auto _ : state) {
        qf::tools::LogMessage(kFunction, 1, kFormat, {kSlot, kSector});
        BoundTrace(session.platform());
    }
}

void Fprintf(benchmark::State& state) {
    TempDir dir;
    // The library's log is opened the same way: "w+", binary, line ends its own.
    std::FILE* file = std::fopen(dir.File("Installer-tools.log").c_str(), "w+b");
    if (!file) {
        state.SkipWithError("cannot create the file");
        return;
    }
    for (auto _ : state) {
        std::fprintf(file, kFprintfFormat, kFprintfFunction, kSlot, kSector);
        std::fflush(file);
    }
    std::fclose(file);
}

// Both sides write the same bytes, or the comparison means nothing.
void CheckSameBytes() {
    TempDir dir;
    std::string ours;
    {
        qfcheck::Session session(SampleMachine("default.json"), dir.path());
        qf::tools::LogMessage(kFunction, 1, kFormat, {kSlot, kSector});
        ours = Contents(session.logPath());
    }
    std::FILE* file = std::fopen(dir.File("fprintf.log").c_str(), "w+b");
    std::fprintf(file, kFprintfFormat, kFprintfFunction, kSlot, kSector);
    std::fclose(file);
    if (ours != Contents(dir.File("fprintf.log"))) throw std::logic_error("the log line differs from fprintf's");
}

}  // namespace

void RegisterLogBenchmarks() {
    CheckSameBytes();
    benchmark::RegisterBenchmark("log/line/ours", Ours);
    benchmark::RegisterBenchmark("log/line/fprintf", Fprintf);
    AddComparison({"log line (LogMessage vs fprintf+fflush)", "log/line/ours", "log/line/fprintf", 1.3});
}

}  // namespace qfbench
