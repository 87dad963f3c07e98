// Runtime memory hole: a buffer the firmware keeps reserved at run time.
// When the firmware reports one, it backs every physical buffer of the run
// and the helper module is neither built nor loaded.
#include "RuntimeMemoryHole.h"

#include "acpihelperlnx.h"
#include "oshook.h"
#include "UniversalPlatform.h"

uint16_t SmiPort = 0;
uint32_t RuntimeMemoryHoleAddress = 0;

// The hole's mapping.
static PHYS_BUFFER_WINDOW HoleWindow;

// Raises the query SMI itself: EBX 0 at the write, the hole's physical
// address (0 for none) in EBX afterwards.
uint32_t GetMemoryHoleLocation(unsigned short port, unsigned char code)
{
    return OutPortByteReadEbx(port, code);
}

// Runs before the memory manager is open, so the legacy lookup cannot map
// the BIOS area and yields the default port when ACPI names none.
bool QX3_RuntimeMemoryHoleLoader(QX3_ARGV_LIST& /*args*/, unsigned int loaded)
{
    if (QX3_GetAcpiSmiPort(&SmiPort) != 0)
        QX3_GetLegacySmiPort(&SmiPort);

    if (loaded == 0) {
        RuntimeMemoryHoleAddress = GetMemoryHoleLocation(SmiPort, SMI_GET_MEMORY_HOLE);
        if (RuntimeMemoryHoleAddress != 0) {
            AllocPhyMemImpl = _AllocRuntimeMemoryHole;
            FreePhyMemImpl = _DeallocRuntimeMemoryHole;
        }
    }
    return RuntimeMemoryHoleAddress != 0;
}

void QX3_RuntimeMemoryHoleUnloader(QX3_ARGV_LIST& /*args*/)
{
}

// Every call hands out the same buffer: the hole is mapped once, with the
// size of the first call, and its address is passed on as the firmware
// reported it.
bool _AllocRuntimeMemoryHole(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    bool mapped = MapBufferWindow(&HoleWindow, RuntimeMemoryHoleAddress, size);
    *phys = RuntimeMemoryHoleAddress;
    *virt = HoleWindow.Virt;
    return mapped;
}

// Releases the mapping (the hole stays known, so a later allocation maps it
// again). The whole mapping is released, whatever size is given.
bool _DeallocRuntimeMemoryHole(unsigned int /*phys*/, unsigned int /*size*/)
{
    return UnmapBufferWindow(&HoleWindow);
}
