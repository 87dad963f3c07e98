// The operating system around ZORVIK's helper module, for a platform with a
// "kernel" object: the kernel tree, gcc and a make stand-in in the sandbox,
// and the system calls through which the program and the shell tools it
// starts reach the kernel:
//   uname                        the platform's release
//   init_module, finit_module    insmod: the module loads (its line appears
//                                in /proc/devices) or fails
//   delete_module                rmmod: the module goes (line removed)
//   mknod, mknodat               a character-device node becomes a hard link
//                                to the sandbox's /dev/mem, remembered with
//                                its device number
//   open, openat, close          opening such a node opens the module's device
//                                (the module's rules: no module, one opener)
//   ioctl                        the module's requests, record read from and
//                                written into the program
//   mmap, mmap2                  the module's checks, then the mapping is
//                                re-pointed at the current block's physical
//                                address in /dev/mem
// Module loading is refused on every platform, with or without "kernel": no
// program under fwemu ever loads anything into the host's kernel. A kernel
// with the signed SMI module ("smi_module") also has its device (SmiDevice),
// whose system calls are handed over to it; under a lockdown, opening
// /dev/mem is refused (EPERM) as a locked-down kernel does.
#ifndef FWEMU_HELPERDEVICE_H
#define FWEMU_HELPERDEVICE_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "FirmwareModel.h"
#include "HelperModule.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"
#include "Sandbox.h"
#include "SmiDevice.h"
#include "TraceWriter.h"
#include "Tracer.h"

namespace fwemu {

class HelperDevice {
public:
    HelperDevice(const PlatformDescription& platform, Sandbox& sandbox, FirmwareModel& firmware, PhysicalMemory& memory,
                 TraceWriter& trace);

    // Lays the kernel tree, the tools and the platform's files into the
    // sandbox. Throws SandboxError.
    void prepareSandbox();
    // Adds the system-call traps; call before Tracer::run.
    void install(Tracer& tracer);
    // Writes the "helper_module" trace event: the module's state and the
    // files left in the current directory and in /dev; and the SMI module's
    // "smi_module" event.
    void finish();

private:
    struct Node {
        unsigned major;
        unsigned minor;
    };

    SyscallAction onUname(SyscallCall& call);
    SyscallAction onLoad(SyscallCall& call, bool fromFile);
    SyscallAction onRemove(SyscallCall& call);
    SyscallAction onMknod(SyscallCall& call, int dirfd, uint64_t pathAddress, uint64_t mode, uint64_t dev);
    SyscallAction onOpen(SyscallCall& call, int dirfd, uint64_t pathAddress, uint64_t flags);
    SyscallAction onClose(SyscallCall& call);
    SyscallAction onIoctl(SyscallCall& call);
    SyscallAction onMmap(SyscallCall& call, bool pages);

    // The host path of `path` as the process names it (relative to dirfd).
    std::optional<std::string> resolve(pid_t pid, int dirfd, const std::string& path) const;
    // The node behind an open descriptor of the process, if it is one.
    std::optional<std::string> nodeOfDescriptor(pid_t pid, int fd) const;
    bool isLiveNode(const std::string& hostPath) const;
    // Whether a process of the sandbox holds a module node open or mapped:
    // the kernel releases the device only when the last of them is gone.
    bool deviceInUse() const;
    bool isNodePath(std::string path) const;
    void writeDevicesFile();
    void writeModulesFile();
    std::string insidePath(const std::string& hostPath) const;

    const PlatformDescription& platform_;
    Sandbox& sandbox_;
    PhysicalMemory& memory_;
    TraceWriter& trace_;
    std::unique_ptr<HelperModule> module_; // null without "kernel"
    std::unique_ptr<SmiDevice> smi_;       // null without "kernel.smi_module"
    std::map<std::string, Node> nodes_;    // host path -> device number
    // The process whose load failed last: one insmod may try both load
    // calls, and a failed insmod fails with both.
    pid_t failedLoader_ = 0;
    int failedLoad_ = 0;
};

} // namespace fwemu

#endif
