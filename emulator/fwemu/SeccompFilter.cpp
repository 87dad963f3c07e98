#include "SeccompFilter.h"

#include <linux/audit.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstddef>
#include <stdexcept>

namespace fwemu {

namespace {

sock_filter statement(uint16_t code, uint32_t k)
{
    return sock_filter{code, 0, 0, k};
}

sock_filter jump(uint16_t code, uint32_t k, uint8_t jt, uint8_t jf)
{
    return sock_filter{code, jt, jf, k};
}

// Loads the system-call number and tests it against every trap of one table.
std::vector<sock_filter> table(const std::vector<TrappedSyscall>& traps, bool compat)
{
    std::vector<sock_filter> block;
    block.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (size_t i = 0; i < traps.size(); ++i) {
        const int nr = compat ? traps[i].nr32 : traps[i].nr64;
        if (nr < 0)
            continue;
        block.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 1));
        block.push_back(
            statement(BPF_RET | BPF_K, SECCOMP_RET_TRACE | uint32_t(i) | (compat ? SeccompFilter::kCompatBit : 0u)));
    }
    block.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    if (block.size() > 255)
        throw std::length_error("too many trapped system calls");
    return block;
}

} // namespace

SeccompFilter::SeccompFilter(const std::vector<TrappedSyscall>& traps)
{
    const std::vector<sock_filter> native = table(traps, false);
    const std::vector<sock_filter> compat = table(traps, true);
    program_.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, uint8_t(native.size())));
    program_.insert(program_.end(), native.begin(), native.end());
    program_.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, uint8_t(compat.size())));
    program_.insert(program_.end(), compat.begin(), compat.end());
    program_.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
}

int SeccompFilter::install() const
{
    sock_fprog prog{static_cast<unsigned short>(program_.size()), const_cast<sock_filter*>(program_.data())};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return errno;
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
        return errno;
    return 0;
}

} // namespace fwemu
