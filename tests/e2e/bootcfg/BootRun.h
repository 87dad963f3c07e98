// Runs the host ZORVIK under fwemu (or, built with IN_PROCESS_FIRMWARE, its
// pipeline in-process against the same firmware model) on a platform with a
// boot configuration and collects what the user sees (output, exit status),
// what the firmware was asked (the calling-interface requests of the trace)
// and the firmware's boot configuration after the run (the platform as fwemu
// saves it).
#ifndef BOOTRUN_H
#define BOOTRUN_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ExpectedTexts.h"
#include "support/Fwemu.h"

using nlohmann::json;

// The memory hole of the test platform: the shared SMI buffer.
const unsigned int PHYS = 0x1FE00000;

// out: standard output and standard error, interleaved; status; trace.
struct BootRun : testsupport::FwemuResult {
    json boot; // the platform's "boot" object after the run

    // The calling-interface requests after the manufacturing-mode query of
    // module registration, in order.
    std::vector<json> Calls() const;
    // "CLASS/SELECT" of each of them.
    std::vector<std::string> Requests() const;
    // The last request of this class and select; null when none was sent.
    json Last(int cls, int select) const;
};

// A platform with a memory hole, SMI port 0xB2 and a working flash
// interface; its firmware is in legacy ("legacy") or UEFI ("uefi") mode with
// four BBS devices (SATA HDD, USB HDD, one without a description, CD-ROM;
// priority 1, 0, 3, 2) and two boot options (Windows Boot Manager,
// Recovery).
json BootPlatform(const std::string& mode = "legacy");

BootRun RunBoot(const json& platform, const std::vector<std::string>& words);

// Output pieces.
using testsupport::BANNER;
using testsupport::ErrorLine;
using testsupport::Refused;
using testsupport::UsageText;

#endif
