// A process's virtual I/O privilege: the level set with iopl and the
// per-port permissions set with ioperm. Nothing reaches the kernel; a port
// write is allowed when the level is 3 or the port's permission is on.
#ifndef FWEMU_IOPRIVILEGE_H
#define FWEMU_IOPRIVILEGE_H

#include <bitset>
#include <cerrno>
#include <cstdint>

namespace fwemu {

class IoPrivilege {
public:
    static constexpr unsigned kPorts = 0x10000;

    // iopl(level): 0 or -errno, as the system call would return.
    int setLevel(uint64_t level)
    {
        if (level > 3)
            return -EINVAL;
        level_ = unsigned(level);
        return 0;
    }
    // ioperm(from, num, on): 0 or -errno.
    int setPorts(uint64_t from, uint64_t num, bool on)
    {
        if (from >= kPorts || num > kPorts - from)
            return -EINVAL;
        for (uint64_t p = from; p < from + num; ++p)
            ports_[p] = on;
        return 0;
    }
    unsigned level() const { return level_; }
    bool allows(uint16_t port) const { return level_ == 3 || ports_[port]; }

private:
    unsigned level_ = 0;
    std::bitset<kPorts> ports_;
};

} // namespace fwemu

#endif
