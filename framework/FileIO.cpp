// File hub: a file is read into memory on its first request and served from
// memory for every later request under the same path string.
#include "FileIO.h"

#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include "Main.h"
#include "../firmware/oshook.h"

QX3List<FILE_HUB_ITEM*> FileHubList;

bool FILE_HUB_ITEM::operator==(const FILE_HUB_ITEM& other) const
{
    return strcmp(path, other.path) == 0;
}

FILE* QX3_OpenFile(const char* path, unsigned int mode)
{
    const char* how = "rb";
    if (mode == 1)
        how = "wb";
    else if (mode == 2)
        how = "r+b";
    return fopen(path, how);
}

int QX3_GetFileSize(FILE* stream)
{
    long here = ftell(stream);
    fseek(stream, 0, SEEK_END);
    long size = ftell(stream);
    fseek(stream, here, SEEK_SET);
    return (int)size;
}

int QX3_ReadFile(FILE* stream, unsigned int offset, unsigned int length, unsigned char* buffer)
{
    fseek(stream, (long)offset, SEEK_SET);
    return (int)fread(buffer, 1, length, stream);
}

int QX3_CloseFile(FILE* stream)
{
    return fclose(stream);
}

void InitializeFileHub()
{
    CleanUpFileHubHook = CleanUpFileHub;
    FileHubList.init();
}

int QueryFileHub(char* path, unsigned char** data, unsigned int& size)
{
    *data = CheckFileBufferList(path, size);
    if (*data != nullptr)
        return QX3_SUCCESS;

    FILE* stream = QX3_OpenFile(path, 0);
    if (stream == nullptr)
        return QX3_ERR_OPEN_FILE;

    // Only a regular file of a size that the int length holds can be read
    // in full: a directory or a device has no such size (on some file
    // systems a directory reports 0), and a larger size would be cut.
    struct stat st;
    if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (off_t)INT_MAX) {
        QX3_CloseFile(stream);
        return QX3_ERR_READ_FILE;
    }
    int length = QX3_GetFileSize(stream);
    if (length < 0) {
        QX3_CloseFile(stream);
        return QX3_ERR_READ_FILE;
    }
    *data = AllocMem((unsigned int)length + 1);
    if (*data == nullptr) {
        QX3_CloseFile(stream);
        return QX3_ERR_ALLOC_MEM;
    }
    if (QX3_ReadFile(stream, 0, (unsigned int)length, *data) != length) {
        QX3_CloseFile(stream);
        FreeMem(*data);
        *data = nullptr;
        return QX3_ERR_READ_FILE;
    }
    AddNewItemToHub(path, *data, (unsigned int)length);
    size = (unsigned int)length;
    QX3_CloseFile(stream);
    return QX3_SUCCESS;
}

unsigned char* CheckFileBufferList(char* path, unsigned int& size)
{
    for (unsigned int i = 0; i < FileHubList.size(); i++) {
        FILE_HUB_ITEM* item = FileHubList[i];
        if (strcmp(item->path, path) == 0) {
            size = item->size;
            return item->data;
        }
    }
    return nullptr;
}

void AddNewItemToHub(char* path, unsigned char* data, unsigned int size)
{
    unsigned int length = (unsigned int)strlen(path);
    char* copy = (char*)AllocMem(length + 1);
    if (copy == nullptr)
        return;
    memcpy(copy, path, length);
    FILE_HUB_ITEM* item = new FILE_HUB_ITEM;
    item->path = copy;
    item->data = data;
    item->size = size;
    FileHubList.push_back(item);
}

// Deletes the items; their path copies and data stay until the process ends.
void CleanUpFileHub()
{
    for (unsigned int i = 0; i < FileHubList.size(); i++)
        delete FileHubList[i];
    FileHubList.clear();
}
