// The simulated system services of the prerequisite checks: COM on the
// calling thread, the processor, memory, the operating system's version and
// bitness, answered from the machine's `os`, `memory` and `cpu`.
#include <algorithm>

#include "common/text.h"
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

void SimPlatform::Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) {
    Trace("CPUID");
    // The description gives ECX of leaf 1; every other register reads 0.
    std::fill(registers, registers + 4, 0u);
    if (leaf == 1) registers[2] = machine_.cpuid1Ecx;
}

bool SimPlatform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
    if (auto f = Rule("GlobalMemoryStatusEx")) return Fail(f->error.value_or(kErrorInvalidParameter));
    if (!status || status->length != kMemoryStatusExSize) return Fail(kErrorInvalidParameter);
    const std::uint64_t total = machine_.totalPhysicalMemory;
    status->memoryLoad = 50;
    status->totalPhys = total;
    status->availPhys = total / 2;
    status->totalPageFile = total * 2;
    status->availPageFile = total;
    // A 32-bit process: 2 GiB of address space, 4 GiB under WOW64.
    status->totalVirtual = (machine_.os.wow64 ? 0x100000000ull : 0x80000000ull) - 0x20000;
    status->availVirtual = status->totalVirtual - 0x10000000;
    status->availExtendedVirtual = 0;
    return true;
}

std::uint64_t SimPlatform::VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeMask,
                                               std::uint8_t condition) {
    condition &= 7;
    if (typeMask == 0 || condition == 0) return conditionMask;
    // Three bits per field; a mask naming several fields sets only the one
    // listed first here.
    static const std::pair<std::uint32_t, int> kFields[] = {
        {kVerProductType, 7},      {kVerSuiteName, 6},   {kVerServicePackMajor, 5}, {kVerServicePackMinor, 4},
        {kVerPlatformId, 3},       {kVerBuildNumber, 2}, {kVerMajorVersion, 1},     {kVerMinorVersion, 0},
    };
    for (const auto& [field, slot] : kFields)
        if (typeMask & field) return conditionMask | (std::uint64_t{condition} << (3 * slot));
    return conditionMask;
}

namespace {

// VER_SUITE_SINGLEUSERTS, and VER_SUITE_TERMINAL on servers.
std::uint16_t SuiteMask(const OsInfo& os) { return os.productType == Platform::kVerNtWorkstation ? 0x100 : 0x110; }

std::uint8_t ConditionOf(std::uint64_t mask, int slot) { return static_cast<std::uint8_t>((mask >> (3 * slot)) & 7); }

bool Compare(std::uint32_t system, std::uint32_t wanted, std::uint8_t condition) {
    switch (condition) {
    case Platform::kVerEqual: return system == wanted;
    case Platform::kVerGreater: return system > wanted;
    case Platform::kVerGreaterEqual: return system >= wanted;
    case Platform::kVerLess: return system < wanted;
    case Platform::kVerLessEqual: return system <= wanted;
    default: return false;
    }
}

// The condition a version field is compared with: its own when it agrees in
// direction with the one a more significant field set, else that one (a
// field without a condition of its own takes the earlier one too).
std::uint8_t FieldCondition(std::uint8_t* last, std::uint8_t own) {
    switch (*last) {
    case 0:
        *last = own;
        break;
    case Platform::kVerEqual:
        if (own >= Platform::kVerEqual && own <= Platform::kVerLessEqual) return *last = own;
        break;
    case Platform::kVerGreater:
    case Platform::kVerGreaterEqual:
        if (own >= Platform::kVerEqual && own <= Platform::kVerGreaterEqual) return own;
        break;
    case Platform::kVerLess:
    case Platform::kVerLessEqual:
        if (own == Platform::kVerEqual || (own >= Platform::kVerLess && own <= Platform::kVerLessEqual)) return own;
        break;
    }
    if (own == 0) *last |= 0x10;
    return *last & 0xF;
}

}  // namespace

