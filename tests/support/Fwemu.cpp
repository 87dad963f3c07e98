#include "support/Fwemu.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/TempDir.h"

namespace testsupport {

using nlohmann::json;

std::vector<json> ReadTrace(const std::string& path)
{
    std::vector<json> events;
    std::ifstream trace(path);
    for (std::string line; std::getline(trace, line);) {
        if (!line.empty())
            events.push_back(json::parse(line));
    }
    return events;
}

bool SmiModuleRoute()
{
    const char* route = std::getenv("ZORVIK_TEST_ROUTE");
    return route != nullptr && std::strcmp(route, "smi_module") == 0;
}

void ThroughSmiModule(json& platform)
{
    platform["lockdown"] = "integrity";
    if (!platform.contains("kernel") || !platform["kernel"].is_object())
        platform["kernel"] = json::object();
    platform["kernel"]["smi_module"] = "loaded";
}

FwemuResult RunFwemu(const json& given, const FwemuOptions& options)
{
    json platform = given;
    if (SmiModuleRoute())
        ThroughSmiModule(platform);
    FwemuResult r;
    TempDir dir(options.tempPrefix);
    if (!dir.ok()) {
        r.err = "cannot make a directory " + options.tempPrefix + "...";
        return r;
    }
    const std::string platformFile = dir / "platform.json";
    const std::string savedFile = dir / "saved.json";
    const std::string traceFile = dir / "trace.jsonl";
    std::ofstream(platformFile) << platform.dump(2);

    std::vector<std::string> argv = {options.fwemu, "--platform", platformFile};
    if (options.save)
        argv.insert(argv.end(), {"--save", savedFile});
    argv.insert(argv.end(), {"--trace", traceFile});
    if (!options.argv0.empty())
        argv.insert(argv.end(), {"--argv0", options.argv0});
    for (const std::string& entry : options.env)
        argv.insert(argv.end(), {"--env", entry});
    argv.insert(argv.end(), {"--", options.program});
    argv.insert(argv.end(), options.words.begin(), options.words.end());

    ProcessOptions run;
    run.errors = options.errors;
    static_cast<ProcessResult&>(r) = RunProcess(options.fwemu, argv, run);
    r.trace = ReadTrace(traceFile);
    if (options.save) {
        std::ifstream saved(savedFile);
        if (saved)
            r.saved = json::parse(saved);
    }
    if (!dir.Remove())
        r.err += "\n(could not remove " + dir.path() + ")";
    return r;
}

std::vector<json> FwemuResult::Events(const std::string& event) const
{
    std::vector<json> found;
    for (const json& e : trace) {
        if (e.value("event", "") == event)
            found.push_back(e);
    }
    return found;
}

std::vector<json> FwemuResult::PortWrites() const
{
    return Events("port_write");
}

std::vector<json> FwemuResult::Writes(const std::string& function) const
{
    std::vector<json> writes;
    for (const json& e : PortWrites()) {
        if (e.value("function", "") == function)
            writes.push_back(e);
    }
    return writes;
}

std::vector<std::string> FwemuResult::Functions() const
{
    std::vector<std::string> names;
    for (const json& e : PortWrites())
        names.push_back(e.value("function", ""));
    return names;
}

} // namespace testsupport
