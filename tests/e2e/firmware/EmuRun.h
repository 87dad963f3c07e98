// Runs the host ZORVIK under fwemu on a platform described in the test and
// collects what the user sees (output, exit status) and what the firmware
// saw (the trace of every port write).
#ifndef EMURUN_H
#define EMURUN_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using nlohmann::json;

// Physical address of the memory hole on the base platform; it becomes the
// shared SMI buffer.
const unsigned int HOLE = 0x1FE00000;

struct EmuRun {
    std::string out; // standard output and standard error, interleaved
    int status = -1;
    std::vector<json> trace;

    // The port writes, in order.
    std::vector<json> PortWrites() const;
    // The port writes of one firmware function ("open_flash", "dore", ...).
    std::vector<json> Writes(const std::string& function) const;
    // The function names of the port writes, in order.
    std::vector<std::string> Functions() const;
};

// A platform whose firmware reports a memory hole, names port 0xB2 in a
// 244-byte FADT, opens the flash interface and answers the flash
// information in layout 12; DORE is present without secure flash.
json BasePlatform();

EmuRun RunOnPlatform(const json& platform, const std::vector<std::string>& words);

extern const char BANNER[];

#endif
