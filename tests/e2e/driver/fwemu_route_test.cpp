// The helper module as the provider of the shared SMI buffer, end to end
// under fwemu on platforms without a memory hole: build or copy, load, node,
// the device's protocol as ZORVIK uses it, removal at shutdown, and every
// failure on the way with its messages and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "FwemuRun.h"
#include "support/ExpectedTexts.h"
#include "support/Process.h"

namespace {

const char MODULE_IMAGE[] = "qorfldrv module for 5.10.0-fwemu\n";
const std::string LOAD_FAILED = testsupport::ErrorLine(0x10);
const char NOT_FOUND[] = "ERROR : driver \"qorfldrv\" not found\n";

using Names = std::vector<std::string>;

bool Contains(const Names& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The lines of standard error that ZORVIK wrote itself; the tools it starts
// (rmmod, cat, make) write theirs unprefixed.
std::string OwnLines(const std::string& err)
{
    std::string own;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        end = end == std::string::npos ? err.size() : end + 1;
        if (err.compare(start, 8, "ZORVIK: ") == 0)
            own += err.substr(start, end - start);
        start = end;
    }
    return own;
}

// What a run with the firmware's memory hole prints for the same words: the
// helper module must make no difference.
std::string HoleOutput(const std::vector<std::string>& words)
{
    json p = DriverPlatform();
    p["memory_hole"] = "0x1FE00000";
    return RunUnderFwemu(p, ZORVIK_HOST_PATH, words).out;
}

// The module was loaded once, opened, and removed at the end; nothing of it
// is left but what `work` names.
void ExpectCleanEnd(const FwemuRun& r, const Names& work)
{
    json h = r.HelperModule();
    ASSERT_TRUE(h.is_object()) << r.err;
    EXPECT_EQ(h["module"]["loaded"], false);
    EXPECT_EQ(h["module"]["blocks"], json::array());
    EXPECT_EQ(h["nodes"], json::array());
    EXPECT_EQ(h["work"].get<Names>(), work);
    EXPECT_EQ(h["dev"].get<Names>(), (Names{"mem", "null"}));
}

TEST(FwemuRoute, FreshBuildServesTheCommand)
{
    const std::vector<std::string> words = {"/GetBootOrder"};
    const std::string expected = HoleOutput(words);
    ASSERT_NE(expected.find("SATA HDD"), std::string::npos) << expected;

    for (const char* program : {ZORVIK_HOST_PATH, ZORVIK_RELEASE_PATH}) {
        SCOPED_TRACE(program);
        if (program != std::string(ZORVIK_HOST_PATH) && !testsupport::KernelStartsProgram(DEVICE_PROBE32_PATH))
            continue; // this kernel runs no i386 program
        FwemuRun r = RunUnderFwemu(DriverPlatform(), program, words);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");

        Names cmds = r.ShellCommands();
        EXPECT_TRUE(Contains(cmds, "make clean > /dev/null"));
        EXPECT_TRUE(Contains(cmds, "make > build.log"));
        EXPECT_TRUE(Contains(cmds, "insmod ./qorfldrv_mod 2> /dev/null > /dev/null"));
        EXPECT_FALSE(Contains(cmds, "insmod qorfldrv_mod 2> /dev/null > /dev/null"));

        std::vector<json> loads = r.Events("module_load");
        ASSERT_EQ(loads.size(), 1u);
        EXPECT_EQ(loads[0]["result"], 0);
        EXPECT_EQ(loads[0]["image"], "qorfldrv module for 5.10.0-fwemu");

        // The probe node at (0, 0), then the device's node, mode 0600.
        std::vector<json> nodes = r.Events("mknod");
        ASSERT_EQ(nodes.size(), 2u);
        EXPECT_EQ(nodes[0]["path"], "qorfl");
        EXPECT_EQ(nodes[0]["major"], 0);
        EXPECT_EQ(nodes[1]["path"], "qorfl");
        EXPECT_EQ(nodes[1]["major"], 250);
        EXPECT_EQ(nodes[1]["mode"], 0600);
        EXPECT_EQ(nodes[1]["result"], 0);

        // Two 64 KiB blocks, each mapped right after it was allocated; the
        // second is released at the end.
        std::vector<json> ioctls = r.Events("device_ioctl");
        ASSERT_EQ(ioctls.size(), 3u);
        EXPECT_EQ(ioctls[0]["cmd"], "CMD_ALLOC");
        EXPECT_EQ(ioctls[0]["request"]["size"], 65536);
        EXPECT_EQ(ioctls[1]["cmd"], "CMD_ALLOC");
        EXPECT_EQ(ioctls[2]["cmd"], "CMD_FREE");
        const json second = ioctls[1]["reply"]["kphysadd"];
        EXPECT_EQ(ioctls[2]["request"]["kphysadd"], second);
        EXPECT_EQ(ioctls[2]["found"], true);
        std::vector<json> maps = r.Events("device_mmap");
        ASSERT_EQ(maps.size(), 2u);
        EXPECT_EQ(maps[0]["phys"], ioctls[0]["reply"]["kphysadd"]);
        EXPECT_EQ(maps[1]["phys"], second);
        EXPECT_EQ(maps[1]["length"], 65536);

        // Every firmware request travelled in the second block.
        int smis = 0;
        for (const json& w : r.Events("port_write")) {
            if (w["smi"] == true && w["function"] != "memory_hole") {
                EXPECT_EQ(w["ebx"], second) << w.dump();
                smis++;
            }
        }
        EXPECT_GT(smis, 3);

        std::vector<json> removes = r.Events("module_remove");
        ASSERT_EQ(removes.size(), 1u);
        EXPECT_EQ(removes[0]["result"], 0);
        EXPECT_GT(removes[0]["seq"], r.Events("device_close").at(0)["seq"]);
        ExpectCleanEnd(r, {});
    }
}

TEST(FwemuRoute, KeptModuleIsCopiedAndLoadedWithoutMake)
{
    json p = DriverPlatform();
    p["kernel"]["files"] = {{"/work/qorfldrv_mod.o", MODULE_IMAGE}};
    FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    Names cmds = r.ShellCommands();
    EXPECT_EQ(cmds.at(0), "cp -f ./qorfldrv_mod.o ./qorfldrv_mod");
    for (const std::string& c : cmds)
        EXPECT_EQ(c.find("make"), std::string::npos) << c;
    ExpectCleanEnd(r, {"qorfldrv_mod.o"});
}

TEST(FwemuRoute, KeptModuleOfAnotherKernelIsNotRebuilt)
{
    json p = DriverPlatform();
    p["kernel"]["files"] = {{"/work/qorfldrv_mod.o", "qorfldrv module for 2.6.32-old\n"}};
    FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
    EXPECT_EQ(r.out, std::string(NOT_FOUND) + NOT_FOUND + "ERROR : Unable to load driver.\n" + LOAD_FAILED);
    EXPECT_EQ(r.status, 16);
    for (const std::string& c : r.ShellCommands())
        EXPECT_EQ(c.find("make"), std::string::npos) << c;
    // The copy is removed again; the kept module is untouched.
    json h = r.HelperModule();
    EXPECT_EQ(h["work"].get<Names>(), (Names{"qorfldrv_mod.o"}));
    EXPECT_EQ(h["module"]["loaded"], false);
}

TEST(FwemuRoute, StaleModuleIsRemovedBeforeLoading)
{
    json p = DriverPlatform();
    p["kernel"]["loaded_at_start"] = true;
    FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    Names cmds = r.ShellCommands();
    auto stale = std::find(cmds.begin(), cmds.end(), "rmmod qorfldrv_mod > /dev/null");
    auto load = std::find(cmds.begin(), cmds.end(), "insmod ./qorfldrv_mod 2> /dev/null > /dev/null");
    ASSERT_NE(stale, cmds.end());
    ASSERT_NE(load, cmds.end());
    EXPECT_LT(stale, load);
    std::vector<json> removes = r.Events("module_remove");
    ASSERT_EQ(removes.size(), 2u);
    EXPECT_EQ(removes[0]["result"], 0);
    EXPECT_LT(removes[0]["seq"], r.Events("module_load").at(0)["seq"]);
    ExpectCleanEnd(r, {});
}

TEST(FwemuRoute, LeftoverQorflFileSendsTheNodeToDev)
{
    json p = DriverPlatform();
    p["kernel"]["files"] = {{"/work/qorfl", "left over\n"}};
    FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<json> nodes = r.Events("mknod");
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0]["path"], "qorfl");
    EXPECT_EQ(nodes[0]["result"], -EEXIST);
    EXPECT_EQ(nodes[1]["path"], "/dev/qorfl");
    EXPECT_EQ(nodes[1]["major"], 250);
    EXPECT_EQ(r.Events("device_open").at(0)["path"], "/dev/qorfl");
    ExpectCleanEnd(r, {"qorfl"});
}

