#include "QuillFrameInstallerTools.h"
#include "common/text.h"
#include "support/sim_fixture.h"

namespace {

using qftest::Lines;
using qftest::Machine;

struct Outcome {
    bool result;
    std::u16string text;
    std::vector<std::string> log;
};

class WmiPropertyTest : public qftest::SimTest {
protected:
    Outcome Read(std::u16string className, std::u16string property) {
        QF_WCHAR text[200] = {};
        CWMIProperty wmi;
        const bool result = wmi.GetWMIProperty(reinterpret_cast<QF_WCHAR*>(&className[0]),
                                               reinterpret_cast<QF_WCHAR*>(&property[0]), text);
        return {result, std::u16string(reinterpret_cast<const char16_t*>(text)), Log()};
    }
};

// A ROOT\CIMV2 class "Test_Class" with the given instances.
std::string WithInstances(const std::string& instances, const std::string& more = "") {
    return Machine(R"("wmi": { "ROOT\\CIMV2": { "Test_Class": )" + instances + " } }" + (more.empty() ? "" : ", " + more));
}

TEST_F(WmiPropertyTest, FailuresLogTheirReasonAndReturnFalse) {
    struct Case {
        const char* name;
        std::string machine;
        std::u16string className, property;
        std::vector<std::string> messages;
    };
    const std::vector<std::string> reachedEnum = {"Entered", "After cocreatinstance",
                                                  "about to create instance of Test_Class class"};
    auto after = [](std::vector<std::string> head, std::vector<std::string> tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::vector<Case> cases = {
        {"no locator", Machine(R"("errors": [ { "call": "CoCreateInstance", "error": "0x800401F0" } ])"),
         u"Win32_OperatingSystem", u"BootDevice", {"Entered", "CoCreateInstance failed"}},
        {"namespace unreachable", Machine(R"("errors": [ { "call": "ConnectServer", "target": "ROOT\\CIMV2", "error": "0x8004100E" } ])"),
         u"Win32_OperatingSystem", u"BootDevice", {"Entered", "After cocreatinstance", "ConnectServer failed", ""}},
        {"proxy security refused", Machine(R"("errors": [ { "call": "CoSetProxyBlanket", "error": "0x80070005" } ])"),
         u"Win32_OperatingSystem", u"BootDevice", {"Entered", "After cocreatinstance", "CoSetProxyBlanket failed"}},
        {"unknown class", Machine(), u"Test_Class", u"Name",
         after(reachedEnum, {"finished create instance. Error: IDispatch error #3600",
                             "finished create instance. Error: ", "finished create instance. Error: (null)",
                             "CoCreateInstanceEnum failed"})},
        {"enumeration refused with a system message",
         WithInstances("[]", R"("errors": [ { "call": "CreateInstanceEnum", "error": "0x80070005" } ])"), u"Test_Class", u"Name",
         after(reachedEnum, {"finished create instance. Error: Access is denied.",
                             "finished create instance. Error: ", "finished create instance. Error: (null)",
                             "CoCreateInstanceEnum failed"})},
        {"enumeration refused with a code nobody names",
         WithInstances("[]", R"("errors": [ { "call": "CreateInstanceEnum", "error": "0x80010105" } ])"), u"Test_Class", u"Name",
         after(reachedEnum, {"finished create instance. Error: Unknown error 0x80010105",
                             "finished create instance. Error: ", "finished create instance. Error: (null)",
                             "CoCreateInstanceEnum failed"})},
        {"class without instances", WithInstances("[]"), u"Test_Class", u"Name",
         after(reachedEnum, {"dwCount = 0", "Did not find any instances of the class"})},
        {"enumeration fails", WithInstances(R"([ { "Name": "x" } ])", R"("errors": [ { "call": "Next", "error": "0x80041001" } ])"),
         u"Test_Class", u"Name", after(reachedEnum, {"dwCount = 0", "Did not find any instances of the class"})},
        {"unknown property", WithInstances(R"([ { "Name": "x" } ])"), u"Test_Class", u"Size",
         after(reachedEnum, {"dwCount = 1", "About to get Size property", "finished get, TYPE = 0", "Get failed"})},
        {"64-bit real", WithInstances(R"([ { "Ratio": { "cimType": 5, "value": 1.5 } } ])"), u"Test_Class", u"Ratio",
         after(reachedEnum, {"dwCount = 1", "About to get Ratio property", "finished get, TYPE = 5", ".vt = 5",
                             "caught bad CIM type"})},
        {"embedded object", WithInstances(R"([ { "Inner": { "cimType": 13, "value": null } } ])"), u"Test_Class", u"Inner",
         after(reachedEnum, {"dwCount = 1", "About to get Inner property", "finished get, TYPE = 13", ".vt = 1",
                             "caught bad CIM type"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.machine);
        const Outcome o = Read(c.className, c.property);
        EXPECT_FALSE(o.result);
        EXPECT_EQ(o.log, Lines("CWMIProperty::GetWMIProperty", c.messages));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(WmiPropertyTest, ValuesBecomeText) {
    struct Case {
        std::string value;  // the property's JSON value
        std::u16string text;
        std::vector<std::string> tail;  // messages after "finished get"
    };
    const std::string longText(250, 'v');
    const std::vector<Case> cases = {
        {R"("\\Device\\HarddiskVolume1")", u"\\Device\\HarddiskVolume1", {".vt = 8", "Caught valid bstr"}},
        {R"("")", u"", {".vt = 8", "Caught valid bstr"}},
        {R"({ "cimType": 8, "value": null })", u"NOT_AVAILABLE", {".vt = 1", "not a valid bstr"}},
        // A result longer than the caller's 200 units is cut to 199.
        {"\"" + longText + "\"", std::u16string(199, u'v'), {".vt = 8", "Caught valid bstr"}},
        {"-7", u"-7", {".vt = 3"}},
        {R"({ "cimType": 19, "value": 3000000000 })", u"-1294967296", {".vt = 3"}},
        {R"({ "cimType": 4, "value": 1.0 })", u"1065353216", {".vt = 4"}},
        {"true", u"1", {".vt = 11"}},
        {R"({ "cimType": 17, "value": 200 })", u"200", {".vt = 17"}},
        {R"({ "cimType": 2, "value": -2 })", u"-2", {".vt = 2"}},
        {R"({ "cimType": 21, "value": "18446744073709551615" })", u"18446744073709551615", {".vt = 8"}},
        {R"({ "cimType": 101, "value": "20261211093000.000000+000" })", u"20261211093000.000000+000", {".vt = 8"}},
        {R"({ "cimType": 8200, "value": ["a", "b"] })", u"a,b", {".vt = 8200"}},
        {R"({ "cimType": 19, "value": null })", u"NOT_AVAILABLE", {".vt = 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Load(WithInstances(R"([ { "P": )" + c.value + " }, { \"P\": \"second\" } ]"));
        const Outcome o = Read(u"Test_Class", u"P");
        EXPECT_TRUE(o.result);
        EXPECT_EQ(qf::ToUtf8(o.text), qf::ToUtf8(c.text));
        ASSERT_GE(o.log.size(), 6u);
        std::vector<std::string> tail(o.log.begin() + 6, o.log.end());
        EXPECT_EQ(tail, Lines("CWMIProperty::GetWMIProperty", c.tail));
        EXPECT_EQ(Held(), std::vector<std::string>{});
    }
}

TEST_F(WmiPropertyTest, ReadsTheBootDeviceOfTheDefaultMachine) {
    Load(Machine());
    const Outcome o = Read(u"Win32_OperatingSystem", u"BootDevice");
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.log, Lines("CWMIProperty::GetWMIProperty",
                           {"Entered", "After cocreatinstance", "about to create instance of Win32_OperatingSystem class",
                            "dwCount = 1", "About to get BootDevice property", "finished get, TYPE = 8", ".vt = 8",
                            "Caught valid bstr"}));
    EXPECT_EQ(o.text, u"\\Device\\HarddiskVolume1");
}

}  // namespace
