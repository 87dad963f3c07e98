// Passing the shared buffer's address through the BIOS area.
#ifndef SHADOWIFC_H
#define SHADOWIFC_H

void ShadowFlash();

#endif
