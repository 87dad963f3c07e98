// fwemu end to end: the probe program (and, when built, ZORVIK itself) run
// on the virtual platform; what they print, their exit status and the trace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PlatformDescription.h"
#include "support/Process.h"

using nlohmann::json;

namespace {

const std::string kPlatforms = PLATFORMS_DIR;
constexpr uint32_t kHole = 0x1FE00000; // the legacy desktop's memory hole

struct Outcome {
    int status = -1;
    std::string out, err;
    std::vector<json> trace;

    std::vector<json> events(const std::string& name) const
    {
        std::vector<json> found;
        for (const json& e : trace)
            if (e["event"] == name)
                found.push_back(e);
        return found;
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> v;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);)
            v.push_back(l);
        return v;
    }
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

std::string hex(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

class Fwemu : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "fwemu needs root";
        char name[] = "/tmp/fwemu-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }

    // The legacy desktop with `changes` merged in, as a file of this test.
    std::string platform(const json& changes = json::object(), const std::string& name = "platform.json")
    {
        json j = json::parse(slurp(kPlatforms + "/legacy-desktop.json"));
        j.update(changes, true);
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << j.dump(2);
        return path;
    }

    Outcome run(const std::vector<std::string>& args, const std::string& input = "")
    {
        const std::string tracePath = dir_ + "/trace.jsonl";
        std::vector<std::string> argv = {FWEMU_PATH, "--trace", tracePath};
        argv.insert(argv.end(), args.begin(), args.end());
        unlink(tracePath.c_str());

        testsupport::ProcessOptions options;
        options.input = input;
        const testsupport::ProcessResult p = testsupport::RunProcess(FWEMU_PATH, argv, options);
        if (p.inputFed != input.size())
            ADD_FAILURE() << "could not feed standard input";
        Outcome r;
        r.status = p.status;
        r.out = p.out;
        r.err = p.err;
        std::istringstream trace(slurp(tracePath));
        for (std::string line; std::getline(trace, line);)
            r.trace.push_back(json::parse(line));
        return r;
    }

    Outcome probe(const std::string& platformFile, const std::vector<std::string>& steps,
                  const std::string& program = PROBE_PATH, const std::string& input = "")
    {
        std::vector<std::string> args = {"--platform", platformFile, "--", program};
        args.insert(args.end(), steps.begin(), steps.end());
        return run(args, input);
    }

    std::string dir_;
};

TEST_F(Fwemu, PrivilegeIsGrantedVirtuallyAndPortWritesAreDecodedAndTraced)
{
    const Outcome r = probe(platform(), {"iopl", "3", "out", "0xB2", "0x0D", hex(kHole), "outi", "0x20", hex(kHole),
                                         "out", "0x80", "0x55", "0x1234", "iopl", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines(), (std::vector<std::string>{"iopl 3 = 0", "out ebx=0x1fe00000", "outi ebx=0x1fe00000",
                                                   "out ebx=0x1234", "iopl 0 = 0"}));
    std::vector<std::string> order;
    for (const json& e : r.trace)
        order.push_back(e["event"]);
    EXPECT_EQ(order, (std::vector<std::string>{"start", "exec", "iopl", "port_write", "port_write", "port_write",
                                               "iopl", "exit", "finish"}));
    const std::vector<json> writes = r.events("port_write");
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0]["port"], 0xB2);
    EXPECT_EQ(writes[0]["al"], 0x0D);
    EXPECT_EQ(writes[0]["ebx"], kHole);
    EXPECT_EQ(writes[0]["ecx"], 0);
    EXPECT_EQ(writes[0]["form"], "out dx,al");
    EXPECT_EQ(writes[0]["function"], "calling_interface");
    EXPECT_EQ(writes[0]["handled"], false);
    EXPECT_EQ(writes[1]["form"], "out imm8,al");
    EXPECT_EQ(writes[1]["function"], "open_flash");
    EXPECT_EQ(writes[2]["port"], 0x80);
    EXPECT_EQ(writes[2]["smi"], false);
    EXPECT_EQ(r.events("iopl")[0]["level"], 3);
    EXPECT_EQ(r.events("iopl")[0]["result"], 0);
}

TEST_F(Fwemu, MemoryHoleQueryAnswerArrivesInEbx)
{
    struct Case {
        json changes;
        const char* port;
        const char* line;
    };
    const Case cases[] = {
        {json::object(), "0xB2", "hole=0x1fe00000"},
        {{{"memory_hole", "0x00A00010"}}, "0xB2", "hole=0xa00010"},
        {{{"memory_hole", nullptr}}, "0xB2", "hole=0x0"},
        {json::object(), "0x80", "hole=0x0"}, // not an SMI port: EBX stays as sent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changes.dump() + c.port);
        const Outcome r = probe(platform(c.changes), {"iopl", "3", "hole", c.port});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.lines().back(), c.line);
    }
}

