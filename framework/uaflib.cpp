// The data trailer: a 16-byte-aligned "@RIZ" block of tagged records appended
// to the program's own file, listed at start-up.
#include "uaflib.h"

#include <string.h>

#include "FileIO.h"
#include "../firmware/oshook.h"
#include "../platform/platformlnx.h"

QX3List<_QX3_RIZ_DATA*> QX3RizDataList;

static const char RIZ_SIGNATURE[4] = {'@', 'R', 'I', 'Z'};

int LoadRiz(int argc, char** argv)
{
    QX3RizDataList.init();

    // Without a program path there is no own file to open.
    if (argc < 1 || argv[0] == nullptr)
        return QX3_ERR_OPEN_FILE;
    char* path = GetCurrentFilePath(argc, argv[0]);
    if (path == nullptr)
        return QX3_ERR_ALLOC_MEM;

    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    int result = QueryFileHub(path, &bytes, size);
    if (result != QX3_SUCCESS) {
        FreeMem((unsigned char*)path);
        return result;
    }

    if (FindRiz(bytes, size)) {
        unsigned char* header = (unsigned char*)QX3RizDataList[0];
        unsigned char* first = header + RIZ_HEADER_SIZE;
        if (first < bytes + size)
            EnumAllRizData(bytes, first, size);
    }
    FreeMem((unsigned char*)path);
    return QX3_SUCCESS;
}

// Scans backwards in 16-byte steps for the block signature; offset 0 is never
// looked at, and the last block in the file wins.
bool FindRiz(unsigned char* bytes, unsigned int size)
{
    unsigned int offset = size - size % 16;
    while (offset != 0) {
        if (offset + sizeof(RIZ_SIGNATURE) <= size &&
            memcmp(bytes + offset, RIZ_SIGNATURE, sizeof(RIZ_SIGNATURE)) == 0) {
            QX3RizDataList.push_back((_QX3_RIZ_DATA*)(bytes + offset));
            return true;
        }
        offset -= 16;
    }
    return false;
}

// Lists the records from the first one to the end of the file. A record whose
// length is 0, or whose header or length would carry the walk past the end of
// the file, ends the walk without being listed.
void EnumAllRizData(unsigned char* bytes, unsigned char* record, unsigned int size)
{
    unsigned char* end = bytes + size;
    while (record < end) {
        if ((unsigned int)(end - record) < sizeof(_QX3_RIZ_DATA))
            return;
        uint32_t length;
        memcpy(&length, record + 4, sizeof(length));
        if (length == 0 || length > (uint32_t)(end - record))
            return;
        QX3RizDataList.push_back((_QX3_RIZ_DATA*)record);
        record += length;
    }
}
