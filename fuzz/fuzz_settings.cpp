// The settings-file reader on arbitrary files: GetPrivateProfileStringA of
// the simulation with any section, key, default and buffer size, then the
// NEC check that reads "CorvaneHelper.ini" through it. The answer always ends
// within the buffer, and nothing past the buffer is written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CorvaneHelper.h"
#include "corvane_helper/smbios_lookups.h"
#include "platform/sim/sim_platform.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

const std::string& Folder() {
    static const std::string dir = qf::sim::MakeFreshTempDir();
    return dir;
}

// A machine whose firmware names a manufacturer, so that the check compares.
const qf::sim::Machine& Base() {
    static const qf::sim::Machine base = qf::sim::LoadMachine(qf::sim::DefaultMachineJson(), "fuzz");
    return base;
}

void Query(qf::platform::Platform& os, const std::string& section, const std::string& key, const std::string& defaultValue,
           std::uint32_t size, const std::string& file) {
    constexpr char kCanary = '\x5A';
    std::vector<char> buffer(size + 16, kCanary);
    const std::uint32_t n =
        os.GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(), size, file.c_str());
    for (std::size_t i = size; i < buffer.size(); ++i) Check(buffer[i] == kCanary);
    if (size == 0) return;
    // (A NUL inside a value is copied like any other byte: the count may go
    // past the text a C string sees.)
    Check(n < size && buffer[n] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint32_t capacity = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    const std::string section = in.ConsumeBool() ? "systeminfo" : in.ConsumeRandomLengthString(24);
    const std::string key = in.ConsumeBool() ? "manufacturer" : in.ConsumeRandomLengthString(24);
    const std::string defaultValue = in.ConsumeRandomLengthString(24);
    const std::string contents = in.ConsumeRemainingBytesAsString();
    const std::filesystem::path file = std::filesystem::path(Folder()) / "CorvaneHelper.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(contents.data(), static_cast<std::streamsize>(contents.size()));

    auto owned = std::make_unique<qf::sim::SimPlatform>(Base(), Folder());
    qf::sim::SimPlatform* sim = owned.get();
    auto previous = qf::platform::SetCurrent(std::move(owned));
    Query(*sim, section, key, defaultValue, capacity, file.string());
    Query(*sim, "systeminfo", "manufacturer", "", 260, file.string());
    qf::helper::ResetProcessSmbiosTable();
    (void)IsRunningOnNECSystem(Folder().c_str());
    Check(sim->Outstanding().empty());
    qf::helper::ResetProcessSmbiosTable();
    qf::platform::SetCurrent(std::move(previous));
    return 0;
}
