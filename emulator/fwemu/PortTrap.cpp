#include "PortTrap.h"

#include <sys/ptrace.h>
#include <sys/user.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace fwemu {

namespace {

constexpr unsigned kMaxInstruction = 15;
constexpr unsigned long kUserCs64 = 0x33;

bool isLegacyPrefix(uint8_t b)
{
    switch (b) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67:
    case 0xF0:
    case 0xF2:
    case 0xF3:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<OutInstruction> decodePortWrite(const uint8_t* code, size_t available, bool longMode)
{
    size_t i = 0;
    const size_t limit = available < kMaxInstruction ? available : kMaxInstruction;
    while (i < limit && isLegacyPrefix(code[i]))
        ++i;
    if (longMode && i < limit && (code[i] & 0xF0) == 0x40)
        ++i;
    if (i >= limit)
        return std::nullopt;
    if (code[i] == 0xEE)
        return OutInstruction{unsigned(i + 1), false, 0};
    if (code[i] == 0xE6 && i + 1 < limit)
        return OutInstruction{unsigned(i + 2), true, code[i + 1]};
    return std::nullopt;
}

bool PortTrap::handle(pid_t pid, const IoPrivilege& privilege)
{
    user_regs_struct regs{};
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0)
        return false;
    // Up to 16 bytes of code; the second word may lie on an unmapped page.
    uint8_t code[16];
    size_t available = 0;
    for (size_t word = 0; word < 2; ++word) {
        errno = 0;
        long v = ptrace(PTRACE_PEEKTEXT, pid, reinterpret_cast<void*>(regs.rip + 8 * word), nullptr);
        if (errno != 0)
            break;
        std::memcpy(code + 8 * word, &v, 8);
        available += 8;
    }
    const bool longMode = regs.cs == kUserCs64;
    std::optional<OutInstruction> insn = decodePortWrite(code, available, longMode);
    if (!insn)
        return false;

    PortWrite write;
    write.port = insn->immediate ? insn->port : uint16_t(regs.rdx & 0xFFFF);
    write.al = uint8_t(regs.rax & 0xFF);
    write.ebx = uint32_t(regs.rbx);
    write.ecx = uint32_t(regs.rcx);
    nlohmann::json fields = {{"pid", pid},       {"port", write.port},
                             {"al", write.al},   {"ebx", write.ebx},
                             {"ecx", write.ecx}, {"form", insn->immediate ? "out imm8,al" : "out dx,al"}};

    if (!privilege.allows(write.port)) {
        fields["signal"] = SIGSEGV;
        trace_.write("port_fault", fields);
        return false;
    }

    PortWriteOutcome outcome = model_.portWrite(write);
    if (outcome.ebx) {
        regs.rbx = *outcome.ebx;
        fields["ebx_after"] = *outcome.ebx;
    }
    regs.rip += insn->length;
    if (!longMode)
        regs.rip &= 0xFFFFFFFF;
    if (ptrace(PTRACE_SETREGS, pid, nullptr, &regs) != 0)
        return false;
    ++portWrites_;
    for (auto it = outcome.detail.begin(); it != outcome.detail.end(); ++it)
        fields[it.key()] = it.value();
    trace_.write("port_write", fields);
    return true;
}

} // namespace fwemu
