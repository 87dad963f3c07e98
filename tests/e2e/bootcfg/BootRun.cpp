#include "BootRun.h"

#include <cstdio>

#ifdef IN_PROCESS_FIRMWARE
#include "support/InProcessFirmware.h"
#endif

json BootPlatform(const std::string& mode)
{
    json p = json::parse(R"({
      "description": "boot configuration test platform",
      "memory_size": "0x20000000",
      "memory_hole": "0x1FE00000",
      "acpi": {"fadt_smi_cmd": "0xB2"},
      "flash": {"open_status": 0, "info": {"version": 12, "status": 0, "blocks": []}},
      "dore": {"present": true, "version": "0x210", "error": false},
      "nmi_watchdog": false,
      "boot": {
        "mode_encoding": 0,
        "secure_boot": false,
        "bbs": {
          "devices": [{"name": "SATA HDD"}, {"name": "USB HDD"}, {"name": ""}, {"name": "CD-ROM"}],
          "priority": [1, 0, 3, 2],
          "skip": [165, 90, 1, 2]
        },
        "boot_options": [
          {"label": "Windows Boot Manager", "loader": "\\EFI\\Microsoft\\Boot\\bootmgfw.efi"},
          {"label": "Recovery", "loader": "\\EFI\\recovery.efi"}
        ]
      }
    })");
    p["boot"]["boot_mode"] = mode;
    return p;
}

BootRun RunBoot(const json& platform, const std::vector<std::string>& words)
{
    testsupport::FwemuOptions options;
    options.words = words;
    options.save = true;
    options.errors = testsupport::ErrorOutput::Merged;
    options.tempPrefix = "/tmp/bootcfg-e2e-";
    BootRun r;
#ifdef IN_PROCESS_FIRMWARE
    static_cast<testsupport::FwemuResult&>(r) = testsupport::RunInProcess(platform, options);
#else
    options.fwemu = FWEMU_PATH;
    options.program = ZORVIK_HOST_PATH;
    static_cast<testsupport::FwemuResult&>(r) = testsupport::RunFwemu(platform, options);
#endif
    if (!r.saved.is_null())
        r.boot = r.saved.value("boot", json());
    return r;
}

std::vector<json> BootRun::Calls() const
{
    std::vector<json> calls;
    for (const json& e : Writes("calling_interface")) {
        if (e["class"] == 99 && e["select"] == 17)
            continue;
        calls.push_back(e);
    }
    return calls;
}

std::vector<std::string> BootRun::Requests() const
{
    std::vector<std::string> requests;
    for (const json& c : Calls()) {
        char r[64];
        if (c["class"] == 0 || c["class"] == 1)
            snprintf(r, sizeof(r), "%d/%d/0x%X", c["class"].get<int>(), c["select"].get<int>(),
                     c["inputs"][0].get<unsigned>());
        else
            snprintf(r, sizeof(r), "%d/%d", c["class"].get<int>(), c["select"].get<int>());
        requests.push_back(r);
    }
    return requests;
}

json BootRun::Last(int cls, int select) const
{
    json last;
    for (const json& c : Calls()) {
        if (c["class"] == cls && c["select"] == select)
            last = c;
    }
    return last;
}
