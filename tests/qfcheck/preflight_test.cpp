// `qfcheck preflight` on small machines: the verdict and its reasons, the
// JSON's keys, the disk picture, colour, and the replay of a captured machine.
#include <algorithm>
#include <sstream>

#include "capture.h"
#include "preflight.h"
#include "support/sim_fixture.h"

namespace {

using qfcheck::preflight::Json;
using qfcheck::preflight::Result;
using qftest::Machine;

// Every sample here has the virtualization status driver, so that each case
// shows what it is about and nothing else.
std::string Members(const std::string& more) {
    return "\"vtDriver\": { \"answer\": 5 }" + (more.empty() ? "" : ", " + more);
}

// A 64 GiB disk whose C: covers the first half, with `freeBytes` free.
std::string HalfDisk(const std::string& freeBytes) {
    return "\"disks\": [ { \"sizeBytes\": \"64GiB\", \"partitions\": [ {\"type\": 7, \"start\": 0, \"length\": \"32GiB\"},"
           " {\"type\": 0}, {\"type\": 0}, {\"type\": 0} ] } ],"
           " \"volumes\": [ {\"letter\": \"C\", \"extents\": [ {\"disk\": 0, \"start\": 0, \"length\": \"32GiB\"} ],"
           " \"freeBytes\": \"" + freeBytes + "\"} ]";
}

// C: fills a 64 GiB disk.
std::string FullDisk(const std::string& type, const std::string& freeBytes) {
    return "\"disks\": [ { \"sizeBytes\": \"64GiB\", \"partitions\": [ {\"type\": " + type +
           ", \"start\": \"1MiB\", \"length\": \"65534MiB\"}, {\"type\": 0}, {\"type\": 0}, {\"type\": 0} ] } ],"
           " \"volumes\": [ {\"letter\": \"C\", \"extents\": [ {\"disk\": 0, \"start\": \"1MiB\", \"length\": \"65534MiB\"} ],"
           " \"freeBytes\": \"" + freeBytes + "\"} ]";
}

class PreflightTest : public qftest::SimTest {
protected:
    Result Run(const std::string& members, std::uint32_t sizeMB = 1945) {
        Load(Machine(members));
        qfcheck::preflight::Options options;
        options.sizeMB = sizeMB;
        return qfcheck::preflight::Run(session(), options, "test", "test");
    }
};

std::vector<std::string> ReasonChecks(const Result& r) {
    std::vector<std::string> ids;
    for (const auto& reason : r.reasons) ids.insert(ids.end(), reason.checkIds.begin(), reason.checkIds.end());
    return ids;
}

std::string Status(const Result& r, const std::string& id) {
    const auto* c = r.Find(id);
    return c ? qfcheck::preflight::StatusName(c->status) : "missing";
}

TEST_F(PreflightTest, TheVerdictFollowsTheAnswersThatBlock) {
    struct Case {
        const char* what;
        std::string members;
        bool ready;
        std::vector<std::string> reasons;
    };
    const std::vector<Case> cases = {
        {"room behind C:", Members(HalfDisk("1GiB")), true, {}},
        {"no room behind C:, but C: can give it", Members(FullDisk("7", "10GiB")), true, {}},
        {"a full FAT32 C: that only the second resize mode takes", Members(FullDisk("\"0x0C\"", "10GiB")), true, {}},
        {"no room and too little free space", Members(FullDisk("7", "1GiB")), false, {"diskTest"}},
        {"no processor support", Members("\"cpu\": { \"vmx\": false }"), false, {"processorVT"}},
        {"switched off in the firmware", "\"vtDriver\": { \"answer\": 1 }", false, {"vtEnabled"}},
        {"no status driver", "", false, {"vtEnabled"}},
        {"64-bit Windows", Members("\"os\": { \"wow64\": true }"), false, {"operatingSystem"}},
        {"Windows XP", Members("\"os\": { \"major\": 5, \"minor\": 1, \"servicePackMajor\": 3 }"), false,
         {"operatingSystem"}},
        {"one byte too little memory", Members("\"memory\": { \"totalPhysical\": 1999999999 }"), false, {"memory"}},
        {"exactly enough memory", Members("\"memory\": { \"totalPhysical\": 2000000000 }"), true, {}},
        {"the boot device names no volume", Members("\"os\": { \"bootDevice\": \"\\\\Device\\\\Nowhere\" }"), false,
         {"bootDisk"}},
        {"QuillFrame's hypervisor underneath",
         Members("\"firmware\": { \"structures\": [ { \"type\": 11, \"data\": \"01\", \"strings\": [\"Corvane Driftwell\"] } ] }"),
         false, {"quillFrameRunning", "nativeWindows"}},
        {"four primary partitions",
         Members("\"disks\": [ { \"sizeBytes\": \"64GiB\", \"partitions\": [ {\"type\": 7, \"start\": \"1MiB\", \"length\": \"1GiB\"},"
                 " {\"type\": 7, \"start\": \"2GiB\", \"length\": \"1GiB\"}, {\"type\": 7, \"start\": \"4GiB\", \"length\": \"1GiB\"},"
                 " {\"type\": 7, \"start\": \"6GiB\", \"length\": \"1GiB\"} ] } ]"),
         false, {"freeSlot"}},
        {"the environment's partition already there",
         Members("\"disks\": [ { \"sizeBytes\": \"64GiB\", \"partitions\": [ {\"type\": 7, \"start\": 0, \"length\": \"32GiB\"},"
                 " {\"type\": \"0x49\", \"start\": \"32GiB\", \"length\": \"8GiB\"}, {\"type\": 0}, {\"type\": 0} ] } ],"
                 " \"volumes\": [ {\"letter\": \"C\", \"extents\": [ {\"disk\": 0, \"start\": 0, \"length\": \"32GiB\"} ] } ]"),
         false, {"environmentInstalled"}},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.members);
        EXPECT_EQ(r.ready, c.ready) << c.what;
        EXPECT_EQ(ReasonChecks(r), c.reasons) << c.what;
        for (const auto& id : c.reasons) EXPECT_EQ(Status(r, id), "blocks") << c.what << ": " << id;
        EXPECT_EQ(Held(), std::vector<std::string>{}) << c.what;
    }
}

