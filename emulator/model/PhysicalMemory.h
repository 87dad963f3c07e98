// The platform's physical memory: a sparse image file mapped shared. The
// program under test maps the same file as /dev/mem, so the firmware model
// and the program see the same bytes (shared SMI buffer, ACPI tables, BIOS
// area) without any copying.
#ifndef FWEMU_PHYSICALMEMORY_H
#define FWEMU_PHYSICALMEMORY_H

#include <cstdint>
#include <string>

#include "ByteView.h"

namespace fwemu {

class PhysicalMemory {
public:
    // Creates the image file at `path` (replacing what was there) with `size`
    // bytes, all zero and unallocated, and maps it. Throws std::system_error.
    PhysicalMemory(const std::string& path, uint64_t size);
    ~PhysicalMemory();
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }
    bool contains(uint64_t address, uint64_t length) const { return address <= size_ && length <= size_ - address; }
    // The bytes [address, address + length). Throws std::out_of_range when
    // the range is not all inside physical memory.
    ByteView view(uint64_t address, uint64_t length) const;

private:
    std::string path_;
    uint64_t size_ = 0;
    int fd_ = -1;
    uint8_t* base_ = nullptr;
};

} // namespace fwemu

#endif
