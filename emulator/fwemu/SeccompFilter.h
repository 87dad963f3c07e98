// The system-call filter installed in the traced program before it starts:
// the system calls fwemu intercepts stop for the tracer (SECCOMP_RET_TRACE
// with the trap's index as data); every other one runs at full speed. Both
// the x86-64 and the i386 system-call tables are covered.
#ifndef FWEMU_SECCOMPFILTER_H
#define FWEMU_SECCOMPFILTER_H

#include <linux/filter.h>

#include <cstdint>
#include <vector>

namespace fwemu {

struct TrappedSyscall {
    int nr64; // x86-64 number, -1 when not trapped there
    int nr32; // i386 number, -1 when not trapped there
};

class SeccompFilter {
public:
    // Data value of a stop: the trap's index, plus this bit for i386 calls.
    static constexpr uint16_t kCompatBit = 0x8000;

    explicit SeccompFilter(const std::vector<TrappedSyscall>& traps);
    const std::vector<sock_filter>& program() const { return program_; }
    // Installs the filter in the calling process (no_new_privs first).
    // Returns 0 or an errno value. Safe between fork and exec.
    int install() const;

private:
    std::vector<sock_filter> program_;
};

} // namespace fwemu

#endif
