// The firmware's SMI flash interface: open (0x20), flash information (0x25)
// and close (0x24). Requests and answers lie in the shared SMI buffer.
#ifndef FWEMU_FLASHINTERFACE_H
#define FWEMU_FLASHINTERFACE_H

#include <nlohmann/json.hpp>

#include "ByteView.h"
#include "PlatformDescription.h"

namespace fwemu {

class FlashInterface {
public:
    // Offsets in the shared SMI buffer.
    static constexpr size_t kOpenStatus = 16;
    static constexpr size_t kInfoSize = 0;
    static constexpr size_t kInfoStatus = 4;
    static constexpr size_t kInfoVersion = 5;
    static constexpr size_t kInfoBlockCount = 6;
    static constexpr size_t kBlockEntrySize = 9;
    // Layouts above this version start their block entries at 16, not 8.
    static constexpr uint8_t kLastShortLayout = 10;

    explicit FlashInterface(const FlashDescription& description) : description_(description) {}

    void open(ByteView buffer, nlohmann::json& detail);
    void info(ByteView buffer, nlohmann::json& detail);
    void close(ByteView buffer, nlohmann::json& detail);
    bool isOpen() const { return open_; }

private:
    const FlashDescription& description_;
    bool open_ = false;
};

} // namespace fwemu

#endif
