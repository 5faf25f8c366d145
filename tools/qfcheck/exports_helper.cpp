// Exports of the helper library: host detection, unallocated space and the
// vendor partition's removal, the SMBIOS dumps, and its class and data item.
// The library's files land in the current directory, and in the folders the
// calls name.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CorvaneHelper.h"
#include "common/text.h"
#include "exports.h"

namespace qfcheck {
namespace {

using Kind = Param::Kind;

std::string Narrow8(const CallArgs& a, std::size_t i) { return qf::Narrow(a.Text(i)); }

// Files the call opened (created or emptied) that are there now, in the
// order it opened them.
std::vector<std::string> FilesOpenedSince(Session& s, std::size_t from) {
    std::vector<std::string> files;
    const auto& calls = s.platform().calls();
    for (std::size_t i = from; i < calls.size(); ++i) {
        if (calls[i].rfind("OpenFile ", 0) != 0) continue;
        const std::string path = calls[i].substr(9);
        std::error_code ec;
        if (std::filesystem::is_regular_file(qf::sim::SimPlatform::HostPath(qf::FromUtf8(path)), ec) &&
            std::find(files.begin(), files.end(), path) == files.end())
            files.push_back(path);
    }
    return files;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(qf::sim::SimPlatform::HostPath(qf::FromUtf8(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The boxes shown since `from`: text, caption, flags.
Json BoxesSince(Session& s, std::size_t from) {
    Json boxes = Json::array();
    const auto& shown = s.platform().messageBoxes();
    for (std::size_t i = from; i < shown.size(); ++i)
        boxes.push_back({{"text", shown[i].text}, {"caption", shown[i].caption}, {"flags", shown[i].type}});
    return boxes;
}

}  // namespace

void AddHelperExports(std::vector<ExportDef>& e) {
    e.push_back({"IsRunningFromNativeWindows", {}, {}, false, [](Session& s, const CallArgs&, CallResult& r) {
                     const std::size_t before = s.platform().calls().size();
                     r.result = IsRunningFromNativeWindows();
                     // The log holds this call's lines only: it is emptied at every call.
                     std::vector<std::string> lines;
                     for (const std::string& f : FilesOpenedSince(s, before)) {
                         if (f != "corvanehelper.log") continue;
                         std::size_t offset = 0;
                         lines = ReadNewLines(qf::sim::SimPlatform::HostPath(qf::FromUtf8(f)), &offset);
                     }
                     r.more["helperLog"] = lines;
                 }});
    e.push_back({"IsRunningOnNECSystem", {{Kind::Text, "settingsFolder"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     r.result = IsRunningOnNECSystem(Narrow8(a, 0).c_str());
                 }});
    e.push_back({"IsProcessRunning", {{Kind::Text, "exeName"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) { r.result = IsProcessRunning(Narrow8(a, 0).c_str()); }});
    e.push_back({"GetUnallocatedSpace", {{Kind::Signed, "diskNumber"}, {Kind::Signed, "tailSectors"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     r.result = GetUnallocatedSpace(a.Signed(0), a.Signed(1));
                 }});
    e.push_back({"DeleteVRA", {{Kind::Signed, "diskNumber"}, {Kind::Text, "scriptFolder"}}, {}, false,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     const std::size_t calls = s.platform().calls().size();
                     const std::size_t boxes = s.platform().messageBoxes().size();
                     r.result = DeleteVRA(a.Signed(0), Narrow8(a, 1).c_str());
                     // The script as written, line ends included.
                     const std::vector<std::string> written = FilesOpenedSince(s, calls);
                     r.out["script"] = written.empty() ? Json() : Json(FileBytes(written.front()));
                     r.more["messageBoxes"] = BoxesSince(s, boxes);
                 }});
    e.push_back({"DumpAll", {}, {}, false, [](Session& s, const CallArgs&, CallResult& r) {
                     const std::size_t before = s.platform().calls().size();
                     r.result = DumpAll();
                     Json files = Json::array();
                     for (const std::string& f : FilesOpenedSince(s, before)) {
                         const std::string bytes = FileBytes(f);
                         files.push_back({{"name", f}, {"bytes", bytes.size()}, {"hex", Hex(bytes)}});
                     }
                     r.out["files"] = std::move(files);
                 }});
    e.push_back({"CCorvaneHelper::CCorvaneHelper", {}, {}, false, [](Session&, const CallArgs&, CallResult& r) {
                     CCorvaneHelper helper;
                     static_cast<void>(helper);
                     r.result = nullptr;
                     r.out["size"] = sizeof helper;
                 }});
    e.push_back({"CCorvaneHelper::operator=", {}, {}, false, [](Session&, const CallArgs&, CallResult& r) {
                     CCorvaneHelper target, source;
                     // The assignment hands back the object assigned to.
                     r.result = &(target = source) == &target;
                 }});
    e.push_back({"nCorvaneHelper", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = nCorvaneHelper; }});
}

}  // namespace qfcheck
