// The simulated system services behind the prerequisite checks answer as
// the system does: its condition-mask layout, its order of comparison, its
// record sizes and its failures.
#include "support/sim_fixture.h"

namespace {

using namespace qf::platform;
using qftest::Machine;

class SimSystemTest : public qftest::SimTest {
protected:
    std::uint64_t Mask(std::initializer_list<std::pair<std::uint32_t, std::uint8_t>> fields) {
        std::uint64_t mask = 0;
        for (const auto& [field, condition] : fields) mask = sim().VerSetConditionMask(mask, field, condition);
        return mask;
    }
    Platform::OsVersionInfoEx Wanted(std::uint32_t major, std::uint32_t minor, std::uint16_t spMajor = 0,
                                     std::uint16_t spMinor = 0) {
        Platform::OsVersionInfoEx v;
        v.osVersionInfoSize = Platform::kOsVersionInfoExSize;
        v.majorVersion = major;
        v.minorVersion = minor;
        v.servicePackMajor = spMajor;
        v.servicePackMinor = spMinor;
        return v;
    }
};

TEST_F(SimSystemTest, ConditionMaskHoldsThreeBitsPerField) {
    Load(Machine());
    EXPECT_EQ(Mask({{Platform::kVerMajorVersion, 3}, {Platform::kVerMinorVersion, 3},
                    {Platform::kVerServicePackMajor, 3}, {Platform::kVerServicePackMinor, 3}}),
              0x1B01Bu);
    EXPECT_EQ(Mask({{Platform::kVerProductType, Platform::kVerEqual}}), 1ull << 21);
    EXPECT_EQ(Mask({{Platform::kVerMinorVersion | Platform::kVerServicePackMajor, 2}}), 2ull << 15)
        << "a mask naming two fields sets one";
    EXPECT_EQ(Mask({{Platform::kVerMajorVersion, 0}}), 0u);
    EXPECT_EQ(Mask({{Platform::kVerMajorVersion, 0xF9}}), 1ull << 3) << "three bits of the condition";
}

TEST_F(SimSystemTest, VersionAndServicePackCompareAsOneNumber) {
    const std::uint32_t all = Platform::kVerMajorVersion | Platform::kVerMinorVersion |
                              Platform::kVerServicePackMajor | Platform::kVerServicePackMinor;
    struct Case {
        std::string os;
        Platform::OsVersionInfoEx wanted;
        std::uint8_t condition;
        bool matches;
    };
    const Case cases[] = {
        {R"({ "major": 6, "minor": 0, "servicePackMajor": 1 })", Wanted(6, 0, 1), Platform::kVerGreaterEqual, true},
        {R"({ "major": 6, "minor": 0, "servicePackMajor": 0, "servicePackMinor": 7 })", Wanted(6, 0, 1), Platform::kVerGreaterEqual, false},
        {R"({ "major": 6, "minor": 1, "servicePackMajor": 0 })", Wanted(6, 0, 1), Platform::kVerGreaterEqual, true},
        {R"({ "major": 5, "minor": 2, "servicePackMajor": 9 })", Wanted(6, 0, 1), Platform::kVerGreaterEqual, false},
        {R"({ "major": 6, "minor": 1, "servicePackMajor": 0 })", Wanted(6, 0, 1), Platform::kVerGreater, true},
        {R"({ "major": 6, "minor": 0, "servicePackMajor": 1 })", Wanted(6, 0, 1), Platform::kVerGreater, false},
        {R"({ "major": 5, "minor": 1, "servicePackMajor": 3 })", Wanted(6, 0, 1), Platform::kVerLess, true},
        {R"({ "major": 6, "minor": 0, "servicePackMajor": 1 })", Wanted(6, 0, 1), Platform::kVerEqual, true},
        {R"({ "major": 6, "minor": 0, "servicePackMajor": 2 })", Wanted(6, 0, 1), Platform::kVerEqual, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.os + " condition " + std::to_string(c.condition));
        Load(Machine(R"("os": )" + c.os));
        const std::uint64_t mask = Mask({{Platform::kVerMajorVersion, c.condition}, {Platform::kVerMinorVersion, c.condition},
                                         {Platform::kVerServicePackMajor, c.condition},
                                         {Platform::kVerServicePackMinor, c.condition}});
        Platform::OsVersionInfoEx wanted = c.wanted;
        EXPECT_EQ(sim().VerifyVersionInfoW(&wanted, all, mask), c.matches);
        if (!c.matches) {
            EXPECT_EQ(sim().GetLastError(), Platform::kErrorOldWinVersion);
        }
    }
    Load(Machine());
    Platform::OsVersionInfoEx wanted = Wanted(6, 0);
    EXPECT_FALSE(sim().VerifyVersionInfoW(&wanted, 0, 0x1B));
    EXPECT_EQ(sim().GetLastError(), Platform::kErrorBadArguments);
    EXPECT_FALSE(sim().VerifyVersionInfoW(&wanted, all, 0));
    EXPECT_EQ(sim().GetLastError(), Platform::kErrorBadArguments);
    wanted.productType = Platform::kVerNtServer;
    EXPECT_FALSE(sim().VerifyVersionInfoW(&wanted, Platform::kVerProductType,
                                          Mask({{Platform::kVerProductType, Platform::kVerEqual}})))
        << "the built-in machine is a workstation";
}

TEST_F(SimSystemTest, VersionRecordsOfBothSizes) {
    Load(Machine(R"("os": { "major": 5, "minor": 1, "servicePackMajor": 3, "productType": 1 })"));
    Platform::OsVersionInfoEx v;
    v.osVersionInfoSize = Platform::kOsVersionInfoExSize;
    ASSERT_TRUE(sim().GetVersionExW(&v));
    EXPECT_EQ(v.majorVersion, 5u);
    EXPECT_EQ(v.minorVersion, 1u);
    EXPECT_EQ(v.buildNumber, 2600u);
    EXPECT_EQ(v.platformId, Platform::kVerPlatformWin32Nt);
    EXPECT_EQ(std::u16string(v.csdVersion), u"Service Pack 3");
    EXPECT_EQ(v.servicePackMajor, 3);
    EXPECT_EQ(v.productType, Platform::kVerNtWorkstation);

    Platform::OsVersionInfoEx small;
    small.osVersionInfoSize = Platform::kOsVersionInfoSize;
    small.servicePackMajor = 0xEEEE;
    ASSERT_TRUE(sim().GetVersionExW(&small));
    EXPECT_EQ(small.majorVersion, 5u);
    EXPECT_EQ(small.servicePackMajor, 0xEEEE) << "the short record has no such field";

    Platform::OsVersionInfoEx wrong;
    wrong.osVersionInfoSize = 280;
    EXPECT_FALSE(sim().GetVersionExW(&wrong));
    EXPECT_EQ(sim().GetLastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(wrong.majorVersion, 0u);
}

TEST_F(SimSystemTest, MemoryProcessorAndBitness) {
    Load(Machine(R"("memory": { "totalPhysical": "6GiB" }, "cpu": { "cpuid1Ecx": "0x12345678" }, "os": { "wow64": true })"));
    Platform::MemoryStatusEx m;
    EXPECT_FALSE(sim().GlobalMemoryStatusEx(&m)) << "the length field is not set";
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidParameter);
    m.length = Platform::kMemoryStatusExSize;
    ASSERT_TRUE(sim().GlobalMemoryStatusEx(&m));
    EXPECT_EQ(m.totalPhys, 6ull << 30);

    std::uint32_t registers[4] = {1, 1, 1, 1};
    sim().Cpuid(1, registers);
    EXPECT_EQ(registers[2], 0x12345678u);
    sim().Cpuid(0, registers);
    EXPECT_EQ(registers[2], 0u);

    bool wow64 = false;
    ASSERT_TRUE(sim().IsWow64Process(&wow64));
    EXPECT_TRUE(wow64);
}

}  // namespace
