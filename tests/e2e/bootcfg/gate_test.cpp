// The boot-mode gate in both modes and both encodings, and every code of the
// status table: each request left unhandled (-2) or failing, as the
// platform's status overrides make the firmware answer.
#include <gtest/gtest.h>

#include "BootRun.h"

namespace {

const std::vector<std::string> GATE = {"99/24", "0/0/0x8007"};

struct Firmware {
    const char* name;
    json boot;         // merged into the platform's boot configuration
    bool legacy, uefi; // the mode the program must see
};

const Firmware FIRMWARES[] = {
    {"legacy, encoding 0/1", {{"mode_encoding", 0}, {"boot_mode", "legacy"}}, true, false},
    {"legacy, encoding 1/2", {{"mode_encoding", 1}, {"boot_mode", "legacy"}}, true, false},
    {"UEFI, encoding 0/1", {{"mode_encoding", 0}, {"boot_mode", "uefi"}}, false, true},
    {"UEFI, encoding 1/2", {{"mode_encoding", 1}, {"boot_mode", "uefi"}}, false, true},
    // The encoding request goes unhandled (-2) and the read answers 1: UEFI.
    {"UEFI, encoding request not handled", {{"boot_mode", "uefi"}, {"status", {{"99/24", -2}}}}, false, true},
    // The same firmware answering 2 for UEFI is read as neither mode.
    {"UEFI as 2 without an encoding answer",
     {{"mode_encoding", 1}, {"boot_mode", "uefi"}, {"status", {{"99/24", -2}}}},
     false,
     false},
    {"mode value 5", {{"boot_mode", 5}}, false, false},
    {"mode read not handled", {{"status", {{"0/0/0x8007", -2}}}}, false, false},
    {"mode read fails", {{"status", {{"0/0/0x8007", 3}}}}, false, false},
};

json Platform(const Firmware& f)
{
    json p = BootPlatform("legacy");
    p["boot"].update(f.boot);
    return p;
}

// Gated commands run in their own mode only, and a refusal sends nothing
// beyond the gate's two requests.
TEST(Gate, BothModesAndBothEncodings)
{
    struct Command {
        std::vector<std::string> words;
        bool legacyCommand;
    } commands[] = {
        {{"/GetBootOrder"}, true},
        {{"/SetFirstBootOrder", "CD-ROM"}, true},
        {{"/GetBootOption"}, false},
        {{"/AddBootOption", "Shell", "\\s.efi"}, false},
        {{"/DelBootOption", "Recovery"}, false},
        {{"/SetFirstBootOption", "Recovery"}, false},
        {{"/SetSecureBoot", "on"}, false},
        {{"/GSB"}, false},
    };
    for (const Firmware& f : FIRMWARES) {
        for (const Command& c : commands) {
            SCOPED_TRACE(std::string(f.name) + ": " + c.words[0]);
            BootRun r = RunBoot(Platform(f), c.words);
            int code = 224;
            if (f.legacy)
                code = c.legacyCommand ? 0 : 222;
            else if (f.uefi)
                code = c.legacyCommand ? 221 : 0;
            EXPECT_EQ(r.status, code) << r.out;
            std::vector<std::string> requests = r.Requests();
            if (code != 0) {
                EXPECT_EQ(r.out, BANNER + ErrorLine(code));
                EXPECT_EQ(requests, GATE);
            } else {
                requests.resize(2);
                EXPECT_EQ(requests, GATE);
            }
        }
    }
}

// GetMode and SetMode pass no gate and work in both modes.
TEST(Gate, ModeCommandsWorkInBothModes)
{
    for (const char* mode : {"legacy", "uefi"}) {
        SCOPED_TRACE(mode);
        BootRun get = RunBoot(BootPlatform(mode), {"/GetMode"});
        EXPECT_EQ(get.status, 0);
        EXPECT_EQ(get.Requests(), GATE);
        BootRun set = RunBoot(BootPlatform(mode), {"/SetMode", "legacy"});
        EXPECT_EQ(set.status, 0);
        EXPECT_EQ(set.Requests(), std::vector<std::string>{"1/0/0x8007"});
    }
}

// Every code of the status table, with the request that produced it being
// the last one sent, and nothing of the command's own output printed.
TEST(StatusTable, EveryCode)
{
    struct Case {
        const char* mode;
        std::vector<std::string> words;
        json status;
        int code;
        std::string lastRequest;
    } cases[] = {
        {"legacy", {"/GetMode"}, {{"0/0/0x8007", -2}}, 223, "0/0/0x8007"},
        {"legacy", {"/GetMode"}, {{"0/0/0x8007", 1}}, 224, "0/0/0x8007"},
        {"legacy", {"/SetMode", "legacy"}, {{"1/0/0x8007", -2}}, 225, "1/0/0x8007"},
        {"legacy", {"/SetMode", "legacy"}, {{"1/0/0x8007", 2}}, 226, "1/0/0x8007"},
        {"legacy", {"/SetMode", "uefi"}, {{"1/0/0x8008", -2}}, 225, "1/0/0x8008"},
        {"legacy", {"/SetMode", "uefi"}, {{"1/0", 7}}, 226, "1/0/0x8008"},
        {"uefi", {"/SetSecureBoot", "on"}, {{"1/0/0x8009", -2}}, 223, "1/0/0x8009"},
        {"uefi", {"/SetSecureBoot", "off"}, {{"1/0/0x8009", 1}}, 224, "1/0/0x8009"},
        {"uefi", {"/GSB"}, {{"0/0/0x8009", -2}}, 223, "0/0/0x8009"},
        {"uefi", {"/GSB"}, {{"0/0/0x8009", 9}}, 224, "0/0/0x8009"},
        {"legacy", {"/GetBootOrder"}, {{"3/2", -2}}, 216, "3/2"},
        {"legacy", {"/GetBootOrder"}, {{"3/2", 1}}, 216, "3/2"},
        {"legacy", {"/GetBootOrder"}, {{"3/3", -2}}, 216, "3/3"},
        {"legacy", {"/SetFirstBootOrder", "CD-ROM"}, {{"3/3", 4}}, 216, "3/3"},
        {"legacy", {"/SetFirstBootOrder", "CD-ROM"}, {{"3/5", -2}}, 219, "3/5"},
        {"legacy", {"/SetFirstBootOrder", "CD-ROM"}, {{"3/5", 1}}, 218, "3/5"},
        {"uefi", {"/GetBootOption"}, {{"99/11", -2}}, 227, "99/11"},
        {"uefi", {"/GetBootOption"}, {{"99/11", 1}}, 228, "99/11"},
        {"uefi", {"/AddBootOption", "Shell", "\\s.efi"}, {{"99/12", -2}}, 229, "99/12"},
        {"uefi", {"/AddBootOption", "Shell", "\\s.efi"}, {{"99/12", "0xFFFFFFFF"}}, 230, "99/12"},
        {"uefi", {"/DelBootOption", "Recovery"}, {{"99/13", -2}}, 231, "99/13"},
        {"uefi", {"/DelBootOption", "Recovery"}, {{"99/13", 1}}, 232, "99/13"},
        {"uefi", {"/SetFirstBootOption", "Recovery"}, {{"99/14", -2}}, 233, "99/14"},
        {"uefi", {"/SetFirstBootOption", "Recovery"}, {{"99/14", 1}}, 234, "99/14"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + c.status.dump());
        json platform = BootPlatform(c.mode);
        platform["boot"]["status"] = c.status;
        BootRun r = RunBoot(platform, c.words);
        EXPECT_EQ(r.out, BANNER + ErrorLine(c.code));
        EXPECT_EQ(r.status, c.code);
        ASSERT_FALSE(r.Requests().empty());
        EXPECT_EQ(r.Requests().back(), c.lastRequest);
        // A failed request leaves the firmware's configuration as it was.
        json expected = platform["boot"];
        EXPECT_EQ(r.boot["boot_mode"], expected["boot_mode"]);
        EXPECT_EQ(r.boot["secure_boot"], expected["secure_boot"]);
        EXPECT_EQ(r.boot["bbs"]["priority"], expected["bbs"]["priority"]);
        EXPECT_EQ(r.boot["boot_options"], expected["boot_options"]);
    }
}

// A firmware that answers no calling-interface request at all.
TEST(StatusTable, FirmwareWithoutBootConfiguration)
{
    struct Case {
        std::vector<std::string> words;
        int code;
    } cases[] = {
        {{"/GetBootOrder"}, 224}, {{"/GetBootOption"}, 224},   {{"/SSB", "on"}, 224},
        {{"/GetMode"}, 223},      {{"/SetMode", "uefi"}, 225},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        json platform = BootPlatform();
        platform["boot"] = nullptr;
        BootRun r = RunBoot(platform, c.words);
        EXPECT_EQ(r.out, BANNER + ErrorLine(c.code));
        EXPECT_EQ(r.status, c.code);
    }
}

} // namespace
