// The DORE mailbox behind SMI 0x26: structured requests (descriptor header,
// extension header, data records, end marker) in the shared SMI buffer. The
// firmware answers the version query and the secure-flash policy request.
#ifndef FWEMU_DOREMAILBOX_H
#define FWEMU_DOREMAILBOX_H

#include <optional>

#include <nlohmann/json.hpp>

#include "ByteView.h"
#include "PlatformDescription.h"

namespace fwemu {

class DoreMailbox {
public:
    // Descriptor header.
    static constexpr size_t kVersion = 4;
    static constexpr size_t kRunningOffset = 6;
    static constexpr size_t kFunction = 8;
    static constexpr size_t kStatus = 12;
    static constexpr size_t kDescriptorSize = 14;
    static constexpr size_t kPlatformType = 16;
    static constexpr size_t kHeaderSize = 18;
    // Status bits.
    static constexpr uint16_t kHandled = 0x01;
    static constexpr uint16_t kError = 0x08;
    static constexpr uint16_t kMessage = 0x10;
    // Requests.
    static constexpr uint32_t kSecureFlashFunction = 0x40;
    static constexpr uint8_t kSecureFlashType = 0x70;
    static constexpr uint8_t kSupportedPolicy = 4;
    static constexpr uint32_t kEndMarker = 0xFFFF55AA;
    // FLASH_POLICY_INFO_BLOCK: policy bits, 256-byte key, completion status.
    static constexpr size_t kPolicyBlockSize = 259;
    static constexpr size_t kPolicyStatus = 258;

    DoreMailbox(const DoreDescription& dore, const SecureFlashDescription& secureFlash)
        : dore_(dore), secureFlash_(secureFlash)
    {
    }

    void handle(ByteView buffer, nlohmann::json& detail);

    // Size of one data record of `type`; none for a type without records.
    static std::optional<uint16_t> recordSize(uint8_t type, uint16_t version);
    // The request as it lies in the buffer, for the trace.
    static nlohmann::json decode(ByteView buffer);

private:
    bool signatureKnown(ByteView buffer) const;
    void versionQuery(ByteView buffer, nlohmann::json& detail);
    void secureFlashPolicy(ByteView buffer, nlohmann::json& detail);

    const DoreDescription& dore_;
    const SecureFlashDescription& secureFlash_;
};

} // namespace fwemu

#endif
