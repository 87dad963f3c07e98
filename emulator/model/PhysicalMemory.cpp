#include "PhysicalMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace fwemu {

PhysicalMemory::PhysicalMemory(const std::string& path, uint64_t size) : path_(path), size_(size)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create " + path);
    if (::ftruncate(fd_, off_t(size)) != 0) {
        int e = errno;
        ::close(fd_);
        throw std::system_error(e, std::generic_category(), "cannot size " + path);
    }
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        int e = errno;
        ::close(fd_);
        throw std::system_error(e, std::generic_category(), "cannot map " + path);
    }
    base_ = static_cast<uint8_t*>(p);
}

PhysicalMemory::~PhysicalMemory()
{
    if (base_ != nullptr)
        ::munmap(base_, size_);
    if (fd_ >= 0)
        ::close(fd_);
}

ByteView PhysicalMemory::view(uint64_t address, uint64_t length) const
{
    if (!contains(address, length))
        throw std::out_of_range("physical range " + std::to_string(address) + "+" + std::to_string(length) +
                                " is outside physical memory");
    return ByteView(base_ + address, length);
}

} // namespace fwemu
