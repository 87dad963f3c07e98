#include "HelperModule.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace fwemu {

using nlohmann::json;

namespace {

uint64_t roundUpToPage(uint64_t n)
{
    return (n + HelperModule::kPage - 1) & ~(HelperModule::kPage - 1);
}

json recordJson(const ModuleRecord& r)
{
    return {{"size", r.size},
            {"kvirtlen", r.kvirtlen},
            {"kmallocptr", r.kmallocptr},
            {"kvirtadd", r.kvirtadd},
            {"kphysadd", r.kphysadd}};
}

const char* commandName(unsigned cmd)
{
    switch (cmd) {
    case HelperModule::kCmdAlloc:
        return "CMD_ALLOC";
    case HelperModule::kCmdFree:
        return "CMD_FREE";
    case HelperModule::kCmdLockKb:
        return "CMD_LOCK_KB";
    case HelperModule::kCmdUnlockKb:
        return "CMD_UNLOCK_KB";
    default:
        return "unknown";
    }
}

} // namespace

HelperModule::HelperModule(const KernelDescription& kernel, const PlatformDescription& platform, PhysicalMemory& memory)
    : kernel_(kernel), memory_(memory)
{
    poolEnd_ = std::min<uint64_t>(kPoolEnd, platform.acpiArea());
    if (platform.memoryHole) {
        uint64_t h = *platform.memoryHole;
        if (h < poolEnd_ && h + PlatformDescription::kSmiBufferSize > kPoolStart)
            excluded_ = std::make_pair(h & ~(kPage - 1), roundUpToPage(h + PlatformDescription::kSmiBufferSize));
    }
    loaded_ = kernel.loadedAtStart;
    failuresLeft_ = kernel.insmodFailures;
}

int HelperModule::load(const std::string& image)
{
    if (loaded_)
        return -EEXIST;
    if (failuresLeft_ > 0) {
        failuresLeft_--;
        return -ENOEXEC;
    }
    if (image != kernel_.moduleImage())
        return -ENOEXEC;
    loaded_ = true;
    return 0;
}

int HelperModule::unload(const std::string& name, bool inUse)
{
    if (!loaded_ || name != kModuleName)
        return -ENOENT;
    if (inUse)
        return -EAGAIN;
    // Module end frees every live block.
    table_.clear();
    used_.clear();
    current_.reset();
    loaded_ = false;
    return 0;
}

int HelperModule::open(unsigned nodeMajor, bool inUse) const
{
    if (!loaded_ || nodeMajor != kernel_.major)
        return -ENXIO;
    if (!kernel_.kernel24() && inUse)
        return -EBUSY;
    return 0;
}

int HelperModule::ioctl(unsigned cmd, uint64_t arg, const ReadRecord& read, const WriteRecord& write, json& detail)
{
    detail["cmd"] = commandName(cmd);
    detail["code"] = cmd;
    int result;
    switch (cmd) {
    case kCmdAlloc:
        result = allocBlock(arg, read, write, detail);
        break;
    case kCmdFree:
        result = freeBlock(read, detail);
        break;
    case kCmdLockKb:
        keyboardMasked_ = true;
        result = 0;
        break;
    case kCmdUnlockKb:
        keyboardMasked_ = false;
        result = 0;
        break;
    default:
        result = -ENOTTY;
        break;
    }
    detail["result"] = result;
    detail["blocks"] = table_.size();
    return result;
}

std::optional<uint64_t> HelperModule::allocatePhysical(uint64_t length) const
{
    uint64_t candidate = kPoolStart;
    auto clear = [&](uint64_t start) {
        if (excluded_ && start < excluded_->second && start + length > excluded_->first)
            return excluded_->second;
        for (const auto& u : used_)
            if (start < u.first + u.second && start + length > u.first)
                return u.first + u.second;
        return uint64_t(0);
    };
    while (candidate + length <= poolEnd_) {
        uint64_t next = clear(candidate);
        if (next == 0)
            return candidate;
        candidate = next;
    }
    return std::nullopt;
}

