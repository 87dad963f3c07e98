// The firmware's runtime memory hole as the provider of physical buffers.
#ifndef RUNTIMEMEMORYHOLE_H
#define RUNTIMEMEMORYHOLE_H

#include <stdint.h>

#include "../framework/QX3Types.h"

// SMI code of the memory-hole query; the answer comes back in EBX.
#define SMI_GET_MEMORY_HOLE 0x7F

extern uint16_t SmiPort;
extern uint32_t RuntimeMemoryHoleAddress;

uint32_t GetMemoryHoleLocation(unsigned short port, unsigned char code);
bool QX3_RuntimeMemoryHoleLoader(QX3_ARGV_LIST& args, unsigned int loaded);
void QX3_RuntimeMemoryHoleUnloader(QX3_ARGV_LIST& args);
bool _AllocRuntimeMemoryHole(unsigned int size, unsigned int* phys, unsigned char** virt);
bool _DeallocRuntimeMemoryHole(unsigned int phys, unsigned int size);

#endif
