// Every export of both libraries, callable by name with text arguments, as
// `qfcheck call` offers them.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session.h"

namespace qfcheck {

using Json = nlohmann::ordered_json;

// A call that cannot be made as asked (unknown export, wrong arguments).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Param {
    enum class Kind { Text, Number, Signed } kind;
    const char* name;
    std::uint32_t largest = 0xFFFFFFFF;  // of a number
};

class CallArgs {
public:
    CallArgs(std::string exportName, std::vector<std::string> values)
        : export_(std::move(exportName)), values_(std::move(values)) {}
    std::size_t size() const { return values_.size(); }
    bool has(std::size_t i) const { return i < values_.size(); }
    std::u16string Text(std::size_t i) const;
    std::uint32_t Number(std::size_t i) const;  // decimal or 0x hex, 32-bit
    std::int32_t Signed(std::size_t i) const;   // decimal, may be negative

private:
    std::string export_;
    std::vector<std::string> values_;
};

// What an export's runner fills in.
struct CallResult {
    Json result;
    Json out = Json::object();
    // Log lines of what qfcheck did before the call (filling a record the
    // export takes); shown as `prepareLog` when there are any.
    std::vector<std::string> prepareLog;
    // Further members of the call's answer, after "log" (helperLog, messageBoxes).
    Json more = Json::object();
};

struct ExportDef {
    std::string name;
    std::vector<Param> params;
    std::vector<Param> optional;   // trailing in-out initial values
    bool usesDriveFreeSpace = false;
    std::function<void(Session&, const CallArgs&, CallResult&)> run;
};

const std::vector<ExportDef>& Exports();

// Runs one call and returns its JSON object (export, args, result, out,
// object, log, ...). Throws UsageError before calling anything when the
// export or its arguments are wrong.
Json RunCall(Session& session, const std::string& exportName, const std::vector<std::string>& args);
// Checks a call without running it.
const ExportDef& CheckCall(const std::string& exportName, std::size_t argCount);
// The same, and every argument's value too: a run checks all its calls so
// that a wrong one stops it before anything runs.
const ExportDef& CheckCall(const std::string& exportName, const std::vector<std::string>& args);

// Each area registers its exports; `qfcheck exports` lists them in this order.
void AddFrameExports(std::vector<ExportDef>& exports);
void AddHelperExports(std::vector<ExportDef>& exports);
void AddDiskExports(std::vector<ExportDef>& exports);
void AddCheckExports(std::vector<ExportDef>& exports);
void AddDeviceExports(std::vector<ExportDef>& exports);

// Conversions between the exported surface's wide text and JSON.
const QF_WCHAR* W(const std::u16string& s);
// A caller's wide text, NUL-terminated, in a buffer of its own of at least
// `capacity` units (for exports that take a non-const pointer).
std::vector<QF_WCHAR> WideBuffer(const std::u16string& text, std::size_t capacity = 0);
std::u16string U(const QF_WCHAR* s);
// A wide text as UTF-8 for JSON output.
std::string Utf8(const std::u16string& s);
std::string LetterText(char16_t c);  // "C", or "" for 0

}  // namespace qfcheck
