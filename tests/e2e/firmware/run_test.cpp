// Runs that end before the firmware modules execute: the usage text, an
// unclaimed word, a platform without a memory hole, another run holding the
// machine-wide lock (or no place for one), and the host build run without
// I/O privilege.
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
    // Another run's hold on the machine-wide lock, as the platform has it.
    const auto held = [](json releaseAfterMs) {
        return json{{"directory", true}, {"holder", {{"pid", 4242}, {"release_after_ms", releaseAfterMs}}}};
    };
    const std::string holds = "ZORVIK: another run (process 4242) holds /run/lock/zorvik.lock";
    const std::string RUNNING = ErrorLine(0x61);
    struct Case {
        const char* name;
        bool hole;
        std::vector<std::string> words;
        int status;
        std::string tail;
        json runLock = nullptr; // the platform's run_lock, when not null
        std::vector<std::string> env = {};
        std::string lockLine = ""; // ZORVIK's line about the lock, ahead of all else
    } cases[] = {
        {"no words: usage text", true, {}, 0, "+\n"},
        {"unclaimed word", true, {"/NoSuchCommand"}, 1, "Unknown command or option : /NoSuchCommand\n" + ErrorLine(1)},
        {"no memory hole", false, {"/GetMode"}, 16, LOAD_DRIVER_LINE},
        {"lock held, no wait: ends before any SMI",
         true,
         {"/GetMode"},
         0x61,
         RUNNING,
         held(nullptr),
         {"ZORVIK_LOCK_WAIT=0"},
         holds + "\n"},
        {"lock held past the wait",
         true,
         {"/GetMode"},
         0x61,
         RUNNING,
         held(nullptr),
         {"ZORVIK_LOCK_WAIT=1"},
         holds + "; waiting up to 1 second for it\n"},
        {"lock let go after a moment: the run waits, then runs",
         true,
         {},
         0,
         "+\n",
         held(300),
         {},
         holds + "; waiting up to 60 seconds for it\n"},
        {"no /run/lock: the run goes on without a lock",
         true,
         {},
         0,
         "+\n",
         {{"directory", false}},
         {},
         "ZORVIK: no lock against a second run at the same time (cannot open /run/lock/zorvik.lock: "
         "No such file or directory); going on without it\n"},
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
        if (!c.runLock.is_null())
            platform["run_lock"] = c.runLock;
        EmuRun r = RunOnPlatform(platform, c.words, c.env);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(EndsWith(r.out, c.tail)) << r.out;
        const bool refused = c.status == 0x61;
        const std::string head = c.lockLine + (refused ? RUNNING : c.hole ? BANNER : "");
        EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
        std::vector<std::string> f = r.Functions();
        if (refused) {
            // Nothing of the machine was touched: not even the memory hole.
            EXPECT_TRUE(r.PortWrites().empty()) << r.PortWrites().size() << " port writes";
            continue;
        }
        // The memory hole was asked for; the flash interface was never
        // opened, so it is not closed either.
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
            if (argv.size() == 3 && argv[0] == "sh" &&
                argv[2].get<std::string>().find("nmi_watchdog") != std::string::npos)
                commands.push_back(argv[2]);
        }
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(r.Events("finish").at(0)["nmi_watchdog"], c.watchdog ? json("1\n") : json(nullptr));
    }
}

} // namespace