int HelperModule::allocBlock(uint64_t arg, const ReadRecord& read, const WriteRecord& write, json& detail)
{
    if (table_.size() >= kTableSize)
        return -EINVAL;
    current_.reset();
    if (arg == 0)
        return -EINVAL;
    ModuleRecord request;
    if (!read(request))
        return -EFAULT;
    detail["request"] = recordJson(request);
    if (request.size < 0 || request.size > kMaxBlock)
        return -EINVAL;
    const uint64_t length = roundUpToPage(uint64_t(request.size));
    // Two pages more than the block, as the module asks the allocator for.
    const uint64_t reserved = length + 2 * kPage;
    std::optional<uint64_t> start = allocatePhysical(reserved);
    if (!start)
        return -ENOMEM;
    used_[*start] = reserved;

    ByteView block = memory_.view(*start, length);
    for (uint64_t i = 0; i < length / 4; i++)
        block.setU32(size_t(i * 4), uint32_t((0xafd0u << 16) + uint32_t(i)));

    ModuleRecord entry;
    entry.size = request.size;
    entry.kmallocptr = kKernelBase + *start;
    entry.kvirtlen = length;
    entry.kvirtadd = kKernelBase + *start;
    entry.kphysadd = *start;
    table_.push_back(entry);
    current_ = Block{*start, length};

    ModuleRecord reply = request;
    reply.kvirtadd = entry.kvirtadd;
    reply.kphysadd = entry.kphysadd;
    detail["reply"] = recordJson(reply);
    if (!write(reply))
        return -EFAULT;
    return 0;
}

int HelperModule::freeBlock(const ReadRecord& read, json& detail)
{
    ModuleRecord request;
    if (!read(request))
        return -EFAULT;
    detail["request"] = recordJson(request);
    auto it = std::find_if(table_.begin(), table_.end(),
                           [&](const ModuleRecord& r) { return r.kphysadd == request.kphysadd; });
    if (it == table_.end()) {
        detail["found"] = false;
        return 0;
    }
    const size_t slot = size_t(it - table_.begin());
    detail["found"] = true;
    detail["slot"] = slot;
    used_.erase(it->kphysadd);
    current_.reset();
    // The last live entry moves into the freed slot.
    if (slot != table_.size() - 1) {
        table_[slot] = table_.back();
        detail["moved_from"] = table_.size() - 1;
    }
    table_.pop_back();
    return 0;
}

int HelperModule::mmap(uint64_t offset, uint64_t length, bool writable, bool shared, uint64_t& phys, json& detail)
{
    const uint64_t size = roundUpToPage(length);
    int result = 0;
    if (offset % kPage != 0 || !current_ || size > current_->length || offset + size > current_->length)
        result = -ENXIO;
    else if (writable && !shared)
        result = -EINVAL;
    else
        phys = current_->start;
    detail["result"] = result;
    if (result == 0)
        detail["phys"] = phys;
    if (current_)
        detail["block"] = {{"phys", current_->start}, {"length", current_->length}};
    return result;
}

std::string HelperModule::devicesFile(const std::string& current) const
{
    std::istringstream in(current);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        // The module's own line, from an earlier load.
        size_t name = line.find(kName);
        if (name != std::string::npos && name + std::string(kName).size() == line.size())
            continue;
        lines.push_back(line);
    }
    if (loaded_) {
        char own[32];
        std::snprintf(own, sizeof own, "%3u %s", kernel_.major, kName);
        // Character devices are listed by major, up to the empty line.
        size_t at = 0;
        while (at < lines.size() && lines[at] != "Character devices:")
            at++;
        if (at == lines.size()) {
            lines.insert(lines.begin(), "Character devices:");
            at = 0;
        }
        at++;
        while (at < lines.size() && !lines[at].empty() && std::atoi(lines[at].c_str()) < int(kernel_.major))
            at++;
        lines.insert(lines.begin() + long(at), own);
    }
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

json HelperModule::state() const
{
    json blocks = json::array();
    for (const ModuleRecord& r : table_)
        blocks.push_back({{"size", r.size}, {"kphysadd", r.kphysadd}, {"kvirtlen", r.kvirtlen}});
    return {{"loaded", loaded_},
            {"keyboard_masked", keyboardMasked_},
            {"current_block", current_ ? json(current_->start) : json(nullptr)},
            {"blocks", blocks}};
}

} // namespace fwemu
