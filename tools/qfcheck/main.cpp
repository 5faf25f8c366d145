// qfcheck: asks the libraries the installer's questions on a simulated
// machine and shows the answers.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "exports.h"

namespace {

const char kUsage[] =
    "usage: qfcheck call [--machine FILE] [--temp-dir DIR] EXPORT [ARG...] [--then EXPORT [ARG...]]... "
    "| qfcheck exports";

struct PlannedCall {
    std::string exportName;
    std::vector<std::string> args;
};

int Call(const std::vector<std::string>& argv) {
    std::optional<std::string> machineFile, tempDir;
    std::vector<PlannedCall> calls;
    std::size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--machine" || a == "--temp-dir") {
            std::optional<std::string>& value = a == "--machine" ? machineFile : tempDir;
            if (value) throw qfcheck::UsageError(a + ": given twice");
            if (i + 1 >= argv.size()) throw qfcheck::UsageError(a + ": needs a value");
            value = argv[++i];
            if (value->empty()) throw qfcheck::UsageError(a + ": needs a value, got an empty one");
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

    qf::sim::Machine machine = machineFile ? qfcheck::LoadMachineFile(*machineFile)
                                           : qf::sim::LoadMachine(qf::sim::DefaultMachineJson(), "default");
    qfcheck::Session session(std::move(machine), tempDir.value_or(""));
    std::string out;
    for (const PlannedCall& c : calls) out += qfcheck::RunCall(session, c.exportName, c.args).dump() + "\n";
    std::cout << out << std::flush;
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
        if (args.empty()) throw qfcheck::UsageError(std::string("which command? ") + kUsage);
        if (args[0] == "call") return Call({args.begin() + 1, args.end()});
        if (args[0] == "exports") {
            if (args.size() > 1) throw qfcheck::UsageError("exports: takes no arguments, got \"" + args[1] + "\"");
            for (const auto& e : qfcheck::Exports()) std::cout << e.name << "\n";
            return 0;
        }
        throw qfcheck::UsageError("unknown command \"" + args[0] + "\"; " + kUsage);
    } catch (const std::exception& e) {
        std::cerr << "qfcheck: " << OneLine(e.what()) << std::endl;
        return 2;
    } catch (...) {
        std::cerr << "qfcheck: an unexpected failure" << std::endl;
        return 2;
    }
}
