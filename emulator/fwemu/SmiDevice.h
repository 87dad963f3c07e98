// The signed SMI module zorvik_smi in the sandbox, for a platform whose
// "kernel" object names one ("smi_module"): the module file and modules.dep
// where DKMS leaves them (modprobe, busybox's, loads from there), the device
// node /dev/zorvik_smi once the module is loaded (a hard link to the
// sandbox's /dev/mem file, so that a mapping at a physical address is that
// memory) with its sysfs count of SMIs, and the system calls that reach the
// device, handed over by HelperDevice:
//   init_module, finit_module   the module file: loads, or is refused
//   open, openat                the open rule: CAP_SYS_RAWIO, one opener
//   ioctl                       INFO, RAISE (an SMI of the firmware model,
//                               traced as a port write), SET_MAILBOX
//   mmap, mmap2                 the module's windows; the mapping itself runs
//   mprotect                    a read-only window stays read-only
//   close                       traced
#ifndef FWEMU_SMIDEVICE_H
#define FWEMU_SMIDEVICE_H

#include <sys/types.h>

#include <string>

#include "FirmwareModel.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"
#include "Sandbox.h"
#include "SmiModule.h"
#include "TraceWriter.h"
#include "Tracer.h"

namespace fwemu {

class SmiDevice {
public:
    SmiDevice(const PlatformDescription& platform, Sandbox& sandbox, FirmwareModel& firmware, PhysicalMemory& memory,
              TraceWriter& trace);

    // Lays the module file and modules.dep into the sandbox, and the node
    // when the module is loaded from the start. Throws SandboxError.
    void prepareSandbox();
    bool loaded() const { return module_.loaded(); }
    // A load of this module's file: 0 or -errno; the node appears on 0.
    bool isImage(const std::string& image) const { return module_.isImage(image); }
    int load(const std::string& image);
    // Whether a host path is the device's node, or a descriptor of the
    // process is an open one.
    bool isNode(const std::string& hostPath) const;
    bool isDescriptor(pid_t pid, int fd) const;

    SyscallAction onOpen(SyscallCall& call, const std::string& path, uint64_t flags);
    void onClose(pid_t pid, int fd);
    SyscallAction onIoctl(SyscallCall& call);
    SyscallAction onMmap(SyscallCall& call, bool pages);
    SyscallAction onMprotect(SyscallCall& call);
    // Writes the "smi_module" trace event: the module's state after the run.
    void finish();

    // The module's read-only sysfs attribute with its count of SMIs.
    static constexpr const char* kCountFile = "/sys/class/misc/" ZORVIK_SMI_NAME "/smi_count";

private:
    void makeNode();
    void writeCount();

    const PlatformDescription& platform_;
    Sandbox& sandbox_;
    PhysicalMemory& memory_;
    TraceWriter& trace_;
    SmiModule module_;
    std::string node_; // host path of /dev/zorvik_smi
};

} // namespace fwemu

#endif
