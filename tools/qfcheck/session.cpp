#include "session.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "corvane_helper/smbios_lookups.h"
#include "installer_tools/log.h"

namespace qfcheck {

Session::Session(qf::sim::Machine machine, std::string tempDir)
    : tempDir_(tempDir.empty() ? qf::sim::MakeFreshTempDir() : std::move(tempDir)) {
    // The storage the object lives in starts zero-filled; its constructor
    // leaves the slot table as it finds it.
    std::memset(static_cast<void*>(&diskDevices), 0, sizeof diskDevices);
    auto sim = std::make_unique<qf::sim::SimPlatform>(std::move(machine), tempDir_);
    sim_ = sim.get();
    previous_ = qf::platform::SetCurrent(std::move(sim));
    qf::tools::OpenLog();
    // The helper library loads with an empty table.
    qf::helper::ResetProcessSmbiosTable();
}

Session::~Session() {
    qf::tools::CloseLog();
    qf::helper::ResetProcessSmbiosTable();
    qf::platform::SetCurrent(std::move(previous_));
}

std::string Session::logPath() const { return (std::filesystem::path(tempDir_) / "Installer-tools.log").string(); }

std::vector<std::string> Session::TakeLogLines() { return ReadNewLines(logPath(), &logOffset_); }

std::vector<std::string> ReadNewLines(const std::string& path, std::size_t* offset) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() < *offset) *offset = 0;  // the file was emptied since
    std::string fresh = text.substr(*offset);
    *offset = text.size();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < fresh.size()) {
        std::size_t end = fresh.find('\n', start);
        std::string line = fresh.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

qf::sim::Machine LoadMachineFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw std::runtime_error(path + ": is a folder, not a machine description");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    try {
        return qf::sim::LoadMachine(text.str(), std::filesystem::path(path).filename().string());
    } catch (const qf::sim::MachineError& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace qfcheck
