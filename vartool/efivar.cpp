// GUID parsing, printing a value, and what the variable access shares
// between its back ends (sysfs.cpp, efivarfs.cpp): the choice of back end,
// the data-area check, a new variable's record, putting a value into a
// record and judging a write.
#include "efivar.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend.h"

int parse_guid(const char* text, EFI_GUID* guid)
{
    unsigned int f[11];
    // The text as typed names the variable's directory, so a '/' in it would
    // reach files outside that directory.
    if (strchr(text, '/') == NULL && sscanf(text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", &f[0], &f[1],
                                            &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10]) == 11) {
        guid->Data1 = f[0];
        guid->Data2 = (uint16_t)f[1];
        guid->Data3 = (uint16_t)f[2];
        for (int i = 0; i < 8; i++)
            guid->Data4[i] = (uint8_t)f[3 + i];
        return 0;
    }
    VartoolError(LIBVARTOOL_TAG, "Invalid GUID format: %s\n", text);
    return -22;
}

int ReadToEnd(int fd, unsigned char* buf, size_t size, size_t* total)
{
    *total = 0;
    while (*total < size) {
        ssize_t n = read(fd, buf + *total, size - *total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            VartoolError(LIBVARTOOL_TAG, "Failed to read file: %s\n", strerror(errno));
            return -5;
        }
        if (n == 0)
            break;
        *total += (size_t)n;
    }
    return 0;
}

int CheckDataSize(uint64_t dataSize)
{
    // A DataSize beyond the data area marks a variable that does not fit the
    // record. It is refused before anything is printed or written: printing
    // it or keeping its size would run past the data bytes.
    if (dataSize > EFIVAR_DATA_MAX) {
        VartoolError(LIBVARTOOL_TAG, "Variable size (%llu bytes) is larger than the data area (%d bytes)\n",
                     (unsigned long long)dataSize, EFIVAR_DATA_MAX);
        return -22;
    }
    return 0;
}

EFI_VARIABLE_RECORD* NewRecord(const VARTOOL_REQUEST* request)
{
    EFI_VARIABLE_RECORD* rec = (EFI_VARIABLE_RECORD*)calloc(1, sizeof(*rec));
    if (rec == NULL)
        return NULL;
    // Each character goes into the low byte of one 16-bit unit; the
    // terminator is already zero. The command line refuses longer names.
    size_t len = strlen(request->name);
    if (len > EFIVAR_NAME_MAX)
        len = EFIVAR_NAME_MAX;
    for (size_t i = 0; i < len; i++)
        rec->VariableName[i] = (uint8_t)request->name[i];
    rec->VendorGuid = request->guid;
    rec->Attributes = EFIVAR_NEW_ATTRIBUTES;
    return rec;
}

int SetRecordValue(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD* rec)
{
    if (request->keep_size) {
        if (rec->DataSize < request->size) {
            VartoolError(LIBVARTOOL_TAG, "New value is larger than original size (%lu > %llu) and keep_size=1\n",
                         (unsigned long)request->size, (unsigned long long)rec->DataSize);
            VartoolError(LIBVARTOOL_TAG, "Failed to set value\n");
            return -22;
        }
    } else {
        if (request->size > EFIVAR_DATA_MAX) {
            VartoolError(LIBVARTOOL_TAG, "Failed to set value\n");
            return -12;
        }
        rec->DataSize = request->size;
    }
    memcpy(rec->Data, request->value, request->size);
    memset(rec->Data + request->size, 0, EFIVAR_DATA_MAX - request->size);
    return 0;
}

int CheckWrite(const VARTOOL_REQUEST* request, ssize_t written, size_t expected)
{
    if (written < 0) {
        VartoolError(LIBVARTOOL_TAG, "Write failed: %s\n", strerror(errno));
        VartoolError(LIBVARTOOL_TAG, "Failed to set variable %s-%s\n", request->name, request->guid_text);
        return (int)written;
    }
    if ((size_t)written != expected) {
        VartoolError(LIBVARTOOL_TAG, "Wrote only 0x%x/0x%x bytes: %s\n", (unsigned)written, (unsigned)expected,
                     strerror(errno));
        VartoolError(LIBVARTOOL_TAG, "Failed to set variable %s-%s\n", request->name, request->guid_text);
        return -52;
    }
    return 0;
}

const EFIVAR_BACKEND* SelectBackend(void)
{
    struct stat st;
    if (stat(EFIVARS_DIR, &st) == 0 && S_ISDIR(st.st_mode))
        return &g_SysfsBackend;
    if (stat(EFIVARFS_DIR, &st) == 0 && S_ISDIR(st.st_mode))
        return &g_EfivarfsBackend;
    return &g_SysfsBackend;
}

int efivar_access(VARTOOL_REQUEST request, EFI_VARIABLE_RECORD** record)
{
    *record = NULL;
    return SelectBackend()->Access(&request, record);
}

int print_value(const EFI_VARIABLE_RECORD* record, const char* type)
{
    if (strcmp(type, "int") == 0) {
        if (record->DataSize > 8) {
            VartoolError(LIBVARTOOL_TAG,
                         "Variable size (%llu bytes) is larger than long long integer size (%d bytes)\n",
                         (unsigned long long)record->DataSize, 8);
            return -22;
        }
        // The DataSize data bytes, little-endian; bytes a record may carry
        // behind them are no part of the value.
        unsigned long long n = 0;
        for (uint64_t i = 0; i < record->DataSize; i++)
            n |= (unsigned long long)record->Data[i] << (8 * i);
        printf("%llu\n", n);
        VartoolInfo("%llu\n", n);
        return 0;
    }
    if (strcmp(type, "string") == 0) {
        // The last byte of the value is taken as its terminator, whatever it
        // holds; a value of no bytes prints as an empty line.
        uint64_t limit = record->DataSize > 0 ? record->DataSize - 1 : 0;
        if (limit > EFIVAR_DATA_MAX)
            limit = EFIVAR_DATA_MAX;
        int len = (int)strnlen((const char*)record->Data, (size_t)limit);
        printf("%.*s\n", len, (const char*)record->Data);
        VartoolInfo("%.*s\n", len, (const char*)record->Data);
        return 0;
    }
    VartoolError(LIBVARTOOL_TAG, "Value type %s is not supported.\n", type);
    return -22;
}
