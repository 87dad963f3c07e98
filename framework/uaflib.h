// The data trailer appended to the program's own file.
#ifndef UAFLIB_H
#define UAFLIB_H

#include "QX3Types.h"

// View of the trailer's block header or of one record: signature, length.
#pragma pack(push, 1)
struct _QX3_RIZ_DATA {
    char Signature[4];
    uint32_t Length;
};
#pragma pack(pop)
static_assert(sizeof(_QX3_RIZ_DATA) == 8, "trailer record view is 8 bytes");

// Fixed part of a record before its data.
const unsigned int RIZ_HEADER_SIZE = 16;
const unsigned int RIZ_RECORD_DATA_OFFSET = 24;

extern QX3List<_QX3_RIZ_DATA*> QX3RizDataList;

int LoadRiz(int argc, char** argv);
bool FindRiz(unsigned char* bytes, unsigned int size);
void EnumAllRizData(unsigned char* bytes, unsigned char* record, unsigned int size);

#endif
