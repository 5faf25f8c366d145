// Tests of the helper library on a simulated machine, run in a fresh current
// directory of their own: the library writes its log and dumps there.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace qftest {

class HelperTest : public SimTest {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        dir_ = qf::sim::MakeFreshTempDir();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        SimTest::TearDown();
        std::filesystem::remove_all(dir_);
    }

    // The test's current directory, as the library is given folders.
    const std::string& dir() const { return dir_; }

    // Platform calls made since `from` (an earlier calls().size()).
    std::vector<std::string> CallsSince(std::size_t from) {
        return std::vector<std::string>(sim().calls().begin() + static_cast<std::ptrdiff_t>(from), sim().calls().end());
    }

    static std::string ReadHostFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteHostFile(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

private:
    std::filesystem::path previous_;
    std::string dir_;
};

}  // namespace qftest
