// Turns the fault of a port write made without real I/O privilege into a
// port write on the virtual platform: decodes the instruction at the
// faulting address, checks the process's virtual privilege, hands port, AL,
// EBX and ECX to the firmware model, applies its EBX answer and steps over
// the instruction.
#ifndef FWEMU_PORTTRAP_H
#define FWEMU_PORTTRAP_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "FirmwareModel.h"
#include "IoPrivilege.h"
#include "TraceWriter.h"

namespace fwemu {

// A one-byte port write: `out dx, al` (EE) or `out imm8, al` (E6 ib), after
// any legacy prefixes (and, in 64-bit code, a REX prefix).
struct OutInstruction {
    unsigned length = 0;
    bool immediate = false;
    uint8_t port = 0; // the immediate form's port
};

std::optional<OutInstruction> decodePortWrite(const uint8_t* code, size_t available, bool longMode);

class PortTrap {
public:
    PortTrap(FirmwareModel& model, TraceWriter& trace) : model_(model), trace_(trace) {}

    // Called when `pid` stopped with a general-protection SIGSEGV. Returns
    // true when the fault was a permitted port write, now carried out (the
    // signal is to be dropped); false when the signal must be delivered.
    bool handle(pid_t pid, const IoPrivilege& privilege);

    unsigned long portWrites() const { return portWrites_; }

private:
    FirmwareModel& model_;
    TraceWriter& trace_;
    unsigned long portWrites_ = 0;
};

} // namespace fwemu

#endif
