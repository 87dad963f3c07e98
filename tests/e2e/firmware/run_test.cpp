// Runs that end before the firmware modules execute: the usage text, an
// unclaimed word, a platform without a memory hole, and the host build run
// without I/O privilege.
#include <gtest/gtest.h>

#include "EmuRun.h"

namespace {

const std::string LOAD_DRIVER_LINE = ErrorLine(0x10);

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
        std::string tail;
    } cases[] = {
        {"no words: usage text", true, {}, 0, "+\n"},
        {"unclaimed word", true, {"/NoSuchCommand"}, 1,
         "Unknown command or option : /NoSuchCommand\n" + ErrorLine(1)},
        {"no memory hole", false, {"/GetMode"}, 16, LOAD_DRIVER_LINE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Through the SMI module its own buffer serves a firmware without a
        // hole (the closed-route table of tests/e2e/driver has that run).
        if (!c.hole && testsupport::SmiModuleRoute())
            continue;
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

// The watchdog is switched off once the provider and the memory manager are
// in place, and switched back on at shutdown on every path that switched it
// off, error endings included.
TEST(Run, NmiWatchdogIsSwitchedBackOn)
{
#ifdef IN_PROCESS_FIRMWARE
    GTEST_SKIP() << "the watchdog file and the shell commands are the sandbox's, under fwemu only";
#endif
    const std::string off = "echo 0 > /proc/sys/kernel/nmi_watchdog";
    const std::string on = "echo 1 > /proc/sys/kernel/nmi_watchdog";
    struct Case {
        const char* name;
        bool watchdog;
        bool hole;
        std::vector<std::string> words;
        int status;
        std::vector<std::string> commands;
    } cases[] = {
        {"usage text", true, true, {}, 0, {off, on}},
        {"command refused by the firmware", true, true, {"/GetMode"}, 0xDF, {off, on}},
        {"unclaimed word", true, true, {"/NoSuchCommand"}, 1, {off, on}},
        {"no provider: never switched off", true, false, {"/GetMode"}, 16, {}},
        {"no watchdog file", false, true, {}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.hole && testsupport::SmiModuleRoute())
            continue;
        json platform = BasePlatform();
        platform["nmi_watchdog"] = c.watchdog;
        if (!c.hole)
            platform["memory_hole"] = nullptr;
        EmuRun r = RunOnPlatform(platform, c.words);
        EXPECT_EQ(r.status, c.status) << r.out;
        std::vector<std::string> commands;
        for (const json& e : r.Events("exec")) {
            const json& argv = e["argv"];
            if (argv.size() == 3 && argv[0] == "sh" && argv[2].get<std::string>().find("nmi_watchdog") != std::string::npos)
                commands.push_back(argv[2]);
        }
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(r.Events("finish").at(0)["nmi_watchdog"], c.watchdog ? json("1\n") : json(nullptr));
    }
}

} // namespace
