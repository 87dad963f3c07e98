// The kernel side of the signed SMI module zorvik_smi, after its interface
// (modules/zorvik_smi/zorvik_smi.h): the load of the module file that
// modprobe hands over (an unsigned one is refused under a lockdown; the
// loaded module reads its ports and mailbox from the BIOS area), the
// device's open rule (CAP_SYS_RAWIO, one opener, who starts with a zeroed
// buffer and no memory hole), and its requests: INFO, RAISE on the fixed
// ports with the fixed codes (EBX set by the module, the SMI served by the
// firmware model as a port write), SET_MAILBOX, and the windows that mmap
// allows by the platform's memory map. No process knowledge: the caller
// reads and writes the records.
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
    // CAP_SYS_RAWIO) or -EBUSY (open or mapped already). On 0 the buffer
    // is zeroed and the memory hole forgotten.
    int open(bool rawio, bool inUse);

    zorvik_smi_info info() const;
    // 0, or -EINVAL for a port or code the module does not raise, a
    // reserved byte set, or a calling-interface request (0x0D) with an input
    // word that is neither a value below 64 KiB nor an address in the shared
    // buffer (then no SMI). On 0, `write` is the port write made, `outcome`
    // the firmware's answer and request.ebx EBX after the SMI: the memory
    // hole for a 0x7F query (0 when the firmware reported none or one that
    // is not reserved memory below 4 GiB), 0 after the other codes.
    int raise(zorvik_smi_raise& request, PortWrite& write, PortWriteOutcome& outcome);
    // 0, or -ENOENT without a mailbox: no "$ASF" structure, or the first
    // one names port 0 or its data area leaves the BIOS area. `detail` gets
    // the mailbox and the value written.
    int setMailbox(nlohmann::json& detail);
    // A mapping of `length` bytes at the physical address `offset`: 0,
    // -EPERM outside every window, -EACCES for a writable mapping of a
    // read-only window. `detail` gets the window.
    int mmap(uint64_t offset, uint64_t length, bool writable, nlohmann::json& detail) const;
    // Whether a mapping at `offset` may be made writable later (mprotect):
    // only the buffer's and the hole's; the read-only windows may not.
    bool mayWrite(uint64_t offset, uint64_t length) const;

    uint32_t smiCount() const { return smiCount_; }
    nlohmann::json state() const;

private:
    uint32_t sharedBuffer() const { return hole_ != 0 ? hole_ : buffer_; }
    // The writable window holding [offset, end): "buffer", "hole" or none.
    const char* writableWindow(uint64_t offset, uint64_t end) const;
    // Reads the ports of the first and the last "$ASF" structure and the
    // mailbox, as the module does when it is loaded.
    void findPorts();
    bool allowedPort(uint16_t port) const;
    bool reservedBelow4G(uint32_t hole) const;
    bool callInputsAllowed() const;

    const KernelDescription& kernel_;
    const PlatformDescription& platform_;
    FirmwareModel& firmware_;
    PhysicalMemory& memory_;
    uint32_t buffer_;
    bool loaded_;
    uint32_t hole_ = 0; // the memory hole the last query reported, if taken
    uint32_t smiCount_ = 0;
    uint16_t firstAsfPort_ = 0;
    uint16_t lastAsfPort_ = 0;
    std::optional<uint32_t> mailbox_; // physical address of the first "$ASF" data area
};

} // namespace fwemu

#endif