TEST(FwemuRoute, InsmodFailures)
{
    struct Case {
        unsigned failures;
        std::string out;
        int status;
    } cases[] = {
        // The second form, without "./", loads.
        {1, NOT_FOUND, 0},
        {2, std::string(NOT_FOUND) + NOT_FOUND + "ERROR : Unable to load driver.\n" + LOAD_FAILED, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failures);
        json p = DriverPlatform();
        p["kernel"]["insmod_failures"] = c.failures;
        FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
        if (c.status == 0) {
            EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        } else {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.status, c.status) << r.err;
        Names cmds = r.ShellCommands();
        EXPECT_TRUE(Contains(cmds, "insmod qorfldrv_mod 2> /dev/null > /dev/null"));
        // Each insmod that failed made its load calls fail.
        size_t failedCalls = 0;
        for (const json& e : r.Events("module_load"))
            failedCalls += e["result"] != 0;
        EXPECT_GE(failedCalls, c.failures);
        // Each lookup that found nothing removed the module it did not
        // find; a successful run removes its module at the end.
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "rmmod qorfldrv_mod"), long(c.failures) + (c.status == 0));
        json h = r.HelperModule();
        EXPECT_EQ(h["module"]["loaded"], false);
        EXPECT_EQ(h["work"].get<Names>(), Names{});
    }
}

