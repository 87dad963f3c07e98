// File hub: each file is read once per run and served from memory after.
#ifndef FILEIO_H
#define FILEIO_H

#include <stdio.h>
#include "QX3Types.h"

struct FILE_HUB_ITEM {
    char* path;
    unsigned char* data;
    unsigned int size;

    bool operator==(const FILE_HUB_ITEM& other) const;
};

extern QX3List<FILE_HUB_ITEM*> FileHubList;

FILE* QX3_OpenFile(const char* path, unsigned int mode);
int QX3_GetFileSize(FILE* stream);
int QX3_ReadFile(FILE* stream, unsigned int offset, unsigned int length, unsigned char* buffer);
int QX3_CloseFile(FILE* stream);

void InitializeFileHub();
int QueryFileHub(char* path, unsigned char** data, unsigned int& size);
unsigned char* CheckFileBufferList(char* path, unsigned int& size);
void AddNewItemToHub(char* path, unsigned char* data, unsigned int size);
void CleanUpFileHub();

#endif
