// The SMBIOS walk against dmidecode as an outside reading of the same bytes:
// each real table of shared/testdata, and variants cut short or broken on
// purpose, is wrapped as dmidecode's dump files are (an entry point at offset
// 0 naming the table at 0x20) and decoded with `dmidecode --from-dump -u`.
// Every structure dmidecode shows before the first truncation must be found
// by our walk at the same offset, with the same handle, type, formatted
// bytes and strings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "smbios/raw_smbios_table.h"
#include "smbios/smbios_strings.h"
#include "smbios/table_builder.h"

namespace {

using qftest::TableBytes;
namespace fs = std::filesystem;

// The table after the entry point of a dump file.
constexpr std::size_t kDumpTableAt = 0x20;

std::optional<std::string> Dmidecode() {
    std::vector<std::string> dirs = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
    if (const char* path = std::getenv("PATH")) {
        std::stringstream s(path);
        for (std::string dir; std::getline(s, dir, ':');) dirs.insert(dirs.begin(), dir);
    }
    for (const std::string& dir : dirs) {
        const fs::path exe = fs::path(dir) / "dmidecode";
        std::error_code ec;
        if (fs::is_regular_file(exe, ec)) return exe.string();
    }
    return std::nullopt;
}

void PutLe(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t Checksum(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum += b[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

// A dump file as `dmidecode --dump-bin` writes one: the 64-bit entry point
// ("_SM3_", the table's length as its largest size) or the 32-bit one
// ("_SM_" with "_DMI_", no structure count it could trust), then the table.
std::vector<std::uint8_t> DumpFile(const TableBytes& table, bool entryPoint64) {
    std::vector<std::uint8_t> file(kDumpTableAt, 0);
    if (entryPoint64) {
        std::copy_n("_SM3_", 5, file.begin());
        file[6] = 0x18;               // entry point length
        file[7] = 3, file[8] = 3;     // SMBIOS 3.3
        file[10] = 1;                 // entry point revision
        PutLe(file, 0x0C, table.size(), 4);
        PutLe(file, 0x10, kDumpTableAt, 8);
        file[5] = Checksum(file, 0, 0x18);
    } else {
        std::copy_n("_SM_", 4, file.begin());
        file[5] = 0x1F;
        file[6] = 2, file[7] = 7;     // SMBIOS 2.7
        std::copy_n("_DMI_", 5, file.begin() + 0x10);
        PutLe(file, 0x16, table.size(), 2);
        PutLe(file, 0x18, kDumpTableAt, 4);
        PutLe(file, 0x1C, 0xFFFF, 2);  // structure count: more than any table holds
        file[0x1E] = 0x27;
        file[0x15] = Checksum(file, 0x10, 0x0F);
        file[4] = Checksum(file, 0, 0x1F);
    }
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

// One structure as dmidecode shows it.
struct Shown {
    unsigned handle = 0, type = 0, length = 0;
    std::vector<std::uint8_t> formatted;  // "Header and Data"
    std::vector<std::string> strings;     // as text, non-printable bytes as '.'
    bool truncated = false;
    // dmidecode repairs lengths it knows firmware to get wrong ("Invalid
    // entry length (16). Fixed up to 11." on its error output): it then shows
    // fewer formatted bytes than the header states and reads the strings from
    // where it believes they begin, not from where the length byte puts them.
    bool fixedUp() const { return formatted.size() != length; }
};

bool IsHexRow(const std::string& line) {
    if (line.empty() || line.size() % 3 != 2) return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (i % 3 == 2 ? c != ' ' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::vector<std::uint8_t> HexRow(const std::string& line) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < line.size(); i += 3)
        out.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    return out;
}

// `dmidecode -u` output: "Handle 0x0001, DMI type 1, 27 bytes", then
// "Header and Data:" rows, then "Strings:" with each string's rows (the last
// ending in its NUL, 00) followed by its text; or "<TRUNCATED>".
std::vector<Shown> ParseDmidecode(const std::string& text) {
    std::vector<Shown> out;
    std::stringstream in(text);
    std::string line;
    enum { None, Data, Strings } section = None;
    while (std::getline(in, line)) {
        unsigned handle, type, length;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &handle, &type, &length) == 3) {
            out.emplace_back();
            out.back().handle = handle, out.back().type = type, out.back().length = length;
            section = None;
            continue;
        }
        if (out.empty()) continue;
        Shown& s = out.back();
        const std::size_t indent = line.find_first_not_of('\t');
        const std::string body = indent == std::string::npos ? "" : line.substr(indent);
        if (body == "Header and Data:") section = Data;
        else if (body == "Strings:") section = Strings;
        else if (body == "<TRUNCATED>") s.truncated = true;
        else if (section == Data && IsHexRow(body)) {
            const auto row = HexRow(body);
            s.formatted.insert(s.formatted.end(), row.begin(), row.end());
        } else if (section == Strings && IsHexRow(body)) {
            if (body.size() >= 2 && body.compare(body.size() - 2, 2, "00") == 0) {
                std::getline(in, line);  // the text follows the row that ends the string
                s.strings.push_back(line.substr(std::min(line.find_first_not_of('\t'), line.size())));
            }
        } else if (line.empty()) {
            section = None;
        }
    }
    return out;
}

std::string Shows(const char* s) {
    std::string out;
    for (; *s; ++s) {
        const auto c = static_cast<unsigned char>(*s);
        out += c < 32 || c >= 127 ? '.' : static_cast<char>(c);
    }
    return out;
}

class DmidecodeDifferential : public ::testing::Test {
protected:
    void SetUp() override {
        dmidecode_ = Dmidecode();
        if (!dmidecode_) GTEST_SKIP() << "dmidecode is not installed (Debian package dmidecode; make deps installs it)";
        dir_ = qf::sim::MakeFreshTempDir();
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::vector<Shown> Decode(const TableBytes& table, bool entryPoint64) {
        const std::string file = (fs::path(dir_) / "dump.bin").string();
        const auto bytes = DumpFile(table, entryPoint64);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::string command = *dmidecode_ + " --from-dump '" + file + "' -u 2>/dev/null";
        std::string text;
        if (std::FILE* p = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
            pclose(p);
        }
        EXPECT_NE(text.find("Reading SMBIOS/DMI data from file"), std::string::npos) << text;
        return ParseDmidecode(text);
    }

    // Compares dmidecode's reading of `table` with our walk; the offsets of
    // the whole structures dmidecode showed.
    std::vector<std::size_t> Compare(const TableBytes& table, bool entryPoint64) {
        using namespace qf::smbios;
        const std::vector<Shown> shown = Decode(table, entryPoint64);
        const auto length = static_cast<std::uint32_t>(table.size());
        std::uint32_t at = 0;
        std::vector<std::size_t> offsets;
        for (const Shown& s : shown) {
            SCOPED_TRACE("handle " + std::to_string(s.handle) + " at offset " + std::to_string(at));
            if (s.fixedUp()) ++fixedUp_;
            if (s.truncated) {
                // Not wholly within the table: our walk finds nothing there.
                EXPECT_FALSE(FindSmbiosStructure(table.data() + at, length - at, static_cast<std::uint8_t>(s.type)));
                break;
            }
            // The walk from here: the first structure of its own type is this one.
            const auto found = FindSmbiosStructure(table.data() + at, length - at, static_cast<std::uint8_t>(s.type));
            if (!found) {
                ADD_FAILURE() << "dmidecode shows it, our walk does not find it";
                break;
            }
            EXPECT_EQ(found->offset, 0u);
            const std::uint8_t* b = found->bytes;
            EXPECT_EQ(b[0], s.type);
            EXPECT_EQ(b[1], s.length);
            EXPECT_EQ(static_cast<unsigned>(b[2] | b[3] << 8), s.handle);
            EXPECT_EQ(std::vector<std::uint8_t>(b, b + std::min<std::size_t>(s.formatted.size(), found->span)), s.formatted);
            if (!s.fixedUp()) {
                std::size_t n = 0;
                for (; n < s.strings.size(); ++n) {
                    const char* ours = SmbiosString(*found, static_cast<std::uint8_t>(n + 1));
                    if (!ours) {
                        ADD_FAILURE() << "string " << n + 1 << " not found";
                        break;
                    }
                    EXPECT_EQ(Shows(ours), s.strings[n]) << "string " << n + 1;
                }
                if (n < 255) {
                    EXPECT_EQ(SmbiosString(*found, static_cast<std::uint8_t>(n + 1)), nullptr)
                        << "a string more than dmidecode shows";
                }
            }
            // The first structure of this type in the whole table lies here,
            // unless one came before.
            bool earlier = false;
            for (std::size_t k = 0; k < offsets.size(); ++k) earlier = earlier || shown[k].type == s.type;
            if (!earlier) {
                const auto first = FindSmbiosStructure(table.data(), length, static_cast<std::uint8_t>(s.type));
                EXPECT_TRUE(first && first->offset == at);
            }
            offsets.push_back(at);
            at += found->span + 1;
        }
        return offsets;
    }

    std::optional<std::string> dmidecode_;
    std::string dir_;
    std::size_t fixedUp_ = 0;
};

const char* const kTables[] = {"ASRock-Single-Ryzen", "Beelink-EQ12", "Dell-PowerEdge-R630-Dual-Xeon", "HyperV",
                               "SuperMicro-Dual-Xeon", "SuperMicro-Quad-Opteron"};

TableBytes RealTable(const std::string& name) {
    const qftest::TestdataFile* f = qftest::FindTestdata(name + ".dmi");
    if (!f) {
        ADD_FAILURE() << name << ".dmi is not embedded; shared/testdata/smbios must lie beside the repository";
        return {};
    }
    TableBytes t = f->bytes;
    // This one is a dump file already: its table follows the entry point.
    if (t.size() > 5 && std::equal(t.begin(), t.begin() + 5, "_SM3_")) t.erase(t.begin(), t.begin() + kDumpTableAt);
    return t;
}

TEST_F(DmidecodeDifferential, RealTablesReadTheSameStructures) {
    for (const char* name : kTables) {
        SCOPED_TRACE(name);
        const TableBytes table = RealTable(name);
        ASSERT_FALSE(table.empty());
        EXPECT_GE(Compare(table, true).size(), 5u);
        if (table.size() <= 0xFFFF) Compare(table, false);
    }
    // Only the Management Device of one SuperMicro board, whose length byte
    // says 16 for 11 bytes, is repaired by dmidecode (once per entry point).
    EXPECT_EQ(fixedUp_, 2u);
}

TEST_F(DmidecodeDifferential, TablesCutShortOrBrokenReadTheSameBeforeTheBreak) {
    for (const char* name : kTables) {
        SCOPED_TRACE(name);
        const TableBytes table = RealTable(name);
        // Where dmidecode reads the whole table's structures (checked above).
        const std::vector<std::size_t> at = Compare(table, true);
        ASSERT_GE(at.size(), 5u);
        struct Variant {
            std::string what;
            TableBytes bytes;
        };
        std::vector<Variant> variants;
        const auto cut = [&](const std::string& what, std::size_t n) {
            n = std::min(n, table.size());
            variants.push_back({what + " (" + std::to_string(n) + " bytes)", TableBytes(table.begin(), table.begin() + n)});
        };
        const std::size_t mid = at[at.size() / 2], late = at[at.size() - 2];
        cut("cut in the middle", (at[1] + at.back()) / 2);
        cut("cut inside a header", mid + 2);
        cut("cut inside a formatted area", mid + table[mid + 1] - 1);
        cut("cut inside a string-set", mid + table[mid + 1] + 1);
        cut("cut between the two closing NULs", at[at.size() / 2 + 1] - 1);
        cut("cut at a structure's end", late);
        for (std::uint8_t length : {0, 1, 3}) {
            TableBytes broken = table;
            broken[mid + 1] = length;
            variants.push_back({"structure of length " + std::to_string(length), broken});
        }
        for (std::size_t i = 0; i < variants.size(); ++i) {
            SCOPED_TRACE(variants[i].what);
            // Every variant breaks the table before its last structures.
            EXPECT_LT(Compare(variants[i].bytes, i % 2 == 0).size(), at.size());
        }
    }
}

}  // namespace
