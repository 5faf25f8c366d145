#include <new>

#include "QuillFrameInstallerTools.h"
#include "installer_tools/log.h"
#include "support/sim_fixture.h"

namespace {

// A system that runs out of memory in one chosen call.
class ExhaustedSystem : public qf::sim::SimPlatform {
public:
    ExhaustedSystem(qf::sim::Machine m, std::string dir, std::string call)
        : SimPlatform(std::move(m), std::move(dir)), call_(std::move(call)) {}
    std::uint32_t GetLogicalDrives() override {
        if (call_ == "GetLogicalDrives") throw std::bad_alloc();
        return SimPlatform::GetLogicalDrives();
    }
    qf::platform::HRESULT Get(qf::platform::Interface o, const char16_t* n, qf::platform::Variant* v,
                              std::int32_t* t) override {
        if (call_ == "Get") throw std::bad_alloc();
        return SimPlatform::Get(o, n, v, t);
    }

private:
    std::string call_;
};

class BoundaryTest : public qftest::SimTest {
protected:
    // Runs `body` on an exhausted system and gives back the log it wrote.
    template <typename Body>
    std::vector<std::string> On(const std::string& call, Body body) {
        Load(qftest::Machine());
        qf::tools::CloseLog();
        auto system = std::make_unique<ExhaustedSystem>(qf::sim::LoadMachine(qftest::Machine(), "m"),
                                                        session().tempDir(), call);
        ExhaustedSystem* raw = system.get();
        auto previous = qf::platform::SetCurrent(std::move(system));
        qf::tools::OpenLog();
        body();
        qf::tools::CloseLog();
        EXPECT_EQ(raw->Outstanding(), std::vector<std::string>{}) << "released while unwinding";
        std::size_t offset = 0;
        auto log = qfcheck::ReadNewLines(session().logPath(), &offset);
        qf::platform::SetCurrent(std::move(previous));
        qf::tools::OpenLog();
        return log;
    }
};

TEST_F(BoundaryTest, NothingThrownInsideReachesTheCaller) {
    QF_DWORD disk = 77;
    On("GetLogicalDrives", [&] {
        DriveFreeSpace d;
        EXPECT_FALSE(d.GetPhysicalBootDrive(&disk));
    });
    EXPECT_EQ(disk, 77u);

    const auto log = On("Get", [&] {
        CWMIProperty wmi;
        std::u16string className = u"Win32_OperatingSystem", property = u"BootDevice";
        QF_WCHAR text[200];
        EXPECT_FALSE(wmi.GetWMIProperty(reinterpret_cast<QF_WCHAR*>(&className[0]),
                                        reinterpret_cast<QF_WCHAR*>(&property[0]), text));
    });
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "CWMIProperty::GetWMIProperty: Caught exception");
}

}  // namespace
