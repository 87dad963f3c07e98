// Runs a program (the host or the release ZORVIK, or the device probe)
// under fwemu on a platform that the test describes, and collects what the
// user sees and what fwemu traced.
#ifndef FWEMURUN_H
#define FWEMURUN_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/Fwemu.h"

using nlohmann::json;

// out: standard output; err: standard error; status; trace, with
// Events(kind).
struct FwemuRun : testsupport::FwemuResult {
    // The one "helper_module" event written after the run.
    json HelperModule() const;
    // The command lines the program started through the shell ("sh -c").
    std::vector<std::string> ShellCommands() const;
};

// The default platform without its memory hole, with a kernel that builds
// and loads the helper module.
json DriverPlatform();

FwemuRun RunUnderFwemu(const json& platform, const std::string& program, const std::vector<std::string>& words);

#endif
