// One qfcheck run: a machine as the current platform (a simulated one, or
// the live system in the Windows build), the libraries "loaded" on it (their
// logs open), and the objects the installer would keep across calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "QuillFrameInstallerTools.h"
#include "platform/counting_platform.h"
#include "platform/sim/sim_platform.h"

namespace qfcheck {

class Session {
public:
    // A simulated machine. `tempDir` empty: a fresh folder under the host's
    // temporary directory. A folder given is reported as it is: one that does
    // not exist, or a file, leaves the libraries without their logs, as on Windows.
    // `counted`: the libraries talk to the machine through a counting
    // platform, as they do in a live session.
    Session(qf::sim::Machine machine, std::string tempDir, bool counted = false);
    // The machine qfcheck runs on, through the real system; its temporary
    // directory is the system's own. Only the Windows build has one: elsewhere
    // this throws. The system is watched through a counting platform (one
    // that passes everything on unless `system` is given otherwise).
    static std::unique_ptr<Session> Live(std::unique_ptr<qf::platform::CountingPlatform> system = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool live() const { return sim_ == nullptr; }
    // The simulated platform; a live session has none (throws).
    qf::sim::SimPlatform& platform();
    // The counting platform between the libraries and the machine: a live
    // session's, or a simulated one's made `counted`; otherwise throws.
    qf::platform::CountingPlatform& counted();

    // What a call did besides answering: the files the libraries opened for
    // their output and the message boxes they showed. Take a mark before the
    // call; the lists hold what came after it.
    struct Mark {
        std::size_t files = 0, boxes = 0;
    };
    Mark Marker() const;
    // The paths as the libraries wrote them, of the files that exist now,
    // each once, in the order they were first opened.
    std::vector<std::string> FilesOpenedSince(const Mark& mark) const;
    // Where such a path lies on this host.
    std::string HostPath(const std::string& path) const;
    struct ShownBox {
        std::string text, caption;
        std::uint32_t type = 0;
    };
    std::vector<ShownBox> BoxesSince(const Mark& mark) const;
    const std::string& tempDir() const { return tempDir_; }
    std::string logPath() const;

    // Lines the diagnostic log gained since the last call of this.
    std::vector<std::string> TakeLogLines();

    DriveFreeSpace driveFreeSpace;
    EnumerateDiskDevices diskDevices;

private:
    struct LiveTag {};
    Session(LiveTag, std::unique_ptr<qf::platform::CountingPlatform> system);
    void Install(std::unique_ptr<qf::platform::Platform> platform);

    std::string tempDir_;
    qf::sim::SimPlatform* sim_ = nullptr;
    qf::platform::CountingPlatform* counted_ = nullptr;
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