TEST_F(PreflightTest, ReasonsSayWhatBlocksInPlainWords) {
    const Result r = Run("\"vtDriver\": { \"answer\": 1 }, \"memory\": { \"totalPhysical\": \"1GiB\" }");
    ASSERT_EQ(r.reasons.size(), 2u);
    EXPECT_EQ(r.reasons[0].text,
              "Virtualization is switched off in the firmware: turn on Intel VT-x in the BIOS setup (the setting is "
              "locked until the machine restarts).");
    EXPECT_EQ(r.reasons[1].text, "Too little memory: 1.00 GiB, and QuillFrame needs 2,000,000,000 bytes (1907 MiB).");
    // The installer's own disk question says no, and another way is left: a note.
    const Result fat32 = Run(Members(FullDisk("\"0x0C\"", "10GiB")));
    EXPECT_TRUE(fat32.ready);
    EXPECT_EQ(Status(fat32, "diskTest"), "warn");
    EXPECT_EQ(fat32.notes, std::vector<std::string>{"DriveFreeSpace::Test says no, but DriveFreeSpace::CanResize in mode 2, "
                                                    "which takes FAT32 too, finds C: (slot 0) to shrink."});

    const auto* vt = r.Find("vtEnabled");
    ASSERT_NE(vt, nullptr);
    EXPECT_EQ(vt->answer, "off");
    EXPECT_EQ(vt->details["nVTReturn"], 1);
    EXPECT_EQ(vt->log, (std::vector<std::string>{"VTEnabled::Test: entered", "VTEnabled::Test: nVTReturn = 1", "",
                                                 "VTEnabled::Test: Lock bit set", ""}));
}

