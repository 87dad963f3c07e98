// ACPI and "$ASF" discovery over physical memory that the input lays out
// (chunk records) on a platform whose RSDP area, BIOS area and ACPI tables
// start zeroed. Every lookup ends, and each caller ends with a non-zero port.
#include <cstdlib>

#include "FuzzPlatform.h"
#include "firmware/UniversalPlatform.h"
#include "firmware/acpihelperlnx.h"
#include "firmware/biosinfo.h"
#include "firmware/oshook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Platform platform(true);
    platform.Begin(fuzz::Input::Parse(data, size));

    RsdPtrInit = RsdtInit = XsdtInit = FadtInit = false;
    unsigned short acpi = 0;
    unsigned short legacy = 0;
    const int found = QX3_GetAcpiSmiPort(&acpi);
    QX3_GetLegacySmiPort(&legacy);
    const unsigned short system = GetSystemSmiPort();
    static unsigned char table[4096];
    QX3_GetAcpiTable(ACPI_SIG_DSDT, table, sizeof(table));
    if ((found == 0) != (acpi != 0) || legacy == 0 || system == 0)
        std::abort();
    if (g_ASFData != nullptr && (g_ASFData < m_BIOSBuf || g_ASFData + 4 > m_BIOSBuf + BIOS_AREA_SIZE))
        std::abort();
    if (m_BIOSBuf != nullptr)
        UnMapPhyMem(m_BIOSBuf, BIOS_AREA_SIZE);
    m_BIOSBuf = nullptr;
    g_ASFData = nullptr;

    platform.Finish();
    return 0;
}