TEST(FwemuRoute, NodeAndOpenFailures)
{
    struct Case {
        const char* name;
        const char* field;
        const char* error;
        std::string out;
    } cases[] = {
        {"node cannot be made", "mknod_error", "EPERM",
         "ERROR : 1 Unable to create node qorfl : Operation not permitted\n"},
        {"node cannot be opened", "open_error", "EACCES", "ERROR : D Unable to open driver: Permission denied\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json p = DriverPlatform();
        p["kernel"][c.field] = c.error;
        FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
        EXPECT_EQ(r.out, c.out + LOAD_FAILED);
        EXPECT_EQ(r.status, 16);
        // The module is removed again, the node and the module file with it.
        std::vector<json> removes = r.Events("module_remove");
        ASSERT_EQ(removes.size(), 1u);
        EXPECT_EQ(removes[0]["result"], 0);
        ExpectCleanEnd(r, {});
    }
}

TEST(FwemuRoute, KernelTreeCompilerAndBuildFailures)
{
    struct Case {
        const char* name;
        json kernel;
        std::string out;
        Names work;
    } cases[] = {
        {"no tree", {{"tree", nullptr}}, "Error: Cannot locate kernel source.\n", {}},
        {"build/ tree without gcc",
         {{"tree", "build"}, {"gcc", false}},
         "\nError: gcc complier did not exist.\nError: Cannot locate kernel source.\n",
         {}},
        {"build/ tree without include/linux",
         {{"tree", "build"}, {"include_linux", false}},
         "\nError: Kernel source files cannot be found.\nError: Cannot locate kernel source.\n",
         {}},
        // source/ is taken without a look inside: the generation stops at
        // mm.h and removes its scratch directory.
        {"source/ tree without include/linux", {{"include_linux", false}}, "", {}},
        {"make fails", {{"make", "fails"}}, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json p = DriverPlatform();
        p["kernel"] = c.kernel;
        FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
        EXPECT_EQ(r.out, c.out + LOAD_FAILED);
        EXPECT_EQ(r.status, 16);
        EXPECT_TRUE(r.Events("module_load").empty());
        json h = r.HelperModule();
        EXPECT_EQ(h["work"].get<Names>(), c.work);
        EXPECT_EQ(h["module"]["loaded"], false);
    }
}

// When neither provider can be had, standard error says why, one line per
// cause; standard output and the status are those of the failure. Under a
// lockdown the way through the signed SMI module comes first: a module that
// loads carries the run (status 0, nothing said).
TEST(FwemuRoute, StandardErrorSaysWhy)
{
    const std::string refused = "ZORVIK: the kernel refused the helper module (insmod failed)";
    const std::string headers = " (a Debian-style system installs it with the package linux-headers-5.10.0-fwemu)\n";
    const std::string locked =
        "ZORVIK: I/O privilege refused (iopl: Operation not permitted): kernel lockdown (integrity)\n";
    const std::string helperLocked =
        "ZORVIK: kernel lockdown (integrity) refuses unsigned modules\n" + refused + "; kernel lockdown (integrity)\n";
    const std::string enrol = "mokutil --import /var/lib/dkms/mok.pub";
    struct Case {
        const char* name;
        json kernel;
        json lockdown;
        std::string err;
        int status = 16;
    } cases[] = {
        {"lockdown, no SMI module", json::object(), "integrity",
         locked +
             "ZORVIK: the SMI module zorvik_smi is not installed for this kernel; install the package zorvik-dkms "
             "and enrol its signing key with " +
             enrol + "\n" + helperLocked},
        {"lockdown, SMI module installed", {{"smi_module", "installed"}}, "integrity", "", 0},
        {"lockdown, SMI module unsigned",
         {{"smi_module", "unsigned"}},
         "integrity",
         locked +
             "ZORVIK: the kernel rejected the signature of the SMI module zorvik_smi (Key was rejected by "
             "service); enrol its signing key with " +
             enrol + " and reboot\n" + helperLocked},
        {"lockdown, SMI module too old",
         {{"smi_module", "loaded"}, {"smi_abi_version", 0}},
         "integrity",
         locked +
             "ZORVIK: the SMI module zorvik_smi is too old for this ZORVIK (interface version 0, needs 1); "
             "update the package zorvik-dkms and reload the module\n" +
             helperLocked},
        {"insmod fails, no lockdown", {{"insmod_failures", 2}}, "none", refused + "\n"},
        {"no tree",
         {{"tree", nullptr}},
         nullptr,
         "ZORVIK: no kernel tree for 5.10.0-fwemu at /lib/modules/5.10.0-fwemu/build/" + headers},
        {"tree without mm.h",
         {{"include_linux", false}},
         nullptr,
         "ZORVIK: the kernel tree /lib/modules/5.10.0-fwemu/source/ has no readable include/linux/mm.h" + headers},
        {"no gcc", {{"tree", "build"}, {"gcc", false}}, nullptr, "ZORVIK: no gcc on PATH to build the helper module\n"},
        {"kept module of another kernel",
         {{"files",
           {{"/work/qorfldrv_mod.o", "qorfldrv module for 2.6.32-old\nvermagic=2.6.32-old SMP mod_unload\n"}}}},
         nullptr,
         refused + "\nZORVIK: ./qorfldrv_mod.o was built for kernel 2.6.32-old, not for the running "
                   "5.10.0-fwemu; /makedrv rebuilds it for the running kernel\n"},
        {"kept module without vermagic",
         {{"files", {{"/work/qorfldrv_mod.o", "junk\n"}}}},
         nullptr,
         refused + "\nZORVIK: ./qorfldrv_mod.o names no kernel release it was built for; /makedrv rebuilds it "
                   "for the running kernel\n"},
        {"make fails",
         {{"make", "fails"}},
         nullptr,
         "ZORVIK: the helper module's build in /work/.temp failed; the last lines of make's output:\n"
         "ZORVIK:     CC [M]  /work/.temp/qorfldrv.o\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json p = DriverPlatform();
        p["kernel"] = c.kernel;
        p["lockdown"] = c.lockdown;
        FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
        EXPECT_EQ(OwnLines(r.err), c.err) << r.err;
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(r.out, HoleOutput({"/GetMode"}));
            EXPECT_EQ(r.Events("module_load").at(0)["image"], "zorvik_smi module for 5.10.0-fwemu");
            // The release build through the same device (its i386 records).
            if (testsupport::KernelStartsProgram(DEVICE_PROBE32_PATH)) {
                FwemuRun release = RunUnderFwemu(p, ZORVIK_RELEASE_PATH, {"/GetMode"});
                EXPECT_EQ(release.out, r.out);
                EXPECT_EQ(release.status, 0) << release.err;
            }
            continue;
        }
        EXPECT_EQ(r.out.substr(r.out.size() - std::string(LOAD_FAILED).size()), LOAD_FAILED);
        Names work = r.HelperModule()["work"].get<Names>();
        EXPECT_EQ(work, c.kernel.contains("files") ? Names{"qorfldrv_mod.o"} : Names{});
    }

    // Without any kernel support: no module loading, no tree, no tools.
    json p = DriverPlatform();
    p["kernel"] = nullptr;
    FwemuRun r = RunUnderFwemu(p, ZORVIK_HOST_PATH, {"/GetMode"});
    EXPECT_EQ(r.status, 16);
    r.err = OwnLines(r.err);
    EXPECT_EQ(r.err.find("ZORVIK: this kernel loads no modules (no /proc/modules)\nZORVIK: no kernel tree for "), 0u)
        << r.err;
    const std::string tools = "ZORVIK: no gcc or make on PATH to build the helper module\n";
    EXPECT_EQ(r.err.substr(r.err.size() - tools.size()), tools) << r.err;
}

TEST(FwemuRoute, ModuleIsRemovedOnTheUsagePathToo)
{
    struct Case {
        std::vector<std::string> words;
        int status;
    } cases[] = {{{}, 0}, {{"/NoSuchWord"}, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        FwemuRun r = RunUnderFwemu(DriverPlatform(), ZORVIK_HOST_PATH, c.words);
        EXPECT_EQ(r.out, HoleOutput(c.words));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.Events("module_remove").size(), 1u);
        ExpectCleanEnd(r, {});
    }
}

TEST(FwemuRoute, Kernel24)
{
    if (!testsupport::KernelStartsProgram(DEVICE_PROBE32_PATH))
        GTEST_SKIP() << "this kernel runs no i386 program";
    json p = DriverPlatform();
    p["kernel"] = {{"release", "2.4.20-8"}, {"tree", "build"}, {"remap_pfn_range", false}, {"remap_page_range", 4}};
    FwemuRun r = RunUnderFwemu(p, ZORVIK_RELEASE_PATH, {"/GetBootOrder"});
    EXPECT_EQ(r.out, HoleOutput({"/GetBootOrder"}));
    EXPECT_EQ(r.status, 0) << r.err;
    Names cmds = r.ShellCommands();
    EXPECT_TRUE(Contains(cmds, "cp -f /boot/config-2.4.20-8 /lib/modules/2.4.20-8/build//.config"));
    EXPECT_TRUE(Contains(cmds, "make /lib/modules/2.4.20-8/build/ clean> /dev/null"));
    EXPECT_EQ(r.Events("module_load").at(0)["image"], "qorfldrv module for 2.4.20-8");
    ExpectCleanEnd(r, {});
}

// The SMI module's device as a program sees it (64-bit and i386), through
// the probe that also runs in the Secure Boot guest: on a virtual machine's
// platform (Secure Boot, lockdown, the module loaded), without "$ASF"
// structures, with two, and with a first one naming port 0. Every SMI it
// counted is one the firmware model served, as the trace and the module's
// count show.
TEST(FwemuRoute, SmiDeviceRefusals)
{
    auto asf = [](const char* offset, const char* port) {
        return json{{"offset", offset}, {"data_distance", 16}, {"port", port}};
    };
    const struct Case {
        const char* name;
        json asf;
    } cases[] = {
        {"no $ASF", json::array()},
        {"two $ASF", {asf("0x1230", "0xB0"), asf("0x2000", "0xB8")}},
        {"first $ASF naming port 0", {asf("0x1230", "0x00"), asf("0x2000", "0xB8")}},
    };
    std::ifstream in(std::string(PLATFORMS_DIR) + "/secure-boot-vm.json");
    const json vm = json::parse(in);
    // RAM at 2 MiB, device memory above the platform's memory, the FADT
    // where fwemu lays it (2 pages into the ACPI tables' top MiB).
    char fadt[20];
    std::snprintf(fadt, sizeof fadt, "%llx",
                  std::stoull(vm["memory_size"].get<std::string>(), nullptr, 16) - 0x100000 + 0x2000);
    const std::vector<std::string> args = {"probe", "200000", "FEC00000", fadt};
    for (const char* probe : {SMI_PROBE_PATH, SMI_PROBE32_PATH}) {
        if (!testsupport::KernelStartsProgram(probe))
            continue; // this kernel runs no i386 program
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(probe) + ", " + c.name);
            json p = vm;
            p["asf"] = c.asf;
            FwemuRun r = RunUnderFwemu(p, probe, args);
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(r.out.find("not ok"), std::string::npos) << r.out;
            const size_t raised = r.out.find("probe: raised ");
            ASSERT_NE(raised, std::string::npos) << r.out;
            const int count = std::stoi(r.out.substr(raised + 14));
            EXPECT_EQ(int(r.PortWrites().size()), count);
            ASSERT_EQ(r.Events("smi_module").size(), 1u);
            EXPECT_EQ(r.Events("smi_module")[0]["smi_count"], count);
        }
    }
}

