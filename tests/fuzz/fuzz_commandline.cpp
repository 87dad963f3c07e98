// The command-line scan of all 14 modules: the input's words (split at zero
// bytes) are offered to every module as the pipeline does. Parsing sends
// nothing to the firmware; a line the pipeline would execute enables at most
// one command module; a refused line is not executed (the pipeline ends on
// the usage path), so nothing else is looked at then.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Platform platform;
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += char(data[i]);
        }
    }
    if (size > 0 && data[size - 1] != 0)
        words.push_back(word);

    const unsigned before = platform.Firmware().PortWrites();
    const bool accepted = platform.ParseLine(words);
    if (platform.Firmware().PortWrites() != before)
        std::abort();
    if (accepted && platform.EnabledCommands() > 1)
        std::abort();
    return 0;
}
