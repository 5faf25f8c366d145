// The simulated system services of the prerequisite checks: COM on the
// calling thread, the processor, memory, the operating system's version and
// bitness, answered from the machine's `os`, `memory` and `cpu`.
#include "platform/sim/sim_platform.h"

namespace qf::sim {

using namespace platform;

HRESULT SimPlatform::CoInitializeEx(std::uint32_t coInit) {
    if (auto f = Rule("CoInitializeEx")) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kRpcEChangedMode)));
    // A thread keeps the apartment it first entered.
    if (comInitializations_ > 0 && coInit != comMode_) return kRpcEChangedMode;
    comMode_ = coInit;
    return comInitializations_++ == 0 ? kSOk : kSFalse;
}

void SimPlatform::CoUninitialize() {
    Trace("CoUninitialize");
    if (comInitializations_ > 0) --comInitializations_;
}

}  // namespace qf::sim
