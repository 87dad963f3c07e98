#include "FwemuRun.h"

#include <fstream>

json DriverPlatform()
{
    std::ifstream in(std::string(PLATFORMS_DIR) + "/legacy-desktop.json");
    json p = json::parse(in);
    p["memory_hole"] = nullptr;
    p["nmi_watchdog"] = false;
    p["kernel"] = json::object();
    return p;
}

FwemuRun RunUnderFwemu(const json& platform, const std::string& program, const std::vector<std::string>& words)
{
    testsupport::FwemuOptions options;
    options.fwemu = FWEMU_PATH;
    options.program = program;
    options.words = words;
    options.tempPrefix = "/tmp/zorvik-fwemu-drv-";
    FwemuRun r;
    static_cast<testsupport::FwemuResult&>(r) = testsupport::RunFwemu(platform, options);
    return r;
}

json FwemuRun::HelperModule() const
{
    std::vector<json> e = Events("helper_module");
    return e.size() == 1 ? e[0] : json();
}

std::vector<std::string> FwemuRun::ShellCommands() const
{
    std::vector<std::string> commands;
    for (const json& e : Events("exec")) {
        const json& argv = e["argv"];
        if (argv.size() == 3 && argv[0] == "sh" && argv[1] == "-c")
            commands.push_back(argv[2].get<std::string>());
    }
    return commands;
}
