#include "DriverRoot.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error("driver root: " + what);
}

void Shell(const std::string& cmd)
{
    Check(system(cmd.c_str()) == 0, cmd);
}

// Plain file tools the program and the stand-ins use.
const char* const APPLETS[] = {"cat", "cp", "echo", "grep", "ls", "mkdir", "mv", "rm", "sed", "sync", "test", "touch"};

const char UNAME[] = R"SH(#!/bin/sh
case "$1" in
-m) echo i686 ;;
-r) cat /etc/stand-in/release ;;
*) echo Linux ;;
esac
)SH";

// Leaves what the generated Makefile of the current directory would leave:
// the 2.6 one keeps the core as qorfldrv.o_shipped, the 2.4 one as
// qorfldrv.o; both move the module up as ../qorfldrv_mod.
const char MAKE[] = R"SH(#!/bin/sh
if [ $# -gt 0 ]; then echo "make $* (in $PWD)"; else echo "make (in $PWD)"; fi >> /log
for a in "$@"; do
  [ "$a" = clean ] && exit 0
done
[ -e /etc/stand-in/make-fails ] && exit 2
if grep -q qorfldrv.o_shipped Makefile; then
  echo "core" > qorfldrv.o_shipped
else
  echo "core" > qorfldrv.o
fi
echo "module by make $*" > ../qorfldrv_mod
)SH";

const char INSMOD[] = "#!/bin/sh\necho \"insmod $*\" >> /log\n";
const char RMMOD[] = "#!/bin/sh\necho \"rmmod $*\" >> /log\n";

std::string ParentDir()
{
    const char* shm = "/dev/shm";
    struct stat st;
    if (stat(shm, &st) == 0 && S_ISDIR(st.st_mode) && access(shm, W_OK) == 0)
        return shm;
    return "/tmp";
}

} // namespace

DriverRoot::DriverRoot() : dir_(ParentDir() + "/zorvik-drv-")
{
    Check(dir_.ok(), "mkdtemp");
    root_ = dir_.path();
    chmod(root_.c_str(), 0755);

    for (const char* dir : {"/bin", "/lib64", "/lib/x86_64-linux-gnu", "/usr/local/bin", "/usr/sbin", "/usr/bin",
                            "/sbin", "/dev", "/proc", "/etc/stand-in", "/tmp", "/work", "/boot", "/run/lock"})
        MakeDir(dir);
    chmod(Host("/tmp").c_str(), 01777);
    chmod(Host("/run/lock").c_str(), 01777);

    Shell("cp " + std::string(ZORVIK_HOST_PATH) + " " + Host("/usr/local/bin/ZORVIK"));
    Shell("cp /usr/bin/busybox " + Host("/bin/busybox"));
    for (const char* applet : APPLETS)
        Check(symlink("busybox", Host(std::string("/bin/") + applet).c_str()) == 0, applet);
    Shell("cp -L /usr/bin/dash " + Host("/bin/sh"));
    Shell("cp -L /lib64/ld-linux-x86-64.so.2 " + Host("/lib64/"));
    Shell("cp -L /lib/x86_64-linux-gnu/libc.so.6 " + Host("/lib/x86_64-linux-gnu/"));
    Check(mknod(Host("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0, "mknod /dev/null");

    WriteMode("/usr/sbin/uname", UNAME, 0755);
    WriteMode("/usr/sbin/make", MAKE, 0755);
    WriteMode("/usr/sbin/insmod", INSMOD, 0755);
    WriteMode("/usr/sbin/rmmod", RMMOD, 0755);
    Write("/proc/devices", "Character devices:\n  1 mem\n  4 tty\n\nBlock devices:\n  8 sd\n");
    Write("/log", "");
    SetRelease("5.10.0-test");
    SetGcc(true);
}

void DriverRoot::MakeDir(const std::string& inside)
{
    Shell("mkdir -p " + Host(inside));
}

void DriverRoot::WriteMode(const std::string& inside, const std::string& contents, unsigned mode)
{
    std::ofstream out(Host(inside), std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    Check(!out.fail(), "write " + inside);
    chmod(Host(inside).c_str(), mode);
}

void DriverRoot::Write(const std::string& inside, const std::string& contents)
{
    WriteMode(inside, contents, 0644);
}

void DriverRoot::Remove(const std::string& inside)
{
    Shell("rm -rf " + Host(inside));
}

bool DriverRoot::Exists(const std::string& inside) const
{
    struct stat st;
    return lstat(Host(inside).c_str(), &st) == 0;
}

std::string DriverRoot::Read(const std::string& inside) const
{
    std::ifstream in(Host(inside), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> DriverRoot::List(const std::string& inside) const
{
    std::vector<std::string> names;
    DIR* dir = opendir(Host(inside).c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void DriverRoot::SetRelease(const std::string& release)
{
    Write("/etc/stand-in/release", release + "\n");
}

void DriverRoot::SetGcc(bool present)
{
    if (present)
        WriteMode("/usr/bin/gcc", "#!/bin/sh\nexit 1\n", 0755);
    else
        Remove("/usr/bin/gcc");
}

void DriverRoot::SetMakeFails(bool fails)
{
    if (fails)
        Write("/etc/stand-in/make-fails", "");
    else
        Remove("/etc/stand-in/make-fails");
}

void DriverRoot::AddKernelTree(const std::string& dir, const std::string& mm)
{
    MakeDir(dir + "/include/linux");
    Write(dir + "/include/linux/mm.h", mm);
}

std::string DriverRoot::Log() const
{
    return Read("/log");
}

RunResult DriverRoot::Run(const std::vector<std::string>& words, const std::vector<std::string>& env)
{
    std::vector<std::string> argv = {"/usr/local/bin/ZORVIK"};
    argv.insert(argv.end(), words.begin(), words.end());
    testsupport::ProcessOptions options;
    options.env = std::vector<std::string>{"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"};
    options.env->insert(options.env->end(), env.begin(), env.end());
    const std::string root = root_;
    options.beforeExec = [root] {
        if (chroot(root.c_str()) != 0 || chdir("/work") != 0)
            _exit(120);
        // Without these the program can neither raise its I/O privilege nor
        // load a kernel module, whatever it runs.
        if (prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0) != 0 || prctl(PR_CAPBSET_DROP, CAP_SYS_MODULE, 0, 0, 0) != 0)
            _exit(122);
        alarm(120);
    };
    return testsupport::RunProcess(argv[0], argv, options);
}
