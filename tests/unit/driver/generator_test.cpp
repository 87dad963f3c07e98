// The generated module sources and Makefiles, line for line against the
// golden files, for both kernel generations and every outcome of the two
// probes of the kernel tree's mm.h.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/GlobalVariable.h"
#include "platform/driver.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string Golden(const std::string& name)
{
    std::string path = std::string(DRIVER_GOLDEN_DIR) + "/" + name;
    EXPECT_TRUE(Exists(path)) << path;
    return ReadFile(path);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Compares line by line so that a failure names the first differing line.
void ExpectSameText(const std::string& actual, const std::string& expected, const std::string& what)
{
    SCOPED_TRACE(what);
    std::vector<std::string> a = Lines(actual);
    std::vector<std::string> e = Lines(expected);
    for (size_t i = 0; i < a.size() && i < e.size(); i++)
        ASSERT_EQ(a[i], e[i]) << "line " << i + 1;
    ASSERT_EQ(a.size(), e.size());
    ASSERT_EQ(actual, expected); // every line ends with a newline
}

std::string MakefileText(void (*writer)(FILE*, bool), bool kernel24)
{
    char* buf = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buf, &size);
    writer(f, kernel24);
    fclose(f);
    std::string text(buf, size);
    free(buf);
    return text;
}

// A scratch directory holding a kernel tree and a working directory; the
// test runs with the working directory current, as the program does.
class Generator : public testing::Test {
protected:
    std::string root;
    std::string kernel;
    std::string work;
    char saved[4096];

