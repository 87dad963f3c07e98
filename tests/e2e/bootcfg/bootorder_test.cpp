// The legacy boot order: the device list as printed, the request inputs and
// the priority list sent back, the firmware's order after the run, and the
// answers the program refuses before printing or sending anything.
#include <gtest/gtest.h>

#include "BootRun.h"

namespace {

json Devices(const std::vector<std::string>& names)
{
    json list = json::array();
    for (const std::string& n : names)
        list.push_back({{"name", n}});
    return list;
}

json Legacy(const std::vector<std::string>& names, const std::vector<int>& priority, const std::vector<int>& skip)
{
    json p = BootPlatform("legacy");
    p["boot"]["bbs"] = {{"devices", Devices(names)}, {"priority", priority}, {"skip", skip}};
    return p;
}

std::vector<unsigned> Inputs(const json& call)
{
    return call["inputs"].get<std::vector<unsigned>>();
}

TEST(GetBootOrder, DevicesByPriority)
{
    const std::string name150(150, 'N');
    struct Case {
        const char* why;
        std::vector<std::string> names;
        std::vector<int> priority;
        std::string output;
    } cases[] = {
        {"named and unnamed devices",
         {"SATA HDD", "USB HDD", "", "CD-ROM"},
         {1, 0, 3, 2},
         " USB HDD\n SATA HDD\n CD-ROM\n Unknown\n"},
        {"a name is plain text", {"100% %s %n Disk"}, {0}, " 100% %s %n Disk\n"},
        {"names are cut at 127 characters", {"A", name150}, {1, 0}, " " + name150.substr(0, 127) + "\n A\n"},
        {"no devices", {}, {}, ""},
        {"sixteen devices",
         {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f"},
         {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         " f\n e\n d\n c\n b\n a\n 9\n 8\n 7\n 6\n 5\n 4\n 3\n 2\n 1\n 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<int> skip(c.names.size(), 0);
        BootRun r = RunBoot(Legacy(c.names, c.priority, skip), {"/GetBootOrder"});
        EXPECT_EQ(r.out, BANNER + c.output);
        EXPECT_EQ(r.status, 0);
        const unsigned n = (unsigned)c.names.size();
        EXPECT_EQ(r.Requests(), (std::vector<std::string>{"99/24", "0/0/0x8007", "3/2", "3/3"}));
        EXPECT_EQ(Inputs(r.Last(3, 3)), (std::vector<unsigned>{PHYS + 36, PHYS + 52, PHYS + 52 + 16 * n, 0}));
    }
}

// Each description string is read at its own segment and offset, as an
// option ROM that keeps its name in its own segment has it, and never past
// the window over its segment.
TEST(BootOrder, StringsReadAtEachDevicesSegment)
{
    json p = BootPlatform("legacy");
    p["boot"]["bbs"] = {{"devices",
                         {{{"name", "First"}, {"segment", "0xC000"}, {"offset", "0x0010"}},
                          {{"name", "Second"}, {"segment", "0xC000"}, {"offset", "0xFF00"}},
                          {{"name", "Elsewhere"}, {"segment", "0xD000"}, {"offset", "0x0020"}},
                          {{"name", "PXE ROM"}, {"segment", "0xC800"}, {"offset", "0x0000"}},
                          {{"name", "Edge"}, {"segment", "0xC100"}, {"offset", "0xFFFD"}}}},
                        {"priority", {2, 1, 4, 0, 3}}};
    BootRun r = RunBoot(p, {"/gbo"});
    EXPECT_EQ(r.out, std::string(BANNER) + " Elsewhere\n Second\n Ed\n First\n PXE ROM\n");
    EXPECT_EQ(r.status, 0);

    r = RunBoot(p, {"/SFBO", "PXE ROM"});
    EXPECT_EQ(r.out, std::string(BANNER) + "BIOS Boot Setting success\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.boot["bbs"]["priority"], json({3, 2, 1, 4, 0}));
}

TEST(SetFirstBootOrder, PriorityListSentAndKept)
{
    const std::string name150(150, 'N');
    struct Case {
        const char* why;
        std::vector<std::string> names;
        std::vector<int> priority;
        std::string word;
        std::vector<int> sent;
    } cases[] = {
        {"device in the middle", {"SATA HDD", "USB HDD", "", "CD-ROM"}, {1, 0, 3, 2}, "CD-ROM", {3, 1, 0, 2}},
        {"the example list 2, 0, 1", {"A", "B", "C"}, {2, 0, 1}, "A", {0, 2, 1}},
        {"already first: sent unchanged", {"A", "B", "C"}, {2, 0, 1}, "C", {2, 0, 1}},
        {"a shorter earlier name wins", {"SATA HDD", "SATA HDD 2"}, {1, 0}, "SATA HDD 2", {0, 1}},
        {"the unnamed device is Unknown", {"A", "", "C"}, {0, 1, 2}, "Unknown", {1, 0, 2}},
        {"a word starting with the name", {"USB HDD", "CD-ROM"}, {0, 1}, "CD-ROM drive", {1, 0}},
        {"a 31-character name",
         {"Floppy", "Generic Mass Storage Device 123"},
         {0, 1},
         "Generic Mass Storage Device 123 and more",
         {1, 0}},
        {"a 32-character name",
         {"Floppy", "Removable Device Number 01 (USB)"},
         {0, 1},
         "Removable Device Number 01 (USB)",
         {1, 0}},
        {"a 44-character name",
         {"Floppy", "UEFI: SanDisk Cruzer Blade 1.27, Partition 1"},
         {0, 1},
         "UEFI: SanDisk Cruzer Blade 1.27, Partition 1",
         {1, 0}},
        {"a word past 127 characters keeps its first 127", {"A", name150}, {0, 1}, name150 + " and more", {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::vector<int> skip = {0xA5, 0x5A, 7};
        const unsigned n = (unsigned)c.names.size();
        BootRun r = RunBoot(Legacy(c.names, c.priority, skip), {"/SetFirstBootOrder", c.word});
        EXPECT_EQ(r.out, std::string(BANNER) + "BIOS Boot Setting success\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.Requests(), (std::vector<std::string>{"99/24", "0/0/0x8007", "3/2", "3/3", "3/5"}));
        const json set = r.Last(3, 5);
        EXPECT_EQ(Inputs(set), (std::vector<unsigned>{PHYS + 36, PHYS + 52 + 16 * n, 0, 0}));
        EXPECT_EQ(set["priority"], json(c.sent));
        EXPECT_EQ(set["skip"], json(skip)); // handed back as the firmware wrote it
        EXPECT_EQ(r.boot["bbs"]["priority"], json(c.sent));
    }
}

TEST(SetFirstBootOrder, NoMatchingNameSendsNothing)
{
    struct Case {
        std::vector<std::string> names;
        std::vector<int> priority;
        const char* word;
    } cases[] = {
        {{"SATA HDD", "USB HDD"}, {1, 0}, "sata hdd"},
        {{"SATA HDD", "USB HDD"}, {1, 0}, "SATA"},
        {{"SATA HDD", "USB HDD"}, {1, 0}, "Floppy"},
        {{"SATA HDD", "USB HDD"}, {1, 0}, ""},
        {{}, {}, "anything"}, // no device, so no name to match
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.names.size()) + " devices, word " + c.word);
        BootRun r = RunBoot(Legacy(c.names, c.priority, std::vector<int>(c.names.size(), 0)), {"-sfbo", c.word});
        EXPECT_EQ(r.out, BANNER + ErrorLine(218));
        EXPECT_EQ(r.status, 218);
        EXPECT_TRUE(r.Last(3, 5).is_null());
        EXPECT_EQ(r.boot["bbs"]["priority"], json(c.priority));
    }
}

// Answers that do not fit the buffer's places, name a device that does not
// exist or name one twice end with 216 before anything is printed or sent.
TEST(BootOrder, ImpossibleAnswersEndWith216)
{
    std::vector<std::string> seventeen;
    std::vector<int> order;
    for (int k = 0; k < 17; k++) {
        seventeen.push_back("Disk " + std::to_string(k));
        order.push_back(k);
    }
    struct Case {
        const char* why;
        json platform;
        std::vector<std::string> requests;
    } cases[] = {
        {"seventeen devices", Legacy(seventeen, order, std::vector<int>(17, 0)), {"99/24", "0/0/0x8007", "3/2"}},
        {"priority byte equal to the count", Legacy({"A", "B"}, {0, 2}, {0, 0}), {"99/24", "0/0/0x8007", "3/2", "3/3"}},
        {"priority byte far out",
         Legacy({"A", "B", "C"}, {0, 255, 1}, {0, 0, 0}),
         {"99/24", "0/0/0x8007", "3/2", "3/3"}},
        {"a device listed twice", Legacy({"A", "B", "C"}, {0, 2, 0}, {0, 0, 0}), {"99/24", "0/0/0x8007", "3/2", "3/3"}},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& words :
             {std::vector<std::string>{"/GetBootOrder"}, std::vector<std::string>{"/SetFirstBootOrder", "A"}}) {
            SCOPED_TRACE(std::string(c.why) + " " + words[0]);
            BootRun r = RunBoot(c.platform, words);
            EXPECT_EQ(r.out, BANNER + ErrorLine(216));
            EXPECT_EQ(r.status, 216);
            EXPECT_EQ(r.Requests(), c.requests);
            EXPECT_EQ(r.boot["bbs"]["priority"], c.platform["boot"]["bbs"]["priority"]);
        }
    }
}

// With the firmware's state saved between runs, the new order is what the
// next listing shows.
TEST(BootOrder, NewOrderPersists)
{
    json platform = BootPlatform("legacy");
    BootRun set = RunBoot(platform, {"/SetFirstBootOrder", "USB HDD"});
    ASSERT_EQ(set.status, 0) << set.out;
    platform["boot"] = set.boot;
    BootRun get = RunBoot(platform, {"/GetBootOrder"});
    EXPECT_EQ(get.out, std::string(BANNER) + " USB HDD\n SATA HDD\n CD-ROM\n Unknown\n");

    set = RunBoot(platform, {"/SetFirstBootOrder", "Unknown"});
    ASSERT_EQ(set.status, 0) << set.out;
    platform["boot"] = set.boot;
    get = RunBoot(platform, {"/gbo"});
    EXPECT_EQ(get.out, std::string(BANNER) + " Unknown\n USB HDD\n SATA HDD\n CD-ROM\n");
}

} // namespace
