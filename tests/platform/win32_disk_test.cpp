// The real system's disk operations, on Windows builds (under Wine, Wine's
// own machine).
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/win32/win32_platform.h"

namespace {

using namespace qf::platform;

TEST(Win32Platform, ReadFileReturnsWhatThereIs) {
    win32::Win32Platform os;
    char16_t dir[260] = {};
    ASSERT_NE(os.GetTempPathW(260, dir), 0u);
    const std::u16string path = std::u16string(dir) + u"qf-readfile-test.bin";
    {
        std::FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"wb");
        ASSERT_NE(f, nullptr);
        std::fwrite("\x55\xAA\x01", 1, 3, f);
        std::fclose(f);
    }
    const Handle file = os.CreateFileW(path.c_str(), kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
    ASSERT_NE(file, kInvalidHandle);
    unsigned char buffer[512] = {};
    std::uint32_t read = 99;
    EXPECT_TRUE(os.ReadFile(file, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(buffer[1], 0xAA);
    EXPECT_TRUE(os.ReadFile(file, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(os.CloseHandle(file));
    EXPECT_EQ(_wremove(reinterpret_cast<const wchar_t*>(path.c_str())), 0);
}

TEST(Win32Platform, FreeSpaceOfTheSystemVolume) {
    win32::Win32Platform os;
    std::uint64_t caller = 0, total = 0, free = 0;
    ASSERT_TRUE(os.GetDiskFreeSpaceExW(u"C:\\", &caller, &total, &free));
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    std::uint64_t freeOnly = 0;
    EXPECT_TRUE(os.GetDiskFreeSpaceExW(u"C:\\", nullptr, nullptr, &freeOnly));
    EXPECT_FALSE(os.GetDiskFreeSpaceExW(u"\\\\.\\", nullptr, nullptr, &freeOnly)) << "no volume";
}

}  // namespace
#endif
