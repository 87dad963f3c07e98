#include "FirmwareModel.h"

#include <algorithm>
#include <stdexcept>

namespace fwemu {

FirmwareModel::FirmwareModel(PlatformDescription platform, PhysicalMemory& memory)
    : platform_(std::move(platform)), memory_(memory), smiPorts_(platform_.effectiveSmiPorts()),
      flash_(platform_.flash), dore_(platform_.dore, platform_.secureFlash)
{
    if (memory_.size() < platform_.memorySize)
        throw std::invalid_argument("physical memory is smaller than the platform's");
    if (platform_.acpi)
        acpiLayout_ = AcpiTables::build(*platform_.acpi, platform_.acpiArea(), memory_);
    layAsfStructures();
    if (platform_.boot)
        installBootConfiguration(calling_, *platform_.boot, memory_);

    functions_[kMemoryHoleQuery] = {"memory_hole", false, [this](Smi& smi) {
                                        const uint32_t hole = platform_.memoryHole.value_or(0);
                                        smi.outcome.ebx = hole;
                                        smi.outcome.detail["answer"] = hole;
                                    }};
    functions_[kOpenFlash] = {"open_flash", true, [this](Smi& smi) { flash_.open(smi.buffer, smi.outcome.detail); }};
    functions_[kFlashInfo] = {"flash_info", true, [this](Smi& smi) { flash_.info(smi.buffer, smi.outcome.detail); }};
    functions_[kCloseFlash] = {"close_flash", true, [this](Smi& smi) { flash_.close(smi.buffer, smi.outcome.detail); }};
    functions_[kDoreMailbox] = {"dore", true, [this](Smi& smi) { dore_.handle(smi.buffer, smi.outcome.detail); }};
    functions_[kCallingInterface] = {
        "calling_interface", true,
        [this](Smi& smi) { calling_.handle(smi.buffer, smi.bufferAddress, memory_, platform_, smi.outcome.detail); }};
}

void FirmwareModel::layAsfStructures()
{
    for (const AsfDescription& asf : platform_.asf) {
        ByteView s = memory_.view(PlatformDescription::kBiosArea + asf.offset, 14);
        s.setBytes(0, "$ASF", 4);
        s.setU8(4, asf.dataDistance);
        s.setU16(12, asf.port);
        asfMailboxes_.push_back(PlatformDescription::kBiosArea + asf.offset + asf.dataDistance);
    }
}

bool FirmwareModel::raisesSmi(uint16_t port) const
{
    return std::find(smiPorts_.begin(), smiPorts_.end(), port) != smiPorts_.end();
}

nlohmann::json FirmwareModel::layout() const
{
    nlohmann::json j;
    j["acpi"] = acpiLayout_ ? acpiLayout_->toJson() : nlohmann::json(nullptr);
    j["asf_mailboxes"] = asfMailboxes_;
    j["smi_ports"] = smiPorts_;
    return j;
}

PortWriteOutcome FirmwareModel::portWrite(const PortWrite& write)
{
    PortWriteOutcome outcome;
    outcome.smi = raisesSmi(write.port);
    outcome.detail["smi"] = outcome.smi;
    if (!outcome.smi)
        return outcome;

    if (!asfMailboxes_.empty()) {
        nlohmann::json values = nlohmann::json::array();
        for (uint32_t at : asfMailboxes_)
            values.push_back(memory_.view(at, 4).u32(0));
        outcome.detail["asf_mailbox"] = values;
    }

    auto it = functions_.find(write.al);
    if (it == functions_.end()) {
        outcome.detail["function"] = "unknown";
        return outcome;
    }
    const Function& function = it->second;
    outcome.detail["function"] = function.name;

    const uint64_t address = uint64_t(write.ecx) << 32 | write.ebx;
    ByteView buffer;
    if (function.usesBuffer) {
        if (!memory_.contains(address, PlatformDescription::kSmiBufferSize)) {
            outcome.detail["error"] = "the SMI buffer at EBX/ECX is not inside physical memory";
            return outcome;
        }
        buffer = memory_.view(address, PlatformDescription::kSmiBufferSize);
    }
    Smi smi{write, buffer, address, outcome};
    try {
        function.run(smi);
    } catch (const std::out_of_range& e) {
        outcome.detail["error"] = e.what();
    }
    return outcome;
}

} // namespace fwemu
