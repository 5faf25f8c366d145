#include <filesystem>
#include <map>

#include "bench.h"
#include "session.h"

namespace qfbench {

TempDir::TempDir() : path_(qf::sim::MakeFreshTempDir()) {}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

void BoundTrace(qf::sim::SimPlatform& sim) {
    if (sim.calls().size() > 100000) sim.ClearCalls();
}

const qf::sim::Machine& SampleMachine(const std::string& file) {
    static std::map<std::string, qf::sim::Machine> machines;
    auto it = machines.find(file);
    if (it == machines.end())
        it = machines.emplace(file, qfcheck::LoadMachineFile(std::string(QF_SOURCE_DIR) + "/machines/" + file)).first;
    return it->second;
}

}  // namespace qfbench
