// The kernel side of ZORVIK's helper module "qorfldrv" as the generated
// sources behave: loading and removal, the device's one-opener rule (2.6 and
// later), the allocation table of 128 blocks with its current block,
// CMD_ALLOC / CMD_FREE / CMD_LOCK_KB / CMD_UNLOCK_KB, and the checks of mmap.
// Blocks are taken from the platform's physical memory below 16 MiB (the
// module asks for GFP_DMA), so what the program writes through its mapping
// is what the firmware model reads at the block's physical address. No
// process knowledge: the caller reads and writes the request record.
#ifndef FWEMU_HELPERMODULE_H
#define FWEMU_HELPERMODULE_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "KernelDescription.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"

namespace fwemu {

// QORFLDRV_ALLOC with every field widened; the caller converts from and to
// the program's layout (20 bytes for i386, 40 for x86-64).
struct ModuleRecord {
    int64_t size = 0;
    uint64_t kvirtlen = 0;
    uint64_t kmallocptr = 0;
    uint64_t kvirtadd = 0;
    uint64_t kphysadd = 0;
};

class HelperModule {
public:
    static constexpr unsigned kCmdAlloc = 0x4160;
    static constexpr unsigned kCmdFree = 0x4161;
    static constexpr unsigned kCmdLockKb = 0x4162;
    static constexpr unsigned kCmdUnlockKb = 0x4163;
    static constexpr unsigned kTableSize = 128;
    static constexpr int64_t kMaxBlock = 128 * 1024;
    static constexpr uint64_t kPage = 4096;
    static constexpr const char* kName = "qorfldrv";           // in /proc/devices
    static constexpr const char* kModuleName = "qorfldrv_mod"; // what rmmod names
    // Kernel virtual address of physical address 0 (the i386 low-memory map).
    static constexpr uint64_t kKernelBase = 0xC0000000;
    // Physical memory the module's blocks come from.
    static constexpr uint64_t kPoolStart = 0x200000;
    static constexpr uint64_t kPoolEnd = 0x1000000;

    using ReadRecord = std::function<bool(ModuleRecord&)>;
    using WriteRecord = std::function<bool(const ModuleRecord&)>;

    HelperModule(const KernelDescription& kernel, const PlatformDescription& platform, PhysicalMemory& memory);

    bool loaded() const { return loaded_; }
    unsigned major() const { return kernel_.major; }
    // insmod: 0, or -EEXIST (loaded already), -ENOEXEC (a failure the
    // platform asks for, or a file that is not this kernel's module).
    int load(const std::string& image);
    // rmmod: 0, -ENOENT (no such module loaded) or -EAGAIN (the device is
    // in use: `inUse` says whether any process still holds it open or
    // mapped). Every live block is released.
    int unload(const std::string& name, bool inUse);

    // The device behind a node with this major: 0, -ENXIO (no module with
    // that major) or -EBUSY (in use already, on 2.6 and later kernels: the
    // device is released when its last descriptor and mapping are gone).
    int open(unsigned nodeMajor, bool inUse) const;

    // A request on the device: 0 or -errno. `detail` gets the trace fields.
    int ioctl(unsigned cmd, uint64_t arg, const ReadRecord& read, const WriteRecord& write, nlohmann::json& detail);
    // The checks of mmap for a mapping of `length` bytes at byte `offset`;
    // on success `phys` is where the mapping must start (the current
    // block's first page, whatever the offset).
    int mmap(uint64_t offset, uint64_t length, bool writable, bool shared, uint64_t& phys, nlohmann::json& detail);

    // /proc/devices as it reads with the module's line added or removed.
    std::string devicesFile(const std::string& current) const;

    const std::vector<ModuleRecord>& table() const { return table_; }
    bool hasCurrentBlock() const { return current_.has_value(); }
    bool keyboardMasked() const { return keyboardMasked_; }
    nlohmann::json state() const;

private:
    struct Block {
        uint64_t start;  // physical, page-aligned
        uint64_t length; // whole pages
    };

    int allocBlock(uint64_t arg, const ReadRecord& read, const WriteRecord& write, nlohmann::json& detail);
    int freeBlock(const ReadRecord& read, nlohmann::json& detail);
    std::optional<uint64_t> allocatePhysical(uint64_t length) const;

    const KernelDescription& kernel_;
    PhysicalMemory& memory_;
    uint64_t poolEnd_;
    std::optional<std::pair<uint64_t, uint64_t>> excluded_; // the memory hole, if it lies in the pool
    bool loaded_ = false;
    unsigned failuresLeft_ = 0;
    bool keyboardMasked_ = false;
    std::vector<ModuleRecord> table_;   // the first kcount slots
    std::map<uint64_t, uint64_t> used_; // physical start -> length of every live block
    std::optional<Block> current_;
};

} // namespace fwemu

#endif
