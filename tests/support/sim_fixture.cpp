#include "support/sim_fixture.h"

#include <filesystem>

namespace qftest {

std::string Machine(const std::string& members) {
    return std::string("{\"format\": \"qf-machine/1\"") + (members.empty() ? "" : ", " + members) + "}";
}

void SimTest::TearDown() {
    session_.reset();
    if (!tempDir_.empty()) std::filesystem::remove_all(tempDir_);
}

void SimTest::Load(const std::string& machineJson) {
    session_.reset();
    if (tempDir_.empty()) tempDir_ = qf::sim::MakeFreshTempDir();
    session_ = std::make_unique<qfcheck::Session>(qf::sim::LoadMachine(machineJson, "test"), tempDir_);
}

std::vector<std::string> SimTest::Held() const {
    std::vector<std::string> held;
    for (const std::string& r : session_->platform().Outstanding())
        if (r.find("Installer-tools.log") == std::string::npos) held.push_back(r);
    return held;
}

std::vector<std::string> Lines(const std::string& function, const std::vector<std::string>& messages) {
    std::vector<std::string> out;
    for (const std::string& m : messages) out.push_back(m.empty() ? m : function + ": " + m);
    return out;
}

}  // namespace qftest
