#include "installer_tools/log.h"

#include "common/text.h"
#include "platform/resources.h"

namespace qf::tools {
namespace {

constexpr int kLogThreshold = 3;
constexpr std::size_t kWorkingText = 8000;  // wide characters, terminator included
constexpr std::uint32_t kMaxPath = 260;

platform::unique_file& LogFile() {
    static platform::unique_file file;
    return file;
}

void Write(const wstring16& text) {
    std::string bytes = ToTextMode(Narrow(text));
    platform::Current().WriteFile(LogFile().get(), bytes.data(), bytes.size());
}

// One line: the function's prefix, the message up to its first NUL (as the
// C runtime's text would end there), the line end; then a flush.
void WriteLine(const char16_t* function, int level, const wstring16& message) {
    const bool write = level <= kLogThreshold && LogFile();
    if (write) {
        Write(UpToNul(FormatWide(u"%s: ", {function}, kWorkingText - 1)));
        Write(UpToNul(message));
        Write(u"\n");
    }
    if (LogFile()) platform::Current().FlushFile(LogFile().get());
}

}  // namespace

void OpenLog() {
    if (LogFile()) return;
    char16_t dir[kMaxPath] = {};
    std::uint32_t n = platform::Current().GetTempPathW(kMaxPath, dir);
    if (n == 0 || n >= kMaxPath) return;
    wstring16 path = FormatWide(u"%s\\%s", {dir, u"Installer-tools.log"});
    // A path the system could not open anyway: run without a log.
    if (path.size() >= kMaxPath) return;
    LogFile().reset(platform::Current().OpenFile(path, "w+b"));
}

void CloseLog() { LogFile().reset(); }

bool LogIsOpen() { return LogFile().valid(); }

void LogMessage(const char16_t* function, int level, const char16_t* format, FormatArgs args) {
    WriteLine(function, level, FormatWide(format, args, kWorkingText - 1));
}

void LogMessage(const char16_t* function, int level, const char16_t* format, const std::vector<FormatArg>& args) {
    WriteLine(function, level, FormatWide(format, args, kWorkingText - 1));
}

}  // namespace qf::tools
