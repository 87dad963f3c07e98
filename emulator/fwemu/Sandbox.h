// The root directory a program runs in under fwemu, built fresh for every run
// and removed afterwards:
//   /usr/local/bin/ZORVIK          the program, shared read-only
//   /bin/busybox, /bin/sh, ...     the host's static busybox, shared read-only; applets as links
//   /usr/local/sbin /usr/sbin /usr/bin /sbin    empty (PATH)
//   /dev/null                      character device 1:3
//   /dev/mem                       regular sparse file: physical memory
//   /proc/devices                  plain file
//   /proc/sys/kernel/nmi_watchdog  plain file "1", when the platform has one
//   /sys/kernel/security/lockdown  plain file, when the platform names a mode
//   /run/lock                      empty, mode 1777, unless the platform has none
//   /tmp                           empty, mode 1777
//   /work                          empty; the current directory
#ifndef FWEMU_SANDBOX_H
#define FWEMU_SANDBOX_H

#include <stdexcept>
#include <string>
#include <vector>

namespace fwemu {

class SandboxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SandboxConfig {
    std::string program; // host path of the program to share in
    bool nmiWatchdog = true;
    std::string lockdown;         // lockdown mode; empty: no lockdown file
    bool runLockDirectory = true; // /run/lock exists
    std::string busybox = "/bin/busybox";
    std::string parent; // where to create the root; empty: defaultParent()
};

class Sandbox {
public:
    static constexpr const char* kProgram = "/usr/local/bin/ZORVIK";
    static constexpr const char* kWorkDir = "/work";
    static constexpr const char* kMemory = "/dev/mem";
    static constexpr const char* kNmiWatchdog = "/proc/sys/kernel/nmi_watchdog";
    static constexpr const char* kLockdown = "/sys/kernel/security/lockdown";
    static constexpr const char* kPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    // /dev/shm when usable, else $TMPDIR, else /tmp.
    static std::string defaultParent();
    // The busybox applets linked into /bin.
    static const std::vector<std::string>& applets();

    // Builds the tree; throws SandboxError with what failed.
    explicit Sandbox(const SandboxConfig& config);
    // Removes the tree, never crossing into another file system.
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    // The host path of `inside`, an absolute path in the sandbox.
    std::string hostPath(const std::string& inside) const { return root_ + inside; }
    // The contents of a plain file in the sandbox, or nothing when it is gone.
    bool readFile(const std::string& inside, std::string& contents) const;

private:
    void makeDir(const std::string& inside, unsigned mode = 0755);
    void writeFile(const std::string& inside, const std::string& contents, unsigned mode = 0644);
    void copyFile(const std::string& from, const std::string& inside, unsigned mode);
    // The host file, read-only: bind-mounted in fwemu's private mount
    // namespace (never a link the program could write through). A copy with
    // `mode` where mounts are not allowed or the host file has another mode.
    void shareFile(const std::string& from, const std::string& inside, unsigned mode);
    void remove() noexcept;

    std::string root_;
    bool ownFileSystem_ = false;      // the root is a memory file system of its own
    std::vector<std::string> mounts_; // host paths of the files shared read-only
};

} // namespace fwemu

#endif
