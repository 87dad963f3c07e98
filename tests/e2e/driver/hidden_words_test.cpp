// "/makedrv" and "/gendrv": which mode a command line selects, which option
// is honoured, what the run prints and exits with, which tools it starts and
// which files it leaves; and the option values that are refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "DriverRoot.h"
#include "support/ExpectedTexts.h"

namespace {

const char RELEASE[] = "5.10.0-test";
const char SOURCE[] = "/lib/modules/5.10.0-test/source";
const char BUILD[] = "/lib/modules/5.10.0-test/build";

// Declares remap_pfn_range and a four-parameter remap_page_range.
const char MM_H[] =
    "int remap_pfn_range(struct vm_area_struct *, unsigned long addr, unsigned long pfn,\n"
    "\t\tunsigned long size, pgprot_t);\n"
    "int remap_page_range(unsigned long from, unsigned long to, unsigned long size, pgprot_t prot);\n";

const char INIT[] = " - Program initializing .. \n";
const char MAKE_STEP[] = " - Make KVTLNX driver .... ";
const char GEN_STEP[] = " - Generate KVTLNX driver .... ";
const char OK[] = "ok\n - Program ended normally.\n";
const std::string FAIL = "fail\n" + testsupport::ErrorLine(0x10);

const char BUILT_26[] = "make clean (in /work/.temp)\nmake (in /work/.temp)\n";
const char MODULE_26[] = "module by make \n";

std::string Golden(const std::string& name)
{
    std::ifstream in(std::string(DRIVER_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using Names = std::vector<std::string>;

const Names PACKAGE_26 = {"Makefile", "qorfldrv.o_shipped", "qorwrap.c", "qorwrap.h"};
const Names PACKAGE_24 = {"Makefile", "qorfldrv.o", "qorwrap.c", "qorwrap.h"};

// The 2.6 package as the stand-in build leaves it.
void ExpectPackage26(const DriverRoot& root, const std::string& dir)
{
    SCOPED_TRACE("package in " + dir);
    EXPECT_EQ(root.Read(dir + "/Makefile"), Golden("Makefile-package-2.6"));
    EXPECT_EQ(root.Read(dir + "/qorwrap.c"), Golden("qorwrap-2.6-pfn-four.c"));
    EXPECT_EQ(root.Read(dir + "/qorwrap.h"), Golden("qorwrap.h"));
    EXPECT_EQ(root.Read(dir + "/qorfldrv.o_shipped"), "core\n");
}

class HiddenWords : public testing::Test {
protected:
    DriverRoot root;
    void SetUp() override { root.AddKernelTree(SOURCE, MM_H); }
};

// Mode and options, on a 2.6 kernel with its tree under source/.
TEST_F(HiddenWords, ModeAndOptionRules)
{
    root.AddKernelTree("/usr/src/linux", MM_H);
    struct Case {
        const char* name;
        Names words;
        const char* step;
        const char* log;
        Names work;          // files left in /work
        std::string package; // where the package went, if anywhere
        std::string module;  // contents of the kept module, if any
    } cases[] = {
        {"make mode", {"/makedrv"}, MAKE_STEP, BUILT_26, {"qorfldrv_mod.o"}, "", MODULE_26},
        {"make mode, any letter case", {"/MakeDrv"}, MAKE_STEP, BUILT_26, {"qorfldrv_mod.o"}, "", MODULE_26},
        {"generate mode", {"/gendrv"}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"generate mode, capitals", {"/GENDRV"}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"mixed case is served in make mode", {"/GenDrv"}, GEN_STEP, BUILT_26, {"qorfldrv_mod.o"}, "", MODULE_26},
        {"hidden word after index 1 is served in make mode",
         {"/GetMode", "/gendrv"},
         GEN_STEP,
         BUILT_26,
         {"qorfldrv_mod.o"},
         "",
         MODULE_26},
        {"first hidden word decides the step line",
         {"/makedrv", "/gendrv"},
         MAKE_STEP,
         BUILT_26,
         {"qorfldrv_mod.o"},
         "",
         MODULE_26},
        {"a later hidden word is only a word",
         {"/gendrv", "/makedrv", "OUTPUT=out"},
         GEN_STEP,
         BUILT_26,
         PACKAGE_26,
         "/work",
         ""},
        {"output directory, trailing slash dropped",
         {"/gendrv", "OUTPUT=/tmp/pkg/"},
         GEN_STEP,
         BUILT_26,
         {},
         "/tmp/pkg",
         ""},
        {"output directory in lower case, relative",
         {"/gendrv", "output=out/sub"},
         GEN_STEP,
         BUILT_26,
         {"out"},
         "/work/out/sub",
         ""},
        {"OUTPUT=/ is the current directory", {"/gendrv", "OUTPUT=/"}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"empty OUTPUT= is the current directory", {"/gendrv", "OUTPUT="}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"OUTPUT=.// is ./", {"/gendrv", "OUTPUT=.//"}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"only index 2 is looked at", {"/gendrv", "extra", "OUTPUT=out"}, GEN_STEP, BUILT_26, PACKAGE_26, "/work", ""},
        {"KERNEL= goes to make; a later OUTPUT= is ignored",
         {"/gendrv", "KERNEL=/usr/src/linux", "OUTPUT=out"},
         GEN_STEP,
         "make clean (in /work/.temp)\nmake KERNEL=/usr/src/linux (in /work/.temp)\n",
         PACKAGE_26,
         "/work",
         ""},
        {"KERNEL= in make mode",
         {"/makedrv", "KERNEL=/usr/src/linux"},
         MAKE_STEP,
         "make clean (in /work/.temp)\nmake KERNEL=/usr/src/linux (in /work/.temp)\n",
         {"qorfldrv_mod.o"},
         "",
         "module by make KERNEL=/usr/src/linux\n"},
        {"kernel= in lower case is no option",
         {"/makedrv", "kernel=/usr/src/linux"},
         MAKE_STEP,
         BUILT_26,
         {"qorfldrv_mod.o"},
         "",
         MODULE_26},
        {"OUTPUT= means nothing in make mode",
         {"/makedrv", "OUTPUT=out"},
         MAKE_STEP,
         BUILT_26,
         {"qorfldrv_mod.o"},
         "",
         MODULE_26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.Remove("/work");
        root.Remove("/tmp/pkg");
        root.MakeDir("/work");
        root.Write("/log", "");
        // A kept module is always discarded first.
        root.Write("/work/qorfldrv_mod.o", "old module\n");

        RunResult r = root.Run(c.words);
        EXPECT_EQ(r.out, std::string(INIT) + c.step + OK);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(root.Log(), c.log);
        EXPECT_EQ(root.List("/work"), c.work);
        if (!c.module.empty()) {
            EXPECT_EQ(root.Read("/work/qorfldrv_mod.o"), c.module);
        }
        if (!c.package.empty()) {
            EXPECT_EQ(root.List(c.package), PACKAGE_26);
            ExpectPackage26(root, c.package);
        }
        // Nothing is loaded and no node is made.
        EXPECT_EQ(root.List("/dev"), Names{"null"});
    }
}

// Where the tree of the running kernel is looked for, and what is reported
// when it or the compiler is missing.
TEST_F(HiddenWords, KernelTreeAndCompiler)
{
    const std::string cannotLocate = "Error: Cannot locate kernel source.\n";
    const std::string noSources = "\nError: Kernel source files cannot be found.\n";
    const std::string noGcc = "\nError: gcc complier did not exist.\n";
    enum Tree { SOURCE_TREE, BUILD_TREE, BUILD_WITHOUT_INCLUDE, NO_TREE, SOURCE_WITHOUT_MM_H };
    struct Case {
        const char* name;
        Tree tree;
        bool gcc;
        bool makeFails;
        const char* word;
        std::string messages;
        bool ok;
        bool built;
        Names work;
    } cases[] = {
        {"source/ is used without further checks, even without gcc",
         SOURCE_TREE,
         false,
         false,
         "/makedrv",
         "",
         true,
         true,
         {"qorfldrv_mod.o"}},
        {"build/ as the fallback", BUILD_TREE, true, false, "/makedrv", "", true, true, {"qorfldrv_mod.o"}},
        {"build/ without include/linux",
         BUILD_WITHOUT_INCLUDE,
         true,
         false,
         "/makedrv",
         noSources + cannotLocate,
         false,
         false,
         {}},
        {"build/ without gcc", BUILD_TREE, false, false, "/makedrv", noGcc + cannotLocate, false, false, {}},
        {"no tree", NO_TREE, true, false, "/makedrv", cannotLocate, false, false, {}},
        {"no tree, generate mode still reports success",
         NO_TREE,
         true,
         false,
         "/gendrv",
         cannotLocate,
         true,
         false,
         {}},
        {"make fails", SOURCE_TREE, true, true, "/makedrv", "", false, true, {}},
        {"make fails, generate mode exports what there is",
         SOURCE_TREE,
         true,
         true,
         "/gendrv",
         "",
         true,
         true,
         {"Makefile", "qorwrap.c", "qorwrap.h"}},
        // The generation stops inside qorwrap.c: nothing is built and the
        // scratch directory is removed.
        {"mm.h missing", SOURCE_WITHOUT_MM_H, true, false, "/makedrv", "", false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.Remove("/lib/modules");
        root.Remove("/work");
        root.MakeDir("/work");
        root.Write("/log", "");
        root.SetGcc(c.gcc);
        root.SetMakeFails(c.makeFails);
        switch (c.tree) {
        case SOURCE_TREE:
            root.AddKernelTree(SOURCE, MM_H);
            break;
        case BUILD_TREE:
            root.AddKernelTree(BUILD, MM_H);
            break;
        case BUILD_WITHOUT_INCLUDE:
            root.MakeDir(BUILD);
            break;
        case NO_TREE:
            break;
        case SOURCE_WITHOUT_MM_H:
            root.MakeDir(std::string(SOURCE) + "/include/linux");
            break;
        }
        bool gen = std::string(c.word) == "/gendrv";
        RunResult r = root.Run({c.word});
        EXPECT_EQ(r.out, std::string(INIT) + (gen ? GEN_STEP : MAKE_STEP) + c.messages + (c.ok ? OK : FAIL));
        EXPECT_EQ(r.status, c.ok ? 0 : 16);
        EXPECT_EQ(root.Log(), c.built ? BUILT_26 : "");
        EXPECT_EQ(root.List("/work"), c.work);
    }
}

// The hidden words take the machine-wide lock first, like every run: while
// another run holds it they neither build nor export anything.
TEST_F(HiddenWords, WaitForAnotherRun)
{
    const int held = open(root.Host("/run/lock/zorvik.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(write(held, "4242\n", 5), 5);
    for (const char* word : {"/makedrv", "/gendrv"}) {
        SCOPED_TRACE(word);
        RunResult r = root.Run({word}, {"ZORVIK_LOCK_WAIT=0"});
        EXPECT_EQ(r.out, testsupport::ErrorLine(0x61));
        EXPECT_EQ(r.err, "ZORVIK: another run (process 4242) holds /run/lock/zorvik.lock\n");
        EXPECT_EQ(r.status, 0x61);
        EXPECT_EQ(root.Log(), "");
        EXPECT_EQ(root.List("/work"), Names{});
    }
    close(held);
    RunResult r = root.Run({"/makedrv"});
    EXPECT_EQ(r.out, std::string(INIT) + MAKE_STEP + OK);
    EXPECT_EQ(r.err, "");
}

// A KERNEL= tree is checked before anything is removed or built.
TEST_F(HiddenWords, NamedKernelTreeIsCheckedFirst)
{
    root.MakeDir("/usr/src/empty");
    root.AddKernelTree("/usr/src/linux", MM_H);
    struct Case {
        const char* name;
        const char* word;
        const char* option;
        bool gcc;
        const char* message;
    } cases[] = {
        {"no include/linux, make mode", "/makedrv", "KERNEL=/usr/src/empty", true,
         "\nError: Kernel source files cannot be found.\n"},
        {"no include/linux, generate mode", "/gendrv", "KERNEL=/usr/src/empty", true,
         "\nError: Kernel source files cannot be found.\n"},
        {"no such directory", "/gendrv", "KERNEL=/usr/src/none", true,
         "\nError: Kernel source files cannot be found.\n"},
        {"no gcc", "/makedrv", "KERNEL=/usr/src/linux", false, "\nError: gcc complier did not exist.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.SetGcc(c.gcc);
        root.Write("/work/qorfldrv_mod.o", "kept\n");
        RunResult r = root.Run({c.word, c.option});
        bool gen = std::string(c.word) == "/gendrv";
        EXPECT_EQ(r.out, std::string(INIT) + (gen ? GEN_STEP : MAKE_STEP) + c.message + FAIL);
        EXPECT_EQ(r.status, 16);
        EXPECT_EQ(root.Log(), "");
        EXPECT_EQ(root.List("/work"), Names{"qorfldrv_mod.o"});
        EXPECT_EQ(root.Read("/work/qorfldrv_mod.o"), "kept\n");
    }
}

// A 2.4 kernel: its configuration is copied into the tree, make is handed
// the tree as a goal for the clean step, and the package carries qorfldrv.o.
TEST_F(HiddenWords, Kernel24)
{
    const std::string tree = "/lib/modules/2.4.20-8/build";
    root.SetRelease("2.4.20-8");
    root.AddKernelTree(tree,
                       "int remap_page_range(unsigned long from, unsigned long to, unsigned long size, "
                       "pgprot_t prot);\n");
    root.Write("/boot/config-2.4.20-8", "CONFIG_SMP=y\n");
    const std::string log = "make " + tree + "/ clean (in /work/.temp)\nmake (in /work/.temp)\n";

    RunResult r = root.Run({"/makedrv"});
    EXPECT_EQ(r.out, std::string(INIT) + MAKE_STEP + OK);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(root.Log(), log);
    EXPECT_EQ(root.List("/work"), Names{"qorfldrv_mod.o"});
    EXPECT_EQ(root.Read(tree + "/.config"), "CONFIG_SMP=y\n");

    root.Write("/log", "");
    root.Remove(tree + "/.config");
    r = root.Run({"/gendrv", "OUTPUT=pkg"});
    EXPECT_EQ(r.out, std::string(INIT) + GEN_STEP + OK);
    EXPECT_EQ(root.Log(), log);
    EXPECT_EQ(root.List("/work"), Names{"pkg"});
    EXPECT_EQ(root.List("/work/pkg"), PACKAGE_24);
    EXPECT_EQ(root.Read("/work/pkg/Makefile"), Golden("Makefile-package-2.4"));
    EXPECT_EQ(root.Read("/work/pkg/qorwrap.c"), Golden("qorwrap-2.4-page-four.c"));
    EXPECT_EQ(root.Read("/work/pkg/qorfldrv.o"), "core\n");
    EXPECT_EQ(root.Read(tree + "/.config"), "CONFIG_SMP=y\n");

    // With KERNEL= the word replaces the tree on make's command lines and no
    // configuration is copied.
    root.AddKernelTree("/usr/src/linux-2.4", "");
    root.Write("/log", "");
    r = root.Run({"/makedrv", "KERNEL=/usr/src/linux-2.4"});
    EXPECT_EQ(r.out, std::string(INIT) + MAKE_STEP + OK);
    EXPECT_EQ(root.Log(),
              "make KERNEL=/usr/src/linux-2.4 clean (in /work/.temp)\n"
              "make KERNEL=/usr/src/linux-2.4 (in /work/.temp)\n");
    EXPECT_FALSE(root.Exists("/usr/src/linux-2.4/.config"));
}

// Values that would reach a shell command line unquoted, or not fit its
// buffer, are refused before any command runs.
TEST_F(HiddenWords, UnsafeValuesAreRefused)
{
    const std::string longestOutput(75, 'o');
    const std::string longestKernel = "/" + std::string(80, 'k');
    root.AddKernelTree(longestKernel, MM_H);
    struct Case {
        const char* name;
        Names words;
        bool refused;
    } cases[] = {
        {"command separator", {"/gendrv", "OUTPUT=pkg;touch /pwned"}, true},
        {"command substitution", {"/gendrv", "OUTPUT=$(touch /pwned)"}, true},
        {"backquotes in a kernel path", {"/makedrv", "KERNEL=/usr/src/`touch /pwned`"}, true},
        {"space", {"/gendrv", "OUTPUT=my pkg"}, true},
        {"redirection", {"/gendrv", "output=pkg>/pwned"}, true},
        {"refused in make mode too", {"/makedrv", "OUTPUT=a|touch /pwned"}, true},
        {"output directory one too long", {"/gendrv", "OUTPUT=" + longestOutput + "o"}, true},
        {"kernel path one too long", {"/gendrv", "KERNEL=" + longestKernel + "k"}, true},
        {"longest output directory", {"/gendrv", "OUTPUT=" + longestOutput}, false},
        {"longest kernel path", {"/gendrv", "KERNEL=" + longestKernel}, false},
        {"every allowed character", {"/gendrv", "OUTPUT=aZ09/._+-"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.Remove("/work");
        root.MakeDir("/work");
        root.Write("/log", "");
        root.Write("/work/qorfldrv_mod.o", "kept\n");
        bool gen = c.words[0] == "/gendrv";
        RunResult r = root.Run(c.words);
        if (c.refused) {
            EXPECT_EQ(r.out, std::string(INIT) + (gen ? GEN_STEP : MAKE_STEP) + "Error: Invalid path.\n" + FAIL);
            EXPECT_EQ(r.status, 16);
            EXPECT_EQ(root.Log(), "");
            EXPECT_EQ(root.List("/work"), Names{"qorfldrv_mod.o"});
        } else {
            EXPECT_EQ(r.out, std::string(INIT) + GEN_STEP + OK);
            EXPECT_EQ(r.status, 0);
            EXPECT_NE(root.Log(), "");
        }
        EXPECT_FALSE(root.Exists("/pwned"));
    }
    EXPECT_EQ(root.List("/work/aZ09/._+-"), PACKAGE_26);
}

} // namespace
