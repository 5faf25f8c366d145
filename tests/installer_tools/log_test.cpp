#include <filesystem>
#include <fstream>
#include <iterator>

#include "installer_tools/log.h"
#include "support/sim_fixture.h"

namespace {

using qf::tools::LogMessage;

class LogTest : public qftest::SimTest {
protected:
    void SetUp() override { Load(qftest::Machine()); }
    std::string Bytes() {
        std::ifstream in(session().logPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t Flushes() {
        std::size_t n = 0;
        for (const auto& c : sim().calls()) n += c == "FlushFile";
        return n;
    }
};

TEST_F(LogTest, WritesOneCrLfLinePerMessage) {
    struct Case {
        const char16_t* format;
        std::vector<qf::FormatArg> args;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {u"Partition %d, partition type = 0x%x", {2, 0x49u}, "F: Partition 2, partition type = 0x49\r\n"},
        // A "%" that a value brings in is text, not a conversion.
        {u"BootDevice from WMI = %s", {u"100%d"}, "F: BootDevice from WMI = 100%d\r\n"},
        // A format ending in its own line break leaves an empty line.
        {u"ConnectServer failed\n", {}, "F: ConnectServer failed\r\n\r\n"},
        // A character 0 ends the message; the line end still follows.
        {u"Logical drive = %c, more", {u'\0'}, "F: Logical drive = \r\n"},
        {u"%c", {static_cast<char16_t>(0x263A)}, "F: ?\r\n"},
    };
    for (const Case& c : cases) {
        const std::size_t before = Bytes().size();
        LogMessage(u"F", 1, c.format, c.args);
        EXPECT_EQ(Bytes().substr(before), c.bytes) << qf::ToUtf8(c.format);
    }
}

TEST_F(LogTest, AMethodsLogWritesWhatLogMessageWrites) {
    // The method's log makes its prefix once and formats short messages on
    // the stack; long names and long messages take the general way.
    const std::u16string longName(300, u'N'), longText(600, u'x');
    struct Case {
        const char16_t* function;
        const char16_t* format;
        std::vector<qf::FormatArg> args;
    };
    const std::vector<Case> cases = {
        {u"DriveFreeSpace::Test", u"Partition %d, Starting sector = %llu", {1, 20973568ull}},
        {u"F", u"line\nbreak and %c", {static_cast<char16_t>(0x263A)}},
        {u"F", u"cut %c here", {u'\0'}},
        {u"F", u"%s", {longText}},
        {longName.c_str(), u"after a long name %d", {7}},
    };
    for (const Case& c : cases) {
        const std::size_t start = Bytes().size();
        LogMessage(c.function, 1, c.format, c.args);
        const std::string expected = Bytes().substr(start);
        const qf::tools::MethodLog log(c.function);
        switch (c.args.size()) {
        case 1: log(c.format, {c.args[0]}); break;
        case 2: log(c.format, {c.args[0], c.args[1]}); break;
        }
        EXPECT_EQ(Bytes().substr(start + expected.size()), expected) << qf::ToUtf8(c.format);
    }
}

TEST_F(LogTest, CutsAMessageAt7999Characters) {
    const std::u16string message(8000, u'x');
    LogMessage(u"F", 1, u"%s", {message});
    EXPECT_EQ(Bytes(), "F: " + std::string(7999, 'x') + "\r\n");
}

TEST_F(LogTest, LevelAboveThresholdWritesNothingButStillFlushes) {
    const std::size_t flushes = Flushes();
    LogMessage(u"F", 4, u"hidden");
    EXPECT_EQ(Bytes(), "");
    EXPECT_EQ(Flushes(), flushes + 1);
    LogMessage(u"F", 3, u"shown");
    EXPECT_EQ(Bytes(), "F: shown\r\n");
}

TEST_F(LogTest, EveryLoadStartsAnEmptyLog) {
    LogMessage(u"F", 1, u"first load");
    qf::tools::CloseLog();
    EXPECT_FALSE(qf::tools::LogIsOpen());
    qf::tools::OpenLog();
    LogMessage(u"F", 1, u"second load");
    EXPECT_EQ(Bytes(), "F: second load\r\n");
}

TEST_F(LogTest, RunsWithoutALogWhenTheTemporaryFolderIsUnavailable) {
    qf::tools::CloseLog();
    std::filesystem::remove(session().logPath());
    Load(qftest::Machine(R"("errors": [ { "call": "GetTempPathW", "error": 5 } ])"));
    EXPECT_FALSE(qf::tools::LogIsOpen());
    LogMessage(u"F", 1, u"nowhere");
    EXPECT_FALSE(std::filesystem::exists(session().logPath()));
}

TEST_F(LogTest, RunsWithoutALogWhenThePathWouldPassTheSystemLimit) {
    // 260 units is the system's limit for the whole path, name included.
    qf::tools::CloseLog();
    std::filesystem::path deep = session().tempDir();
    while (deep.string().size() < 250) deep /= "deeper";
    std::filesystem::create_directories(deep);
    qfcheck::Session nested(qf::sim::LoadMachine(qftest::Machine(), "deep"), deep.string());
    EXPECT_FALSE(qf::tools::LogIsOpen());
    EXPECT_FALSE(std::filesystem::exists(deep / "Installer-tools.log"));
}

}  // namespace
