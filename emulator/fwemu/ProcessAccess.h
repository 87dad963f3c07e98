// What the traps that serve a kernel device need of a traced process: its
// memory (records, paths) and the files it holds open or mapped.
#ifndef FWEMU_PROCESSACCESS_H
#define FWEMU_PROCESSACCESS_H

#include <sys/mman.h>
#include <sys/types.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace fwemu {

// A system call's int argument: its low 32 bits, signed.
inline int asInt(uint64_t arg)
{
    return int(int32_t(uint32_t(arg)));
}

// mmap's arguments as a device's mmap sees them; mmap2 (`pages`) gives the
// offset in pages, an i386 call a 32-bit length.
struct MmapRequest {
    uint64_t length;
    uint64_t prot;
    uint64_t flags;
    uint64_t offset;
    int fd;

    // Refused by the kernel itself, before the device is asked.
    bool kernelRefuses(uint64_t page) const { return length == 0 || offset % page != 0; }
    bool writable() const { return (prot & PROT_WRITE) != 0; }
    bool shared() const
    {
        const uint32_t type = uint32_t(flags) & MAP_TYPE;
        return type == MAP_SHARED || type == MAP_SHARED_VALIDATE;
    }
};

inline MmapRequest mmapRequest(const std::array<uint64_t, 6>& args, bool compat, bool pages, uint64_t page)
{
    return {compat ? (args[1] & 0xFFFFFFFF) : args[1], args[2] & 0xFFFFFFFF, args[3] & 0xFFFFFFFF,
            pages ? args[5] * page : args[5], asInt(args[4])};
}

bool readMemory(pid_t pid, uint64_t address, void* out, size_t length);
bool writeMemory(pid_t pid, uint64_t address, const void* in, size_t length);
// A zero-terminated text in the process, read a page at a time.
std::optional<std::string> readString(pid_t pid, uint64_t address, size_t limit = PATH_MAX);
// The target of a symbolic link (a /proc link), empty when there is none.
std::string readLink(const std::string& path);
// Whether any process whose root directory is `root` holds a file open
// (also by inheritance) or mapped whose path `matches` ("(deleted)" left
// off): a kernel releases a device only when the last of them is gone.
bool processesHold(const std::string& root, const std::function<bool(const std::string&)>& matches);
// Whether the process's effective capabilities hold `capability`.
bool hasCapability(pid_t pid, unsigned capability);

} // namespace fwemu

#endif
