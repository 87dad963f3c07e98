#include "SmiModule.h"

#include <cerrno>
#include <vector>

namespace fwemu {

using nlohmann::json;

namespace {

constexpr uint8_t kCodes[] = {FirmwareModel::kMemoryHoleQuery, FirmwareModel::kOpenFlash,
                              FirmwareModel::kCloseFlash,      FirmwareModel::kFlashInfo,
                              FirmwareModel::kDoreMailbox,     FirmwareModel::kCallingInterface};
// What the kernel's module signing appends to a signed module file.
constexpr const char* kSignatureTrailer = "~Module signature appended~\n";
constexpr size_t kAsfHeaderSize = 14;
constexpr uint64_t kBelow4G = 0x100000000ULL;
// The calling interface's request block: four input words from offset 4;
// those below 64 KiB are values, the others addresses.
constexpr uint32_t kCallInputs = 4;
constexpr uint32_t kCallValueLimit = 0x10000;

uint64_t roundUpToPage(uint64_t n)
{
    return (n + SmiModule::kPage - 1) & ~(SmiModule::kPage - 1);
}

} // namespace

SmiModule::SmiModule(const KernelDescription& kernel, const PlatformDescription& platform, FirmwareModel& firmware,
                     PhysicalMemory& memory)
    : kernel_(kernel), platform_(platform), firmware_(firmware), memory_(memory), buffer_(kBuffer),
      loaded_(kernel.smiModule == KernelDescription::SmiModule::Loaded)
{
    if (platform.memoryHole) {
        const uint64_t h = *platform.memoryHole;
        if (h < kBuffer + uint64_t(ZORVIK_SMI_BUFFER_SIZE) && h + PlatformDescription::kSmiBufferSize > kBuffer)
            buffer_ = kBufferBelowHole;
    }
    if (loaded_)
        findPorts();
}

std::string SmiModule::image() const
{
    std::string image = std::string(kName) + " module for " + kernel_.release + "\n";
    if (kernel_.smiModule != KernelDescription::SmiModule::Unsigned)
        image += kSignatureTrailer;
    return image;
}

bool SmiModule::isImage(const std::string& image) const
{
    const std::string head = std::string(kName) + " module for ";
    return image.compare(0, head.size(), head) == 0;
}

int SmiModule::load(const std::string& image)
{
    if (loaded_)
        return -EEXIST;
    const std::string own = std::string(kName) + " module for " + kernel_.release + "\n";
    if (image != own && image != own + kSignatureTrailer)
        return -ENOEXEC;
    if (image == own && platform_.lockedDown())
        return -EKEYREJECTED;
    loaded_ = true;
    findPorts();
    return 0;
}

int SmiModule::open(bool rawio, bool inUse)
{
    if (!loaded_)
        return -ENXIO;
    if (!rawio)
        return -EPERM;
    if (inUse)
        return -EBUSY;
    memory_.view(buffer_, ZORVIK_SMI_BUFFER_SIZE).fill(0, ZORVIK_SMI_BUFFER_SIZE, 0);
    hole_ = 0;
    return 0;
}

zorvik_smi_info SmiModule::info() const
{
    zorvik_smi_info i{};
    i.abi_version = kernel_.smiAbiVersion;
    i.buffer_phys = buffer_;
    i.buffer_size = ZORVIK_SMI_BUFFER_SIZE;
    i.smi_count = smiCount_;
    return i;
}

void SmiModule::findPorts()
{
    ByteView area = memory_.view(PlatformDescription::kBiosArea, PlatformDescription::kBiosAreaSize);
    bool first = true;
    for (uint32_t off = 0; off + kAsfHeaderSize <= area.size(); off++) {
        if (!area.hasSignature(off, "$ASF"))
            continue;
        lastAsfPort_ = area.u16(off + 12);
        if (!first)
            continue;
        first = false;
        firstAsfPort_ = lastAsfPort_;
        const uint32_t data = off + area.u8(off + 4);
        if (firstAsfPort_ != 0 && data + 4 <= area.size())
            mailbox_ = PlatformDescription::kBiosArea + data;
    }
}

bool SmiModule::allowedPort(uint16_t port) const
{
    const uint16_t fadt = platform_.acpi ? platform_.acpi->fadtSmiCmd : 0;
    return port == ZORVIK_SMI_DEFAULT_PORT ||
           (port != 0 && (port == fadt || port == firstAsfPort_ || port == lastAsfPort_));
}

// Every page of the hole reserved in the memory map, below 4 GiB.
bool SmiModule::reservedBelow4G(uint32_t hole) const
{
    const uint64_t end = roundUpToPage(uint64_t(hole) + ZORVIK_SMI_BUFFER_SIZE);
    if (end > kBelow4G)
        return false;
    for (uint64_t page = hole & ~(kPage - 1); page < end; page += kPage)
        if (platform_.memoryType(page) != PlatformDescription::MemoryType::Reserved)
            return false;
    return true;
}

bool SmiModule::callInputsAllowed() const
{
    const uint32_t shared = sharedBuffer();
    ByteView block = memory_.view(shared, 4 + 4 * kCallInputs);
    for (uint32_t i = 0; i < kCallInputs; i++) {
        const uint32_t v = block.u32(4 + 4 * i);
        if (v >= kCallValueLimit && (v < shared || v - shared >= ZORVIK_SMI_BUFFER_SIZE))
            return false;
    }
    return true;
}

int SmiModule::raise(zorvik_smi_raise& request, PortWrite& write, PortWriteOutcome& outcome)
{
    bool known = false;
    for (uint8_t code : kCodes)
        known = known || request.code == code;
    if (request.reserved != 0 || !known || !allowedPort(request.port))
        return -EINVAL;
    const bool holeQuery = request.code == FirmwareModel::kMemoryHoleQuery;
    if (request.code == FirmwareModel::kCallingInterface && !callInputsAllowed())
        return -EINVAL;
    write = PortWrite{request.port, request.code, holeQuery ? 0 : sharedBuffer(), 0};
    outcome = firmware_.portWrite(write);
    smiCount_++;
    request.ebx = 0;
    if (holeQuery) {
        const uint32_t answer = outcome.ebx.value_or(write.ebx);
        hole_ = answer != 0 && reservedBelow4G(answer) ? answer : 0;
        request.ebx = hole_;
    }
    return 0;
}

int SmiModule::setMailbox(json& detail)
{
    if (!mailbox_)
        return -ENOENT;
    memory_.view(*mailbox_, 4).setU32(0, sharedBuffer());
    detail["mailbox"] = *mailbox_;
    detail["value"] = sharedBuffer();
    return 0;
}

const char* SmiModule::writableWindow(uint64_t offset, uint64_t end) const
{
    if (offset >= buffer_ && end <= buffer_ + uint64_t(ZORVIK_SMI_BUFFER_SIZE))
        return "buffer";
    if (hole_ != 0 && offset >= (hole_ & ~(kPage - 1)) &&
        end <= roundUpToPage(uint64_t(hole_) + ZORVIK_SMI_BUFFER_SIZE))
        return "hole";
    return nullptr;
}

int SmiModule::mmap(uint64_t offset, uint64_t length, bool writable, json& detail) const
{
    const uint64_t end = offset + roundUpToPage(length);
    const char* window = end > offset ? writableWindow(offset, end) : nullptr;
    int result = 0;
    if (window == nullptr) {
        // Read-only: each page below 1 MiB, or firmware memory (reserved or
        // ACPI tables, no RAM) by the memory map.
        window = "read-only";
        for (uint64_t page = offset; page < end && result == 0; page += kPage) {
            const PlatformDescription::MemoryType type = platform_.memoryType(page);
            if (page + kPage > kLowAreaEnd && type != PlatformDescription::MemoryType::Reserved &&
                type != PlatformDescription::MemoryType::Acpi)
                result = -EPERM;
        }
        if (end <= offset)
            result = -EPERM;
        if (result == 0 && writable)
            result = -EACCES;
    }
    detail["window"] = result == -EPERM ? json(nullptr) : json(window);
    detail["result"] = result;
    return result;
}

bool SmiModule::mayWrite(uint64_t offset, uint64_t length) const
{
    const uint64_t end = offset + roundUpToPage(length);
    return end > offset && writableWindow(offset, end) != nullptr;
}

json SmiModule::state() const
{
    return {{"loaded", loaded_}, {"smi_count", smiCount_}, {"buffer", buffer_}, {"hole", hole_}};
}

} // namespace fwemu
