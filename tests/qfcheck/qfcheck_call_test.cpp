#include "exports.h"
#include "support/sim_fixture.h"

namespace {

using qfcheck::Json;
using qfcheck::RunCall;

class QfcheckCallTest : public qftest::SimTest {};

TEST_F(QfcheckCallTest, ReportsResultOutObjectAndLogOfEachCall) {
    Load(qftest::Machine(R"("errors": [ { "call": "CreateFileW", "target": "\\\\.\\C:", "nth": 1, "error": 5 } ])"));
    const Json failed = RunCall(session(), "DriveFreeSpace::GetPhysicalBootDrive", {});
    EXPECT_EQ(failed["export"], "DriveFreeSpace::GetPhysicalBootDrive");
    EXPECT_EQ(failed["args"], Json::array());
    EXPECT_EQ(failed["result"], false);
    EXPECT_EQ(failed["object"], Json({{"ErrorFlag", false}, {"LastError", 0}}));
    EXPECT_EQ(failed["log"].back(), "DriveFreeSpace::GetPhysicalBootDrive: Createfile failed with error 5");

    // The same machine carries over: the error hit the first open only.
    const Json answered = RunCall(session(), "DriveFreeSpace::GetPhysicalBootDrive", {});
    EXPECT_EQ(answered["result"], true);
    EXPECT_EQ(answered["out"]["diskNumber"], 0);
    EXPECT_EQ(answered["log"].front(), "DriveFreeSpace::GetPhysicalBootDrive: Entered");
    EXPECT_EQ(answered["log"].size(), 15u) << answered.dump(1);

    const Json drive = RunCall(session(), "DriveFreeSpace::GetDriveLetterFromBootDevice", {""});
    EXPECT_EQ(drive["out"]["drive"], "C:");
    EXPECT_EQ(RunCall(session(), "fnQuillFrameInstallerTools", {})["result"], 42);
    EXPECT_EQ(RunCall(session(), "nQuillFrameInstallerTools", {})["result"], 0);
}

TEST_F(QfcheckCallTest, RejectsWrongCallsBeforeRunningAnything) {
    Load(qftest::Machine());
    const std::vector<std::pair<std::string, std::vector<std::string>>> wrong = {
        {"DriveFreeSpace::NoSuchMethod", {}},
        {"fnQuillFrameInstallerTools", {"1"}},
        {"CWMIProperty::GetWMIProperty", {"Win32_OperatingSystem"}},
        {"DriveFreeSpace::Test", {""}},
        {"DriveFreeSpace::GetNumberPartitions", {""}},
        {"EnumeratePCIDevices::GetDevices", {"67108865"}},
    };
    for (const auto& [name, args] : wrong) EXPECT_THROW(RunCall(session(), name, args), qfcheck::UsageError) << name;
    EXPECT_EQ(Log(), std::vector<std::string>{});
}

}  // namespace