// The device's protocol as a program sees it, through the probe: 64-bit and
// i386 records, exclusive open on 2.6, shared on 2.4.
TEST(FwemuRoute, DeviceProtocol)
{
    struct Case {
        const char* name;
        const char* probe;
        const char* release;
    } cases[] = {
        {"64-bit, 2.6", DEVICE_PROBE_PATH, "5.10.0-fwemu"},
        {"i386, 2.6", DEVICE_PROBE32_PATH, "5.10.0-fwemu"},
        {"64-bit, 2.4", DEVICE_PROBE_PATH, "2.4.20-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!testsupport::KernelStartsProgram(c.probe))
            continue; // this kernel runs no i386 program
        json p = DriverPlatform();
        p["kernel"]["release"] = c.release;
        FwemuRun r = RunUnderFwemu(p, c.probe, {});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("not ok"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("ok table\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("ok removal\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("PASSED\n"), std::string::npos) << r.out;

        // The slot move, as the module's table saw it: the first of three
        // blocks freed, the third moved into its slot and found there.
        std::vector<json> ioctls = r.Events("device_ioctl");
        bool seen = false;
        for (size_t i = 0; i + 3 < ioctls.size() && !seen; i++) {
            const json& freeFirst = ioctls[i];
            if (freeFirst["cmd"] != "CMD_FREE" || freeFirst.value("moved_from", -1) != 2)
                continue;
            const json& freeThird = ioctls[i + 1];
            EXPECT_EQ(freeFirst["slot"], 0);
            EXPECT_EQ(freeThird["found"], true);
            EXPECT_EQ(freeThird["slot"], 0);
            EXPECT_EQ(freeThird["request"]["kphysadd"], ioctls[i - 1]["reply"]["kphysadd"]);
            seen = true;
        }
        EXPECT_TRUE(seen);

        // The module went with live blocks, which it released.
        std::vector<json> removes = r.Events("module_remove");
        ASSERT_EQ(removes.size(), 2u);
        EXPECT_EQ(removes[0]["result"], -EAGAIN);
        EXPECT_EQ(removes[1]["result"], 0);
        json h = r.HelperModule();
        EXPECT_EQ(h["module"]["loaded"], false);
        EXPECT_EQ(h["module"]["blocks"], json::array());
        EXPECT_EQ(h["module"]["keyboard_masked"], false);
    }
}

} // namespace
