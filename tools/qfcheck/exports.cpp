#include "exports.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"

namespace qfcheck {
namespace {

std::vector<ExportDef> MakeExports() {
    std::vector<ExportDef> e;
    AddFrameExports(e);
    AddDiskExports(e);
    AddCheckExports(e);
    AddDeviceExports(e);
    AddHelperExports(e);
    return e;
}

}  // namespace

const QF_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const QF_WCHAR*>(s.c_str()); }

std::vector<QF_WCHAR> WideBuffer(const std::u16string& text, std::size_t capacity) {
    std::vector<QF_WCHAR> buffer(std::max(capacity, text.size() + 1), 0);
    std::copy(text.begin(), text.end(), buffer.begin());
    return buffer;
}

std::u16string U(const QF_WCHAR* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

std::string Utf8(const std::u16string& s) { return qf::ToUtf8(s); }

std::string LetterText(char16_t c) { return c ? qf::ToUtf8(std::u16string(1, c)) : std::string(); }

std::u16string CallArgs::Text(std::size_t i) const { return qf::FromUtf8(values_.at(i)); }

std::uint32_t CallArgs::Number(std::size_t i) const {
    const std::string& v = values_.at(i);
    try {
        std::size_t used = 0;
        const bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
        if (v.empty() || v[0] == '-' || v[0] == '+' || std::isspace(static_cast<unsigned char>(v[0])))
            throw std::invalid_argument(v);
        unsigned long long n = std::stoull(hex ? v.substr(2) : v, &used, hex ? 16 : 10);
        if (used != (hex ? v.size() - 2 : v.size()) || n > 0xFFFFFFFFull) throw std::out_of_range(v);
        return static_cast<std::uint32_t>(n);
    } catch (const std::logic_error&) {
        throw UsageError(export_ + ": argument " + std::to_string(i + 1) + " (\"" + v +
                         "\") is not an unsigned 32-bit number");
    }
}

std::int32_t CallArgs::Signed(std::size_t i) const {
    const std::string& v = values_.at(i);
    try {
        std::size_t used = 0;
        long long n = std::stoll(v, &used, 10);
        if (v.empty() || std::isspace(static_cast<unsigned char>(v[0])) || used != v.size() || n < INT32_MIN ||
            n > INT32_MAX)
            throw std::out_of_range(v);
        return static_cast<std::int32_t>(n);
    } catch (const std::logic_error&) {
        throw UsageError(export_ + ": argument " + std::to_string(i + 1) + " (\"" + v +
                         "\") is not a signed 32-bit number");
    }
}

const std::vector<ExportDef>& Exports() {
    static const std::vector<ExportDef> exports = MakeExports();
    return exports;
}

const ExportDef& CheckCall(const std::string& exportName, std::size_t argCount) {
    for (const ExportDef& e : Exports()) {
        if (e.name != exportName) continue;
        if (argCount < e.params.size() || argCount > e.params.size() + e.optional.size()) {
            std::string expected;
            for (const Param& p : e.params) expected += " " + std::string(p.name);
            for (const Param& p : e.optional) expected += " [" + std::string(p.name) + "]";
            throw UsageError(exportName + ": takes" + (expected.empty() ? std::string(" no arguments") : expected) +
                             ", got " + std::to_string(argCount));
        }
        return e;
    }
    throw UsageError("unknown export: " + exportName);
}

const ExportDef& CheckCall(const std::string& exportName, const std::vector<std::string>& args) {
    const ExportDef& def = CheckCall(exportName, args.size());
    CallArgs callArgs(exportName, args);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Param& p = i < def.params.size() ? def.params[i] : def.optional[i - def.params.size()];
        if (p.kind == Param::Kind::Number && callArgs.Number(i) > p.largest)
            throw UsageError(exportName + ": argument " + std::to_string(i + 1) + " (\"" + args[i] + "\") is more than " +
                             std::to_string(p.largest));
        if (p.kind == Param::Kind::Signed) callArgs.Signed(i);
    }
    return def;
}

Json RunCall(Session& session, const std::string& exportName, const std::vector<std::string>& args) {
    // Arguments are checked before anything runs.
    const ExportDef& def = CheckCall(exportName, args);
    CallArgs callArgs(exportName, args);
    session.TakeLogLines();
    CallResult r;
    def.run(session, callArgs, r);

    Json call;
    call["export"] = exportName;
    call["args"] = args;
    call["result"] = r.result;
    call["out"] = r.out;
    if (def.usesDriveFreeSpace)
        call["object"] = {{"ErrorFlag", session.driveFreeSpace.ErrorFlag},
                          {"LastError", session.driveFreeSpace.LastError}};
    if (!r.prepareLog.empty()) call["prepareLog"] = r.prepareLog;
    call["log"] = session.TakeLogLines();
    for (const auto& [key, value] : r.more.items()) call[key] = value;
    return call;
}

}  // namespace qfcheck
