// Boot mode and secure boot: what is printed for each answer, what is sent,
// and the firmware's settings after the run.
#include <gtest/gtest.h>

#include "BootRun.h"

namespace {

TEST(GetMode, PrintsTheModeInEitherEncoding)
{
    struct Case {
        json boot;
        std::string output;
        int status = 0;
    } cases[] = {
        {{{"mode_encoding", 0}, {"boot_mode", "legacy"}}, " Current Boot Mode : LEGACY\n"},
        {{{"mode_encoding", 0}, {"boot_mode", "uefi"}}, " Current Boot Mode : UEFI\n"},
        {{{"mode_encoding", 1}, {"boot_mode", "legacy"}}, " Current Boot Mode : LEGACY\n"},
        {{{"mode_encoding", 1}, {"boot_mode", "uefi"}}, " Current Boot Mode : UEFI\n"},
        {{{"boot_mode", "uefi"}, {"status", {{"99/24", -2}}}}, " Current Boot Mode : UEFI\n"},
        // A value of neither encoding is refused as the gate refuses it.
        {{{"boot_mode", 7}}, ErrorLine(224), 224},
        {{{"mode_encoding", 1}, {"boot_mode", 0}}, ErrorLine(224), 224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boot.dump());
        json platform = BootPlatform();
        platform["boot"].update(c.boot);
        BootRun r = RunBoot(platform, {"/GetMode"});
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(SetMode, SendsTheSettingEvenWhenAlreadyInThatMode)
{
    struct Case {
        const char* from;
        std::vector<std::string> words;
        std::string output;
        std::string request;
        const char* to;
    } cases[] = {
        {"uefi", {"/SetMode", "Legacy"}, " Set Boot Mode : LEGACY\n", "1/0/0x8007", "legacy"},
        {"legacy", {"-sm", "UEFI"}, " Set Boot Mode : UEFI\n", "1/0/0x8008", "uefi"},
        {"legacy", {"/SM", "legacy"}, " Set Boot Mode : LEGACY\n", "1/0/0x8007", "legacy"},
        {"uefi", {"/setmode", "uefi"}, " Set Boot Mode : UEFI\n", "1/0/0x8008", "uefi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + c.words[1] + " from " + c.from);
        BootRun r = RunBoot(BootPlatform(c.from), c.words);
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.Requests(), std::vector<std::string>{c.request});
        EXPECT_EQ(r.Calls()[0]["inputs"][1], 0);
        EXPECT_EQ(r.boot["boot_mode"], c.to);
    }
}

TEST(SetSecureBoot, SwitchesAndQueries)
{
    struct Case {
        json from;
        std::vector<std::string> words;
        std::string output;
        std::string request;
        unsigned input1;
        json to;
        int status = 0;
    } cases[] = {
        {false, {"/SetSecureBoot", "ON"}, " Set Secure Boot : ON\n", "1/0/0x8009", 1, true},
        {true, {"/SetSecureBoot", "Off"}, " Set Secure Boot : OFF\n", "1/0/0x8009", 0, false},
        {true, {"/ssb", "of"}, " Set Secure Boot : OFF\n", "1/0/0x8009", 0, false},
        {true, {"-SSB", "often"}, " Set Secure Boot : OFF\n", "1/0/0x8009", 0, false},
        {true, {"/SSBOFF"}, " Set Secure Boot : OFF\n", "1/0/0x8009", 0, false},
        {true, {"/GSB"}, " Current Secure Boot : ON\n", "0/0/0x8009", 0, true},
        {false, {"/GSB"}, " Current Secure Boot : OFF\n", "0/0/0x8009", 0, false},
        // A state that is neither on nor off is refused.
        {2, {"/GSB"}, ErrorLine(224), "0/0/0x8009", 0, 2, 224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " from " + c.from.dump());
        json platform = BootPlatform("uefi");
        platform["boot"]["secure_boot"] = c.from;
        BootRun r = RunBoot(platform, c.words);
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.Requests(), (std::vector<std::string>{"99/24", "0/0/0x8007", c.request}));
        EXPECT_EQ(r.Calls().back()["inputs"][1], c.input1);
        EXPECT_EQ(r.boot["secure_boot"], c.to);
    }
}

} // namespace