// Where the new partition goes: the gap the unpartitioned-space search
// found, or the end of the partition that would be shrunk.
TEST_F(PreflightTest, ThePlacementComesFromTheAnswers) {
    Result gap = Run(Members(HalfDisk("1GiB")));
    EXPECT_EQ(gap.disk.placement.kind, qfcheck::preflight::Placement::Kind::Gap);
    EXPECT_EQ(gap.disk.placement.afterSlot, 0);
    EXPECT_EQ(gap.disk.placement.beforeSlot, -1);
    EXPECT_EQ(gap.disk.placement.startSector, 32ull << 21);
    EXPECT_EQ(gap.disk.placement.gapSectors, 32ull << 21);
    EXPECT_EQ(gap.disk.placement.foundBy, "DriveFreeSpace::DoNotNeedToResize");

    // Slot order unlike disk order: the gap lies after slot 1 and before slot 0.
    Result between = Run(Members(
        "\"disks\": [ { \"sizeBytes\": \"64GiB\", \"partitions\": [ {\"type\": 7, \"start\": \"40GiB\", \"length\": \"24GiB\"},"
        " {\"type\": 7, \"start\": 0, \"length\": \"16GiB\"}, {\"type\": 0}, {\"type\": 0} ] } ]"));
    EXPECT_EQ(between.disk.placement.kind, qfcheck::preflight::Placement::Kind::Gap);
    EXPECT_EQ(between.disk.placement.afterSlot, 1);
    EXPECT_EQ(between.disk.placement.beforeSlot, 0);
    EXPECT_EQ(between.disk.placement.startSector, 16ull << 21);
    EXPECT_EQ(between.disk.placement.gapSectors, 24ull << 21);

    Result shrink = Run(Members(FullDisk("7", "10GiB")), 1000);
    EXPECT_EQ(shrink.disk.placement.kind, qfcheck::preflight::Placement::Kind::Shrink);
    EXPECT_EQ(shrink.disk.placement.shrinkSlot, 0);
    EXPECT_EQ(shrink.disk.placement.startSector, (65535ull - 1000) << 11);
    EXPECT_EQ(shrink.disk.placement.foundBy, "DriveFreeSpace::CanResize 1");
    ASSERT_TRUE(shrink.disk.slots[0].freeBytes.has_value());
    EXPECT_EQ(*shrink.disk.slots[0].freeBytes, 10ull << 30);
}

std::string BarOf(const std::string& report) {
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("  |", 0) == 0) return line.substr(2);
    return "";
}

TEST_F(PreflightTest, TheDiskBarIsProportional) {
    // 64 columns for 64 GiB: C: takes 32, the new partition (1945 MiB) 2,
    // the rest of the gap 30.
    const Result r = Run(Members(HalfDisk("1GiB")));
    EXPECT_EQ(BarOf(RenderText(r, false)),
              "|" + std::string(32, 'C') + std::string(2, '#') + std::string(30, '.') + "|");

    // Shrunk: the new partition is the end of C:.
    const Result shrink = Run(Members(FullDisk("7", "10GiB")), 8192);
    EXPECT_EQ(BarOf(RenderText(shrink, false)), "|" + std::string(56, 'C') + std::string(8, '#') + "|");
}

TEST_F(PreflightTest, ColourOnlyWhenAsked) {
    const Result r = Run("\"vtDriver\": { \"answer\": 1 }");
    const std::string plain = RenderText(r, false), coloured = RenderText(r, true);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    EXPECT_NE(coloured.find("\x1b[1;31mNOT READY TO INSTALL\x1b[0m"), std::string::npos);
    // Without the escapes the coloured report is the plain one.
    std::string stripped;
    for (std::size_t i = 0; i < coloured.size(); ++i) {
        if (coloured[i] == '\x1b') {
            i = coloured.find('m', i);
            continue;
        }
        stripped += coloured[i];
    }
    EXPECT_EQ(stripped, plain);
}

TEST_F(PreflightTest, TheReportReadsVerdictFirstThenChecksThenDiskThenLog) {
    const Result r = Run(Members(HalfDisk("1GiB")));
    const std::string text = RenderText(r, false);
    const auto at = [&](const std::string& what) { return text.find(what); };
    EXPECT_LT(at("READY TO INSTALL"), at("\nPrerequisites\n"));
    EXPECT_LT(at("\nPrerequisites\n"), at("\nBoot disk\n"));
    EXPECT_LT(at("\nBoot disk\n"), at("\nDevices\n"));
    EXPECT_LT(at("\nDevices\n"), at("Boot disk 0: 64.0 GiB, MBR partition table"));
    EXPECT_NE(at("  ok    Memory"), std::string::npos);
    EXPECT_NE(at("The new partition would go into the 32.0 GiB of unpartitioned space after C: (at the end of the "
                 "disk), found by DriveFreeSpace::DoNotNeedToResize."),
              std::string::npos);
    EXPECT_NE(at("Diagnostic log: " + session().logPath()), std::string::npos);
}

