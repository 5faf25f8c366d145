#include <gtest/gtest.h>

#include "common/format.h"

using qf::FormatNarrow;
using qf::FormatWide;

TEST(Format, ConversionsWriteWhatTheCRuntimeWrites) {
    struct Case {
        const char16_t* format;
        std::vector<qf::FormatArg> args;
        const char16_t* expected;
    };
    const std::vector<Case> cases = {
        {u"%s: ", {u"DriveFreeSpace::Test"}, u"DriveFreeSpace::Test: "},
        {u"\\\\.\\%s", {u"C:"}, u"\\\\.\\C:"},
        {u"%c:", {u'E'}, u"E:"},
        {u"%d|%ld", {-5, 2147483647}, u"-5|2147483647"},
        {u"%d", {0xFFFFFFFFu}, u"-1"},                      // an unsigned value's bits, signed
        {u"0x%x", {0x49u}, u"0x49"},
        {u"%x", {-1}, u"ffffffff"},
        {u"%lld %llu", {-1LL, 18446744073709551615ULL}, u"-1 18446744073709551615"},
        {u"%*I64d|", {6, 1945LL}, u"  1945|"},
        {u"%-3d|", {7}, u"7  |"},
        {u"Unknown error 0x%0lX", {0x8004100Eu}, u"Unknown error 0x8004100E"},
        {u"100%% done", {}, u"100% done"},
        {u"%s", {static_cast<const char16_t*>(nullptr)}, u"(null)"},
        {u"%q", {}, u"%q"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qf::ToUtf8(c.format));
        EXPECT_EQ(FormatWide(c.format, c.args), c.expected);
    }
}

TEST(Format, CutsAtTheLimitAndKeepsAnEmbeddedNul) {
    EXPECT_EQ(FormatWide(u"%s", {u"abcdef"}, 4), u"abcd");
    EXPECT_EQ(FormatWide(u"%*d", {2000000000, 7}, 5), u"     ") << "a huge width is cut, not allocated";
    EXPECT_EQ(FormatWide(u"%-99999999999d|", {7}, 3), u"7  ");
    const std::u16string withNul = FormatWide(u"a%cb", {u'\0'});
    EXPECT_EQ(withNul.size(), 3u);
    EXPECT_EQ(qf::UpToNul(withNul), u"a");
}

TEST(Format, NarrowFormatsTakeNarrowText) {
    EXPECT_EQ(FormatNarrow("\\\\.\\PhysicalDrive%-3d", {0}), "\\\\.\\PhysicalDrive0  ");
    EXPECT_EQ(FormatNarrow("table%d.out", {14}), "table14.out");
    EXPECT_EQ(FormatNarrow("%s=%c", {"key", 'v'}), "key=v");
}
