#include "session.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "corvane_helper/smbios_lookups.h"
#include "installer_tools/log.h"

namespace qfcheck {
namespace {

constexpr std::uint32_t kMaxPath = 260;

}  // namespace

Session::Session(qf::sim::Machine machine, std::string tempDir, bool counted)
    : tempDir_(tempDir.empty() ? qf::sim::MakeFreshTempDir() : std::move(tempDir)) {
    auto sim = std::make_unique<qf::sim::SimPlatform>(std::move(machine), tempDir_);
    sim_ = sim.get();
    if (!counted) {
        Install(std::move(sim));
        return;
    }
    auto counting = std::make_unique<qf::platform::CountingPlatform>(std::move(sim));
    counted_ = counting.get();
    Install(std::move(counting));
}

Session::Session(LiveTag, std::unique_ptr<qf::platform::CountingPlatform> real) {
    if (!real) real = std::make_unique<qf::platform::CountingPlatform>(qf::platform::MakeDefault());
    counted_ = real.get();
    // The libraries put their log where the system's temporary path says.
    char16_t dir[kMaxPath] = {};
    const std::uint32_t n = real->GetTempPathW(kMaxPath, dir);
    if (n == 0 || n >= kMaxPath) throw std::runtime_error("the system reports no temporary directory");
    tempDir_ = qf::ToUtf8(std::u16string(dir, n));
    // What the installer does before it asks anything that reads WMI: COM
    // on this thread (the multithreaded apartment, which the helper library's
    // own WMI reads need too) and process-wide security that lets WMI
    // proxies impersonate.
    if (qf::platform::Failed(real->CoInitializeEx(qf::platform::Platform::kCoinitMultithreaded)))
        throw std::runtime_error("COM cannot be initialised on this thread");
    if (qf::platform::Failed(real->CoInitializeSecurity(qf::platform::Platform::kRpcCAuthnLevelDefault,
                                                        qf::platform::Platform::kRpcCImpLevelImpersonate))) {
        real->CoUninitialize();
        throw std::runtime_error("COM security cannot be set for this process");
    }
    comInitialized_ = true;
    Install(std::move(real));
}

std::unique_ptr<Session> Session::Live(std::unique_ptr<qf::platform::CountingPlatform> system) {
#ifdef _WIN32
    return std::unique_ptr<Session>(new Session(LiveTag{}, std::move(system)));
#else
    throw std::runtime_error(
        "--live needs the Windows build: here the libraries only see simulated machines (use --machine FILE)");
#endif
}

void Session::Install(std::unique_ptr<qf::platform::Platform> platform) {
    // The storage the object lives in starts zero-filled; its constructor
    // leaves the slot table as it finds it.
    std::memset(static_cast<void*>(&diskDevices), 0, sizeof diskDevices);
    previous_ = qf::platform::SetCurrent(std::move(platform));
    qf::tools::OpenLog();
    // The helper library loads with an empty table.
    qf::helper::ResetProcessSmbiosTable();
}

qf::sim::SimPlatform& Session::platform() {
    if (!sim_) throw std::logic_error("a live session has no simulated platform");
    return *sim_;
}

qf::platform::CountingPlatform& Session::counted() {
    if (!counted_) throw std::logic_error("this session does not count what the libraries take");
    return *counted_;
}

Session::Mark Session::Marker() const {
    if (sim_) return {sim_->calls().size(), sim_->messageBoxes().size()};
    return {counted_->filesOpened().size(), counted_->messageBoxes().size()};
}

std::vector<std::string> Session::FilesOpenedSince(const Mark& mark) const {
    std::vector<std::string> opened;
    if (sim_) {
        const auto& calls = sim_->calls();
        for (std::size_t i = mark.files; i < calls.size(); ++i)
            if (calls[i].rfind("OpenFile ", 0) == 0) opened.push_back(calls[i].substr(9));
    } else {
        const auto& files = counted_->filesOpened();
        for (std::size_t i = mark.files; i < files.size(); ++i) opened.push_back(qf::ToUtf8(files[i]));
    }
    std::vector<std::string> files;
    for (const std::string& path : opened) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(std::filesystem::u8path(HostPath(path)), ec) &&
            std::find(files.begin(), files.end(), path) == files.end())
            files.push_back(path);
    }
    return files;
}

std::string Session::HostPath(const std::string& path) const {
    return sim_ ? qf::sim::SimPlatform::HostPath(qf::FromUtf8(path)) : path;
}

std::vector<Session::ShownBox> Session::BoxesSince(const Mark& mark) const {
    std::vector<ShownBox> boxes;
    const auto copy = [&](const auto& shown) {
        for (std::size_t i = mark.boxes; i < shown.size(); ++i)
            boxes.push_back({shown[i].text, shown[i].caption, shown[i].type});
    };
    if (sim_)
        copy(sim_->messageBoxes());
    else
        copy(counted_->messageBoxes());
    return boxes;
}

Session::~Session() {
    qf::tools::CloseLog();
    qf::helper::ResetProcessSmbiosTable();
    if (comInitialized_) qf::platform::Current().CoUninitialize();
    qf::platform::SetCurrent(std::move(previous_));
}

std::string Session::logPath() const {
    return (std::filesystem::u8path(tempDir_) / "Installer-tools.log").u8string();
}

std::vector<std::string> Session::TakeLogLines() { return ReadNewLines(logPath(), &logOffset_); }

std::vector<std::string> ReadNewLines(const std::string& path, std::size_t* offset) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
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
