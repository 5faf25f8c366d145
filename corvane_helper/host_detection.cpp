// Where the installer runs: natively or as a guest of the vendor's
// hypervisor (its signature in the raw firmware data), on the manufacturer
// the settings file names, and whether a program is running.
#include <cstring>
#include <string>
#include <string_view>

#include "CorvaneHelper.h"
#include "common/boundary.h"
#include "common/format.h"
#include "corvane_helper/smbios_lookups.h"
#include "platform/resources.h"
#include "smbios/smbios_strings.h"

namespace qf::helper {
namespace {

using namespace platform;

constexpr char kSignature[] = "Corvane Driftwell";
constexpr std::size_t kMaxPath = 260;

// "corvanehelper.log" in the current directory, emptied at every call; each
// line flushed at once. When it cannot be created, nothing is written.
class HelperLog {
public:
    HelperLog() : file_(Current().OpenFile(u"corvanehelper.log", "wb")) {}
    void operator()(const char* format, FormatArgs args = {}) {
        if (!file_) return;
        const std::string line = ToTextMode(FormatNarrow(format, args));
        Current().WriteFile(file_.get(), line.data(), line.size());
        Current().FlushFile(file_.get());
    }

private:
    unique_file file_;
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal apart from the case of A to Z, compared over at most `count`
// characters and up to the terminator of either.
bool EqualIgnoringCase(const char* a, const char* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
        if (a[i] == 0) return true;
    }
    return true;
}

}  // namespace

int IsRunningFromNativeWindows() {
    HelperLog log;
    Platform& os = Current();
    std::uint8_t scratch[4] = {};
    const std::uint32_t size = os.GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, scratch, 1);
    log("Table size = %d\n", {size});
    if (size == 0) {
        log("GetSystemFirmwareTable returns zero\n");
        return -1;
    }
    unique_local buffer(os.LocalAlloc(0, size));
    if (!buffer) {
        log("Failed to allocate memory of oen table\n");
        return -1;
    }
    const std::uint32_t read = os.GetSystemFirmwareTable(Platform::kProviderRsmb, Platform::kTableOem0, buffer.get(), size);
    log("bytes read = %d\n", {read});
    if (read != size) {
        buffer.reset();
        log("nBytesRead != nOemTableSize\n");
        return -1;
    }
    // The whole answer, its header included; data shorter than the
    // signature cannot hold it.
    const bool guest = smbios::ContainsPattern(static_cast<const std::uint8_t*>(buffer.get()), size, kSignature);
    buffer.reset();
    if (guest) {
        log("In domU\n");
        return 0;
    }
    log("In native vista\n");
    return 1;
}

bool IsRunningOnNECSystem(const char* folder) {
    // The header comes from whatever copy the table holds after the read.
    smbios::corvane_helper::ReadRawSmbiosTable(ProcessSmbiosTable());
    SystemInformationHeader header;
    GetSystemInformation(&header);

    const std::string path = FormatNarrow("%s\\CorvaneHelper.ini", {folder});
    if (path.size() >= kMaxPath) return false;  // no such file can be named
    char value[kMaxPath] = {};
    Current().GetPrivateProfileStringA("systeminfo", "manufacturer", "", value, kMaxPath, path.c_str());

    // Without a manufacturer string there is nothing to match.
    const char* firmware = header.manufacturer;
    if (!firmware) return false;
    const std::size_t length = std::strlen(firmware);
    if (length < std::strlen(value)) return false;
    return EqualIgnoringCase(value, firmware, length);
}

int IsProcessRunning(const char* exeName) {
    Platform& os = Current();
    unique_handle snapshot(os.CreateToolhelp32Snapshot(Platform::kTh32csSnapProcess, 0));
    if (!snapshot) return 0;
    Platform::ProcessEntry entry;
    entry.size = Platform::kProcessEntry32Size;
    if (!os.Process32First(snapshot.get(), &entry)) return 0;
    do {
        entry.exeFile[sizeof entry.exeFile - 1] = 0;
        if (EqualIgnoringCase(exeName, entry.exeFile, sizeof entry.exeFile)) return 1;
    } while (os.Process32Next(snapshot.get(), &entry));
    return 0;
}

}  // namespace qf::helper

int IsRunningFromNativeWindows(void) {
    return qf::AtBoundary(-1, [] { return qf::helper::IsRunningFromNativeWindows(); });
}

bool IsRunningOnNECSystem(const char* pszSettingsFolder) {
    return qf::AtBoundary(false, [&] { return qf::helper::IsRunningOnNECSystem(pszSettingsFolder); });
}

int IsProcessRunning(const char* pszExeName) {
    return qf::AtBoundary(0, [&] { return qf::helper::IsProcessRunning(pszExeName); });
}
