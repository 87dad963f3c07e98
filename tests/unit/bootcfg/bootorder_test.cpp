// Legacy boot order: choosing a device by the word the user typed and
// rebuilding the priority list with that device in front.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bootcfg/flashvar.h"

namespace {

typedef std::vector<uint8_t> List;

TEST(PriorityList, ChosenDeviceMovesToTheFront)
{
    struct Case {
        const char* name;
        List list;
        uint8_t chosen;
        List expected;
    } cases[] = {
        {"middle device", {2, 0, 1}, 0, {0, 2, 1}},
        {"already first: unchanged", {2, 0, 1}, 2, {2, 0, 1}},
        {"last device", {0, 1, 2, 3}, 3, {3, 0, 1, 2}},
        {"one device", {0}, 0, {0}},
        {"full list of 16",
         {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         8,
         {8, 15, 14, 13, 12, 11, 10, 9, 7, 6, 5, 4, 3, 2, 1, 0}},
        // A list that names the chosen device twice keeps its tail.
        {"chosen device listed twice", {1, 0, 1}, 1, {1, 0, 1}},
        // A list without the chosen device loses its last entry.
        {"chosen device not listed", {1, 1, 2}, 0, {0, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Guard bytes behind the list must stay untouched.
        List buffer = c.list;
        buffer.push_back(0xEE);
        MakeFirstInPriorityList(buffer.data(), (unsigned int)c.list.size(), c.chosen);
        List expected = c.expected;
        expected.push_back(0xEE);
        EXPECT_EQ(buffer, expected);
    }
}

TEST(PriorityList, NoDevicesWritesNothing)
{
    uint8_t buffer[2] = {0xEE, 0xEE};
    MakeFirstInPriorityList(buffer, 0, 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(buffer[1], 0xEE);
}

BBS_DEVICE_TABLE Table(const std::vector<std::string>& names)
{
    BBS_DEVICE_TABLE table;
    memset(&table, 0, sizeof(table));
    table.Count = (unsigned int)names.size();
    for (size_t k = 0; k < names.size(); k++)
        strcpy(table.Name[k], names[k].c_str());
    return table;
}

TEST(DeviceChoice, FirstEntryWhoseWholeNameBeginsTheWord)
{
    struct Case {
        const char* name;
        std::vector<std::string> devices;
        const char* word;
        int chosen;
    } cases[] = {
        {"exact name", {"USB HDD", "SATA HDD"}, "SATA HDD", 1},
        {"a shorter earlier name wins", {"SATA HDD", "SATA HDD 2"}, "SATA HDD 2", 0},
        {"trailing characters are allowed", {"USB HDD", "CD-ROM"}, "CD-ROM drive", 1},
        {"letter case counts", {"SATA HDD"}, "sata hdd", -1},
        {"the word must hold the whole name", {"SATA HDD"}, "SATA", -1},
        {"empty word", {"SATA HDD"}, "", -1},
        {"an unnamed device is Unknown", {"SATA HDD", "Unknown"}, "Unknown", 1},
        {"no devices", {}, "SATA HDD", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BBS_DEVICE_TABLE table = Table(c.devices);
        EXPECT_EQ(FindBbsDevice(&table, c.word), c.chosen);
    }
}

// The word is compared without reading past its end: a word that is a
// proper prefix of a name sits at the very end of its own heap block.
TEST(DeviceChoice, ShortWordIsNotOverread)
{
    BBS_DEVICE_TABLE table = Table({"Network boot device"});
    char* word = (char*)malloc(4);
    memcpy(word, "Net", 4);
    EXPECT_EQ(FindBbsDevice(&table, word), -1);
    free(word);
}

} // namespace
