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

std::string FileBytes(const Session& s, const std::string& path) {
    std::ifstream in(std::filesystem::u8path(s.HostPath(path)), std::ios::binary);
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

// The boxes shown since the mark: text, caption, flags.
Json BoxesSince(const Session& s, const Session::Mark& mark) {
    Json boxes = Json::array();
    for (const Session::ShownBox& box : s.BoxesSince(mark))
        boxes.push_back({{"text", box.text}, {"caption", box.caption}, {"flags", box.type}});
    return boxes;
}

}  // namespace

void AddHelperExports(std::vector<ExportDef>& e) {
    e.push_back({"IsRunningFromNativeWindows", {}, {}, false, [](Session& s, const CallArgs&, CallResult& r) {
                     const Session::Mark before = s.Marker();
                     r.result = IsRunningFromNativeWindows();
                     // The log holds this call's lines only: it is emptied at every call.
                     std::vector<std::string> lines;
                     for (const std::string& f : s.FilesOpenedSince(before)) {
                         if (f != "corvanehelper.log") continue;
                         std::size_t offset = 0;
                         lines = ReadNewLines(s.HostPath(f), &offset);
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
                     const Session::Mark before = s.Marker();
                     r.result = DeleteVRA(a.Signed(0), Narrow8(a, 1).c_str());
                     // The script as written, line ends included.
                     const std::vector<std::string> written = s.FilesOpenedSince(before);
                     r.out["script"] = written.empty() ? Json() : Json(FileBytes(s, written.front()));
                     r.more["messageBoxes"] = BoxesSince(s, before);
                 }});
    e.push_back({"DumpAll", {}, {}, false, [](Session& s, const CallArgs&, CallResult& r) {
                     const Session::Mark before = s.Marker();
                     r.result = DumpAll();
                     Json files = Json::array();
                     for (const std::string& f : s.FilesOpenedSince(before)) {
                         const std::string bytes = FileBytes(s, f);
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
