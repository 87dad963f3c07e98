// tessvin: the kernel interfaces that serve EFI variables. Each back end
// reads, rewrites or creates one variable through its interface and fills
// the same in-memory EFI_VARIABLE_RECORD, so that printing a value and the
// -k rule are shared. SelectBackend picks the one the running kernel offers.
#ifndef VARTOOL_BACKEND_H
#define VARTOOL_BACKEND_H

#include <stddef.h>
#include <sys/types.h>

#include "efivar.h"

typedef struct {
    const char* Name;
    // efivar_access through this interface: on success 0 and the record
    // block in *record (the caller frees it); on failure a negative code,
    // the messages written, and *record left null.
    int (*Access)(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD** record);
} EFIVAR_BACKEND;

// The sysfs record interface under EFIVARS_DIR (sysfs.cpp).
extern const EFIVAR_BACKEND g_SysfsBackend;
// The efivarfs file system under EFIVARFS_DIR (efivarfs.cpp).
extern const EFIVAR_BACKEND g_EfivarfsBackend;

// The sysfs interface when EFIVARS_DIR is a directory; otherwise efivarfs
// when EFIVARFS_DIR is one; otherwise the sysfs interface, whose missing
// files give the usual stat failure.
const EFIVAR_BACKEND* SelectBackend(void);

// Helpers both back ends share (efivar.cpp).

// Refuses a DataSize beyond the data area with "Variable size (N bytes) is
// larger than the data area (1024 bytes)": -22, else 0.
int CheckDataSize(uint64_t dataSize);
// Reads from fd until `size` bytes are in buf or the file ends; *total is
// the count read. A read error writes "Failed to read file" and gives -5.
int ReadToEnd(int fd, unsigned char* buf, size_t size, size_t* total);
// A zero-filled record for a variable that does not exist yet: the request's
// name and GUID, attributes EFIVAR_NEW_ATTRIBUTES. Null when out of memory.
EFI_VARIABLE_RECORD* NewRecord(const VARTOOL_REQUEST* request);
// Puts the request's value into the record's Data from byte 0 and zero-fills
// the rest of the data area. With -k the value must fit the kept DataSize
// (else -22); without -k DataSize becomes the value's size (above the data
// area: -12). Writes the messages of a refusal.
int SetRecordValue(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD* rec);
// The messages and code of a write that returned `written` of `expected`
// bytes: 0 when all were written, the write's -1 when it failed, -52 when it
// was short.
int CheckWrite(const VARTOOL_REQUEST* request, ssize_t written, size_t expected);

#endif