    void SetUp() override
    {
        WriteOutInit();
        char tmpl[] = "/tmp/zorvik-gen-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        kernel = root + "/linux";
        work = root + "/work";
        ASSERT_EQ(system(("mkdir -p " + kernel + "/include/linux " + work + "/.temp").c_str()), 0);
        ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
        ASSERT_EQ(chdir(work.c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(saved), 0);
        ASSERT_EQ(system(("rm -rf " + root).c_str()), 0);
    }
    void WriteMmH(const std::string& text) { std::ofstream(kernel + "/include/linux/mm.h") << text; }
    std::string Temp(const std::string& name) { return ReadFile(work + "/.temp/" + name); }
};

const char PFN_DECL[] =
    "int remap_pfn_range(struct vm_area_struct *, unsigned long addr,\n"
    "\t\t\tunsigned long pfn, unsigned long size, pgprot_t);\n";
const char PAGE_DECL_FOUR[] =
    "extern int remap_page_range(unsigned long from, unsigned long to, unsigned long size, pgprot_t prot);\n";
const char PAGE_DECL_FIVE[] =
    "extern int remap_page_range(struct vm_area_struct *vma, unsigned long from,\n"
    "\t\tunsigned long to, unsigned long size, pgprot_t prot);\n";

TEST_F(Generator, FiveFilesForEachKernelGenerationAndProbeOutcome)
{
    struct Case {
        const char* name;
        bool kernel24;
        std::string mm;
        const char* qorwrap;
        const char* makefile;
    } cases[] = {
        {"2.6, pfn declared, four-parameter remap_page_range", false,
         std::string("#ifndef _LINUX_MM_H\n") + PFN_DECL + PAGE_DECL_FOUR + "#endif\n", "qorwrap-2.6-pfn-four.c",
         "Makefile-build-2.6"},
        {"2.6, five-parameter remap_page_range only", false, PAGE_DECL_FIVE, "qorwrap-2.6-page-five.c",
         "Makefile-build-2.6"},
        {"2.6, neither declared", false, "struct page;\n", "qorwrap-2.6-page-five.c", "Makefile-build-2.6"},
        {"2.6, empty mm.h", false, "", "qorwrap-2.6-page-five.c", "Makefile-build-2.6"},
        {"2.4, four-parameter remap_page_range", true, PAGE_DECL_FOUR, "qorwrap-2.4-page-four.c", "Makefile-build-2.4"},
        {"2.4, pfn declared, five-parameter remap_page_range", true, std::string(PAGE_DECL_FIVE) + PFN_DECL,
         "qorwrap-2.4-pfn-five.c", "Makefile-build-2.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteMmH(c.mm);
        ASSERT_TRUE(WriteDriverSourceFiles(c.kernel24, kernel.c_str()));
        ExpectSameText(Temp("qorwrap.h"), Golden("qorwrap.h"), "qorwrap.h");
        ExpectSameText(Temp("qorwrap.c"), Golden(c.qorwrap), c.qorwrap);
        ExpectSameText(Temp("qorfldrv.h"), Golden("qorfldrv.h"), "qorfldrv.h");
        ExpectSameText(Temp("qorfldrv.c"), Golden("qorfldrv.c"), "qorfldrv.c");
        ExpectSameText(Temp("Makefile"), Golden(c.makefile), c.makefile);
    }
}

// The body of the remap wrapper between its first and last condition line.
std::vector<std::string> RemapBody(const std::string& source)
{
    std::vector<std::string> lines = Lines(source);
    std::vector<std::string> body;
    size_t i = 0;
    while (i < lines.size() && lines[i] != "int wrap_remap_page_range()")
        i++;
    for (i += 3; i < lines.size() && lines[i] != "#endif"; i++)
        body.push_back(lines[i]);
    return body;
}

TEST_F(Generator, ProbesReadTheFirstDeclarationOnly)
{
    const std::string pfnShift = "ulArg1 = ulArg1>>PAGE_SHIFT;";
    const std::string pfnCall =
        "  return remap_pfn_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);";
    const std::string five =
        "  return remap_page_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);";
    const std::string four = "  return remap_page_range(ulArg0, ulArg1, ulArg2, pgArg0);";
    struct Case {
        const char* name;
        std::string mm;
        std::vector<std::string> body; // 2.6 branch, "#else", pre-2.6 branch
    } cases[] = {
        {"two commas", "int remap_page_range(a, b, c);\n", {five, "#else", five}},
        {"four commas", "int remap_page_range(a, b, c, d, e);\n", {five, "#else", five}},
        {"commas after the ';' are not counted",
         "int remap_page_range(a, b, c, d); int f(x, y);\n",
         {five, "#else", four}},
        {"counted from the first mention, a comment",
         "/* remap_page_range: */\nint remap_page_range(a, b, c, d);\n",
         {five, "#else", four}},
        {"first declaration decides",
         "int remap_page_range(a, b, c, d);\nint remap_page_range(a, b, c, d, e);\n",
         {five, "#else", four}},
        {"no ';' after the name: counted to the end",
         "#define remap_page_range(a, b, c, d) x\n",
         {five, "#else", four}},
        {"pfn named only in a comment", "/* see remap_pfn_range */\n", {pfnShift, pfnCall, "#else", five}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteMmH(c.mm);
        ASSERT_TRUE(WriteDriverSourceFiles(false, kernel.c_str()));
        EXPECT_EQ(RemapBody(Temp("qorwrap.c")), c.body);
    }
}

TEST_F(Generator, UnreadableMmHStopsInsideQorwrapC)
{
    // No mm.h at all: qorwrap.c ends right after the remap wrapper's "#else"
    // and the files after it are not written.
    ASSERT_FALSE(WriteDriverSourceFiles(false, kernel.c_str()));
    ExpectSameText(Temp("qorwrap.h"), Golden("qorwrap.h"), "qorwrap.h");
    std::string golden = Golden("qorwrap-2.6-page-five.c");
    std::string cut =
        "#if (LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0))\n"
        "  return remap_page_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);\n"
        "#else\n";
    size_t at = golden.find(cut);
    ASSERT_NE(at, std::string::npos);
    ExpectSameText(Temp("qorwrap.c"), golden.substr(0, at + cut.size()), "truncated qorwrap.c");
    EXPECT_FALSE(Exists(work + "/.temp/qorfldrv.h"));
    EXPECT_FALSE(Exists(work + "/.temp/qorfldrv.c"));
    EXPECT_FALSE(Exists(work + "/.temp/Makefile"));

    // mm.h is a directory: it cannot be read into memory either.
    ASSERT_EQ(mkdir((kernel + "/include/linux/mm.h").c_str(), 0755), 0);
    EXPECT_FALSE(WriteDriverSourceFiles(false, kernel.c_str()));
    EXPECT_FALSE(Exists(work + "/.temp/Makefile"));
}

TEST_F(Generator, FileThatCannotBeCreatedIsSkipped)
{
    // qorwrap.c cannot be created, so neither probe runs and the missing mm.h
    // does not stop the others; a missing Makefile does not stop anything.
    ASSERT_EQ(mkdir((work + "/.temp/qorwrap.c").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((work + "/.temp/Makefile").c_str(), 0755), 0);
    EXPECT_TRUE(WriteDriverSourceFiles(true, kernel.c_str()));
    ExpectSameText(Temp("qorwrap.h"), Golden("qorwrap.h"), "qorwrap.h");
    ExpectSameText(Temp("qorfldrv.h"), Golden("qorfldrv.h"), "qorfldrv.h");
    ExpectSameText(Temp("qorfldrv.c"), Golden("qorfldrv.c"), "qorfldrv.c");
}

TEST_F(Generator, FilesAreRewrittenFromTheStart)
{
    std::ofstream(work + "/.temp/qorfldrv.h") << std::string(10000, 'x');
    WriteMmH(PAGE_DECL_FOUR);
    ASSERT_TRUE(WriteDriverSourceFiles(false, kernel.c_str()));
    ExpectSameText(Temp("qorfldrv.h"), Golden("qorfldrv.h"), "qorfldrv.h");
}

// Runs the Makefile writers in a child whose /etc shows a redhat-release
// file (an overlay in a private mount namespace; the machine's /etc is not
// touched) and returns what they wrote for the 2.4 and 2.6 flags.
struct RedhatMakefiles {
    std::string build24, package24, build26, package26;
};

bool WithRedhatRelease(const std::string& scratch, RedhatMakefiles& out)
{
    std::string upper = scratch + "/upper";
    std::string workdir = scratch + "/ovl";
    mkdir(upper.c_str(), 0755);
    mkdir(workdir.c_str(), 0755);
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(10);
        std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + workdir;
        if (mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0 &&
            mount("tmpfs", "/etc", "tmpfs", 0, "size=64k") != 0)
            _exit(11);
        int fd = open("/etc/redhat-release", O_CREAT | O_WRONLY, 0644);
        if (fd < 0)
            _exit(12);
        close(fd);
        struct {
            const char* file;
            void (*writer)(FILE*, bool);
            bool kernel24;
        } outputs[] = {
            {"build24", WriteBuildMakefile, true},
            {"package24", WritePackageMakefile, true},
            {"build26", WriteBuildMakefile, false},
            {"package26", WritePackageMakefile, false},
        };
        for (auto& o : outputs) {
            FILE* f = fopen((scratch + "/" + o.file).c_str(), "w");
            if (f == nullptr)
                _exit(13);
            o.writer(f, o.kernel24);
            fclose(f);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    out.build24 = ReadFile(scratch + "/build24");
    out.package24 = ReadFile(scratch + "/package24");
    out.build26 = ReadFile(scratch + "/build26");
    out.package26 = ReadFile(scratch + "/package26");
    return true;
}

TEST_F(Generator, MakefilesWithAndWithoutRedhatRelease)
{
    ASSERT_FALSE(Exists("/etc/redhat-release")) << "this machine names itself Red Hat";
    ExpectSameText(MakefileText(WriteBuildMakefile, true), Golden("Makefile-build-2.4"), "build 2.4");
    ExpectSameText(MakefileText(WriteBuildMakefile, false), Golden("Makefile-build-2.6"), "build 2.6");
    ExpectSameText(MakefileText(WritePackageMakefile, true), Golden("Makefile-package-2.4"), "package 2.4");
    ExpectSameText(MakefileText(WritePackageMakefile, false), Golden("Makefile-package-2.6"), "package 2.6");

    RedhatMakefiles redhat;
    ASSERT_TRUE(WithRedhatRelease(root, redhat));
    ExpectSameText(redhat.build24, Golden("Makefile-build-2.4-redhat"), "build 2.4, Red Hat");
    ExpectSameText(redhat.package24, Golden("Makefile-package-2.4-redhat"), "package 2.4, Red Hat");
    // The 2.6 Makefiles have no such line.
    ExpectSameText(redhat.build26, Golden("Makefile-build-2.6"), "build 2.6, Red Hat");
    ExpectSameText(redhat.package26, Golden("Makefile-package-2.6"), "package 2.6, Red Hat");
}

} // namespace
