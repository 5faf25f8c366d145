// The calls of the live suite: every export of both libraries once, with
// arguments that suit any machine. Placeholders stand for what only the
// machine can say: {bootDevice} (the boot device WMI names), {dir} (a
// scratch folder the test owns), {exe} (the running program's file name).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qftest {

struct LiveCall {
    std::string exportName;
    std::vector<std::string> args;
};

const std::vector<LiveCall>& LiveCalls();

// The arguments with every placeholder replaced.
std::vector<std::string> Expand(const std::vector<std::string>& args, const std::map<std::string, std::string>& values);

}  // namespace qftest