TEST_F(Fwemu, PortWriteWithoutPrivilegeIsDeliveredAsTheFault)
{
    struct Case {
        std::vector<std::string> steps;
        int status;
        size_t faults;
    };
    const Case cases[] = {
        {{"out", "0xB2", "0x20", "0"}, 139, 1},
        {{"iopl", "3", "iopl", "0", "out", "0xB2", "0x20", "0"}, 139, 1},
        {{"iopl", "4", "out", "0xB2", "0x20", "0"}, 139, 1},
        {{"ioperm", "0xB2", "1", "1", "out", "0xB2", "0x20", "0"}, 0, 0},
        {{"ioperm", "0xB2", "1", "1", "out", "0xB3", "0x20", "0"}, 139, 1},
        {{"ioperm", "0", "65536", "1", "ioperm", "0xB2", "1", "0", "out", "0xB2", "0x20", "0"}, 139, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.steps));
        const Outcome r = probe(platform(), c.steps);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.events("port_fault").size(), c.faults);
        if (c.faults != 0) {
            EXPECT_EQ(r.events("port_write").size(), 0u);
            EXPECT_EQ(r.events("port_fault")[0]["signal"], 11);
            EXPECT_EQ(r.events("exit")[0]["signal"], 11);
        }
    }
}

TEST_F(Fwemu, ExitStatusAndSignalsPassThrough)
{
    struct Case {
        std::vector<std::string> steps;
        int status;
    };
    const Case cases[] = {
        {{"exit", "0"}, 0},     {{"exit", "3"}, 3}, {{"exit", "255"}, 255},       {{"raise", "15"}, 143},
        {{"raise", "6"}, 134},  {{"segv"}, 139},    {{"iopl", "3", "segv"}, 139}, // a page fault is no port write
        {{"exit", "125"}, 125},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.steps));
        const Outcome r = probe(platform(), c.steps);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.events("finish").at(0)["status"], c.status);
    }
}

