#include "BootRun.h"

#include <cstdio>
#include <map>

#ifdef IN_PROCESS_FIRMWARE
#include "support/InProcessFirmware.h"
#endif

const char BANNER[] =
    "+---------------------------------------------------------------------------+\n"
    "|                 Tarn BBS Utility for Android v1.01                        |\n"
    "|                 Copyright (C) Tarn. All Rights Reserved.                  |\n"
    "|---------------------------------------------------------------------------|\n";

std::string UsageText()
{
    return std::string(BANNER) +
           "|       GETBOOTOPTION - Refer to Options: GetBootOption                     |\n"
           "|        GETBOOTORDER - Refer to Options: GetBootOrder                      |\n"
           "|             GETMODE - Refer to Options: GetMode                           |\n"
           "| Options:                                                                  |\n"
           "|       ADDBOOTOPTION - Add Boot Option                                     |\n"
           "|       DELBOOTOPTION - Delet Boot Option                                   |\n"
           "|       GETBOOTOPTION - Get Boot Option List                                |\n"
           "|        GETBOOTORDER - Get Boot Order List                                 |\n"
           "|             GETMODE - Display BBS Mode                                    |\n"
           "|  SETFIRSTBOOTOPTION - Set First Boot Option                               |\n"
           "|   SETFIRSTBOOTORDER - Set X to First Boot Loader, X = String that get     |\n"
           "|                       from /GetBootOrder                                  |\n"
           "|             SETMODE - Setting BBS Mode to X, X = UEFI or LEGACY           |\n"
           "|                       Ex. /SetMode UEFI                                   |\n"
           "|       SETSECUREBOOT - Set Secure Boot ON                                  |\n"
           "|                       Ex. /SetSecureBoot ON/OFF                           |\n"
           "+---------------------------------------------------------------------------+\n";
}

std::string ErrorLine(int code)
{
    static const std::map<int, const char*> messages = {
        {1, "Error: Unknown command."},
        {216, "Error: Get BBS IPL Table Error"},
        {218, "Error: Setting Priority Error"},
        {219, "Error: BIOS do not support BBS function"},
        {221, "Error: Only Support Legacy Mode"},
        {222, "Error: Only Support UEFI Mode"},
        {223, "Error: BIOS do not support Get Mode"},
        {224, "Error: Get Boot Mode Error"},
        {225, "Error: BIOS do not support Set Mode"},
        {226, "Error: Set Boot Mode Error"},
        {227, "Error: BIOS do not support Get boot Option"},
        {228, "Error: Get Boot Option Error"},
        {229, "Error: BIOS do not support Add boot Option"},
        {230, "Error: Add Boot Option Error"},
        {231, "Error: BIOS do not support Delete boot Option"},
        {232, "Error: Delete Boot Option Error"},
        {233, "Error: BIOS do not support Set First boot Option"},
        {234, "Error: Set First Boot Option Error"},
    };
    char line[128];
    snprintf(line, sizeof(line), "%x - %s\n", code, messages.at(code));
    return line;
}

std::string Refused(const std::string& word)
{
    return UsageText() + "Unknown command or option : " + word + "\n" + ErrorLine(1);
}

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
