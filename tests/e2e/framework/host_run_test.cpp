// The host ZORVIK run directly on this machine, where the I/O privilege is
// refused: how a run ends when its own file cannot be read, how a bare
// program name is found, and that no port write faults the process.
//
// Without a memory hole the program turns to its helper module, so each run
// is kept away from the machine's kernel: it starts without the capabilities
// for module loading and raw I/O, and a stand-in `uname` first in PATH names
// a kernel release that has no tree here, so no module is ever built or
// loaded. Its machine-wide lock is in a /run/lock of its own.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <linux/capability.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/ExpectedTexts.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using RunResult = testsupport::ProcessResult;

// Starts the program file with the given argv[0], words, directory and PATH;
// standard output and standard error apart.
RunResult RunProgram(const std::string& file, const std::string& argv0, const std::vector<std::string>& words,
                     const std::string& cwd, const std::string& path)
{
    std::vector<std::string> argv = {argv0};
    argv.insert(argv.end(), words.begin(), words.end());
    testsupport::ProcessOptions options;
    options.env = std::vector<std::string>{"PATH=" + path};
    options.cwd = cwd;
    options.beforeExec = [] {
        testsupport::UsePrivateRunLock();
        prctl(PR_CAPBSET_DROP, CAP_SYS_MODULE, 0, 0, 0);
        prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0);
    };
    return testsupport::RunProcess(file, argv, options);
}

class HostRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
        bin = dir + "/bin";
        mkdir(bin.c_str(), 0755);
        std::string cmd = "cp " + std::string(ZORVIK_HOST_PATH) + " " + bin + "/ZORVIK";
        ASSERT_EQ(system(cmd.c_str()), 0);
        mkdir((dir + "/elsewhere").c_str(), 0755);
        standIn = dir + "/stand-in";
        mkdir(standIn.c_str(), 0755);
        std::string uname = standIn + "/uname";
        FILE* f = fopen(uname.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("#!/bin/sh\necho 0.0-no-such-kernel\n", f);
        fclose(f);
        chmod(uname.c_str(), 0755);
    }
    void TearDown() override
    {
        if (!tmp.Remove())
            ADD_FAILURE() << "could not remove " << dir;
    }
    testsupport::TempDir tmp{"/tmp/hostrun"};
    std::string dir;
    std::string bin;
    std::string standIn;
};

// No memory hole, no kernel tree for the helper module.
const std::string LOAD_DRIVER_LINE = "Error: Cannot locate kernel source.\n" + testsupport::ErrorLine(0x10);

TEST_F(HostRun, EndsByItsDocumentedPaths)
{
    struct Case {
        const char* name;
        std::string argv0;
        std::vector<std::string> words;
        std::string cwd;
        std::string path;
        std::string out;
        int status;
    } cases[] = {
        {"no words, no provider", bin + "/ZORVIK", {}, dir, "/usr/bin:/bin", LOAD_DRIVER_LINE, 16},
        {"a command, no provider", bin + "/ZORVIK", {"/GetBootOrder"}, dir, "/bin", LOAD_DRIVER_LINE, 16},
        {"unknown word, no provider", bin + "/ZORVIK", {"/Foo"}, dir, "/bin", LOAD_DRIVER_LINE, 16},
        {"own file missing", dir + "/gone/ZORVIK", {"/GetMode"}, dir, "/bin", testsupport::ErrorLine(0x30), 0x30},
        {"own file cannot be read in full", dir, {}, dir, "/bin", testsupport::ErrorLine(0x31), 0x31},
        {"bare name found through PATH", "ZORVIK", {}, dir + "/elsewhere", "/usr/bin:" + bin, LOAD_DRIVER_LINE, 16},
        {"bare name, empty PATH entry is the current directory",
         "ZORVIK",
         {},
         bin,
         "/usr/bin::/bin",
         LOAD_DRIVER_LINE,
         16},
        {"bare name nowhere on PATH",
         "ZORVIK",
         {},
         dir + "/elsewhere",
         "/usr/bin:/bin",
         testsupport::ErrorLine(0x30),
         0x30},
        {"bare name in the current directory", "ZORVIK", {}, bin, "/usr/bin", LOAD_DRIVER_LINE, 16},
        {"relative path as typed", "bin/ZORVIK", {}, dir, "/usr/bin", LOAD_DRIVER_LINE, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = RunProgram(bin + "/ZORVIK", c.argv0, c.words, c.cwd, standIn + ":" + c.path);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        // A run without a provider says why on standard error, where this
        // machine refuses the I/O privilege and has no tree for the release.
        if (c.status == 16) {
            EXPECT_EQ(r.err.find("ZORVIK: I/O privilege refused (iopl: "), 0u) << r.err;
            EXPECT_NE(r.err.find("ZORVIK: no kernel tree for 0.0-no-such-kernel at "
                                 "/lib/modules/0.0-no-such-kernel/build/"),
                      std::string::npos)
                << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
    // Nothing of the helper module is left behind in a working directory.
    std::string cmd = "[ -z \"$(ls -A " + dir + "/elsewhere)\" ]";
    EXPECT_EQ(system(cmd.c_str()), 0);
}

} // namespace
