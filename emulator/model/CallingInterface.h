// The calling interface behind SMI 0x0D on port 0xB2: a 36-byte request block
// (class, select, four inputs, four outputs) at the start of the shared SMI
// buffer, payload behind it. Requests are served by handlers registered per
// class and select; a request without a handler, or whose handler declines,
// is left as the program wrote it, so its status stays at the -2 it preset.
#ifndef FWEMU_CALLINGINTERFACE_H
#define FWEMU_CALLINGINTERFACE_H

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include <nlohmann/json.hpp>

#include "ByteView.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"

namespace fwemu {

struct CallRequest {
    uint16_t cls = 0;
    uint16_t select = 0;
    std::array<uint32_t, 4> input{};
};

// The request block's four outputs, indexed as the program indexes them:
// output[0] is the status (0 success, -2 not handled), output[1..3] results.
struct CallAnswer {
    std::array<uint32_t, 4> output{};

    int32_t status() const { return int32_t(output[0]); }
    void setStatus(int32_t status) { output[0] = uint32_t(status); }
};

// What a handler may look at and change: the request, the whole buffer (for
// payloads), physical memory (for addresses carried in the inputs) and the
// platform description, whose state is written back by --save.
struct CallContext {
    const CallRequest& request;
    ByteView buffer;
    uint64_t bufferAddress;
    PhysicalMemory& memory;
    PlatformDescription& platform;
    nlohmann::json& detail; // extra trace fields
};

// Returns true when it handled the request; `answer` starts as the block's
// current outputs.
using CallHandler = std::function<bool(CallContext&, CallAnswer&)>;

class CallingInterface {
public:
    static constexpr size_t kBlockSize = 36;
    static constexpr size_t kClass = 0;
    static constexpr size_t kSelect = 2;
    static constexpr size_t kInput = 4;
    static constexpr size_t kOutput = 20;
    static constexpr int32_t kNotHandled = -2;

    // Replaces any handler of the same class and select.
    void registerHandler(uint16_t cls, uint16_t select, CallHandler handler);
    bool handles(uint16_t cls, uint16_t select) const;

    void handle(ByteView buffer, uint64_t bufferAddress, PhysicalMemory& memory, PlatformDescription& platform,
                nlohmann::json& detail);

    static CallRequest readRequest(ByteView buffer);

private:
    std::map<std::pair<uint16_t, uint16_t>, CallHandler> handlers_;
};

} // namespace fwemu

#endif
