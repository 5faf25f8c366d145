// `qfcheck capture`: a machine description ("qf-machine/1") of the machine
// the current platform stands for, read through the same platform
// operations the libraries use. On the live system it lets a machine be
// replayed later with `--machine`; a request that fails on the machine is
// written as an `errors` entry, so the replay fails the same way.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace qfcheck::capture {

using Json = nlohmann::ordered_json;

Json CaptureMachine(const std::string& name);

}  // namespace qfcheck::capture
