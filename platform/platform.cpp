#include "platform/platform.h"

#include <filesystem>

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include "platform/sim/sim_platform.h"
#endif

namespace qf::platform {
namespace {

std::unique_ptr<Platform>& Slot() {
    static std::unique_ptr<Platform> current = MakeDefault();
    return current;
}

}  // namespace

Platform& Current() { return *Slot(); }

std::unique_ptr<Platform> SetCurrent(std::unique_ptr<Platform> platform) {
    std::swap(Slot(), platform);
    return platform;
}

std::unique_ptr<Platform> MakeDefault() {
#ifdef _WIN32
    return std::make_unique<win32::Win32Platform>();
#else
    // A process that loads the libraries on Linux sees the built-in machine,
    // with the host's temporary directory as its own.
    return std::make_unique<sim::SimPlatform>(sim::LoadMachine(sim::DefaultMachineJson(), "default"),
                                              std::filesystem::temp_directory_path().string());
#endif
}

}  // namespace qf::platform
