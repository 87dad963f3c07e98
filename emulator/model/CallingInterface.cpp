#include "CallingInterface.h"

namespace fwemu {

void CallingInterface::registerHandler(uint16_t cls, uint16_t select, CallHandler handler)
{
    handlers_[{cls, select}] = std::move(handler);
}

bool CallingInterface::handles(uint16_t cls, uint16_t select) const
{
    return handlers_.count({cls, select}) != 0;
}

CallRequest CallingInterface::readRequest(ByteView buffer)
{
    CallRequest r;
    r.cls = buffer.u16(kClass);
    r.select = buffer.u16(kSelect);
    for (size_t i = 0; i < 4; ++i)
        r.input[i] = buffer.u32(kInput + 4 * i);
    return r;
}

void CallingInterface::handle(ByteView buffer, uint64_t bufferAddress, PhysicalMemory& memory,
                              PlatformDescription& platform, nlohmann::json& detail)
{
    const CallRequest request = readRequest(buffer);
    detail["class"] = request.cls;
    detail["select"] = request.select;
    detail["inputs"] = request.input;

    bool handled = false;
    auto it = handlers_.find({request.cls, request.select});
    if (it != handlers_.end()) {
        CallAnswer answer;
        for (size_t i = 0; i < answer.output.size(); ++i)
            answer.output[i] = buffer.u32(kOutput + 4 * i);
        CallContext context{request, buffer, bufferAddress, memory, platform, detail};
        handled = it->second(context, answer);
        if (handled) {
            for (size_t i = 0; i < answer.output.size(); ++i)
                buffer.setU32(kOutput + 4 * i, answer.output[i]);
        }
    }
    detail["handled"] = handled;
    detail["status"] = int32_t(buffer.u32(kOutput));
    detail["outputs"] = {buffer.u32(kOutput + 4), buffer.u32(kOutput + 8), buffer.u32(kOutput + 12)};
}

} // namespace fwemu
