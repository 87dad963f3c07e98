#include "FwemuRun.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

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
    FwemuRun r;
    char dir[] = "/tmp/zorvik-fwemu-drv-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return r;
    const std::string base = dir;
    std::ofstream(base + "/platform.json") << platform.dump(2);

    std::vector<std::string> argv = {FWEMU_PATH, "--platform", base + "/platform.json", "--trace",
                                     base + "/trace.jsonl", "--", program};
    argv.insert(argv.end(), words.begin(), words.end());
    pid_t pid = fork();
    if (pid == 0) {
        int out = open((base + "/out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        int err = open((base + "/err").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back((char*)a.c_str());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(121);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = ReadAll(base + "/out");
    r.err = ReadAll(base + "/err");
    std::ifstream trace(base + "/trace.jsonl");
    std::string line;
    while (std::getline(trace, line))
        if (!line.empty())
            r.trace.push_back(json::parse(line));
    std::string cmd = "rm -rf " + base;
    if (system(cmd.c_str()) != 0)
        r.err += "\n(could not remove " + base + ")";
    return r;
}

std::vector<json> FwemuRun::Events(const std::string& event) const
{
    std::vector<json> found;
    for (const json& e : trace)
        if (e.value("event", "") == event)
            found.push_back(e);
    return found;
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