TEST_F(Fwemu, OwnFailuresPrintOneLineAndExit125)
{
    std::ofstream(dir_ + "/broken.json") << "{ \"memory_size\": ";
    std::ofstream(dir_ + "/unknown.json") << R"({"memroy_hole": "0x1000000"})";
    const std::vector<std::vector<std::string>> cases = {
        {"--platform", dir_ + "/missing.json", "--", PROBE_PATH},
        {"--platform", dir_ + "/broken.json", "--", PROBE_PATH},
        {"--platform", dir_ + "/unknown.json", "--", PROBE_PATH},
        {"--platform", platform(), "--", dir_ + "/no-such-program"},
        {"--platform", platform()},
        {"--frobnicate", "--", PROBE_PATH},
        {"--platform", platform(), "--save", "/nonexistent/dir/out.json", "--", PROBE_PATH},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 125);
        EXPECT_EQ(r.err.rfind("fwemu: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(Fwemu, SandboxHoldsTheLayoutAndIsRemoved)
{
    struct Case {
        const char* file;
        const char* watchdog;
        const char* memorySize;
    };
    // The host's busybox is shared read-only: the program cannot change it.
    struct stat busybox {};
    ASSERT_EQ(stat("/bin/busybox", &busybox), 0);
    for (const Case& c :
         {Case{"legacy-desktop.json", "reg 2 -", "536870912"}, Case{"asf-port.json", "none", "536870912"},
          Case{"uefi-laptop.json", "reg 2 -", "1073741824"}}) {
        SCOPED_TRACE(c.file);
        const Outcome r = probe(kPlatforms + "/" + c.file, {"argv0",
                                                            "cwd",
                                                            "env",
                                                            "PATH",
                                                            "envcount",
                                                            "ls",
                                                            "/work",
                                                            "stat",
                                                            "/bin/sh",
                                                            "stat",
                                                            "/dev/null",
                                                            "stat",
                                                            "/dev/mem",
                                                            "stat",
                                                            "/proc/devices",
                                                            "stat",
                                                            "/proc/sys/kernel/nmi_watchdog",
                                                            "stat",
                                                            "/usr/local/bin/ZORVIK",
                                                            "stat",
                                                            "/tmp",
                                                            "system",
                                                            "echo x >> /bin/busybox",
                                                            "stat",
                                                            "/bin/busybox"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = r.lines();
        ASSERT_EQ(lines.size(), 14u) << r.out;
        EXPECT_EQ(lines[0], "argv0=/usr/local/bin/ZORVIK");
        EXPECT_EQ(lines[1], "cwd=/work");
        EXPECT_EQ(lines[2], "env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");
        EXPECT_EQ(lines[3], "envcount=1");
        EXPECT_EQ(lines[4], "ls /work 0");
        EXPECT_EQ(lines[5], "stat /bin/sh lnk busybox");
        EXPECT_EQ(lines[6], "stat /dev/null chr 1:3");
        EXPECT_EQ(lines[7], std::string("stat /dev/mem reg ") + c.memorySize + " -");
        EXPECT_EQ(lines[8].rfind("stat /proc/devices reg ", 0), 0u);
        EXPECT_EQ(lines[9], std::string("stat /proc/sys/kernel/nmi_watchdog ") + c.watchdog);
        struct stat probeFile {};
        ASSERT_EQ(stat(PROBE_PATH, &probeFile), 0);
        EXPECT_EQ(lines[10], "stat /usr/local/bin/ZORVIK reg " + std::to_string(probeFile.st_size) + " x");
        EXPECT_EQ(lines[11], "stat /tmp dir 1777");
        EXPECT_EQ(lines[12], "system=1");
        EXPECT_EQ(lines[13], "stat /bin/busybox reg " + std::to_string(busybox.st_size) + " x");
        struct stat after {};
        ASSERT_EQ(stat("/bin/busybox", &after), 0);
        EXPECT_EQ(after.st_size, busybox.st_size);
        EXPECT_EQ(after.st_mtim.tv_sec, busybox.st_mtim.tv_sec);

        const std::string root = r.events("start").at(0)["root"];
        struct stat st {};
        EXPECT_NE(stat(root.c_str(), &st), 0) << root << " was left behind";
    }
}

TEST_F(Fwemu, Argv0OverridesOnlyArgv0)
{
    for (const char* argv0 : {"ZORVIK", "/nonexistent/ZORVIK", "./ZORVIK"}) {
        const Outcome r = run(
            {"--platform", platform(), "--argv0", argv0, "--", PROBE_PATH, "argv0", "stat", "/usr/local/bin/ZORVIK"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.lines()[0], std::string("argv0=") + argv0);
        EXPECT_EQ(r.events("exec").at(0)["path"], "/usr/local/bin/ZORVIK");
    }
}

TEST_F(Fwemu, ChildProcessesAreFollowed)
{
    const Outcome r = probe(platform(), {"iopl", "3", "system", "echo 0 > /proc/sys/kernel/nmi_watchdog", "fork-out",
                                         "0xB2", "0x24", "iopl", "0", "fork-out", "0xB2", "0x24"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines(),
              (std::vector<std::string>{"iopl 3 = 0", "system=0", "child=exit 0", "iopl 0 = 0", "child=signal 11"}));
    const std::vector<json> execs = r.events("exec");
    ASSERT_EQ(execs.size(), 2u);
    EXPECT_EQ(execs[1]["argv"], json::array({"sh", "-c", "echo 0 > /proc/sys/kernel/nmi_watchdog"}));
    EXPECT_EQ(execs[1]["path"], "/bin/busybox");
    EXPECT_EQ(r.events("finish").at(0)["nmi_watchdog"], "0\n");

    // The first child inherited the privilege, the second did not.
    const int mainPid = execs[0]["pid"];
    const std::vector<json> writes = r.events("port_write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_NE(writes[0]["pid"], mainPid);
    EXPECT_EQ(writes[0]["function"], "close_flash");
    ASSERT_EQ(r.events("port_fault").size(), 1u);
    EXPECT_NE(r.events("port_fault")[0]["pid"], mainPid);
}

TEST_F(Fwemu, PhysicalMemoryIsSharedWithTheFirmware)
{
    const std::string buffer = hex(kHole);
    const std::string status = hex(kHole + 16);
    const std::string output0 = hex(kHole + 20);
    const Outcome r = probe(platform({{"flash", {{"open_status", 2}}}, {"boot", nullptr}}),
                            {"iopl",
                             "3",
                             "peek",
                             "0xF6A40",
                             "8", // the RSDP
                             "poke",
                             status,
                             "EE",
                             "out",
                             "0xB2",
                             "0x20",
                             buffer, // open flash: status 2 in byte 16
                             "peek",
                             status,
                             "1",
                             "poke",
                             buffer,
                             "03000200"
                             "00000000"
                             "00000000"
                             "00000000"
                             "00000000"
                             "FEFFFFFF",
                             "out",
                             "0xB2",
                             "0x0D",
                             buffer, // an unhandled request
                             "peek",
                             output0,
                             "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = r.lines();
    EXPECT_EQ(lines[1], "peek=5253442050545220");
    EXPECT_EQ(lines[4], "peek=02");
    EXPECT_EQ(lines[7], "peek=FEFFFFFF");
    const std::vector<json> writes = r.events("port_write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0]["request"]["status"], 0xEE);
    EXPECT_EQ(writes[0]["answer"]["status"], 2);
    EXPECT_EQ(writes[1]["class"], 3);
    EXPECT_EQ(writes[1]["select"], 2);
    EXPECT_EQ(writes[1]["status"], -2);
}

TEST_F(Fwemu, SaveWritesThePlatformBack)
{
    const std::string in = platform({{"description", "saved"}, {"secure_flash", {{"message", "hello"}}}});
    const std::string out = dir_ + "/saved.json";
    const Outcome first = run({"--platform", in, "--save", out, "--", PROBE_PATH, "exit", "4"});
    EXPECT_EQ(first.status, 4) << first.err;
    const fwemu::PlatformDescription original = fwemu::PlatformDescription::load(in);
    const fwemu::PlatformDescription saved = fwemu::PlatformDescription::load(out);
    EXPECT_EQ(saved.toJson(), original.toJson());

    // The saved file runs, and saving over the platform file itself works.
    const Outcome second = run({"--platform", out, "--save", out, "--", PROBE_PATH, "iopl", "3", "hole", "0xB2"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.lines().back(), "hole=0x1fe00000");
    EXPECT_EQ(fwemu::PlatformDescription::load(out).toJson(), original.toJson());
}

TEST_F(Fwemu, SyncStaysInsideThePlatform)
{
    const Outcome r = probe(platform(), {"sync", "sync"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "synced\nsynced\n");
    EXPECT_EQ(r.events("sync").size(), 2u);
}

TEST_F(Fwemu, StandardInputPassesThrough)
{
    const Outcome r = probe(platform(), {"readline"}, PROBE_PATH, "y\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "read=y\n");
}

#ifdef PROBE32_PATH
TEST_F(Fwemu, I386ProgramsAreServedToo)
{
    if (!testsupport::KernelStartsProgram(PROBE32_PATH))
        GTEST_SKIP() << "this kernel runs no i386 program";
    const Outcome r = probe(
        platform(), {"iopl", "3", "hole", "0xB2", "outi", "0x24", hex(kHole), "iopl", "0", "out", "0xB2", "0x24", "0"},
        PROBE32_PATH);
    EXPECT_EQ(r.status, 139) << r.err;
    EXPECT_EQ(r.lines(),
              (std::vector<std::string>{"iopl 3 = 0", "hole=0x1fe00000", "outi ebx=0x1fe00000", "iopl 0 = 0"}));
    EXPECT_EQ(r.events("port_write").size(), 2u);
    EXPECT_EQ(r.events("port_fault").size(), 1u);
}
#endif

#ifdef ZORVIK_HOST_PATH
TEST_F(Fwemu, ZorvikReachesItsUsageText)
{
    const Outcome plain = run({"--platform", platform(), "--", ZORVIK_HOST_PATH});
    EXPECT_EQ(plain.status, 0) << plain.out << plain.err;
    EXPECT_NE(plain.out.find("Tarn BBS Utility for Android"), std::string::npos) << plain.out;
    const std::vector<json> iopl = plain.events("iopl");
    ASSERT_FALSE(iopl.empty());
    EXPECT_EQ(iopl.front()["level"], 3);
    EXPECT_EQ(iopl.back()["level"], 0);
    const std::vector<json> writes = plain.events("port_write");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0]["function"], "memory_hole");
    EXPECT_EQ(writes[0]["ebx"], 0);
    EXPECT_EQ(writes[0]["ebx_after"], kHole);
    EXPECT_TRUE(plain.events("port_fault").empty());
    // The NMI watchdog is switched off through the shell, then sync, and
    // switched back on at the end.
    ASSERT_EQ(plain.events("exec").size(), 3u);
    EXPECT_EQ(plain.events("exec")[1]["argv"], json::array({"sh", "-c", "echo 0 > /proc/sys/kernel/nmi_watchdog"}));
    EXPECT_EQ(plain.events("exec")[2]["argv"], json::array({"sh", "-c", "echo 1 > /proc/sys/kernel/nmi_watchdog"}));
    EXPECT_EQ(plain.events("sync").size(), 2u);
    EXPECT_EQ(plain.events("finish").at(0)["nmi_watchdog"], "1\n");

    const Outcome unclaimed = run({"--platform", platform(), "--", ZORVIK_HOST_PATH, "/NoSuchCommand"});
    EXPECT_EQ(unclaimed.status, 1) << unclaimed.out << unclaimed.err;
}
#endif

} // namespace
