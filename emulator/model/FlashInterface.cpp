#include "FlashInterface.h"

namespace fwemu {

void FlashInterface::open(ByteView buffer, nlohmann::json& detail)
{
    detail["request"] = {{"status", buffer.u8(kOpenStatus)}};
    if (!description_.openStatus) {
        detail["answered"] = false;
        return;
    }
    const uint8_t status = *description_.openStatus;
    buffer.setU8(kOpenStatus, status);
    // 1 write-protected, 2 no power cord, 3 platform condition: refused.
    const bool refused = status >= 1 && status <= 3;
    if (!refused)
        open_ = true;
    detail["answered"] = true;
    detail["answer"] = {{"status", status}, {"open", open_}};
}

void FlashInterface::info(ByteView buffer, nlohmann::json& detail)
{
    detail["request"] = {{"size", buffer.u32(kInfoSize)}, {"status", buffer.u8(kInfoStatus)}};
    detail["open"] = open_;
    if (!description_.info) {
        detail["answered"] = false;
        return;
    }
    const FlashInfoAnswer& answer = *description_.info;
    buffer.setU8(kInfoStatus, answer.status);
    buffer.setU8(kInfoVersion, answer.version);
    buffer.setU16(kInfoBlockCount, uint16_t(answer.blocks.size()));
    size_t at = answer.version > kLastShortLayout ? 16 : 8;
    if (at == 16)
        buffer.fill(8, 8, 0);
    for (const FlashBlock& block : answer.blocks) {
        buffer.setU32(at, block.start);
        buffer.setU32(at + 4, block.size);
        buffer.setU8(at + 8, block.type);
        at += kBlockEntrySize;
    }
    if (description_.fps) {
        buffer.setBytes(description_.fps->offset, "$FPS", 4);
        buffer.fill(description_.fps->offset + 4, 4, 0);
        buffer.setText(description_.fps->offset + 8, description_.fps->name);
    }
    if (description_.bpt) {
        buffer.setBytes(description_.bpt->offset, "$BPT", 4);
        buffer.setU8(description_.bpt->offset + 4, description_.bpt->length);
        buffer.setU8(description_.bpt->offset + 5, description_.bpt->mark ? 'V' : 0);
    }
    detail["answered"] = true;
    detail["answer"] = {{"status", answer.status}, {"version", answer.version}, {"blocks", answer.blocks.size()}};
}

void FlashInterface::close(ByteView, nlohmann::json& detail)
{
    detail["was_open"] = open_;
    open_ = false;
}

} // namespace fwemu
