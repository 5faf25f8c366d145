// One qfcheck run: the simulated machine as the current platform, the
// libraries "loaded" on it (their logs open), and the objects the installer
// would keep across calls.
#pragma once

#include <string>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "platform/sim/sim_platform.h"

namespace qfcheck {

class Session {
public:
    // `tempDir` empty: a fresh folder under the host's temporary directory.
    // A folder given is reported as it is: one that does not exist, or a
    // file, leaves the libraries without their logs, as on Windows.
    Session(qf::sim::Machine machine, std::string tempDir);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    qf::sim::SimPlatform& platform() { return *sim_; }
    const std::string& tempDir() const { return tempDir_; }
    std::string logPath() const;

    // Lines the diagnostic log gained since the last call of this.
    std::vector<std::string> TakeLogLines();

    DriveFreeSpace driveFreeSpace;
    EnumerateDiskDevices diskDevices;

private:
    std::string tempDir_;
    qf::sim::SimPlatform* sim_;
    std::unique_ptr<qf::platform::Platform> previous_;
    std::size_t logOffset_ = 0;
};

// New lines of a text file past `offset` (which moves to its end). Lines end
// at "\n" with an optional "\r" before it; the line end that closes the
// text adds no empty line.
std::vector<std::string> ReadNewLines(const std::string& path, std::size_t* offset);

qf::sim::Machine LoadMachineFile(const std::string& path);

}  // namespace qfcheck
