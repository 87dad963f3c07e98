// The UEFI boot options: the list as printed, the strings sent (UTF-16LE
// label at 36, loader at 292, each with its zero unit), the store after the
// run, and the loader check that sends nothing.
#include <gtest/gtest.h>

#include "BootRun.h"

namespace {

const char NOTICE[] = "\nNOTICE : Reboot the system to activate the change\n";

// The UTF-16LE bytes of 8-bit text, zero unit included, as the trace shows
// them (upper-case hexadecimal).
std::string Utf16Hex(const std::string& text)
{
    std::string hex;
    char unit[8];
    for (unsigned char c : text) {
        snprintf(unit, sizeof(unit), "%02X00", c);
        hex += unit;
    }
    return hex + "0000";
}

json Labels(const json& boot)
{
    json labels = json::array();
    for (const json& o : boot["boot_options"])
        labels.push_back(o["label"]);
    return labels;
}

json Options(const std::vector<std::pair<std::string, std::string>>& options)
{
    json list = json::array();
    for (const auto& [label, loader] : options)
        list.push_back({{"label", label}, {"loader", loader}});
    return list;
}

std::vector<unsigned> Inputs(const json& call)
{
    return call["inputs"].get<std::vector<unsigned>>();
}

TEST(GetBootOption, ListAsTheFirmwareSendsIt)
{
    const std::string longLabel(40000, 'x');
    // The list starts at offset 36 of the 64 KiB buffer: at most 32750 units.
    const std::string cut = ("1. " + longLabel).substr(0, 32750);
    struct Case {
        const char* why;
        json options;
        std::string text;
    } cases[] = {
        {"two options",
         Options({{"Windows Boot Manager", "\\EFI\\Microsoft\\Boot\\bootmgfw.efi"}, {"Recovery", "\\r"}}),
         "1. Windows Boot Manager (\\EFI\\Microsoft\\Boot\\bootmgfw.efi)\n2. Recovery (\\r)"},
        {"empty store", json::array(), ""},
        {"a list that fills the buffer is read up to its end", Options({{longLabel, "\\l"}}), cut},
        {"units above 0xFF are shown as '?'", Options({{"\u0141\u00e9", "\\l"}}), "1. ?\xe9 (\\l)"},
        {"a unit whose low byte is 0 does not end the list", Options({{"a\u4E00\u0100", "\\l"}, {"Recovery", "\\r"}}),
         "1. a?? (\\l)\n2. Recovery (\\r)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        json platform = BootPlatform("uefi");
        platform["boot"]["boot_options"] = c.options;
        BootRun r = RunBoot(platform, {"/GetBootOption"});
        EXPECT_EQ(r.out, BANNER + ("Boot Option : \n" + c.text + "\n"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(Inputs(r.Last(99, 11)), (std::vector<unsigned>{PHYS + 36, 0, 0, 0}));
    }
}

TEST(AddBootOption, StringsSentAndOptionStored)
{
    const std::string label127(127, 'L');
    const std::string loader255 = "\\" + std::string(254, 'p');
    struct Case {
        const char* why;
        std::string label, loader;
        std::string storedLabel; // as the firmware keeps it (UTF-8 in the platform file)
    } cases[] = {
        {"plain", "Recovery2", "\\EFI\\BOOT\\BOOTX64.EFI", "Recovery2"},
        {"lower case is sent as typed", "shell", "\\efi\\shell.efi", "shell"},
        {"longest label and loader", label127, loader255, label127},
        {"bytes above 0x7F are widened unsigned", "caf\xe9", "\\\xff.efi", "caf\u00e9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        BootRun r = RunBoot(BootPlatform("uefi"), {"/AddBootOption", c.label, c.loader});
        EXPECT_EQ(r.out, BANNER + ("Add Boot Option Label  : " + c.label + "\nAdd Boot Option Loader : " + c.loader +
                                   "\n" + NOTICE));
        EXPECT_EQ(r.status, 0);
        const json add = r.Last(99, 12);
        EXPECT_EQ(Inputs(add), (std::vector<unsigned>{PHYS + 36, PHYS + 292, 0, 0}));
        EXPECT_EQ(add["label_hex"], Utf16Hex(c.label));
        EXPECT_EQ(add["loader_hex"], Utf16Hex(c.loader));
        EXPECT_EQ(Labels(r.boot), json({"Windows Boot Manager", "Recovery", c.storedLabel}));
    }
}

// The loader check comes before the gate: nothing is sent, in either mode.
TEST(AddBootOption, LoaderWithoutBackslashSendsNothing)
{
    for (const char* mode : {"uefi", "legacy"}) {
        for (const char* loader : {"EFI\\BOOT\\BOOTX64.EFI", "/EFI/x.efi", ""}) {
            SCOPED_TRACE(std::string(mode) + " " + loader);
            BootRun r = RunBoot(BootPlatform(mode), {"-ABOP", "Recovery", loader});
            EXPECT_EQ(r.out, std::string(BANNER) + "Missing \"\\\" Before Boot Loader\n" + ErrorLine(1));
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.Calls().empty());
        }
    }
}

TEST(DelAndSetFirstBootOption, LabelSentAndStoreChanged)
{
    const std::string label255(255, 'L');
    struct Case {
        const char* why;
        std::vector<std::string> words;
        json options;
        std::string output;
        int code;
        json labels; // the store after the run
    } cases[] = {
        {"delete",
         {"/DelBootOption", "Recovery"},
         nullptr,
         " Delete Boot Option : Recovery\n",
         0,
         {"Windows Boot Manager"}},
        {"delete, label in another case",
         {"/dbop", "recovery"},
         nullptr,
         ErrorLine(232),
         232,
         {"Windows Boot Manager", "Recovery"}},
        {"delete the longest label",
         {"/dbop", label255},
         Options({{label255, "\\l"}, {"B", "\\b"}}),
         " Delete Boot Option : " + label255 + "\n",
         0,
         {"B"}},
        {"make first",
         {"/SetFirstBootOption", "Recovery"},
         nullptr,
         std::string(" Set First Boot Option : Recovery\n") + NOTICE,
         0,
         {"Recovery", "Windows Boot Manager"}},
        {"make first, unknown label",
         {"/sfbop", "Shell"},
         nullptr,
         ErrorLine(234),
         234,
         {"Windows Boot Manager", "Recovery"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        json platform = BootPlatform("uefi");
        if (!c.options.is_null())
            platform["boot"]["boot_options"] = c.options;
        BootRun r = RunBoot(platform, c.words);
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, c.code);
        const json call = r.Calls().back();
        EXPECT_EQ(Inputs(call), (std::vector<unsigned>{PHYS + 36, 0, 0, 0}));
        EXPECT_EQ(call["label_hex"], Utf16Hex(c.words[1]));
        EXPECT_EQ(Labels(r.boot), c.labels);
    }
}

// Options added, moved and deleted across runs, with the firmware's state
// saved in between.
TEST(BootOptions, ChangesPersist)
{
    json platform = BootPlatform("uefi");
    const std::vector<std::vector<std::string>> steps = {
        {"/abop", "Shell", "\\EFI\\shell.efi"},
        {"/sfbop", "Shell"},
        {"/dbop", "Windows Boot Manager"},
    };
    for (const auto& words : steps) {
        BootRun r = RunBoot(platform, words);
        ASSERT_EQ(r.status, 0) << r.out;
        platform["boot"] = r.boot;
    }
    BootRun r = RunBoot(platform, {"/gbop"});
    EXPECT_EQ(r.out,
              std::string(BANNER) + "Boot Option : \n1. Shell (\\EFI\\shell.efi)\n2. Recovery (\\EFI\\recovery.efi)\n");
}

} // namespace
