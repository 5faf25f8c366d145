// Every export of both libraries on machine descriptions made from arbitrary
// text: whatever the description holds (odd layouts, WMI values, devices,
// firmware tables, platform calls that fail), a description that loads is
// answered by every export without a crash, and every call gives back all
// it took.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "exports.h"
#include "platform/sim/sim_platform.h"

namespace {

// Arguments by the parameter's name; a number is 1 unless named here.
const std::map<std::string, std::string>& Arguments() {
    static const std::map<std::string, std::string> args = {
        {"className", "Win32_OperatingSystem"}, {"propertyName", "BootDevice"},
        {"bootDevice", "\\Device\\HarddiskVolume1"}, {"path", "C:\\Windows"}, {"text", "VMware"},
        {"diskNumber", "0"}, {"index", "1"}, {"mode", "2"}, {"sizeInMB", "1945"},
        {"nRequiredPartitionSizeInMB", "1945"}, {"dwCallerBufferSize", "512"},
    };
    return args;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The helper library writes into the current folder: one of our own.
    const std::filesystem::path dir = qf::sim::MakeFreshTempDir();
    std::filesystem::current_path(dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qf::sim::Machine machine;
    try {
        machine = qf::sim::LoadMachine(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    } catch (const qf::sim::MachineError&) {
        return 0;
    }
    // A temporary folder that does not exist: the libraries run without their log.
    qfcheck::Session session(std::move(machine), "/nonexistent-qf-fuzz");
    for (const qfcheck::ExportDef& def : qfcheck::Exports()) {
        std::vector<std::string> args;
        for (const qfcheck::Param& p : def.params) {
            const auto it = Arguments().find(p.name);
            args.push_back(it != Arguments().end() ? it->second : p.kind == qfcheck::Param::Kind::Text ? "x" : "1");
        }
        qfcheck::RunCall(session, def.name, args);
        if (!session.platform().Outstanding().empty()) __builtin_trap();
    }
    return 0;
}
