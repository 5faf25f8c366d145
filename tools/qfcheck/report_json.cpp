// The JSON form of `qfcheck preflight --json`: the same content as the
// human report under stable keys (README: "qfcheck preflight --json").
#include "preflight.h"

namespace qfcheck::preflight {
namespace {

Json Optional(const std::optional<std::uint64_t>& v) { return v ? Json(*v) : Json(nullptr); }

const char* KindName(Placement::Kind kind) {
    switch (kind) {
    case Placement::Kind::Gap: return "gap";
    case Placement::Kind::Shrink: return "shrink";
    case Placement::Kind::None: return "none";
    }
    return "none";
}

Json Slot(const preflight::Slot& s) {
    return {{"index", s.index},
            {"style", s.style == 0 ? "mbr" : s.style == 1 ? "gpt" : "raw"},
            {"type", s.type},
            {"letter", s.letter ? Json(std::string(1, s.letter)) : Json(nullptr)},
            {"startSector", s.startSector},
            {"sizeSectors", s.sizeSectors},
            {"freeBytes", Optional(s.freeBytes)}};
}

Json Disk(const DiskPicture& d) {
    if (!d.read) return nullptr;
    Json slots = Json::array();
    for (const preflight::Slot& s : d.slots) slots.push_back(Slot(s));
    const Placement& p = d.placement;
    Json placement = {{"kind", KindName(p.kind)}};
    if (p.kind == Placement::Kind::Gap) {
        placement["afterSlot"] = p.afterSlot;
        placement["beforeSlot"] = p.beforeSlot >= 0 ? Json(p.beforeSlot) : Json(nullptr);
        placement["gapSectors"] = p.gapSectors;
    } else if (p.kind == Placement::Kind::Shrink) {
        placement["shrinkSlot"] = p.shrinkSlot;
    }
    if (p.kind != Placement::Kind::None) {
        placement["startSector"] = p.startSector;
        placement["foundBy"] = p.foundBy;
    }
    return {{"number", d.diskNumber}, {"sizeBytes", Optional(d.sizeBytes)}, {"slots", slots}, {"placement", placement}};
}

}  // namespace

Json RenderJson(const Result& r) {
    Json reasons = Json::array();
    for (const Reason& reason : r.reasons) reasons.push_back({{"checks", reason.checkIds}, {"text", reason.text}});
    Json checks = Json::object();
    for (const Check& c : r.checks)
        checks[c.id] = {{"title", c.title},     {"group", c.group},   {"export", c.call},
                        {"status", StatusName(c.status)},               {"result", c.result},
                        {"answer", c.answer},   {"why", c.why},       {"details", c.details},
                        {"log", c.log}};
    return {{"format", "qfcheck-preflight/1"},
            {"machine", {{"name", r.machineName}, {"source", r.machineSource}}},
            {"sizeMB", r.sizeMB},
            {"settingsDir", r.settingsDir.empty() ? Json(nullptr) : Json(r.settingsDir)},
            {"verdict", {{"ready", r.ready}, {"reasons", reasons}, {"notes", r.notes}}},
            {"checks", checks},
            {"disk", Disk(r.disk)},
            {"logs",
             {{"installerTools", r.logPath},
              {"corvaneHelper", r.helperLogPath.empty() ? Json(nullptr) : Json(r.helperLogPath)}}}};
}

}  // namespace qfcheck::preflight