TEST_F(PreflightTest, TheJsonKeysAreStable) {
    const Json j = RenderJson(Run(Members(HalfDisk("1GiB"))));
    const auto keys = [](const Json& object) {
        std::vector<std::string> out;
        for (const auto& [key, value] : object.items()) out.push_back(key);
        return out;
    };
    EXPECT_EQ(keys(j), (std::vector<std::string>{"format", "machine", "sizeMB", "settingsDir", "verdict", "checks",
                                                 "disk", "logs"}));
    EXPECT_EQ(j["format"], "qfcheck-preflight/1");
    EXPECT_EQ(keys(j["verdict"]), (std::vector<std::string>{"ready", "reasons", "notes"}));
    EXPECT_EQ(keys(j["checks"]),
              (std::vector<std::string>{"processorVT", "vtEnabled", "noOtherHypervisor", "quillFrameRunning",
                                        "operatingSystem", "memory", "encryption", "nativeWindows", "manufacturer",
                                        "bootDisk", "freeSlot", "unpartitionedSpace", "resizeNtfs",
                                        "resizeNtfsOrFat32", "diskTest", "environmentInstalled", "unallocatedSpace",
                                        "bootDiskController", "pciDevices"}));
    for (const auto& [id, check] : j["checks"].items())
        EXPECT_EQ(keys(check), (std::vector<std::string>{"title", "group", "export", "status", "result", "answer",
                                                         "why", "details", "log"}))
            << id;
    EXPECT_EQ(keys(j["disk"]), (std::vector<std::string>{"number", "sizeBytes", "slots", "placement"}));
    EXPECT_EQ(j["disk"]["slots"][0], Json({{"index", 0}, {"style", "mbr"}, {"type", 7}, {"letter", "C"},
                                           {"startSector", 0}, {"sizeSectors", 32ull << 21},
                                           {"freeBytes", 1ull << 30}}));
    EXPECT_EQ(j["disk"]["placement"], Json({{"kind", "gap"}, {"afterSlot", 0}, {"beforeSlot", nullptr},
                                            {"gapSectors", 32ull << 21}, {"startSector", 32ull << 21},
                                            {"foundBy", "DriveFreeSpace::DoNotNeedToResize"}}));
    EXPECT_EQ(keys(j["logs"]), (std::vector<std::string>{"installerTools", "corvaneHelper"}));
}

// A captured description replays with the same answers as the machine it
// was taken from: here the machine is a simulated one, on Windows it is
// the live system (a test of its own).
TEST_F(PreflightTest, ACapturedMachineGivesTheSameAnswers) {
    const std::vector<std::string> machines = {
        std::string(qf::sim::DefaultMachineJson()),
        Machine(Members(FullDisk("\"0x0C\"", "10GiB") + ", \"bitlocker\": { \"volumes\": [ { \"PersistentVolumeID\": \"{1}\" } ] }")),
        Machine("\"vtDriver\": { \"answer\": 1 }, \"cpu\": { \"vmx\": false }, \"os\": { \"wow64\": true }"),
    };
    for (const std::string& machine : machines) {
        Load(machine);
        const Json captured = qfcheck::capture::CaptureMachine("captured");
        EXPECT_EQ(Held(), std::vector<std::string>{});
        EXPECT_EQ(captured["processes"], Json(sim().machine().processes));
        EXPECT_EQ(captured["firmware"]["rsmb"].get<std::string>().size(), 2 * sim().machine().firmware.rsmb.size());
        const Json original = RenderJson(qfcheck::preflight::Run(session(), {}, "a", "a"));
        Load(captured.dump());
        const Json replay = RenderJson(qfcheck::preflight::Run(session(), {}, "a", "a"));
        for (const auto& [id, check] : original["checks"].items())
            for (const char* key : {"result", "status", "answer", "details"})
                EXPECT_EQ(replay["checks"][id][key], check[key]) << id << "." << key << "\n" << captured.dump(2);
        EXPECT_EQ(replay["verdict"], original["verdict"]);
        EXPECT_EQ(replay["disk"], original["disk"]);
    }
}

}  // namespace
