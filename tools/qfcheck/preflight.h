// `qfcheck preflight`: the installer's questions, asked of both libraries in
// the order an installer asks them, gathered into one structured result that
// report_text.cpp and report_json.cpp render. Every answer comes from an
// export; what qfcheck adds is the verdict (its own rules, listed in the
// README) and plain words for each answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session.h"

namespace qfcheck::preflight {

using Json = nlohmann::ordered_json;

// The partition size an installer plans for unless told otherwise.
constexpr std::uint32_t kDefaultSizeMB = 1945;

struct Options {
    std::uint32_t sizeMB = kDefaultSizeMB;
    std::string settingsDir;  // empty: the manufacturer check is skipped
};

// What one answer means for the install.
enum class Status {
    Ok,           // good for the install
    Blocks,       // the install cannot go ahead
    Warn,         // worth knowing; does not block
    Info,         // a fact about the machine
    Skipped,      // not asked (what it needs is missing: an option, the boot disk's number)
};
const char* StatusName(Status status);

struct Check {
    std::string id;       // stable key: "processorVT"
    std::string group;    // "prerequisites", "bootDisk", "devices"
    std::string title;    // "Processor virtualization"
    std::string call;     // the export(s) asked: "ProcessorVT::Test"
    Json result;          // the export's own result (bool or int); null when not asked
    Json details = Json::object();  // further answers (out-values), by name
    Status status = Status::Info;
    std::string answer;   // short: "yes", "off", "VISTASP1"
    std::string why;      // plain words
    std::string reason;   // with Blocks: the verdict's sentence for it
    std::vector<std::string> log;  // the lines the calls wrote to the diagnostic log
};

struct Slot {
    std::uint32_t index = 0;
    std::uint32_t style = 0;  // 0 MBR, 1 GPT, 2 raw
    std::uint32_t type = 0;   // MBR type; 0: empty (or not MBR)
    char letter = 0;          // 0: none
    std::uint64_t startSector = 0;
    std::uint64_t sizeSectors = 0;
    std::optional<std::uint64_t> freeBytes;  // of its volume, when the libraries read it
};

// Where the new partition would go.
struct Placement {
    enum class Kind { None, Gap, Shrink } kind = Kind::None;
    int afterSlot = -1;     // Gap: the slot the gap follows
    int beforeSlot = -1;    // Gap: the slot that ends it; -1: the end of the disk
    int shrinkSlot = -1;    // Shrink: the partition that gives up space
    std::uint64_t startSector = 0;  // where the new partition would start
    std::uint64_t gapSectors = 0;   // Gap: the whole gap
    std::string foundBy;            // the export whose answer placed it
};

struct DiskPicture {
    bool read = false;  // the boot drive data could be read
    std::uint32_t diskNumber = 0;
    std::optional<std::uint64_t> sizeBytes;  // from the drive geometry
    std::vector<Slot> slots;  // the four primary slots
    Placement placement;
};

// One reason the install cannot go ahead, and the checks that give it (two
// questions may find the same thing).
struct Reason {
    std::vector<std::string> checkIds;
    std::string text;
};

struct Result {
    std::string machineName;
    std::string machineSource;  // "built-in", a file path, or "live"
    std::uint32_t sizeMB = kDefaultSizeMB;
    std::string settingsDir;
    std::vector<Check> checks;
    DiskPicture disk;
    bool ready = false;
    std::vector<Reason> reasons;  // why not ready
    std::vector<std::string> notes;  // what a reader should know even when ready
    std::string logPath;        // "Installer-tools.log"
    std::string helperLogPath;  // "corvanehelper.log", where the helper wrote it

    const Check* Find(const std::string& id) const;
};

// Asks every question on the session's machine.
Result Run(Session& session, const Options& options, std::string machineName, std::string machineSource);

// Renderers. The text report uses colour only when asked to.
std::string RenderText(const Result& result, bool colour);
Json RenderJson(const Result& result);

}  // namespace qfcheck::preflight