bool SimPlatform::VerifyVersionInfoW(OsVersionInfoEx* info, std::uint32_t typeMask, std::uint64_t conditionMask) {
    if (auto f = Rule("VerifyVersionInfoW")) return Fail(f->error.value_or(kErrorOldWinVersion));
    if (!info) return Fail(kErrorInvalidParameter);
    if (typeMask == 0 || conditionMask == 0) return Fail(kErrorBadArguments);
    const OsInfo& os = machine_.os;
    if ((typeMask & kVerProductType) && !Compare(os.productType, info->productType, ConditionOf(conditionMask, 7)))
        return Fail(kErrorOldWinVersion);
    if (typeMask & kVerSuiteName) {
        const std::uint16_t suite = SuiteMask(os);
        switch (ConditionOf(conditionMask, 6)) {
        case kVerAnd:
            if ((info->suiteMask & suite) != info->suiteMask) return Fail(kErrorOldWinVersion);
            break;
        case kVerOr:
            if (info->suiteMask && !(info->suiteMask & suite)) return Fail(kErrorOldWinVersion);
            break;
        default:
            return Fail(kErrorBadArguments);
        }
    }
    if ((typeMask & kVerPlatformId) && !Compare(kVerPlatformWin32Nt, info->platformId, ConditionOf(conditionMask, 3)))
        return Fail(kErrorOldWinVersion);
    if ((typeMask & kVerBuildNumber) && !Compare(os.buildNumber, info->buildNumber, ConditionOf(conditionMask, 2)))
        return Fail(kErrorOldWinVersion);

    // Version and service pack compare as one number, most significant field
    // first: a field decides unless it is equal, then the next one does.
    const struct {
        std::uint32_t type;
        int slot;
        std::uint32_t system, wanted;
    } fields[] = {
        {kVerMajorVersion, 1, os.major, info->majorVersion},
        {kVerMinorVersion, 0, os.minor, info->minorVersion},
        {kVerServicePackMajor, 5, os.servicePackMajor & 0xFFFFu, info->servicePackMajor},
        {kVerServicePackMinor, 4, os.servicePackMinor & 0xFFFFu, info->servicePackMinor},
    };
    bool matches = true;
    std::uint8_t last = 0;
    for (const auto& f : fields) {
        if (!(typeMask & f.type)) continue;
        const std::uint8_t condition = FieldCondition(&last, ConditionOf(conditionMask, f.slot));
        matches = Compare(f.system, f.wanted, condition);
        if (f.system != f.wanted || condition < kVerEqual || condition > kVerLessEqual) break;
    }
    return matches ? true : Fail(kErrorOldWinVersion);
}

bool SimPlatform::GetVersionExW(OsVersionInfoEx* info) {
    if (auto f = Rule("GetVersionExW")) return Fail(f->error.value_or(kErrorInvalidParameter));
    if (!info) return Fail(kErrorInvalidParameter);
    const std::uint32_t size = info->osVersionInfoSize;
    if (size != kOsVersionInfoSize && size != kOsVersionInfoExSize) return Fail(kErrorInsufficientBuffer);
    const OsInfo& os = machine_.os;
    info->majorVersion = os.major;
    info->minorVersion = os.minor;
    info->buildNumber = os.buildNumber;
    info->platformId = kVerPlatformWin32Nt;
    std::fill(std::begin(info->csdVersion), std::end(info->csdVersion), u'\0');
    if (os.servicePackMajor > 0) {
        const std::u16string csd = Widen("Service Pack " + std::to_string(os.servicePackMajor));
        std::copy_n(csd.begin(), std::min<std::size_t>(csd.size(), 127), info->csdVersion);
    }
    if (size == kOsVersionInfoExSize) {
        info->servicePackMajor = static_cast<std::uint16_t>(os.servicePackMajor);
        info->servicePackMinor = static_cast<std::uint16_t>(os.servicePackMinor);
        info->suiteMask = SuiteMask(os);
        info->productType = static_cast<std::uint8_t>(os.productType);
        info->reserved = 0;
    }
    return true;
}

bool SimPlatform::IsWow64Process(bool* wow64) {
    if (auto f = Rule("IsWow64Process")) return Fail(f->error.value_or(kErrorAccessDenied));
    *wow64 = machine_.os.wow64;
    return true;
}

}  // namespace qf::sim
