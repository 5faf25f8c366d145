#include "installer_tools/log.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

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

constexpr std::size_t kCut = kWorkingText - 1;

// The line's prefix: "%s: " with the function's name, cut like the working
// text, as the file receives it (each unit narrowed to one byte, "\n"
// written as CR LF), written at `out`, which has room for 2 * `length` + 2
// bytes; `length` is the name's, at most kCut.
char* PutPrefix(char* out, const char16_t* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == u'\n') *out++ = '\r';
        *out++ = name[i] <= 0xFF ? static_cast<char>(name[i]) : '?';
    }
    if (length < kCut) *out++ = ':';
    if (length + 1 < kCut) *out++ = ' ';
    return out;
}

const char16_t* NameOf(const char16_t* function) { return function ? function : u"(null)"; }

// The message as the file receives it, written at `out`: up to its first
// NUL (as the C runtime's text would end there), "\n" written as CR LF.
// `out` has room for twice the message.
char* PutMessage(char* out, const char* text, std::size_t size) {
    const char* nul = static_cast<const char*>(std::memchr(text, 0, size));
    const char* const end = nul ? nul : text + size;
    while (text != end) {
        const char* line = static_cast<const char*>(std::memchr(text, '\n', end - text));
        const char* stop = line ? line : end;
        std::memcpy(out, text, stop - text);
        out += stop - text;
        if (!line) break;
        *out++ = '\r';
        *out++ = '\n';
        text = line + 1;
    }
    return out;
}

bool Writing(int level) { return level <= kLogThreshold && LogFile(); }

void Write(const char* line, std::size_t size) { platform::Current().WriteFile(LogFile().get(), line, size); }

// The file is flushed after every message, whatever its level.
void Flush() {
    if (LogFile()) platform::Current().FlushFile(LogFile().get());
}

// A line of the prefix and a message already 8-bit, put together in memory
// and written in one write, so that no other writer's text lands inside it.
void WriteLine(const char* prefix, std::size_t prefixSize, const char* message, std::size_t size) {
    const std::size_t room = prefixSize + 2 * size + 2;
    char stack[640];
    std::unique_ptr<char[]> heap;
    char* const line = room <= sizeof stack ? stack : (heap.reset(new char[room]), heap.get());
    std::memcpy(line, prefix, prefixSize);
    char* end = PutMessage(line + prefixSize, message, size);
    *end++ = '\r';
    *end++ = '\n';
    Write(line, static_cast<std::size_t>(end - line));
}

// A short message without a line break of its own, as nearly every one is,
// formatted on the stack straight behind the prefix. False, with nothing
// written, for any other.
bool WriteShortLine(const char* prefix, std::size_t prefixSize, const char16_t* format, FormatArgs args) {
    char line[640];
    if (prefixSize + 2 >= sizeof line) return false;
    std::memcpy(line, prefix, prefixSize);
    char* const message = line + prefixSize;
    const std::size_t n = FormatWideNarrowed(message, sizeof line - prefixSize - 2, format, args, kCut);
    if (n == SIZE_MAX) return false;
    const char* nul = static_cast<const char*>(std::memchr(message, 0, n));
    const std::size_t length = nul ? static_cast<std::size_t>(nul - message) : n;
    if (std::memchr(message, '\n', length)) return false;
    message[length] = '\r';
    message[length + 1] = '\n';
    Write(line, prefixSize + length + 2);
    return true;
}

// One line: the prefix, the message formatted from `format` and `args`,
// the line end; then a flush.
template <typename Args>
void WriteLine(const char* prefix, std::size_t prefixSize, int level, const char16_t* format, const Args& args) {
    if (Writing(level)) {
        bool written = false;
        if constexpr (std::is_same_v<Args, FormatArgs>) written = WriteShortLine(prefix, prefixSize, format, args);
        if (!written) {
            const std::string message = FormatWideNarrowed(format, args, kCut);
            WriteLine(prefix, prefixSize, message.data(), message.size());
        }
    }
    Flush();
}

// The same under a function's name.
template <typename Args>
void WriteLine(const char16_t* function, int level, const char16_t* format, const Args& args) {
    const char16_t* name = NameOf(function);
    const std::size_t length = std::min(WideLength(name), kCut);
    char stack[128];
    std::unique_ptr<char[]> heap;
    char* const prefix = 2 * length + 2 <= sizeof stack ? stack : (heap.reset(new char[2 * length + 2]), heap.get());
    WriteLine(prefix, PutPrefix(prefix, name, length) - prefix, level, format, args);
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
    WriteLine(function, level, format, args);
}

void LogMessage(const char16_t* function, int level, const char16_t* format, const std::vector<FormatArg>& args) {
    WriteLine(function, level, format, args);
}

MethodLog::MethodLog(const char16_t* function) : function_(function) {
    const char16_t* name = NameOf(function);
    const std::size_t length = std::min(WideLength(name), kCut);
    if (2 * length + 2 <= sizeof prefix_) prefixSize_ = PutPrefix(prefix_, name, length) - prefix_;
}

void MethodLog::operator()(const char16_t* format, FormatArgs args) const {
    if (prefixSize_ != 0) WriteLine(prefix_, prefixSize_, 1, format, args);
    else WriteLine(function_, 1, format, args);
}

}  // namespace qf::tools
