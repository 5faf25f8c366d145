// Exports of the library frame, the WMI reader and boot disk discovery.
#include "exports.h"
#include "installer_tools/export_access.h"

namespace qfcheck {
namespace {

using Kind = Param::Kind;

}  // namespace

void AddFrameExports(std::vector<ExportDef>& e) {
    e.push_back({"fnQuillFrameInstallerTools", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = fnQuillFrameInstallerTools(); }});
    e.push_back({"nQuillFrameInstallerTools", {}, {}, false,
                 [](Session&, const CallArgs&, CallResult& r) { r.result = nQuillFrameInstallerTools; }});

    e.push_back({"CWMIProperty::GetWMIProperty", {{Kind::Text, "className"}, {Kind::Text, "propertyName"}}, {}, false,
                 [](Session&, const CallArgs& a, CallResult& r) {
                     QF_WCHAR text[200] = {};
                     CWMIProperty wmi;
                     std::vector<QF_WCHAR> className = WideBuffer(a.Text(0)), property = WideBuffer(a.Text(1));
                     r.result = wmi.GetWMIProperty(className.data(), property.data(), text);
                     r.out["text"] = Utf8(U(text));
                 }});

    e.push_back({"DriveFreeSpace::GetPhysicalBootDrive", {}, {}, true,
                 [](Session& s, const CallArgs&, CallResult& r) {
                     QF_DWORD disk = 0;
                     r.result = s.driveFreeSpace.GetPhysicalBootDrive(&disk);
                     r.out["diskNumber"] = disk;
                 }});
    e.push_back({"DriveFreeSpace::GetDriveLetterFromBootDevice", {{Kind::Text, "bootDevice"}}, {}, true,
                 [](Session& s, const CallArgs& a, CallResult& r) {
                     QF_WCHAR drive[3] = {};
                     r.result = qf::ExportAccess::GetDriveLetterFromBootDevice(s.driveFreeSpace, W(a.Text(0)), drive);
                     r.out["drive"] = Utf8(U(drive));
                 }});
}


}  // namespace qfcheck
