// One qfcheck run: a machine as the current platform (a simulated one, or
// the live system in the Windows build), the libraries "loaded" on it (their
// logs open), and the objects the installer would keep across calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "platform/sim/sim_platform.h"

namespace qfcheck {

class Session {
public:
    // A simulated machine. `tempDir` empty: a fresh folder under the host's
    // temporary directory. A folder given is reported as it is: one that does
    // not exist, or a file, leaves the libraries without their logs, as on Windows.
    Session(qf::sim::Machine machine, std::string tempDir);
    // The machine qfcheck runs on, through the real system; its temporary
    // directory is the system's own. Only the Windows build has one: elsewhere
    // this throws.
    static std::unique_ptr<Session> Live();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool live() const { return sim_ == nullptr; }
    // The simulated platform; a live session has none (throws).
    qf::sim::SimPlatform& platform();
    const std::string& tempDir() const { return tempDir_; }
    std::string logPath() const;

    // Lines the diagnostic log gained since the last call of this.
    std::vector<std::string> TakeLogLines();

    DriveFreeSpace driveFreeSpace;
    EnumerateDiskDevices diskDevices;

private:
    struct LiveTag {};
    explicit Session(LiveTag);
    void Install(std::unique_ptr<qf::platform::Platform> platform);

    std::string tempDir_;
    qf::sim::SimPlatform* sim_ = nullptr;
    std::unique_ptr<qf::platform::Platform> previous_;
    std::size_t logOffset_ = 0;
    bool comInitialized_ = false;
};

// New lines of a text file past `offset` (which moves to its end). Lines end
// at "\n" with an optional "\r" before it; the line end that closes the
// text adds no empty line.
std::vector<std::string> ReadNewLines(const std::string& path, std::size_t* offset);

qf::sim::Machine LoadMachineFile(const std::string& path);

}  // namespace qfcheck
