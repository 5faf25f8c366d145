// The helper library as the installer loads it, run in a fresh current
// directory (where its log and dumps land). On Windows this is the real
// system (under Wine, Wine's own machine), elsewhere the built-in machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "CorvaneHelper.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HelperLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        // One folder per test: the tests may run at the same time.
        dir_ = fs::temp_directory_path() /
               (std::string("qf-helper-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }

private:
    fs::path previous_, dir_;
};

// No machine this runs on is a guest of the vendor's hypervisor.
TEST_F(HelperLibrary, RunsNativelyAndSaysSoInItsLog) {
    EXPECT_EQ(IsRunningFromNativeWindows(), 1);
    const std::string log = ReadFile("corvanehelper.log");
    std::cout << log;
    const std::string size = log.substr(0, log.find("\r\n")).substr(std::string("Table size = ").size());
    ASSERT_FALSE(size.empty());
    EXPECT_GT(std::stol(size), 0);
    EXPECT_EQ(log, "Table size = " + size + "\r\nbytes read = " + size + "\r\nIn native vista\r\n");
}

TEST_F(HelperLibrary, FindsTheShellByItsNameInAnyCase) {
#ifdef _WIN32
    // The shell runs wherever a desktop does; asking for the desktop
    // window makes Wine start it.
    GetDesktopWindow();
#endif
    EXPECT_EQ(IsProcessRunning("EXPLORER.EXE"), 1);
    EXPECT_EQ(IsProcessRunning("EXPLORER"), 0);
    EXPECT_EQ(IsProcessRunning("no such program.exe"), 0);
}

// Which structures the firmware has is the system's to say; each dump
// written holds a structure of its own type.
TEST_F(HelperLibrary, DumpsBeginWithTheirStructuresType) {
    EXPECT_TRUE(DumpAll());
    int written = 0;
    for (int type = 1; type <= 14; ++type) {
        const std::string name = "table" + std::to_string(type) + ".out";
        if (!fs::exists(name)) continue;
        const std::string bytes = ReadFile(name);
        ASSERT_GE(bytes.size(), 4u) << name;
        EXPECT_EQ(static_cast<unsigned char>(bytes[0]), type) << name;
        ++written;
    }
    std::cout << written << " dump files\n";
#ifndef _WIN32
    EXPECT_EQ(written, 3) << "the built-in machine's types 1, 2 and 11";
#endif
}

}  // namespace
