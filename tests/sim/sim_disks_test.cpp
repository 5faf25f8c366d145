// The simulated disks answer in the system's binary structures and fail
// where Windows fails.
#include "common/byte_cursor.h"
#include "support/sim_fixture.h"

namespace {

using namespace qf::platform;
using qftest::Machine;

class SimDisksTest : public qftest::SimTest {
protected:
    Handle Open(const std::u16string& path) { return sim().CreateFileW(path.c_str(), kGenericRead, 3, kOpenExisting, 0); }
    // A control request on a fresh handle, closed again.
    bool Request(const std::u16string& path, std::uint32_t code, std::vector<std::uint8_t>* out,
                 std::uint32_t* returned = nullptr) {
        const Handle h = Open(path);
        std::uint32_t n = 0;
        const bool ok = sim().DeviceIoControl(h, code, nullptr, 0, out->data(), static_cast<std::uint32_t>(out->size()), &n);
        const std::uint32_t error = sim().GetLastError();
        sim().CloseHandle(h);
        if (returned) *returned = n;
        if (!ok) Error = error;
        return ok;
    }
    std::uint32_t Error = 0;
};

std::string Entries(int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? "," : "") + std::string(R"({ "type": 7, "start": ")") + std::to_string(i + 1) + R"(GiB", "length": "512MiB" })";
    return list;
}

TEST_F(SimDisksTest, LayoutIsTheSystemsStructure) {
    Load(Machine(R"("disks": [
        { "sizeBytes": "100GiB", "firstSector": ")" + std::string(440 * 2, '0') + R"(78563412 0000 80", "partitions": [
            { "type": 7, "start": 32256, "length": "10GiB" }, { "type": "0x0F", "start": "20GiB", "length": "50GiB" },
            { "type": 0 }, { "type": 0 }, { "type": 7, "start": "21GiB", "length": "1GiB" } ] },
        { "sizeBytes": "1TiB", "style": "gpt", "partitions": [ { "type": "0x49", "start": "1MiB", "length": "2GiB" } ] } ])"));
    std::vector<std::uint8_t> out(3504, 0xCC);
    std::uint32_t returned = 0;
    ASSERT_TRUE(Request(u"\\\\.\\PHYSICALDRIVE0", kIoctlDiskGetDriveLayoutEx, &out, &returned));
    EXPECT_EQ(returned, 48u + 5 * 144);
    qf::ByteCursor in(out.data(), out.size());
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_EQ(in.u32(), 5u);
    EXPECT_EQ(in.u32(), 0x12345678u) << "the disk signature of the first sector";
    // Entry 0: style, offset, length, number, then the MBR union.
    in.seek(48);
    EXPECT_EQ(in.u32(), 0u);
    in.seek(48 + 8);
    EXPECT_EQ(in.u64(), 32256u);
    EXPECT_EQ(in.u64(), 10ull << 30);
    EXPECT_EQ(in.u32(), 1u);
    in.seek(48 + 32);
    EXPECT_EQ(in.u8(), 7);
    EXPECT_EQ(in.u8(), 1) << "the first sector marks it active";
    EXPECT_EQ(in.u8(), 1) << "recognized";
    in.seek(48 + 36);
    EXPECT_EQ(in.u32(), 63u);
    // The extended container: no number, not recognized; the logical drive is numbered 2.
    EXPECT_EQ(in.peek(48 + 144 + 32), 0x0F);
    EXPECT_EQ(in.peek(48 + 144 + 34), 0);
    in.seek(48 + 144 + 24);
    EXPECT_EQ(in.u32(), 0u);
    in.seek(48 + 4 * 144 + 24);
    EXPECT_EQ(in.u32(), 2u);
    EXPECT_TRUE(in.ok());

    // GPT: every entry has the disk's style; a type stays in the MBR field.
    std::fill(out.begin(), out.end(), 0xCC);
    ASSERT_TRUE(Request(u"\\\\.\\PHYSICALDRIVE1", kIoctlDiskGetDriveLayoutEx, &out));
    qf::ByteCursor gpt(out.data(), out.size());
    EXPECT_EQ(gpt.u32(), 1u);
    EXPECT_EQ(gpt.u32(), 1u);
    gpt.seek(48);
    EXPECT_EQ(gpt.u32(), 1u);
    EXPECT_EQ(gpt.peek(48 + 32), 0x49);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(SimDisksTest, LayoutNeedsRoomForEveryEntry) {
    Load(Machine(R"("disks": [ { "sizeBytes": "100GiB", "partitions": [ )" + Entries(24) + R"( ] },
                               { "sizeBytes": "100GiB", "partitions": [ )" + Entries(25) + R"( ] } ])"));
    std::vector<std::uint8_t> out(3504);
    EXPECT_TRUE(Request(u"\\\\.\\PHYSICALDRIVE0", kIoctlDiskGetDriveLayoutEx, &out));
    EXPECT_FALSE(Request(u"\\\\.\\PHYSICALDRIVE1", kIoctlDiskGetDriveLayoutEx, &out));
    EXPECT_EQ(Error, kErrorInsufficientBuffer);
    std::vector<std::uint8_t> header(47);
    EXPECT_FALSE(Request(u"\\\\.\\PHYSICALDRIVE0", kIoctlDiskGetDriveLayoutEx, &header));
    EXPECT_EQ(Error, kErrorInsufficientBuffer);
}

TEST_F(SimDisksTest, GeometryReportsTheDescribedDisk) {
    Load(Machine(R"("disks": [ { "sizeBytes": "160041885696", "bytesPerSector": 4096, "tracksPerCylinder": 16,
                                 "sectorsPerTrack": 32 } ])"));
    std::vector<std::uint8_t> out(40, 0xCC);
    std::uint32_t returned = 0;
    ASSERT_TRUE(Request(u"\\\\.\\PHYSICALDRIVE0", kIoctlDiskGetDriveGeometryEx, &out, &returned));
    EXPECT_EQ(returned, 32u);
    qf::ByteCursor in(out.data(), out.size());
    EXPECT_EQ(in.u64(), 160041885696ull / (16 * 32 * 4096));
    EXPECT_EQ(in.u32(), 12u) << "fixed media";
    EXPECT_EQ(in.u32(), 16u);
    EXPECT_EQ(in.u32(), 32u);
    EXPECT_EQ(in.u32(), 4096u);
    EXPECT_EQ(in.u64(), 160041885696ull);
    std::vector<std::uint8_t> small(31);
    EXPECT_FALSE(Request(u"\\\\.\\PHYSICALDRIVE0", kIoctlDiskGetDriveGeometryEx, &small));
    EXPECT_EQ(Error, kErrorInsufficientBuffer);
}

TEST_F(SimDisksTest, ReadFileReadsTheFirstSectorAsDescribed) {
    Load(Machine(R"("disks": [ { "sizeBytes": "1GiB" }, { "sizeBytes": "1GiB", "firstSector": "01 02 03" } ],
        "volumes": [ { "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "512MiB" } ] } ],
        "errors": [ { "call": "ReadFile", "target": "\\\\.\\PHYSICALDRIVE1", "nth": 2, "returns": 600 },
                    { "call": "ReadFile", "target": "\\\\.\\PHYSICALDRIVE1", "nth": 3, "error": 23 } ])"));
    std::uint8_t buffer[512] = {};
    std::uint32_t read = 0;
    const Handle disk0 = Open(u"\\\\.\\PHYSICALDRIVE0");
    ASSERT_TRUE(sim().ReadFile(disk0, buffer, 512, &read));
    EXPECT_EQ(read, 512u);
    EXPECT_EQ(buffer[510], 0x55);
    EXPECT_EQ(buffer[511], 0xAA);
    EXPECT_TRUE(sim().ReadFile(disk0, buffer, 512, &read));
    EXPECT_EQ(read, 0u) << "the description holds nothing past the first sector";
    sim().CloseHandle(disk0);

    for (int call = 1; call <= 3; ++call) {
        SCOPED_TRACE(call);
        const Handle disk1 = Open(u"\\\\.\\PHYSICALDRIVE1");
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        const bool ok = sim().ReadFile(disk1, buffer, 512, &read);
        sim().CloseHandle(disk1);
        if (call == 3) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(sim().GetLastError(), 23u);
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_EQ(read, call == 1 ? 3u : 600u) << "a short sector, then the count the rule answers with";
        EXPECT_EQ(buffer[2], 3);
        EXPECT_EQ(buffer[3], 0xEE);
    }

    const Handle volume = Open(u"\\\\.\\C:");
    EXPECT_FALSE(sim().ReadFile(volume, buffer, 512, &read));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidFunction);
    sim().CloseHandle(volume);
    EXPECT_FALSE(sim().ReadFile(0x7777, buffer, 512, &read));
    EXPECT_EQ(sim().GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(Held(), std::vector<std::string>{});
}

TEST_F(SimDisksTest, FreeSpaceOfAVolumeByItsPath) {
    Load(Machine(R"("volumes": [
        { "letter": "C", "extents": [ { "disk": 0, "start": "1MiB", "length": "10GiB" } ], "freeBytes": "3GiB" },
        { "letter": "D" } ],
        "errors": [ { "call": "GetDiskFreeSpaceExW", "target": "C:\\", "error": 5 } ])"));
    struct Case {
        std::u16string path;
        bool ok;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {u"\\\\.\\C:\\", true, 0}, {u"\\\\.\\c:\\", true, 0}, {u"C:", true, 0}, {u"C:\\Windows", true, 0},
        {u"C:\\", false, 5},       // the description's error
        {u"\\\\.\\", false, kErrorPathNotFound}, {u"\\\\.\\Q:\\", false, kErrorPathNotFound},
        {u"C", false, kErrorPathNotFound}, {u"\\\\.\\D:\\", false, kErrorNotReady},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        std::uint64_t caller = 1, total = 1, free = 1;
        EXPECT_EQ(sim().GetDiskFreeSpaceExW(c.path.c_str(), &caller, &total, &free), c.ok);
        if (!c.ok) {
            EXPECT_EQ(sim().GetLastError(), c.error);
            continue;
        }
        EXPECT_EQ(free, 3ull << 30);
        EXPECT_EQ(caller, 3ull << 30);
        EXPECT_EQ(total, 10ull << 30);
    }
    std::uint64_t free = 0;
    EXPECT_TRUE(sim().GetDiskFreeSpaceExW(u"\\\\.\\C:\\", nullptr, nullptr, &free));
    EXPECT_EQ(free, 3ull << 30);
}

}  // namespace
