// The BBS answers: GetBootOrder, then SetFirstBootOrder with the input's
// first word (else "CD-ROM"), against the input's answers (boot-mode gate,
// device count, priority list, IPL table, skip list) and description
// strings (chunk records). A list that GetBootOrder accepts names each
// device of the count the firmware answered (3/2) once.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "FuzzPlatform.h"
#include "bootcfg/flashvar.h"
#include "firmware/oshook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Platform platform;
    const fuzz::Input input = fuzz::Input::Parse(data, size);
    platform.Begin(input);
    if (platform.ParseLine({"/GetBootOrder"}) && platform.ExecuteCommands() == 0) {
        unsigned count = 0;
        for (const std::vector<uint8_t>& b : platform.Answered()) {
            SMI_CMD_BUFFER block = {};
            memcpy(&block, b.data(), std::min(b.size(), sizeof(block)));
            if (block.Class == SMI_CLASS_BBS && block.Select == SMI_SELECT_BBS_DEVICE_COUNT)
                count = block.Output[1] & 0xFF;
        }
        bool seen[256] = {false};
        for (unsigned p = 0; p < count && count <= BBS_MAX_DEVICES; p++) {
            uint8_t d = gpIntrBuf[SMI_PAYLOAD_OFFSET + p];
            if (d >= count || seen[d])
                std::abort();
            seen[d] = true;
        }
    }
    const std::string word = input.words.empty() ? "CD-ROM" : input.words[0];
    if (platform.ParseLine({"/SetFirstBootOrder", word}))
        platform.ExecuteCommands();
    platform.Finish();
    return 0;
}
