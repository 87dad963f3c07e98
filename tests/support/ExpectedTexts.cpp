#include "support/ExpectedTexts.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace testsupport {

namespace {

const char* const HEADER_PASS[] = {
    "|       GETBOOTOPTION - Refer to Options: GetBootOption                     |",
    "|        GETBOOTORDER - Refer to Options: GetBootOrder                      |",
    "|             GETMODE - Refer to Options: GetMode                           |",
};

const char OPTIONS_LINE[] = "| Options:                                                                  |";

const char* const LISTING_PASS[] = {
    "|       ADDBOOTOPTION - Add Boot Option                                     |",
    "|       DELBOOTOPTION - Delet Boot Option                                   |",
    "|       GETBOOTOPTION - Get Boot Option List                                |",
    "|        GETBOOTORDER - Get Boot Order List                                 |",
    "|             GETMODE - Display BBS Mode                                    |",
    "|  SETFIRSTBOOTOPTION - Set First Boot Option                               |",
    "|   SETFIRSTBOOTORDER - Set X to First Boot Loader, X = String that get     |",
    "|                       from /GetBootOrder                                  |",
    "|             SETMODE - Setting BBS Mode to X, X = UEFI or LEGACY           |",
    "|                       Ex. /SetMode UEFI                                   |",
    "|       SETSECUREBOOT - Set Secure Boot ON                                  |",
    "|                       Ex. /SetSecureBoot ON/OFF                           |",
};

const char CLOSING_BORDER[] = "+---------------------------------------------------------------------------+";

// Built on first use, so that tests may compute expected lines in their own
// static initialisers.
const std::map<unsigned int, const char*>& Messages()
{
    static const std::map<unsigned int, const char*> messages = {
        {0x01, "Error: Unknown command."},
        {0x10, "Error: Unable to load driver."},
        {0x24, "Error: Problem allocating BIOS buffer."},
        {0x30, "Error: Problem opening file for reading."},
        {0x31, "Error: Problem reading file."},
        {0x33, "Error: Problem writting file."},
        {0x34, "Error: Using the wrong KVT version, Please use Velto 4 KVT."},
        {0x40, "Error: BIOS is write-protected."},
        {0x46, "Error: Problem getting flash information."},
        {0x48, "Error: Power cord not connected. Plug in power cord to flash."},
        {0x49, "Error: A platform condition has prevented flashing."},
        {0x61, "Error: Program already running."},
        {0xd6, "Error: BIOS doesn't support this function."},
        {0xd8, "Error: Get BBS IPL Table Error"},
        {0xda, "Error: Setting Priority Error"},
        {0xdb, "Error: BIOS do not support BBS function"},
        {0xdd, "Error: Only Support Legacy Mode"},
        {0xde, "Error: Only Support UEFI Mode"},
        {0xdf, "Error: BIOS do not support Get Mode"},
        {0xe0, "Error: Get Boot Mode Error"},
        {0xe1, "Error: BIOS do not support Set Mode"},
        {0xe2, "Error: Set Boot Mode Error"},
        {0xe3, "Error: BIOS do not support Get boot Option"},
        {0xe4, "Error: Get Boot Option Error"},
        {0xe5, "Error: BIOS do not support Add boot Option"},
        {0xe6, "Error: Add Boot Option Error"},
        {0xe7, "Error: BIOS do not support Delete boot Option"},
        {0xe8, "Error: Delete Boot Option Error"},
        {0xe9, "Error: BIOS do not support Set First boot Option"},
        {0xea, "Error: Set First Boot Option Error"},
        {0xff, "Error: Undefined Error Code"},
    };
    return messages;
}

} // namespace

const char BANNER[] =
    "+---------------------------------------------------------------------------+\n"
    "|                 Tarn BBS Utility for Android v1.01                        |\n"
    "|                 Copyright (C) Tarn. All Rights Reserved.                  |\n"
    "|---------------------------------------------------------------------------|\n";

std::vector<std::string> UsageLines()
{
    std::vector<std::string> lines;
    std::istringstream banner(BANNER);
    for (std::string line; std::getline(banner, line);)
        lines.push_back(line);
    lines.insert(lines.end(), std::begin(HEADER_PASS), std::end(HEADER_PASS));
    lines.push_back(OPTIONS_LINE);
    lines.insert(lines.end(), std::begin(LISTING_PASS), std::end(LISTING_PASS));
    lines.push_back(CLOSING_BORDER);
    return lines;
}

std::string UsageText()
{
    std::string text;
    for (const std::string& line : UsageLines())
        text += line + "\n";
    return text;
}

std::string ErrorLine(unsigned int code)
{
    char line[128];
    std::snprintf(line, sizeof(line), "%x - %s\n", code, Messages().at(code));
    return line;
}

std::string Refused(const std::string& word)
{
    return UsageText() + "Unknown command or option : " + word + "\n" + ErrorLine(1);
}

} // namespace testsupport
