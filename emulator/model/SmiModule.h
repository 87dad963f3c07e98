// The kernel side of the signed SMI module zorvik_smi, after its interface
// (modules/zorvik_smi/zorvik_smi.h): the load of the module file that
// modprobe hands over (an unsigned one is refused under a lockdown), the
// device's open rule (CAP_SYS_RAWIO, one opener), and its requests: INFO,
// RAISE on the fixed ports with the fixed codes (EBX set by the module, the
// SMI served by the firmware model as a port write), SET_MAILBOX, and the
// windows that mmap allows. No process knowledge: the caller reads and
// writes the records.
#ifndef FWEMU_SMIMODULE_H
#define FWEMU_SMIMODULE_H

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "FirmwareModel.h"
#include "KernelDescription.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"
#include "zorvik_smi.h"

namespace fwemu {

class SmiModule {
public:
    static constexpr const char* kName = ZORVIK_SMI_NAME;
    static constexpr const char* kDevice = ZORVIK_SMI_DEVICE;
    static constexpr uint64_t kPage = 4096;
    // The module's buffer: physically contiguous, below the helper module's
    // pool and above the area below 1 MiB; moved down when the memory hole
    // lies there.
    static constexpr uint32_t kBuffer = 0x180000;
    static constexpr uint32_t kBufferBelowHole = 0x100000;
    // The area below 1 MiB (BIOS area, real-mode data): read-only.
    static constexpr uint64_t kLowAreaEnd = 0x100000;

    SmiModule(const KernelDescription& kernel, const PlatformDescription& platform, FirmwareModel& firmware,
              PhysicalMemory& memory);

    bool installed() const { return kernel_.smiModule != KernelDescription::SmiModule::None; }
    bool loaded() const { return loaded_; }
    // Where DKMS leaves the module for the kernel, relative to
    // /lib/modules/<release>/, and the file: one line naming it and the
    // release, then the signature's trailer unless it is unsigned.
    static constexpr const char* kModuleFile = "updates/dkms/zorvik_smi.ko";
    std::string image() const;
    bool isImage(const std::string& image) const;
    // modprobe: 0, -EEXIST (loaded already), -ENOEXEC (not built for this
    // kernel) or -EKEYREJECTED (unsigned, under a lockdown).
    int load(const std::string& image);
    // The device: 0, -ENXIO (no module), -EPERM (the caller lacks
    // CAP_SYS_RAWIO) or -EBUSY (open or mapped already).
    int open(bool rawio, bool inUse) const;

    zorvik_smi_info info() const;
    // 0, or -EINVAL for a port or code the module does not raise. On 0,
    // `write` is the port write made, `outcome` the firmware's answer and
    // request.ebx EBX after the SMI.
    int raise(zorvik_smi_raise& request, PortWrite& write, PortWriteOutcome& outcome);
    // 0, or -ENOENT without an "$ASF" structure whose data area lies in the
    // BIOS area. `detail` gets the mailbox and the value written.
    int setMailbox(nlohmann::json& detail);
    // A mapping of `length` bytes at the physical address `offset`: 0,
    // -EPERM outside every window, -EACCES for a writable mapping of a
    // read-only window, -EINVAL for a writable private one. `detail` gets
    // the window.
    int mmap(uint64_t offset, uint64_t length, bool writable, bool shared, nlohmann::json& detail) const;

    uint32_t smiCount() const { return smiCount_; }
    nlohmann::json state() const;

private:
    struct Window {
        const char* name;
        uint64_t start;
        uint64_t end;
        bool writable;
    };
    uint32_t sharedBuffer() const { return hole_ != 0 ? hole_ : buffer_; }
    // The first "$ASF" structure of the BIOS area, as an offset in it.
    std::optional<uint32_t> firstAsf() const;
    bool allowedPort(uint16_t port) const;

    const KernelDescription& kernel_;
    const PlatformDescription& platform_;
    FirmwareModel& firmware_;
    PhysicalMemory& memory_;
    uint32_t buffer_;
    bool loaded_;
    uint32_t hole_ = 0; // EBX of the last memory-hole query
    uint32_t smiCount_ = 0;
};

} // namespace fwemu

#endif
