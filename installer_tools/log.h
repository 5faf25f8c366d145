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

// Messages of one method, every one at level 1.
class MethodLog {
public:
    explicit MethodLog(const char16_t* function) : function_(function) {}
    void operator()(const char16_t* format, FormatArgs args = {}) const { LogMessage(function_, 1, format, args); }

private:
    const char16_t* function_;
};

}  // namespace qf::tools
