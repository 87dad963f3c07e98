// What a virtual platform is: memory, ACPI tables, "$ASF" structures and how
// its firmware answers each service. Read from and written back to the JSON
// platform file documented in emulator/README.md.
#ifndef FWEMU_PLATFORMDESCRIPTION_H
#define FWEMU_PLATFORMDESCRIPTION_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BootConfiguration.h"
#include "KernelDescription.h"

namespace fwemu {

// A platform file that cannot be used; the message names the field.
class PlatformError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AcpiDescription {
    uint16_t fadtSmiCmd = 0xB2;
    uint32_t fadtLength = 244;
    bool xsdt = true; // an XSDT exists (RSDP revision 2)
    bool fadtInRsdt = true;
    bool fadtInXsdt = true;
    unsigned otherTables = 0; // tables listed ahead of the FADT in each root table
    bool rsdpChecksumOk = true;
    // A second, older RSDP at a lower address whose own FADT names this port.
    std::optional<uint16_t> staleRsdpSmiCmd;
};

struct AsfDescription {
    uint16_t offset = 0;       // in the BIOS area at 0xF0000
    uint8_t dataDistance = 16; // signature to data area (the mailbox)
    uint16_t port = 0xB2;
};

struct FlashBlock {
    uint32_t start = 0;
    uint32_t size = 0;
    uint8_t type = 0;
};

struct FlashInfoAnswer {
    uint8_t version = 12;
    uint8_t status = 0;
    std::vector<FlashBlock> blocks;
};

struct FpsRecord {
    std::string name;
    uint16_t offset = 0x800; // in the shared SMI buffer
};

struct BptRecord {
    uint8_t length = 0;
    bool mark = false;
    uint16_t offset = 0x900; // in the shared SMI buffer
};

struct FlashDescription {
    std::optional<uint8_t> openStatus = 0; // none: SMI 0x20 is ignored
    std::optional<FlashInfoAnswer> info;   // none: SMI 0x25 is ignored
    std::optional<FpsRecord> fps;
    std::optional<BptRecord> bpt;
};

struct DoreDescription {
    bool present = true;
    uint16_t version = 0x210;
    bool error = false;
};

struct SecureFlashDescription {
    bool delivered = false;
    uint16_t policy = 0;
    std::optional<std::string> message; // none: status bit 0x10 stays clear
    uint16_t messageOffset = 0x200;     // in the shared SMI buffer
};

// Another process holding ZORVIK's machine-wide lock, /run/lock/zorvik.lock.
struct RunLockHolder {
    uint32_t pid = 1;                       // what it wrote into the lock file
    std::optional<uint32_t> releaseAfterMs; // none: held for the whole run
};

struct RunLockDescription {
    bool directory = true;               // /run/lock exists
    std::optional<RunLockHolder> holder; // none: nobody holds the lock

    static constexpr const char* kDirectory = "/run/lock";
    static constexpr const char* kFile = "/run/lock/zorvik.lock";
};

struct PlatformDescription {
    std::string description;
    uint64_t memorySize = 0x10000000;
    std::optional<uint32_t> memoryHole;
    std::optional<std::vector<uint16_t>> smiPorts;
    std::optional<AcpiDescription> acpi = AcpiDescription{};
    std::vector<AsfDescription> asf;
    FlashDescription flash;
    DoreDescription dore;
    SecureFlashDescription secureFlash;
    bool nmiWatchdog = true;
    // The kernel's lockdown mode ("none", "integrity", "confidentiality"), as
    // /sys/kernel/security/lockdown shows it; none: the file does not exist.
    std::optional<std::string> lockdown;
    RunLockDescription runLock;
    std::optional<BootConfigDescription> boot; // none: no boot-configuration request is handled
    std::optional<KernelDescription> kernel;   // none: no kernel tree, no helper module

    // Physical placement fixed by the platform layout.
    static constexpr uint32_t kBiosArea = 0xF0000;
    static constexpr uint32_t kBiosAreaSize = 0x10000;
    static constexpr uint32_t kRsdpAddress = 0xF6A40;
    static constexpr uint32_t kStaleRsdpAddress = 0xE2000;
    static constexpr uint32_t kSmiBufferSize = 0x10000;
    // ACPI tables live in the top MiB of physical memory.
    uint64_t acpiArea() const { return memorySize - 0x100000; }
    // The memory map the firmware hands the kernel, by page: RAM below
    // 640 KiB and from 1 MiB, reserved from 640 KiB to 1 MiB (video memory,
    // BIOS area) and the memory hole's pages, the top MiB ACPI tables (RAM
    // without them), nothing above the memory (device memory, unmapped).
    enum class MemoryType { Ram, Reserved, Acpi, None };
    MemoryType memoryType(uint64_t address) const;

    // The ports whose writes raise an SMI: `smi_ports` when given, else the
    // FADT's port, every "$ASF" port and 0xB2.
    std::vector<uint16_t> effectiveSmiPorts() const;
    // A lockdown that refuses I/O privilege and unsigned modules.
    bool lockedDown() const { return lockdown && *lockdown != "none"; }

    // Parses and checks a platform; throws PlatformError naming the field.
    static PlatformDescription fromJson(const nlohmann::json& json);
    nlohmann::json toJson() const;
    static PlatformDescription load(const std::string& path);
    // Writes atomically (a temporary file renamed over `path`).
    void save(const std::string& path) const;

private:
    void validate() const;
};

} // namespace fwemu

#endif
