// The "$ASF" structure of the BIOS area, read through the memory manager
// (so only while it is open), and the port it names.
#include "UniversalPlatform.h"

#include <string.h>

#include "oshook.h"
#include "../framework/QX3Types.h"

// Copies the head of the last "$ASF" structure of the BIOS area. A signature
// so close to the end of the area that its head would run past it is not a
// structure and is passed over.
int QX3_GetAsfTable(ASF_HEADER* header)
{
    bool found = false;
    unsigned char* area = MapPhyMem(BIOS_AREA_PHYS, BIOS_AREA_SIZE);
    if (area != nullptr) {
        for (unsigned int off = 0; off <= ASF_LAST_OFFSET; off++) {
            if (memcmp(area + off, ASF_SIGNATURE, 4) == 0) {
                memcpy(header, area + off, sizeof(*header));
                found = true;
            }
        }
        UnMapPhyMem(area, BIOS_AREA_SIZE);
    }
    return found ? 0 : (int)QX3_ERR_UNDEFINED;
}

// A structure naming port 0 names no port.
int QX3_GetLegacySmiPort(unsigned short* port)
{
    ASF_HEADER header;
    if (QX3_GetAsfTable(&header) == 0 && header.SmiPort != 0)
        *port = header.SmiPort;
    else
        *port = DEFAULT_SMI_PORT;
    return 0;
}
