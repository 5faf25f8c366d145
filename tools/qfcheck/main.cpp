// qfcheck: asks the libraries the installer's questions on a simulated
// machine (or, in the Windows build, on the live one) and shows the answers.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
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
const char kCommands[] = "(preflight, call, exports, capture; --help)";

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
    bool machineGiven = false, tempDirGiven = false;
    std::vector<PlannedCall> calls;
    std::size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--machine" || a == "--temp-dir") {
            bool& given = a == "--machine" ? machineGiven : tempDirGiven;
            if (given) throw qfcheck::UsageError(a + ": given twice");
            if (i + 1 >= argv.size()) throw qfcheck::UsageError(a + ": needs a value");
            std::string& value = a == "--machine" ? choice.file : choice.tempDir;
            value = argv[++i];
            given = true;
            if (value.empty()) throw qfcheck::UsageError(a + ": needs a value, got an empty one");
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
    // Every call and argument is checked, and the machine read, before the
    // first call runs: a run either answers every call or none.
    for (const PlannedCall& c : calls) qfcheck::CheckCall(c.exportName, c.args);

    std::string name, source;
    auto session = OpenSession(choice, &name, &source);
    std::string out;
    for (const PlannedCall& c : calls) out += qfcheck::RunCall(*session, c.exportName, c.args).dump() + "\n";
    std::cout << out << std::flush;
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

// One line for the error output: a message never spans lines.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty()) throw qfcheck::UsageError(std::string("which command? ") + kCommands);
        if (args[0] == "preflight") return Preflight({args.begin() + 1, args.end()});
        if (args[0] == "call") return Call({args.begin() + 1, args.end()});
        if (args[0] == "capture") return Capture({args.begin() + 1, args.end()});
        if (args[0] == "exports") {
            if (args.size() > 1) throw qfcheck::UsageError("exports: takes no arguments, got \"" + args[1] + "\"");
            for (const auto& e : qfcheck::Exports()) std::cout << e.name << "\n";
            return 0;
        }
        if (args[0] == "--help" || args[0] == "help") {
            std::cout << kUsage;
            return 0;
        }
        throw qfcheck::UsageError("unknown command \"" + args[0] + "\" " + kCommands);
    } catch (const std::exception& e) {
        std::cerr << "qfcheck: " << OneLine(e.what()) << std::endl;
        return kError;
    } catch (...) {
        std::cerr << "qfcheck: an unexpected failure" << std::endl;
        return kError;
    }
}
