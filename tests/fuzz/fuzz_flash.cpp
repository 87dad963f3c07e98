// The flash-interface and secure-flash answers: the BIOS information and
// secure-flash modules run against the input's answers (open, flash
// information, DORE requests), then the flash interface is closed.
#include "FuzzPlatform.h"
#include "framework/Main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Platform platform;
    platform.Begin(fuzz::Input::Parse(data, size));
    // The BIOS information module, then the secure-flash module.
    for (unsigned i = 0; i < 2; i++) {
        if (QueueItemList[i]->ExecutionAction(QueueItemList) != 0)
            break;
    }
    if (CleanFlashIfcHook != nullptr)
        CleanFlashIfcHook();
    CleanFlashIfcHook = nullptr;
    platform.Finish();
    return 0;
}
