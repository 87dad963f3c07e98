// Runs the host ZORVIK under fwemu (or, built with IN_PROCESS_FIRMWARE, its
// pipeline in-process against the same firmware model) on a platform
// described in the test and collects what the user sees (output, exit
// status) and what the firmware saw (the trace of every port write).
#ifndef EMURUN_H
#define EMURUN_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ExpectedTexts.h"
#include "support/Fwemu.h"

using nlohmann::json;

// Physical address of the memory hole on the base platform; it becomes the
// shared SMI buffer.
const unsigned int HOLE = 0x1FE00000;

// out: standard output and standard error, interleaved; status; trace, with
// PortWrites(), Writes(function) and Functions().
using EmuRun = testsupport::FwemuResult;

// A platform whose firmware reports a memory hole, names port 0xB2 in a
// 244-byte FADT, opens the flash interface and answers the flash
// information in layout 12; DORE is present without secure flash.
json BasePlatform();

// env: NAME=VALUE entries added to the program's environment.
EmuRun RunOnPlatform(const json& platform, const std::vector<std::string>& words,
                     const std::vector<std::string>& env = {});

using testsupport::BANNER;
using testsupport::ErrorLine;

#endif
