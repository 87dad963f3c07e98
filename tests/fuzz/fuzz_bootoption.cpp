// The boot option list text and the label/loader narrowing and widening:
// GetBootOption against the input's answers, then AddBootOption,
// DelBootOption and SetFirstBootOption with the input's words as label and
// loader (else "Recovery" and "\EFI\recovery.efi").
#include "FuzzPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Platform platform;
    const fuzz::Input input = fuzz::Input::Parse(data, size);
    platform.Begin(input);
    const std::string label = input.words.size() > 0 ? input.words[0] : "Recovery";
    const std::string loader = input.words.size() > 1 ? input.words[1] : "\\EFI\\recovery.efi";
    const std::vector<std::vector<std::string>> lines = {
        {"/GetBootOption"},
        {"/AddBootOption", label, loader},
        {"/DelBootOption", label},
        {"/SetFirstBootOption", label},
    };
    for (const std::vector<std::string>& line : lines) {
        if (platform.ParseLine(line))
            platform.ExecuteCommands();
    }
    platform.Finish();
    return 0;
}
