#include "EmuRun.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

const char BANNER[] =
    "+---------------------------------------------------------------------------+\n"
    "|                 Tarn BBS Utility for Android v1.01                        |\n"
    "|                 Copyright (C) Tarn. All Rights Reserved.                  |\n"
    "|---------------------------------------------------------------------------|\n";

json BasePlatform()
{
    return json::parse(R"({
      "description": "firmware access test platform",
      "memory_size": "0x20000000",
      "memory_hole": "0x1FE00000",
      "smi_ports": null,
      "acpi": {"fadt_smi_cmd": "0xB2", "fadt_length": 244, "xsdt": true, "fadt_in_rsdt": true,
               "fadt_in_xsdt": true, "other_tables": 2, "rsdp_checksum_ok": true,
               "stale_rsdp_smi_cmd": null},
      "asf": [],
      "flash": {
        "open_status": 0,
        "info": {"version": 12, "status": 0, "blocks": [
          {"start": "0xFFE00000", "size": "0x00100000", "type": 0},
          {"start": "0xFFF00000", "size": "0x00100000", "type": 1}]},
        "fps": {"name": "TESTCHIP", "offset": "0x0800"},
        "bpt": {"length": 8, "mark": true, "offset": "0x0900"}
      },
      "dore": {"present": true, "version": "0x210", "error": false},
      "secure_flash": {"delivered": false, "policy": "0x0000", "message": null, "message_offset": "0x0200"},
      "nmi_watchdog": false
    })");
}

static EmuRun Run(const std::vector<std::string>& argv)
{
    int fds[2];
    EmuRun r;
    if (pipe(fds) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back((char*)a.c_str());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(121);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0)
        r.out.append(buf, (size_t)n);
    close(fds[0]);
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}

EmuRun RunOnPlatform(const json& platform, const std::vector<std::string>& words)
{
    char dir[] = "/tmp/fwtestXXXXXX";
    if (mkdtemp(dir) == nullptr)
        return {};
    std::string platformFile = std::string(dir) + "/platform.json";
    std::string traceFile = std::string(dir) + "/trace.jsonl";
    std::ofstream(platformFile) << platform.dump(2);

    std::vector<std::string> argv = {FWEMU_PATH, "--platform", platformFile, "--trace", traceFile, "--",
                                     ZORVIK_HOST_PATH};
    argv.insert(argv.end(), words.begin(), words.end());
    EmuRun r = Run(argv);

    std::ifstream trace(traceFile);
    std::string line;
    while (std::getline(trace, line)) {
        if (!line.empty())
            r.trace.push_back(json::parse(line));
    }
    unlink(platformFile.c_str());
    unlink(traceFile.c_str());
    rmdir(dir);
    return r;
}

std::vector<json> EmuRun::PortWrites() const
{
    std::vector<json> writes;
    for (const json& e : trace) {
        if (e.value("event", "") == "port_write")
            writes.push_back(e);
    }
    return writes;
}

std::vector<json> EmuRun::Writes(const std::string& function) const
{
    std::vector<json> writes;
    for (const json& e : PortWrites()) {
        if (e.value("function", "") == function)
            writes.push_back(e);
    }
    return writes;
}

std::vector<std::string> EmuRun::Functions() const
{
    std::vector<std::string> names;
    for (const json& e : PortWrites())
        names.push_back(e.value("function", ""));
    return names;
}
