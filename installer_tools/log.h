// The diagnostic log "Installer-tools.log" in the temporary directory: one
// line per message, "Function: message", written through the one formatter.
#pragma once

#include "common/format.h"

namespace qf::tools {

// Load and unload of the library.
void OpenLog();
void CloseLog();
bool LogIsOpen();

void LogMessage(const char16_t* function, int level, const char16_t* format, FormatArgs args = {});
void LogMessage(const char16_t* function, int level, const char16_t* format, const std::vector<FormatArg>& args);

// Messages of one method, every one at level 1. The line's prefix (the
// method's name and ": ", as the file receives them) is made once, for all
// the lines the method writes.
class MethodLog {
public:
    explicit MethodLog(const char16_t* function);
    void operator()(const char16_t* format, FormatArgs args = {}) const;

private:
    const char16_t* function_;
    std::size_t prefixSize_ = 0;  // 0: a name too long for the room; each line makes its prefix
    char prefix_[128];
};

}  // namespace qf::tools
