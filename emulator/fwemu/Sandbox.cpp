#include "Sandbox.h"

#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fwemu {

namespace {

const char* const kProcDevices =
    "Character devices:\n"
    "  1 mem\n"
    "  4 /dev/vc/0\n"
    "  4 tty\n"
    "  4 ttyS\n"
    "  5 /dev/tty\n"
    "  5 /dev/console\n"
    "  5 /dev/ptmx\n"
    "  7 vcs\n"
    " 10 misc\n"
    " 13 input\n"
    " 29 fb\n"
    "128 ptm\n"
    "136 pts\n"
    "180 usb\n"
    "189 usb_device\n"
    "226 drm\n"
    "\n"
    "Block devices:\n"
    "  7 loop\n"
    "  8 sd\n"
    "  9 md\n"
    "259 blkext\n";

std::string failure(const std::string& what, int error)
{
    return "cannot build the sandbox: " + what + ": " + std::strerror(error);
}

// Moves fwemu into a mount namespace of its own whose mounts propagate
// nowhere, once per process. Its mounts then vanish with fwemu, however it
// ends. False where mounts are not allowed (the sandbox then copies).
bool privateMountNamespace()
{
    static const bool entered = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return false;
        // Without this, mounts under a shared host mount would show up in
        // the host's namespace too.
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    return entered;
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_DP)
        ::rmdir(path);
    else
        ::unlink(path);
    return 0;
}

} // namespace

std::string Sandbox::defaultParent()
{
    // A memory file system makes building and removing the tree an order of
    // magnitude faster than a journalled disk.
    if (::access("/dev/shm", W_OK | X_OK) == 0) {
        struct stat st {};
        if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode))
            return "/dev/shm";
    }
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

const std::vector<std::string>& Sandbox::applets()
{
    static const std::vector<std::string> list = {
        "sh",    "ash",   "cat",   "cp",       "echo",  "false", "grep",  "insmod", "ln",  "ls",
        "lsmod", "mkdir", "mknod", "modprobe", "mv",    "rm",    "rmdir", "rmmod",  "sed", "sleep",
        "sync",  "test",  "touch", "true",     "uname", "chmod", "env",   "[",
    };
    return list;
}

Sandbox::Sandbox(const SandboxConfig& config)
{
    std::string parent = config.parent.empty() ? defaultParent() : config.parent;
    std::string pattern = parent + "/fwemu.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr)
        throw SandboxError(failure("mkdtemp in " + parent, errno));
    root_ = buf.data();
    try {
        ::chmod(root_.c_str(), 0755);
        // A memory file system of its own where mounts are allowed: removing
        // it is one unmount, and the files shared into it go with it.
        ownFileSystem_ = privateMountNamespace() && ::mount("fwemu", root_.c_str(), "tmpfs", 0, "mode=0755") == 0;
        for (const char* dir : {"/bin", "/sbin", "/usr", "/usr/bin", "/usr/sbin", "/usr/local", "/usr/local/bin",
                                "/usr/local/sbin", "/dev", "/proc", "/proc/sys", "/proc/sys/kernel", "/work"})
            makeDir(dir);
        makeDir("/tmp", 01777);
        // Where the program takes its machine-wide lock: the sandbox's own,
        // never the host's.
        if (config.runLockDirectory) {
            makeDir("/run");
            makeDir("/run/lock", 01777);
        }

        shareFile(config.program, kProgram, 0755);
        shareFile(config.busybox, "/bin/busybox", 0755);
        for (const std::string& applet : applets())
            if (::symlink("busybox", hostPath("/bin/" + applet).c_str()) != 0)
                throw SandboxError(failure("link /bin/" + applet, errno));

        if (::mknod(hostPath("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            throw SandboxError(failure("mknod /dev/null", errno));
        ::chmod(hostPath("/dev/null").c_str(), 0666);
        writeFile("/proc/devices", kProcDevices, 0444);
        if (config.nmiWatchdog)
            writeFile(kNmiWatchdog, "1\n", 0644);
        if (!config.lockdown.empty()) {
            // The modes in order of strength, the one in force in brackets.
            std::string modes;
            for (const char* mode : {"none", "integrity", "confidentiality"})
                modes += (modes.empty() ? "" : " ") +
                         (config.lockdown == mode ? "[" + std::string(mode) + "]" : std::string(mode));
            for (const char* dir : {"/sys", "/sys/kernel", "/sys/kernel/security"})
                makeDir(dir);
            writeFile(kLockdown, modes + "\n", 0444);
        }
    } catch (...) {
        remove();
        throw;
    }
}

Sandbox::~Sandbox()
{
    remove();
}

void Sandbox::remove() noexcept
{
    if (root_.empty())
        return;
    if (ownFileSystem_) {
        ::umount2(root_.c_str(), MNT_DETACH);
    } else {
        for (const std::string& mount : mounts_)
            ::umount2(mount.c_str(), MNT_DETACH);
    }
    mounts_.clear();
    // Depth first, links not followed, never into another file system.
    ::nftw(root_.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    root_.clear();
}

void Sandbox::makeDir(const std::string& inside, unsigned mode)
{
    const std::string path = hostPath(inside);
    if (::mkdir(path.c_str(), mode) != 0)
        throw SandboxError(failure("mkdir " + inside, errno));
    ::chmod(path.c_str(), mode);
}

void Sandbox::writeFile(const std::string& inside, const std::string& contents, unsigned mode)
{
    const std::string path = hostPath(inside);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        throw SandboxError(failure("create " + inside, errno));
    ssize_t n = ::write(fd, contents.data(), contents.size());
    int e = errno;
    ::close(fd);
    if (n != ssize_t(contents.size()))
        throw SandboxError(failure("write " + inside, n < 0 ? e : EIO));
}

void Sandbox::copyFile(const std::string& from, const std::string& inside, unsigned mode)
{
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw SandboxError(failure("open " + from, errno));
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        throw SandboxError("cannot build the sandbox: " + from + " is not a regular file");
    }
    int out = ::open(hostPath(inside).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        int e = errno;
        ::close(in);
        throw SandboxError(failure("create " + inside, e));
    }
    off_t left = st.st_size;
    bool inKernel = true;
    std::vector<char> chunk;
    while (left > 0) {
        ssize_t n = -1;
        if (inKernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
        } else {
            chunk.resize(1 << 16);
            n = ::read(in, chunk.data(), chunk.size());
            if (n > 0 && ::write(out, chunk.data(), size_t(n)) != n)
                n = -1;
        }
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            ::close(in);
            ::close(out);
            throw SandboxError(failure("copy " + from, e));
        }
        left -= n;
    }
    ::close(in);
    ::fchmod(out, mode);
    ::close(out);
}

void Sandbox::shareFile(const std::string& from, const std::string& inside, unsigned mode)
{
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0)
        throw SandboxError(failure("open " + from, errno));
    if (!S_ISREG(st.st_mode))
        throw SandboxError("cannot build the sandbox: " + from + " is not a regular file");
    if ((st.st_mode & 07777) == mode && privateMountNamespace()) {
        const std::string path = hostPath(inside);
        writeFile(inside, "", mode);
        if (::mount(from.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0) {
            mounts_.push_back(path);
            if (::mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0)
                return;
            ::umount2(path.c_str(), MNT_DETACH);
            mounts_.pop_back();
        }
        ::unlink(path.c_str());
    }
    copyFile(from, inside, mode);
}

bool Sandbox::readFile(const std::string& inside, std::string& contents) const
{
    std::ifstream in(hostPath(inside), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream os;
    os << in.rdbuf();
    contents = os.str();
    return true;
}

} // namespace fwemu
