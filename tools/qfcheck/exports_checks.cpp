// Exports of the prerequisite checks: firmware markers, processor
// virtualization, operating system, memory and encryption.
#include <vector>

#include "common/text.h"
#include "exports.h"
#include "installer_tools/export_access.h"

namespace qfcheck {
namespace {

using Kind = Param::Kind;

// A caller's 8-bit text, in a buffer of its own (the export takes char *).
std::vector<char> NarrowBuffer(const std::u16string& text) {
    const std::string bytes = qf::ToUtf8(text);
    std::vector<char> buffer(bytes.begin(), bytes.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace

void AddCheckExports(std::vector<ExportDef>& e) {
    e.push_back({"CheckNotAlreadyVirtualized::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = CheckNotAlreadyVirtualized().Test(); }});
    e.push_back({"CheckNotAlreadyVirtualized::SearchForStringInBIOS", {{Kind::Text, "text"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     std::vector<char> text = NarrowBuffer(a.Text(0));
                     r.result = CheckNotAlreadyVirtualized().SearchForStringInBIOS(text.data());
                 }});
    e.push_back({"QuillFrameRunning::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = QuillFrameRunning().Test(); }});
    e.push_back({"QuillFrameRunning::SearchForStringInBIOS", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = QuillFrameRunning().SearchForStringInBIOS(); }});

    e.push_back({"ProcessorVT::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = ProcessorVT().Test(); }});
    e.push_back({"VTEnabled::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = VTEnabled().Test(); }});
    e.push_back({"CPUProperties::IsCPUType", {{Kind::Text, "text"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     std::vector<QF_WCHAR> text = WideBuffer(a.Text(0));
                     r.result = CPUProperties().IsCPUType(text.data());
                 }});

    e.push_back({"RequiredMemory::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = RequiredMemory().Test(); }});
    e.push_back({"VistaRequirements::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = VistaRequirements().Test(); }});
    // The optional argument is what the buffer holds before the call: a
    // system of a kind without a name leaves it as it was.
    e.push_back({"VistaRequirements::GetVersion", {}, {{Kind::Text, "version"}}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     std::vector<QF_WCHAR> version = WideBuffer(a.has(0) ? a.Text(0) : std::u16string(), 200);
                     r.result = VistaRequirements().GetVersion(version.data());
                     r.out["version"] = Utf8(U(version.data()));
                 }});
    e.push_back({"VistaRequirements::Is32BitVista", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) {
                     VistaRequirements v;
                     r.result = qf::ExportAccess::Is32BitVista(v);
                 }});
    e.push_back({"CBitlocker::Test", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = CBitlocker().Test(); }});
}

}  // namespace qfcheck
