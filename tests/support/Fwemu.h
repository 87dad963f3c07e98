// Runs a program under fwemu on a platform that the test describes: the
// platform is written to a temporary directory, fwemu writes its trace (and,
// when asked, the platform as the run leaves it) there, and the result holds
// the trace's events as JSON.
#ifndef TESTSUPPORT_FWEMU_H
#define TESTSUPPORT_FWEMU_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/Process.h"

namespace testsupport {

struct FwemuOptions {
    std::string fwemu;              // the fwemu program
    std::string program;            // the program fwemu starts
    std::vector<std::string> words; // its words
    bool save = false;              // --save: FwemuResult::saved is the platform after the run
    std::string argv0;              // --argv0, when not empty
    std::vector<std::string> env;   // NAME=VALUE entries added to the program's environment (--env)
    ErrorOutput errors = ErrorOutput::Separate;
    std::string tempPrefix = "/tmp/fwemu-run-"; // of the temporary directory
};

struct FwemuResult : ProcessResult {
    std::vector<nlohmann::json> trace; // one event a line of the trace
    nlohmann::json saved;              // null unless --save wrote it

    // The events of one kind ("port_write", "exec", ...), in order.
    std::vector<nlohmann::json> Events(const std::string& event) const;
    // The port writes, in order.
    std::vector<nlohmann::json> PortWrites() const;
    // The port writes of one firmware function ("open_flash", "dore", ...).
    std::vector<nlohmann::json> Writes(const std::string& function) const;
    // The function names of the port writes, in order.
    std::vector<std::string> Functions() const;
};

// Runs the program under fwemu. When the suite runs through the signed SMI
// module (SmiModuleRoute), the platform is locked down and has the module
// loaded first.
FwemuResult RunFwemu(const nlohmann::json& platform, const FwemuOptions& options);

// Whether this run of a suite goes through the signed SMI module: CTest
// registers the scenario suites a second time with ZORVIK_TEST_ROUTE set to
// "smi_module", and every scenario must then give what it gives with I/O
// privilege.
bool SmiModuleRoute();
// A platform under lockdown (iopl refused) with the SMI module loaded.
void ThroughSmiModule(nlohmann::json& platform);

// The events of a trace file, one JSON object a line; blank lines are
// passed over.
std::vector<nlohmann::json> ReadTrace(const std::string& path);

} // namespace testsupport

#endif
