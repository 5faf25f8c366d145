// qfcheck: asks the libraries the installer's questions on a simulated
// machine and shows the answers.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "exports.h"

namespace {

const char kUsage[] =
    "usage: qfcheck call [--machine FILE] [--temp-dir DIR] EXPORT [ARG...] [--then EXPORT [ARG...]]...\n"
    "       qfcheck exports\n";

struct PlannedCall {
    std::string exportName;
    std::vector<std::string> args;
};

int Call(const std::vector<std::string>& argv) {
    std::string machineFile, tempDir;
    std::vector<PlannedCall> calls;
    std::size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if ((a == "--machine" || a == "--temp-dir") && i + 1 < argv.size()) {
            (a == "--machine" ? machineFile : tempDir) = argv[++i];
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

    qf::sim::Machine machine = machineFile.empty()
                                   ? qf::sim::LoadMachine(qf::sim::DefaultMachineJson(), "default")
                                   : qfcheck::LoadMachineFile(machineFile);
    qfcheck::Session session(std::move(machine), tempDir);
    for (const PlannedCall& c : calls) std::cout << qfcheck::RunCall(session, c.exportName, c.args).dump() << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "call") return Call({args.begin() + 1, args.end()});
        if (!args.empty() && args[0] == "exports") {
            for (const auto& e : qfcheck::Exports()) std::cout << e.name << "\n";
            return 0;
        }
        std::cerr << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "qfcheck: " << e.what() << "\n";
        return 2;
    }
}
