// The machine-description loader on arbitrary text: a description is either
// loaded or refused with a MachineError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        qf::sim::LoadMachine(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    } catch (const qf::sim::MachineError&) {
    }
    return 0;
}
