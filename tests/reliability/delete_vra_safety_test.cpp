// DeleteVRA on generated layouts: any mix of partition types, several vendor
// partitions (0x49), extended partitions with their logical drives, layouts
// longer than the request's 26 entries, disks that are not there, script
// folders that cannot hold the script. Only the first 0x49 entry of the
// named disk is ever selected and removed; when there is none, nothing is
// written, nothing is started and no disk changes.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "CorvaneHelper.h"
#include "corvane_helper/helper_fixture.h"

namespace {

using Entry = std::tuple<std::uint8_t, std::uint64_t, std::uint64_t, std::uint32_t>;  // type, start, length, number

constexpr std::uint8_t kVendor = 0x49;
constexpr std::uint32_t kNoNumber = 0xFFFFFFFF;
constexpr std::size_t kLayoutRoom = 26;  // entries the layout request has room for

struct Generated {
    std::string json;
    int disk = 0;  // the disk DeleteVRA is asked for
};

// A description of 1 to 3 disks with random layouts.
Generated Generate(std::mt19937& rng) {
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const int kTypes[] = {0x00, 0x07, 0x0B, 0x0C, kVendor, kVendor, 0x05, 0x0F, 0x85, 0x27, 0x83, 0x12};
    Generated g;
    std::string disks;
    std::vector<int> numbers;
    const int count = 1 + pick(3);
    for (int d = 0; d < count; ++d) {
        int number;
        do number = pick(5);
        while (std::find(numbers.begin(), numbers.end(), number) != numbers.end());
        numbers.push_back(number);
        const bool gpt = pick(5) == 0;
        // Mostly short layouts; now and then more than the request holds.
        const int entries = pick(4) == 0 ? 20 + pick(14) : pick(12);
        const bool explicitNumbers = pick(4) == 0;
        std::vector<std::uint32_t> free;  // distinct explicit numbers
        for (std::uint32_t n = 1; n <= 64; ++n) free.push_back(n);
        std::shuffle(free.begin(), free.end(), rng);
        bool vendorSeen = false;
        std::string list;
        for (int i = 0; i < entries; ++i) {
            int type = pick(6) == 0 ? pick(256) : kTypes[pick(static_cast<int>(std::size(kTypes)))];
            std::string entry = "{ \"type\": " + std::to_string(type);
            if (type != 0)
                entry += ", \"start\": \"" + std::to_string(1 + 2 * i) + "MiB\", \"length\": \"" +
                         std::to_string(1 + pick(2)) + "MiB\"";
            // The first vendor partition now and then without a number.
            if (type == kVendor && !vendorSeen && pick(8) == 0) entry += ", \"number\": 4294967295";
            else if (explicitNumbers) entry += ", \"number\": " + std::to_string(free[i]);
            vendorSeen = vendorSeen || type == kVendor;
            list += (list.empty() ? "" : ", ") + entry + " }";
        }
        disks += std::string(disks.empty() ? "" : ", ") + "{ \"number\": " + std::to_string(number) +
                 ", \"sizeBytes\": \"1TiB\", \"style\": \"" + (gpt ? "gpt" : "mbr") + "\", \"partitions\": [ " + list +
                 " ] }";
    }
    g.disk = pick(10) == 0 ? 7 : numbers[pick(count)];
    g.json = qftest::Machine(R"("disks": [ )" + disks + R"( ], "volumes": [])");
    return g;
}

std::vector<Entry> Layout(const qf::sim::Disk& d) {
    std::vector<Entry> out;
    for (const auto& p : d.partitions)
        if (p.type != 0) out.emplace_back(p.type, p.start, p.length, p.number);
    return out;
}

class DeleteVraSafety : public qftest::HelperTest {
protected:
    std::filesystem::path Script() const { return std::filesystem::path(dir()) / "DEL_VRA_SCRIPT_FILE"; }
};

TEST_F(DeleteVraSafety, OnlyTheFirstVendorPartitionOfTheNamedDiskIsEverSelected) {
    std::mt19937 rng(20240509);
    int removed = 0, refused = 0, long_ = 0, several = 0;
    for (int i = 0; i < 300; ++i) {
        const Generated g = Generate(rng);
        SCOPED_TRACE("case " + std::to_string(i) + ", disk " + std::to_string(g.disk) + ": " + g.json);
        Load(g.json);
        std::filesystem::remove(Script());

        // What the description holds, read before the call.
        const std::vector<qf::sim::Disk> before = sim().machine().disks;
        const qf::sim::Disk* target = nullptr;
        for (const auto& d : before)
            if (static_cast<int>(d.number) == g.disk) target = &d;
        std::optional<std::size_t> vendor;
        if (target && target->partitions.size() <= kLayoutRoom)
            for (std::size_t e = 0; e < target->partitions.size() && !vendor; ++e)
                if (target->partitions[e].type == kVendor) vendor = e;
        const bool selectable = vendor && target->partitions[*vendor].number != kNoNumber;
        long_ += target && target->partitions.size() > kLayoutRoom;
        several += target && std::count_if(target->partitions.begin(), target->partitions.end(),
                                            [](const qf::sim::Partition& p) { return p.type == kVendor; }) > 1;

        const std::size_t from = sim().calls().size();
        const int result = DeleteVRA(g.disk, dir().c_str());
        EXPECT_EQ(Held(), std::vector<std::string>{});
        EXPECT_TRUE(sim().messageBoxes().empty());
        bool started = false;
        for (const std::string& c : CallsSince(from)) started = started || c.rfind("CreateProcessA", 0) == 0;

        const std::vector<qf::sim::Disk>& after = sim().machine().disks;
        ASSERT_EQ(after.size(), before.size());
        if (!selectable) {
            ++refused;
            EXPECT_EQ(result, -1);
            EXPECT_FALSE(started);
            EXPECT_FALSE(std::filesystem::exists(Script())) << "nothing written";
            for (std::size_t d = 0; d < before.size(); ++d) EXPECT_EQ(Layout(after[d]), Layout(before[d]));
            continue;
        }
        ++removed;
        const qf::sim::Partition chosen = target->partitions[*vendor];
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(started);
        EXPECT_EQ(ReadHostFile(Script()), "select disk " + std::to_string(g.disk) + "\r\nselect part " +
                                              std::to_string(chosen.number) + "\r\ndelete part\r\nexit");
        // That entry is gone from the named disk, and nothing else anywhere.
        for (std::size_t d = 0; d < before.size(); ++d) {
            std::vector<Entry> expected = Layout(before[d]);
            if (&before[d] == target)
                expected.erase(std::find(expected.begin(), expected.end(),
                                         Entry{chosen.type, chosen.start, chosen.length, chosen.number}));
            EXPECT_EQ(Layout(after[d]), expected) << "disk " << before[d].number;
        }
    }
    // The generated cases reach every kind of answer.
    EXPECT_GT(removed, 50);
    EXPECT_GT(refused, 50);
    EXPECT_GT(long_, 10);
    EXPECT_GT(several, 10);
}

// A folder that cannot hold the script (a path that is a file, a folder that
// does not exist): nothing is started and the vendor partition stays.
TEST_F(DeleteVraSafety, AScriptFolderThatCannotHoldTheScriptStartsNothing) {
    const std::string aFile = (std::filesystem::path(dir()) / "a-file").string();
    WriteHostFile(aFile, "not a folder");
    for (const std::string& folder : {aFile, (std::filesystem::path(dir()) / "no-such-folder").string()}) {
        SCOPED_TRACE(folder);
        Load(qftest::Machine(R"("disks": [ { "sizeBytes": "1TiB", "partitions": [
            { "type": 7, "start": "1MiB", "length": "1GiB" }, { "type": 73, "start": "2GiB", "length": "8GiB" } ] } ],
            "volumes": [])"));
        const std::size_t from = sim().calls().size();
        EXPECT_EQ(DeleteVRA(0, folder.c_str()), -1);
        for (const std::string& c : CallsSince(from)) EXPECT_NE(c.rfind("CreateProcessA", 0), 0u) << c;
        EXPECT_EQ(sim().machine().disks[0].partitions[1].type, kVendor);
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

}  // namespace
