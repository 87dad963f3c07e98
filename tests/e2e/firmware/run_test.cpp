// Runs that end before the firmware modules execute: the usage text, an
// unclaimed word, a platform without a memory hole, and the host build run
// without I/O privilege.
#include <gtest/gtest.h>

#include "EmuRun.h"

namespace {

const char LOAD_DRIVER_LINE[] = "10 - Error: Unable to load driver.\n";

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Run, EndsBeforeTheFirmwareModulesExecute)
{
    struct Case {
        const char* name;
        bool hole;
        std::vector<std::string> words;
        int status;
        const char* tail;
    } cases[] = {
        {"no words: usage text", true, {}, 0, "+\n"},
        {"unclaimed word", true, {"/NoSuchCommand"}, 1,
         "Unknown command or option : /NoSuchCommand\n1 - Error: Unknown command.\n"},
        {"no memory hole", false, {"/GetMode"}, 16, LOAD_DRIVER_LINE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        if (!c.hole)
            platform["memory_hole"] = nullptr;
        EmuRun r = RunOnPlatform(platform, c.words);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(EndsWith(r.out, c.tail)) << r.out;
        if (c.hole) {
            EXPECT_EQ(r.out.find(BANNER), 0u) << r.out;
        }
        // The memory hole was asked for; the flash interface was never
        // opened, so it is not closed either.
        std::vector<std::string> f = r.Functions();
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(f[0], "memory_hole");
        for (const std::string& name : f) {
            EXPECT_NE(name, "open_flash");
            EXPECT_NE(name, "close_flash");
            EXPECT_NE(name, "dore");
        }
    }
}

} // namespace
