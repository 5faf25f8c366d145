// qfcheck: asks the libraries the installer's questions on a simulated
// machine (or, in the Windows build, on the live one) and shows the answers.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "capture.h"
#include "exports.h"
#include "preflight.h"

namespace {

const char kUsage[] =
    "usage: qfcheck preflight [--machine FILE | --live] [--size MB] [--settings-dir DIR] [--temp-dir DIR] [--json]\n"
    "       qfcheck call [--machine FILE] [--temp-dir DIR] EXPORT [ARG...] [--then EXPORT [ARG...]]...\n"
    "       qfcheck exports\n"
    "       qfcheck capture [--output FILE]   (Windows build)\n";

// Exit codes of `preflight`.
enum : int { kReady = 0, kNotReady = 1, kError = 2 };

struct PlannedCall {
    std::string exportName;
    std::vector<std::string> args;
};

// The machine a run asks: a description file, the built-in one, or live.
struct MachineChoice {
    std::string file;
    bool live = false;
    std::string tempDir;
};

std::unique_ptr<qfcheck::Session> OpenSession(const MachineChoice& choice, std::string* name, std::string* source) {
    if (choice.live) {
        if (!choice.file.empty()) throw qfcheck::UsageError("--machine and --live exclude each other");
        if (!choice.tempDir.empty())
            throw qfcheck::UsageError("--temp-dir does not apply to --live: the system's own temporary directory is used");
        auto session = qfcheck::Session::Live();
        *name = "this machine";
        *source = "live: the real system, through the Win32 layer";
        return session;
    }
    qf::sim::Machine machine = choice.file.empty() ? qf::sim::LoadMachine(qf::sim::DefaultMachineJson(), "default")
                                                   : qfcheck::LoadMachineFile(choice.file);
    *name = machine.name;
    *source = choice.file.empty() ? "built-in machine (machines/default.json), simulated"
                                  : choice.file + ", simulated";
    return std::make_unique<qfcheck::Session>(std::move(machine), choice.tempDir);
}

int Call(const std::vector<std::string>& argv) {
    MachineChoice choice;
    std::vector<PlannedCall> calls;
    std::size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if ((a == "--machine" || a == "--temp-dir") && i + 1 < argv.size()) {
            (a == "--machine" ? choice.file : choice.tempDir) = argv[++i];
        } else if (a.rfind("--", 0) == 0 && a != "--then") {
            throw qfcheck::UsageError("unknown option " + a);
        } else {
            break;
        }
    }
    for (; i < argv.size(); ++i) {
        if (argv[i] == "--then") {
            if (calls.empty() || i + 1 >= argv.size()) throw qfcheck::UsageError("--then needs a call before and after it");
            calls.push_back({argv[++i], {}});
        } else if (calls.empty()) {
            calls.push_back({argv[i], {}});
        } else {
            calls.back().args.push_back(argv[i]);
        }
    }
    if (calls.empty()) throw qfcheck::UsageError("call: which export?");
    for (const PlannedCall& c : calls) qfcheck::CheckCall(c.exportName, c.args.size());

    std::string name, source;
    auto session = OpenSession(choice, &name, &source);
    for (const PlannedCall& c : calls) std::cout << qfcheck::RunCall(*session, c.exportName, c.args).dump() << "\n";
    return 0;
}

// Colour for a terminal that has not asked for none (https://no-color.org).
bool WantColour() {
#ifdef _WIN32
    return false;  // the Windows console shows escape sequences as text unless told otherwise
#else
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return isatty(fileno(stdout)) && !(noColour && *noColour) && !(term && std::string(term) == "dumb");
#endif
}

std::uint32_t SizeArgument(const std::string& text) {
    std::uint32_t size = 0;
    try {
        size = qfcheck::CallArgs("--size", {text}).Number(0);
    } catch (const qfcheck::UsageError&) {
        size = 0;
    }
    // Beyond a TiB no installer plans a partition; the bound keeps the
    // libraries' own sums (size plus margin) far from wrapping.
    if (size == 0 || size > (1u << 20))
        throw qfcheck::UsageError("--size: expected a whole number of MiB from 1 to 1048576, got \"" + text + "\"");
    return size;
}

int Preflight(const std::vector<std::string>& argv) {
    MachineChoice choice;
    qfcheck::preflight::Options options;
    bool json = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        const bool hasValue = i + 1 < argv.size();
        if (a == "--machine" && hasValue) choice.file = argv[++i];
        else if (a == "--temp-dir" && hasValue) choice.tempDir = argv[++i];
        else if (a == "--settings-dir" && hasValue) options.settingsDir = argv[++i];
        else if (a == "--size" && hasValue) options.sizeMB = SizeArgument(argv[++i]);
        else if (a == "--live") choice.live = true;
        else if (a == "--json") json = true;
        else if (a == "--machine" || a == "--temp-dir" || a == "--settings-dir" || a == "--size")
            throw qfcheck::UsageError(a + " needs a value");
        else throw qfcheck::UsageError("preflight: unknown argument " + a);
    }
    std::string name, source;
    auto session = OpenSession(choice, &name, &source);
    const qfcheck::preflight::Result result = qfcheck::preflight::Run(*session, options, name, source);
    if (json) std::cout << qfcheck::preflight::RenderJson(result).dump(2) << "\n";
    else std::cout << qfcheck::preflight::RenderText(result, WantColour());
    std::cout.flush();
    return result.ready ? kReady : kNotReady;
}

// A description of the live machine, for `--machine` later.
int Capture(const std::vector<std::string>& argv) {
    std::string output;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (argv[i] == "--output" && i + 1 < argv.size()) output = argv[++i];
        else if (argv[i] == "--output") throw qfcheck::UsageError("--output needs a value");
        else throw qfcheck::UsageError("capture: unknown argument " + argv[i]);
    }
#ifndef _WIN32
    throw std::runtime_error("capture needs the Windows build: it reads the live machine through the Win32 layer");
#endif
    auto session = qfcheck::Session::Live();
    const std::string text = qfcheck::capture::CaptureMachine("captured by qfcheck capture").dump(2) + "\n";
    if (output.empty()) {
        std::cout << text;
        return 0;
    }
    std::ofstream out(std::filesystem::u8path(output), std::ios::binary);
    out << text;
    out.close();
    if (!out) throw std::runtime_error(output + ": cannot be written");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "preflight") return Preflight({args.begin() + 1, args.end()});
        if (!args.empty() && args[0] == "call") return Call({args.begin() + 1, args.end()});
        if (!args.empty() && args[0] == "capture") return Capture({args.begin() + 1, args.end()});
        if (!args.empty() && args[0] == "exports") {
            for (const auto& e : qfcheck::Exports()) std::cout << e.name << "\n";
            return 0;
        }
        if (args.empty() || args[0] == "--help" || args[0] == "help") {
            (args.empty() ? std::cerr : std::cout) << kUsage;
            return args.empty() ? kError : 0;
        }
        throw qfcheck::UsageError("unknown command " + args[0] + " (preflight, call, exports, capture; --help)");
    } catch (const std::exception& e) {
        std::cerr << "qfcheck: " << e.what() << "\n";
        return kError;
    }
}
