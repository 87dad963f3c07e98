// The parts of fwemu that need no traced process: instruction decoding,
// virtual I/O privilege, the command line, the trace file and the sandbox.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "IoPrivilege.h"
#include "PortTrap.h"
#include "Sandbox.h"
#include "TraceWriter.h"

using namespace fwemu;

namespace {

struct DecodeCase {
    const char* name;
    std::vector<uint8_t> code;
    bool longMode;
    bool isOut;
    unsigned length;
    bool immediate;
    uint8_t port;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

std::string tempDir()
{
    char name[] = "/tmp/fwemu-unit-XXXXXX";
    return mkdtemp(name) != nullptr ? name : "";
}

size_t entriesIn(const std::string& dir)
{
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                ++n;
        closedir(d);
    }
    return n;
}

} // namespace

TEST_P(DecodeTest, RecognisesOnlyOneBytePortWrites)
{
    const DecodeCase& c = GetParam();
    const std::optional<OutInstruction> insn = decodePortWrite(c.code.data(), c.code.size(), c.longMode);
    ASSERT_EQ(insn.has_value(), c.isOut);
    if (!c.isOut)
        return;
    EXPECT_EQ(insn->length, c.length);
    EXPECT_EQ(insn->immediate, c.immediate);
    if (c.immediate) {
        EXPECT_EQ(insn->port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Instructions, DecodeTest,
                         ::testing::Values(DecodeCase{"OutDx", {0xEE, 0x90}, true, true, 1, false, 0},
                                           DecodeCase{"OutImm", {0xE6, 0xB2}, true, true, 2, true, 0xB2},
                                           DecodeCase{"OutImm32", {0xE6, 0x80}, false, true, 2, true, 0x80},
                                           DecodeCase{"OperandPrefix", {0x66, 0xEE}, true, true, 2, false, 0},
                                           DecodeCase{"SegmentAndRep", {0xF3, 0x26, 0xEE}, true, true, 3, false, 0},
                                           DecodeCase{"RexIn64BitCode", {0x48, 0xEE}, true, true, 2, false, 0},
                                           DecodeCase{"DecIn32BitCode", {0x48, 0xEE}, false, false, 0, false, 0},
                                           DecodeCase{"InDx", {0xEC}, true, false, 0, false, 0},
                                           DecodeCase{"OutWord", {0xEF}, true, false, 0, false, 0},
                                           DecodeCase{"ImmCut", {0xE6}, true, false, 0, false, 0},
                                           DecodeCase{"Ud2", {0x0F, 0x0B}, true, false, 0, false, 0},
                                           DecodeCase{"TooManyPrefixes", std::vector<uint8_t>(15, 0x66), true, false, 0,
                                                      false, 0}),
                         [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(IoPrivilege, LevelAndPortPermissions)
{
    IoPrivilege io;
    EXPECT_FALSE(io.allows(0xB2));
    EXPECT_EQ(io.setLevel(3), 0);
    EXPECT_TRUE(io.allows(0xB2));
    EXPECT_TRUE(io.allows(0xFFFF));
    EXPECT_EQ(io.setLevel(4), -EINVAL);
    EXPECT_EQ(io.level(), 3u);
    EXPECT_EQ(io.setLevel(0), 0);
    EXPECT_FALSE(io.allows(0xB2));

    EXPECT_EQ(io.setPorts(0xB2, 1, true), 0);
    EXPECT_TRUE(io.allows(0xB2));
    EXPECT_FALSE(io.allows(0xB3));
    EXPECT_FALSE(io.allows(0xB1));
    EXPECT_EQ(io.setPorts(0xB2, 1, false), 0);
    EXPECT_FALSE(io.allows(0xB2));
    EXPECT_EQ(io.setPorts(0xFFFF, 2, true), -EINVAL);
    EXPECT_EQ(io.setPorts(0x10000, 0, true), -EINVAL);
    EXPECT_EQ(io.setPorts(0, 0x10000, true), 0);
    EXPECT_TRUE(io.allows(0xFFFF));
}

TEST(CommandLine, AcceptedForms)
{
    struct Case {
        std::vector<std::string> args;
        std::string platform, program;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {{"--platform", "p.json", "--", "Z", "/GetMode"}, "p.json", "Z", {"/GetMode"}},
        {{"Z"}, "", "Z", {}},
        {{"--", "--platform"}, "", "--platform", {}},
        {{"Z", "--trace", "x"}, "", "Z", {"--trace", "x"}},
    };
    for (const Case& c : cases) {
        const Options o = parseCommandLine(c.args);
        EXPECT_EQ(o.platform, c.platform);
        EXPECT_EQ(o.program, c.program);
        EXPECT_EQ(o.words, c.words);
        EXPECT_FALSE(o.trace.has_value());
    }
    const Options all = parseCommandLine(
        {"--trace", "t.jsonl", "--save", "s.json", "--argv0", "ZORVIK", "--env", "A=1", "--env", "B==", "--", "Z"});
    EXPECT_EQ(all.env, (std::vector<std::string>{"A=1", "B=="}));
    EXPECT_EQ(all.trace, std::optional<std::string>("t.jsonl"));
    EXPECT_EQ(all.save, std::optional<std::string>("s.json"));
    EXPECT_EQ(all.argv0, std::optional<std::string>("ZORVIK"));
    EXPECT_TRUE(parseCommandLine({"--help"}).help);
}

TEST(CommandLine, Mistakes)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {Case{{}, "no program"}, Case{{"--platform"}, "needs a value"},
                          Case{{"--bogus", "Z"}, "unknown option --bogus"}, Case{{"--trace", "t", "--"}, "no program"},
                          Case{{"--env", "A", "Z"}, "NAME=VALUE"}, Case{{"--env", "=1", "Z"}, "NAME=VALUE"}}) {
        try {
            parseCommandLine(c.args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(TraceWriter, OneObjectPerLineSequenceAndEventFirst)
{
    const std::string dir = tempDir();
    const std::string path = dir + "/t.jsonl";
    {
        TraceWriter w(path);
        w.write("iopl", {{"level", 3}, {"pid", 7}});
        w.write("exit");
    }
    std::ifstream in(path);
    std::string first, second, third;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_FALSE(std::getline(in, third));
    EXPECT_EQ(first, R"({"seq":0,"event":"iopl","level":3,"pid":7})");
    EXPECT_EQ(second, R"({"seq":1,"event":"exit"})");
    unlink(path.c_str());
    rmdir(dir.c_str());
    EXPECT_THROW(TraceWriter("/nonexistent/dir/t.jsonl"), std::runtime_error);
}

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "building a sandbox needs root (mknod)";
        parent_ = tempDir();
    }
    void TearDown() override
    {
        if (!parent_.empty())
            rmdir(parent_.c_str());
    }
    std::string parent_;
};

TEST_F(SandboxTest, HoldsTheLayoutAndIsRemovedAfterwards)
{
    // The watchdog file and /run/lock come and go together here.
    for (bool watchdog : {true, false}) {
        SCOPED_TRACE(watchdog);
        std::string root;
        {
            SandboxConfig config;
            config.program = "/bin/busybox";
            config.nmiWatchdog = watchdog;
            config.runLockDirectory = watchdog;
            config.parent = parent_;
            Sandbox box(config);
            root = box.root();
            struct stat st {};
            ASSERT_EQ(stat(box.hostPath(Sandbox::kProgram).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_TRUE(st.st_mode & S_IXUSR);
            struct stat original {};
            stat("/bin/busybox", &original);
            EXPECT_EQ(st.st_size, original.st_size);

            ASSERT_EQ(stat(box.hostPath("/dev/null").c_str(), &st), 0);
            EXPECT_TRUE(S_ISCHR(st.st_mode));
            EXPECT_EQ(st.st_rdev, makedev(1, 3));
            ASSERT_EQ(lstat(box.hostPath("/bin/sh").c_str(), &st), 0);
            EXPECT_TRUE(S_ISLNK(st.st_mode));
            for (const std::string& applet : Sandbox::applets()) {
                EXPECT_EQ(stat(box.hostPath("/bin/" + applet).c_str(), &st), 0) << applet;
            }
            ASSERT_EQ(stat(box.hostPath("/tmp").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 01777u);
            EXPECT_EQ(entriesIn(box.hostPath(Sandbox::kWorkDir)), 0u);
            EXPECT_EQ(stat(box.hostPath("/run/lock").c_str(), &st) == 0 && (st.st_mode & 07777) == 01777, watchdog);

            std::string text;
            ASSERT_TRUE(box.readFile("/proc/devices", text));
            EXPECT_EQ(text.rfind("Character devices:\n", 0), 0u);
            EXPECT_EQ(box.readFile(Sandbox::kNmiWatchdog, text), watchdog);
            if (watchdog) {
                EXPECT_EQ(text, "1\n");
            }
            // Whatever the run leaves behind goes too.
            std::ofstream(box.hostPath("/work/left-over")) << "x";
            mkdir(box.hostPath("/work/.temp").c_str(), 0755);
        }
        struct stat st {};
        EXPECT_NE(stat(root.c_str(), &st), 0);
    }
}

TEST_F(SandboxTest, FailureLeavesNothingBehind)
{
    SandboxConfig config;
    config.program = "/nonexistent/ZORVIK";
    config.parent = parent_;
    EXPECT_THROW(Sandbox box(config), SandboxError);
    EXPECT_EQ(entriesIn(parent_), 0u);
}
