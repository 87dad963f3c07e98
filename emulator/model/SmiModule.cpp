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
    return 0;
}

int SmiModule::open(bool rawio, bool inUse) const
{
    if (!loaded_)
        return -ENXIO;
    if (!rawio)
        return -EPERM;
    if (inUse)
        return -EBUSY;
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

std::optional<uint32_t> SmiModule::firstAsf() const
{
    ByteView area = memory_.view(PlatformDescription::kBiosArea, PlatformDescription::kBiosAreaSize);
    for (uint32_t off = 0; off + kAsfHeaderSize <= area.size(); off++)
        if (area.hasSignature(off, "$ASF"))
            return off;
    return std::nullopt;
}

bool SmiModule::allowedPort(uint16_t port) const
{
    if (port == ZORVIK_SMI_DEFAULT_PORT)
        return true;
    if (platform_.acpi && platform_.acpi->fadtSmiCmd != 0 && port == platform_.acpi->fadtSmiCmd)
        return true;
    std::optional<uint32_t> asf = firstAsf();
    if (!asf)
        return false;
    const uint16_t asfPort = memory_.view(PlatformDescription::kBiosArea + *asf, kAsfHeaderSize).u16(12);
    return asfPort != 0 && port == asfPort;
}

int SmiModule::raise(zorvik_smi_raise& request, PortWrite& write, PortWriteOutcome& outcome)
{
    bool known = false;
    for (uint8_t code : kCodes)
        known = known || request.code == code;
    if (!known || !allowedPort(request.port))
        return -EINVAL;
    const bool holeQuery = request.code == FirmwareModel::kMemoryHoleQuery;
    write = PortWrite{request.port, request.code, holeQuery ? 0 : sharedBuffer(), 0};
    outcome = firmware_.portWrite(write);
    request.ebx = outcome.ebx.value_or(write.ebx);
    if (holeQuery)
        hole_ = request.ebx;
    smiCount_++;
    return 0;
}

int SmiModule::setMailbox(json& detail)
{
    std::optional<uint32_t> asf = firstAsf();
    if (!asf)
        return -ENOENT;
    const uint32_t data = *asf + memory_.view(PlatformDescription::kBiosArea + *asf, kAsfHeaderSize).u8(4);
    if (data + 4 > PlatformDescription::kBiosAreaSize)
        return -ENOENT;
    memory_.view(PlatformDescription::kBiosArea + data, 4).setU32(0, sharedBuffer());
    detail["mailbox"] = PlatformDescription::kBiosArea + data;
    detail["value"] = sharedBuffer();
    return 0;
}

int SmiModule::mmap(uint64_t offset, uint64_t length, bool writable, bool shared, json& detail) const
{
    std::vector<Window> windows = {{"low", 0, kLowAreaEnd, false},
                                   {"buffer", buffer_, buffer_ + uint64_t(ZORVIK_SMI_BUFFER_SIZE), true}};
    if (platform_.acpi)
        windows.push_back({"acpi", platform_.acpiArea(), platform_.memorySize, false});
    if (hole_ != 0)
        windows.push_back(
            {"hole", hole_ & ~(kPage - 1), roundUpToPage(uint64_t(hole_) + ZORVIK_SMI_BUFFER_SIZE), true});
    const uint64_t end = offset + roundUpToPage(length);
    const Window* found = nullptr;
    for (const Window& w : windows)
        if (offset >= w.start && end <= w.end)
            found = &w;
    int result = 0;
    if (found == nullptr)
        result = -EPERM;
    else if (writable && !found->writable)
        result = -EACCES;
    else if (writable && !shared)
        result = -EINVAL;
    detail["window"] = found != nullptr ? json(found->name) : json(nullptr);
    detail["result"] = result;
    return result;
}

json SmiModule::state() const
{
    return {{"loaded", loaded_}, {"smi_count", smiCount_}, {"buffer", buffer_}, {"hole", hole_}};
}

} // namespace fwemu
