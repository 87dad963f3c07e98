#include "DoreMailbox.h"

#include <algorithm>

namespace fwemu {

namespace {

constexpr size_t kExtension = DoreMailbox::kHeaderSize; // type, count, record size
constexpr size_t kRecords = kExtension + 4;

std::string printable(ByteView buffer, size_t offset, size_t length)
{
    std::string s;
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = buffer.u8(offset + i);
        s.push_back(c >= 0x20 && c < 0x7F ? char(c) : '.');
    }
    return s;
}

size_t nonZeroBytes(ByteView buffer, size_t from, size_t except)
{
    size_t n = 0;
    for (size_t i = from; i < buffer.size(); ++i)
        if (i != except && buffer.data()[i] != 0)
            ++n;
    return n;
}

} // namespace

std::optional<uint16_t> DoreMailbox::recordSize(uint8_t type, uint16_t version)
{
    switch (type) {
    case 0x50:
        return 20;
    case 0x51:
        return 8;
    case 0x52:
        return 4;
    case 0x53:
        return 14;
    case 0x54:
        return 11;
    case 0x55:
        return version <= 0x20F ? 18 : 30;
    case 0x56:
        return 2;
    case 0x57:
        return 12;
    case 0x58:
        return 4;
    case 0x5A:
        return 20;
    case 0x5B:
        return 2;
    case 0x5C:
        return 68;
    case 0x70:
        return 2;
    default:
        return std::nullopt;
    }
}

nlohmann::json DoreMailbox::decode(ByteView buffer)
{
    nlohmann::json d;
    d["signature"] = printable(buffer, 0, 4);
    d["version"] = buffer.u16(kVersion);
    d["offset"] = buffer.u16(kRunningOffset);
    d["function"] = buffer.u32(kFunction);
    d["status"] = buffer.u16(kStatus);
    d["descriptor_size"] = buffer.u16(kDescriptorSize);
    d["platform"] = buffer.u16(kPlatformType);
    d["type"] = buffer.u8(kExtension);
    d["count"] = buffer.u8(kExtension + 1);
    d["record_size"] = buffer.u16(kExtension + 2);
    // What the type table says one record of this type measures, so that a
    // header with a wrong size stands out.
    const std::optional<uint16_t> expected = recordSize(buffer.u8(kExtension), buffer.u16(kVersion));
    d["table_record_size"] = expected ? nlohmann::json(*expected) : nlohmann::json(nullptr);
    const size_t recordBytes = size_t(buffer.u8(kExtension + 1)) * buffer.u16(kExtension + 2);
    d["records"] = buffer.hex(kRecords, std::min<size_t>(recordBytes, 64));
    if (buffer.fits(kRecords + recordBytes, 4))
        d["end_marker"] = buffer.u32(kRecords + recordBytes);
    d["bytes"] = buffer.hex(0, std::min<size_t>(buffer.u16(kRunningOffset), 64));
    return d;
}

// Two spellings of the signature are accepted: "DORE" and the byte sequence
// 4F 46 42 44 ("OFBD"). The trace records which one a request carried.
bool DoreMailbox::signatureKnown(ByteView buffer) const
{
    return buffer.hasSignature(0, "DORE") || buffer.hasSignature(0, "OFBD");
}

void DoreMailbox::handle(ByteView buffer, nlohmann::json& detail)
{
    detail["request"] = decode(buffer);
    bool handled = false;
    if (dore_.present && signatureKnown(buffer)) {
        const uint32_t function = buffer.u32(kFunction);
        const uint8_t type = buffer.u8(kExtension);
        if (function == 0 && type == 0) {
            detail["request"]["stray_bytes"] = nonZeroBytes(buffer, buffer.u16(kRunningOffset), SIZE_MAX);
            versionQuery(buffer, detail);
            handled = true;
        } else if (function == kSecureFlashFunction && type == kSecureFlashType &&
                   buffer.u8(kRecords) == kSupportedPolicy) {
            secureFlashPolicy(buffer, detail);
            handled = true;
        }
    }
    detail["handled"] = handled;
    if (handled)
        detail["answer"]["status"] = buffer.u16(kStatus);
}

void DoreMailbox::versionQuery(ByteView buffer, nlohmann::json& detail)
{
    uint16_t status = buffer.u16(kStatus) | kHandled;
    if (dore_.error)
        status |= kError;
    buffer.setU16(kStatus, status);
    buffer.setU16(kVersion, dore_.version);
    detail["kind"] = "version";
    detail["answer"] = {{"version", dore_.version}};
}

void DoreMailbox::secureFlashPolicy(ByteView buffer, nlohmann::json& detail)
{
    detail["kind"] = "secure_flash_policy";
    // The answer area starts where the request ends.
    const size_t area = buffer.u16(kRunningOffset);
    ByteView block = buffer.sub(area, kPolicyBlockSize);
    detail["request"]["answer_status_preset"] = block.u8(kPolicyStatus);
    detail["request"]["stray_bytes"] = nonZeroBytes(buffer, area, area + kPolicyStatus);

    uint16_t status = buffer.u16(kStatus) | kHandled;
    if (dore_.error)
        status |= kError;
    nlohmann::json answer = {{"delivered", secureFlash_.delivered}};
    if (secureFlash_.delivered) {
        block.setU16(0, secureFlash_.policy);
        for (size_t i = 0; i < 256; ++i)
            block.setU8(2 + i, uint8_t(i));
        block.setU8(kPolicyStatus, 0);
        answer["policy"] = secureFlash_.policy;
    }
    if (secureFlash_.message) {
        // The running offset now locates the message text.
        status |= kMessage;
        buffer.setText(secureFlash_.messageOffset, *secureFlash_.message);
        buffer.setU16(kRunningOffset, secureFlash_.messageOffset);
        answer["message"] = *secureFlash_.message;
    }
    buffer.setU16(kStatus, status);
    detail["answer"] = answer;
}

} // namespace fwemu
