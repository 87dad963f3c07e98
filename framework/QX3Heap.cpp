// The program's operator new and delete: plain malloc and free. A failed
// allocation cannot be reported to the caller (the program runs without C++
// exceptions), so it ends the run the way every other out-of-memory failure
// does: code 0x22 and the platform shutdown, which prints the error line,
// cleans up and exits with the code.
//
// Only the throwing forms are defined: the product code uses no others.
// Linked into the ZORVIK executables only: the unit tests keep the C++
// runtime's own operators, since their frameworks rely on exceptions.
#include <stddef.h>
#include <stdlib.h>

#include "Main.h"
#include "../platform/platformlnx.h"

namespace {

void* AllocOrEndRun(size_t size)
{
    void* block = malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        g_LastErrorCode = QX3_ERR_ALLOC_MEM;
        PlatformFinalize(ArgvItemList);
    }
    return block;
}

} // namespace

void* operator new(size_t size)
{
    return AllocOrEndRun(size);
}
void* operator new[](size_t size)
{
    return AllocOrEndRun(size);
}
void operator delete(void* block) noexcept
{
    free(block);
}
void operator delete[](void* block) noexcept
{
    free(block);
}
void operator delete(void* block, size_t) noexcept
{
    free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    free(block);
}
