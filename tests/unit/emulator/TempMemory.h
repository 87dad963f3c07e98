// A small physical-memory image in a temporary file, removed afterwards.
#ifndef FWEMU_TEST_TEMPMEMORY_H
#define FWEMU_TEST_TEMPMEMORY_H

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "PhysicalMemory.h"

class TempMemory {
public:
    explicit TempMemory(uint64_t size)
    {
        char name[] = "/tmp/fwemu-unit-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        path_ = name;
        memory_ = std::make_unique<fwemu::PhysicalMemory>(path_, size);
    }
    ~TempMemory()
    {
        memory_.reset();
        unlink(path_.c_str());
    }
    fwemu::PhysicalMemory& operator*() { return *memory_; }
    fwemu::PhysicalMemory* operator->() { return memory_.get(); }

private:
    std::string path_;
    std::unique_ptr<fwemu::PhysicalMemory> memory_;
};

#endif
