// The virtual platform's firmware: lays out what the firmware leaves in
// physical memory at power-on (ACPI tables, "$ASF" structures) and answers
// the SMIs raised by port writes. Each SMI function code has one entry in a
// dispatch table; the calling interface (0x0D) has its own handler table
// keyed by class and select.
#ifndef FWEMU_FIRMWAREMODEL_H
#define FWEMU_FIRMWAREMODEL_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "AcpiTables.h"
#include "CallingInterface.h"
#include "DoreMailbox.h"
#include "FlashInterface.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"

namespace fwemu {

// One byte written to an I/O port, with the registers the firmware reads.
struct PortWrite {
    uint16_t port = 0;
    uint8_t al = 0;
    uint32_t ebx = 0;
    uint32_t ecx = 0;
};

struct PortWriteOutcome {
    bool smi = false;                                 // the port raises SMIs
    std::optional<uint32_t> ebx;                      // new EBX for the program, when the firmware sets it
    nlohmann::json detail = nlohmann::json::object(); // trace fields
};

class FirmwareModel {
public:
    // SMI function codes.
    static constexpr uint8_t kCallingInterface = 0x0D;
    static constexpr uint8_t kOpenFlash = 0x20;
    static constexpr uint8_t kCloseFlash = 0x24;
    static constexpr uint8_t kFlashInfo = 0x25;
    static constexpr uint8_t kDoreMailbox = 0x26;
    static constexpr uint8_t kMemoryHoleQuery = 0x7F;

    // Lays out the platform's tables and structures in `memory`, which must
    // be as large as the platform's memory and zero.
    FirmwareModel(PlatformDescription platform, PhysicalMemory& memory);
    FirmwareModel(const FirmwareModel&) = delete;
    FirmwareModel& operator=(const FirmwareModel&) = delete;

    PortWriteOutcome portWrite(const PortWrite& write);
    bool raisesSmi(uint16_t port) const;

    // The platform with the firmware's state as it is now (for --save).
    const PlatformDescription& platform() const { return platform_; }
    CallingInterface& callingInterface() { return calling_; }
    const FlashInterface& flashInterface() const { return flash_; }
    // Where the tables and structures were put, for the trace.
    nlohmann::json layout() const;
    // Physical addresses of the "$ASF" data areas, in platform order.
    const std::vector<uint32_t>& asfMailboxes() const { return asfMailboxes_; }

private:
    struct Smi {
        const PortWrite& write;
        ByteView buffer; // the 64 KiB at EBX (empty for the memory-hole query)
        uint64_t bufferAddress;
        PortWriteOutcome& outcome;
    };
    struct Function {
        const char* name;
        bool usesBuffer;
        std::function<void(Smi&)> run;
    };

    void layAsfStructures();

    PlatformDescription platform_;
    PhysicalMemory& memory_;
    std::vector<uint16_t> smiPorts_;
    std::optional<AcpiLayout> acpiLayout_;
    std::vector<uint32_t> asfMailboxes_;
    FlashInterface flash_;
    DoreMailbox dore_;
    CallingInterface calling_;
    std::map<uint8_t, Function> functions_;
};

} // namespace fwemu

#endif
