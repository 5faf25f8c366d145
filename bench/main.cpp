// qf_bench: every benchmark runs its repetitions interleaved at random with
// the others, so that load from other processes falls on both sides of a
// comparison alike; the table compares medians. The full results go to a
// JSON file beside the program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench.h"

namespace qfbench {
namespace {

std::vector<Comparison>& Rows() {
    static std::vector<Comparison> rows;
    return rows;
}

// What the run gave for one benchmark.
struct Result {
    double ns = 0;     // median CPU time per iteration
    double cv = 0;     // coefficient of variation over the repetitions
    std::string error;
};

// Keeps the aggregates of every benchmark and shows a dot per finished run,
// so a long run shows that it is alive.
class TableReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context& context) override {
        cpus_ = context.cpu_info.num_cpus;
        mhz_ = context.cpu_info.cycles_per_second / 1e6;
        const auto& load = context.cpu_info.load_avg;
        if (!load.empty()) load_ = load[0];
        std::fprintf(stderr, "running");
        return true;
    }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            Result& m = results_[run.run_name.function_name];
            if (run.error_occurred) {
                m.error = run.error_message;
                continue;
            }
            if (run.run_type != Run::RT_Aggregate) continue;
            const double ns = run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.aggregate_name == "median") m.ns = ns;
            // A fraction, not a time: read as it is.
            if (run.aggregate_name == "cv") m.cv = run.cpu_accumulated_time;
        }
        std::fputc('.', stderr);
        std::fflush(stderr);
    }
    void Finalize() override { std::fprintf(stderr, "\n"); }

    const std::map<std::string, Result>& results() const { return results_; }
    int cpus() const { return cpus_; }
    double mhz() const { return mhz_; }
    double load() const { return load_; }

private:
    std::map<std::string, Result> results_;
    int cpus_ = 0;
    double mhz_ = 0;
    double load_ = -1;
};

std::string Time(double ns) {
    char text[32];
    if (ns >= 1e6) std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    else if (ns >= 1e3) std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else std::snprintf(text, sizeof text, "%.1f ns", ns);
    return text;
}

std::string Fixed(double v, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

// Prints the table; the number of rows whose goal is missed or that could
// not be measured.
int PrintTable(const TableReporter& reporter) {
    struct Line {
        std::string cells[6];
    };
    std::vector<Line> lines;
    lines.push_back({{"measurement", "ours", "baseline", "ratio", "goal", "met?"}});
    int missed = 0;
    bool unstable = false;
    for (const Comparison& row : Rows()) {
        const auto ours = reporter.results().find(row.ours);
        const auto base = reporter.results().find(row.baseline);
        // Rows a --benchmark_filter left out are not shown.
        if (ours == reporter.results().end() && base == reporter.results().end()) continue;
        Line line{{row.measurement, "", "", "", "<= " + Fixed(row.goal, 2), ""}};
        std::string error;
        if (ours == reporter.results().end() || base == reporter.results().end())
            error = "not run";
        else if (!ours->second.error.empty())
            error = ours->second.error;
        else if (!base->second.error.empty())
            error = base->second.error;
        if (!error.empty()) {
            line.cells[1] = "error: " + error;
            line.cells[5] = "?";
            ++missed;
            lines.push_back(line);
            continue;
        }
        const double a = ours->second.ns / row.oursPer, b = base->second.ns / row.baselinePer;
        const double ratio = a / b;
        const bool noisy = ours->second.cv > 0.15 || base->second.cv > 0.15;
        unstable = unstable || noisy;
        line.cells[1] = Time(a) + (row.unit == "call" ? "" : "/" + row.unit);
        line.cells[2] = Time(b) + (row.unit == "call" ? "" : "/" + row.unit);
        line.cells[3] = Fixed(ratio, 2) + (noisy ? "~" : "");
        line.cells[5] = ratio <= row.goal ? "yes" : "NO";
        missed += ratio <= row.goal ? 0 : 1;
        lines.push_back(line);
    }
    std::size_t width[6] = {};
    for (const Line& l : lines)
        for (int i = 0; i < 6; ++i) width[i] = std::max(width[i], l.cells[i].size());
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::string text = "|";
        for (int i = 0; i < 6; ++i) {
            const std::string& c = lines[n].cells[i];
            const bool right = i >= 1 && i <= 3;
            const std::string pad(width[i] - c.size(), ' ');
            text += " " + (right ? pad + c : c + pad) + " |";
        }
        std::printf("%s\n", text.c_str());
        if (n == 0) {
            std::string rule = "|";
            for (int i = 0; i < 6; ++i) rule += std::string(width[i] + 2, '-') + "|";
            std::printf("%s\n", rule.c_str());
        }
    }
    std::printf("\nCPU time, median of the repetitions; %d CPUs at %.0f MHz, load average %.2f at the start.\n",
                reporter.cpus(), reporter.mhz(), reporter.load());
    if (missed == 0) std::printf("Every goal met.\n");
    else std::printf("%d goal%s missed or not measured.\n", missed, missed == 1 ? "" : "s");
    if (unstable) std::printf("~ : one side varied by more than 15%% between repetitions (coefficient of variation; see the JSON file).\n");
    return missed;
}

}  // namespace

void AddComparison(Comparison row) { Rows().push_back(std::move(row)); }

}  // namespace qfbench

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    // Defaults first, so that flags given on the command line win.
    const std::string out = (fs::path(argv[0]).parent_path() / "qf_bench.json").string();
    std::vector<std::string> defaults = {
        "--benchmark_repetitions=20",
        "--benchmark_min_time=0.05",
        "--benchmark_enable_random_interleaving=true",
        "--benchmark_report_aggregates_only=true",
        "--benchmark_out=" + out,
        "--benchmark_out_format=json",
    };
    std::vector<char*> args = {argv[0]};
    for (std::string& d : defaults) args.push_back(d.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    qfbench::RegisterSmbiosBenchmarks();
    qfbench::RegisterLogBenchmarks();
    qfbench::RegisterDiskBenchmarks();
    qfbench::RegisterPciBenchmarks();

    qfbench::TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    qfbench::PrintTable(reporter);
    std::printf("Every run: %s\n", out.c_str());
    // A missed goal is a finding to read in the table, not a failure of the run.
    return 0;
}
