// The counting platform is how the live suite tells that a call gave back
// what it took. Here it sits in front of the simulation, which keeps its own
// count: both must agree, and the counter must see every kind of leak.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "common/text.h"
#include "exports.h"
#include "live/live_calls.h"
#include "platform/counting_platform.h"
#include "support/sim_fixture.h"

namespace {

using qf::platform::CountingPlatform;
using qf::platform::Handle;
using qf::platform::Interface;
using Lines = std::vector<std::string>;

const char* const kMachine = R"({"format": "qf-machine/1",
  "disks": [{"sizeBytes": "1GiB", "partitions": [{"type": "0x07", "start": "1MiB", "length": "512MiB"}]}]})";

class Counting : public ::testing::Test {
protected:
    void SetUp() override { dir_ = qf::sim::MakeFreshTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::unique_ptr<CountingPlatform> Make(CountingPlatform::Effects effects, qf::sim::SimPlatform** sim) {
        auto inner = std::make_unique<qf::sim::SimPlatform>(qf::sim::LoadMachine(kMachine, "test"), dir_);
        *sim = inner.get();
        return std::make_unique<CountingPlatform>(std::move(inner), effects);
    }

    std::string dir_;
};

// Everything taken is listed until it is given back; giving back twice, or
// what was never taken, is a stray.
TEST_F(Counting, ListsWhatIsHeldAndCatchesStrayReleases) {
    qf::sim::SimPlatform* sim = nullptr;
    auto os = Make(CountingPlatform::Effects::Pass, &sim);
    const Handle disk = os->CreateFileW(u"\\\\.\\PhysicalDrive0", qf::platform::kGenericRead, 3,
                                        qf::platform::kOpenExisting, 0);
    ASSERT_NE(disk, qf::platform::kInvalidHandle);
    const Handle file = os->OpenFile(qf::FromUtf8(dir_ + "/out.txt"), "wb");
    void* memory = os->LocalAlloc(0, 28);
    const auto list = os->SetupDiGetClassDevsW(nullptr, u"PCI", qf::platform::kDigcfAllClasses);
    ASSERT_TRUE(qf::platform::Succeeded(os->CoInitializeEx(0)));
    Interface locator = 0, services = 0;
    ASSERT_TRUE(qf::platform::Succeeded(os->CreateWbemLocator(&locator)));
    ASSERT_TRUE(qf::platform::Succeeded(os->ConnectServer(locator, u"ROOT\\CIMV2", &services)));
    // A failed open takes nothing.
    EXPECT_EQ(os->CreateFileW(u"\\\\.\\PhysicalDrive9", qf::platform::kGenericRead, 3, qf::platform::kOpenExisting, 0),
              qf::platform::kInvalidHandle);

    EXPECT_EQ(os->Outstanding(), (Lines{"COM initialisation", "device list PCI", "file " + dir_ + "/out.txt",
                                        "handle \\\\.\\PhysicalDrive0", "interface IWbemLocator",
                                        "interface IWbemServices ROOT\\CIMV2", "local memory of 28 bytes"}));
    EXPECT_EQ(os->Outstanding().size(), sim->OutstandingCount());

    os->Release(services);
    os->Release(locator);
    os->CoUninitialize();
    os->SetupDiDestroyDeviceInfoList(list);
    os->LocalFree(memory);
    os->LocalFree(nullptr);  // allowed, and nothing
    os->CloseFile(file);
    os->CloseHandle(disk);
    EXPECT_EQ(os->Outstanding(), Lines{});
    EXPECT_EQ(sim->OutstandingCount(), 0u);
    EXPECT_EQ(os->strays(), Lines{});

    os->CloseHandle(disk);
    os->Release(locator);
    os->CoUninitialize();
    EXPECT_EQ(os->strays().size(), 3u);
    EXPECT_EQ(os->strays().back(), "CoUninitialize without a CoInitializeEx");
    EXPECT_EQ(os->strays().front().rfind("CloseHandle of 0x", 0), 0u) << os->strays().front();
}

// Held back: no program starts and no box reaches the screen, but both are
// recorded, and the start fails as a refused one does.
TEST_F(Counting, HoldsBackProgramsAndMessageBoxes) {
    qf::sim::SimPlatform* sim = nullptr;
    auto os = Make(CountingPlatform::Effects::HoldBack, &sim);
    char line[] = "diskpart /s \"x\"";
    qf::platform::Platform::ProcessInformation started;
    EXPECT_FALSE(os->CreateProcessA("C:\\Windows\\system32\\diskpart.exe", line, true, 0, &started));
    EXPECT_EQ(os->GetLastError(), qf::platform::kErrorAccessDenied);
    EXPECT_EQ(os->MessageBoxA(0, "text", "caption", 0x40), 1);
    EXPECT_TRUE(sim->messageBoxes().empty());
    EXPECT_TRUE(std::none_of(sim->calls().begin(), sim->calls().end(),
                             [](const std::string& c) { return c.rfind("CreateProcessA", 0) == 0; }));
    ASSERT_EQ(os->processesStarted().size(), 1u);
    EXPECT_EQ(os->processesStarted()[0].second, "diskpart /s \"x\"");
    ASSERT_EQ(os->messageBoxes().size(), 1u);
    EXPECT_EQ(os->messageBoxes()[0].caption, "caption");
    EXPECT_EQ(os->Outstanding(), Lines{});

    // Passed on, the same calls reach the simulation.
    auto pass = Make(CountingPlatform::Effects::Pass, &sim);
    pass->MessageBoxA(0, "text", "caption", 0x40);
    EXPECT_EQ(sim->messageBoxes().size(), 1u);
}

// The live suite's calls cover every export, and on every sample machine
// the counter and the simulation agree after each of them: nothing held,
// nothing given back twice.
TEST_F(Counting, AgreesWithTheSimulationOnEveryLiveCall) {
    std::set<std::string> registered, live;
    for (const qfcheck::ExportDef& def : qfcheck::Exports()) registered.insert(def.name);
    for (const qftest::LiveCall& call : qftest::LiveCalls()) live.insert(call.exportName);
    EXPECT_EQ(live, registered);

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    for (const auto& entry : std::filesystem::directory_iterator(std::string(QF_SOURCE_DIR) + "/machines")) {
        if (entry.path().extension() != ".json") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const qf::sim::Machine machine = qfcheck::LoadMachineFile(entry.path().string());
        const std::map<std::string, std::string> values = {
            {"{bootDevice}", machine.os.bootDevice ? qf::ToUtf8(*machine.os.bootDevice) : "NOT_AVAILABLE"},
            {"{dir}", dir_},
            {"{exe}", "qf_tests"}};
        qfcheck::Session session(machine, dir_, true);
        CountingPlatform& counted = session.counted();
        const Lines loaded = counted.Outstanding();  // the log the library keeps open
        for (const qftest::LiveCall& call : qftest::LiveCalls()) {
            SCOPED_TRACE(call.exportName);
            qfcheck::RunCall(session, call.exportName, qftest::Expand(call.args, values));
            EXPECT_EQ(counted.Outstanding(), loaded);
            EXPECT_EQ(counted.Outstanding().size(), session.platform().OutstandingCount());
        }
        EXPECT_EQ(counted.strays(), Lines{});
    }
    std::filesystem::current_path(previous);
}

}  // namespace
