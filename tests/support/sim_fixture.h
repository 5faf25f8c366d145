// Tests on a simulated machine: the description is loaded, the library is
// "loaded" on it (log open in a fresh temporary folder), and the test reads
// the log lines each call appends.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "session.h"

namespace qftest {

// A description: `members` are JSON members added after "format".
std::string Machine(const std::string& members = "");

class SimTest : public ::testing::Test {
protected:
    void TearDown() override;

    void Load(const std::string& machineJson);
    qfcheck::Session& session() { return *session_; }
    qf::sim::SimPlatform& sim() { return session_->platform(); }
    // Lines the log gained since the last call.
    std::vector<std::string> Log() { return session_->TakeLogLines(); }
    // Resources still held, the log file the library keeps open excepted.
    std::vector<std::string> Held() const;

private:
    std::unique_ptr<qfcheck::Session> session_;
    std::string tempDir_;
};

// Prefixes each message with "Function: ".
std::vector<std::string> Lines(const std::string& function, const std::vector<std::string>& messages);

}  // namespace qftest
