// The command words as the user types them: every accepted spelling of every
// command, the lines that are refused with the usage text (and which word is
// named), and the usage text itself.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "BootRun.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

const char NOTICE[] = "\nNOTICE : Reboot the system to activate the change\n";

// Each command under "/" and "-", long and short word, in mixed letter case.
TEST(Words, EveryCommandInEverySpelling)
{
    struct Command {
        const char* longWord;
        const char* shortWord;
        const char* mode;
        std::vector<std::string> args;
        std::string output;
    } commands[] = {
        {"GetBootOrder", "GBO", "legacy", {}, " USB HDD\n SATA HDD\n CD-ROM\n Unknown\n"},
        {"SetFirstBootOrder", "SFBO", "legacy", {"CD-ROM"}, "BIOS Boot Setting success\n"},
        {"GetBootOption",
         "GBOP",
         "uefi",
         {},
         "Boot Option : \n1. Windows Boot Manager (\\EFI\\Microsoft\\Boot\\bootmgfw.efi)\n"
         "2. Recovery (\\EFI\\recovery.efi)\n"},
        {"AddBootOption",
         "ABOP",
         "uefi",
         {"Shell", "\\EFI\\shell.efi"},
         std::string("Add Boot Option Label  : Shell\nAdd Boot Option Loader : \\EFI\\shell.efi\n") + NOTICE},
        {"DelBootOption", "DBOP", "uefi", {"Recovery"}, " Delete Boot Option : Recovery\n"},
        {"SetFirstBootOption",
         "SFBOP",
         "uefi",
         {"Recovery"},
         std::string(" Set First Boot Option : Recovery\n") + NOTICE},
        {"GetMode", "GM", "uefi", {}, " Current Boot Mode : UEFI\n"},
        {"SetMode", "SM", "legacy", {"uEfI"}, " Set Boot Mode : UEFI\n"},
        {"SetSecureBoot", "SSB", "uefi", {"On"}, " Set Secure Boot : ON\n"},
    };
    for (const Command& c : commands) {
        const std::string spellings[] = {std::string("/") + c.longWord, "-" + Lower(c.longWord),
                                         "/" + Upper(c.longWord), std::string("-") + c.shortWord,
                                         "/" + Lower(c.shortWord)};
        for (const std::string& word : spellings) {
            SCOPED_TRACE(word);
            std::vector<std::string> words = {word};
            words.insert(words.end(), c.args.begin(), c.args.end());
            BootRun r = RunBoot(BootPlatform(c.mode), words);
            EXPECT_EQ(r.out, BANNER + c.output);
            EXPECT_EQ(r.status, 0);
        }
    }
}

// The unlisted forms of SetSecureBoot.
TEST(Words, SecureBootQueryAndOffForms)
{
    struct Case {
        std::vector<std::string> words;
        std::string output;
    } cases[] = {
        {{"/GSB"}, " Current Secure Boot : OFF\n"},
        {{"-gsb"}, " Current Secure Boot : OFF\n"},
        {{"/SSBOFF"}, " Set Secure Boot : OFF\n"},
        {{"-ssboff"}, " Set Secure Boot : OFF\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        BootRun r = RunBoot(BootPlatform("uefi"), c.words);
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, 0);
    }
}

// A refused line shows the usage text and names one word; nothing reaches
// the firmware beyond the query of module registration.
TEST(Words, RefusedLinesNameTheRightWordAndSendNothing)
{
    const std::string label128(128, 'L');
    const std::string path256 = "\\" + std::string(255, 'p');
    struct Case {
        std::vector<std::string> words;
        std::string named;
    } cases[] = {
        {{"/Foo"}, "/Foo"},
        {{"GetBootOrder"}, "GetBootOrder"},
        {{"/GetBootOrder", "x"}, "/GetBootOrder"},
        {{"x", "-gbo"}, "x"},
        {{"/SetFirstBootOrder"}, "/SetFirstBootOrder"},
        {{"/sfbo", "SATA", "HDD"}, "SATA"},
        {{"/GetBootOption", "x"}, "/GetBootOption"},
        {{"/AddBootOption", "Shell"}, "Shell"},
        {{"/abop"}, "/abop"},
        {{"/abop", "Shell", "\\s.efi", "x"}, "Shell"},
        {{"/abop", label128, "\\s.efi"}, label128},
        {{"/abop", "Shell", path256}, path256},
        {{"/DelBootOption"}, "/DelBootOption"},
        {{"/dbop", "a", "b"}, "a"},
        {{"/dbop", std::string(256, 'L')}, std::string(256, 'L')},
        {{"/SetFirstBootOption"}, "/SetFirstBootOption"},
        {{"/sfbop", "a", "b"}, "a"},
        {{"/sfbop", std::string(256, 'L')}, std::string(256, 'L')},
        {{"/GetMode", "x"}, "/GetMode"},
        {{"/SetMode"}, "/SetMode"},
        {{"/SetMode", "bios"}, "bios"},
        {{"/sm", "uefi", "x"}, "uefi"},
        {{"/SetSecureBoot", "yes"}, "yes"},
        {{"/ssb"}, "/ssb"},
        {{"/GSB", "extra"}, "/GSB"},
        {{"/SSBOFF", "x"}, "/SSBOFF"},
        // A line carries one command, even where one command's argument is
        // the other's word.
        {{"/SetFirstBootOrder", "/DelBootOption"}, "/DelBootOption"},
        {{"/SFBO", "/SFBOP"}, "/SFBOP"},
        {{"/sfbop", "-sfbo"}, "-sfbo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + (c.words.size() > 1 ? c.words[1].substr(0, 16) : ""));
        BootRun r = RunBoot(BootPlatform("uefi"), c.words);
        EXPECT_EQ(r.out, Refused(c.named));
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.Calls().empty());
    }
}

TEST(Words, UsageTextWithoutWords)
{
    BootRun r = RunBoot(BootPlatform(), {});
    EXPECT_EQ(r.out, UsageText());
    EXPECT_EQ(r.status, 0);
    std::istringstream in(r.out);
    int lines = 0;
    for (std::string line; std::getline(in, line); lines++)
        EXPECT_EQ(line.size(), 77u) << line;
    EXPECT_EQ(lines, 21);
}

} // namespace
