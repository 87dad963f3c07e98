// tessvin: records shared with the kernel's sysfs EFI variable interface,
// the request the command line hands to the variable access, and the
// functions of libtessvin.
#ifndef VARTOOL_EFIVAR_H
#define VARTOOL_EFIVAR_H

#include <stddef.h>
#include <stdint.h>

// Directory of the sysfs EFI variable interface.
#define EFIVARS_DIR "/sys/firmware/efi/vars"
// Mount point of efivarfs, the interface of current kernels: one file
// <name>-<GUID> per variable.
#define EFIVARFS_DIR "/sys/firmware/efi/efivars"

// Longest variable name, in characters, without the terminator.
#define EFIVAR_NAME_MAX 511
// Bytes of the record's data area.
#define EFIVAR_DATA_MAX 1024
// Attributes of a new variable: non-volatile, boot-service access,
// runtime access.
#define EFIVAR_NEW_ATTRIBUTES 7u

#pragma pack(push, 1)

// A vendor GUID in the EFI layout (little-endian fields on x86).
typedef struct {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} EFI_GUID;

// One variable as raw_var shows it and as raw_var / new_var take it: the
// kernel's layout with 64-bit size and status fields. The efivarfs back end
// fills the same record from its file (Status stays 0).
typedef struct {
    uint16_t VariableName[EFIVAR_DATA_MAX / 2]; // UTF-16LE, zero-terminated
    EFI_GUID VendorGuid;
    uint64_t DataSize; // valid bytes in Data
    uint8_t Data[EFIVAR_DATA_MAX];
    uint64_t Status;
    uint32_t Attributes;
} EFI_VARIABLE_RECORD;

#pragma pack(pop)

static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID must be 16 bytes");
static_assert(sizeof(EFI_VARIABLE_RECORD) == 2084, "EFI_VARIABLE_RECORD must match the kernel's 2084-byte record");
static_assert(offsetof(EFI_VARIABLE_RECORD, VendorGuid) == 1024, "VendorGuid offset");
static_assert(offsetof(EFI_VARIABLE_RECORD, DataSize) == 1040, "DataSize offset");
static_assert(offsetof(EFI_VARIABLE_RECORD, Data) == 1048, "Data offset");
static_assert(offsetof(EFI_VARIABLE_RECORD, Status) == 2072, "Status offset");
static_assert(offsetof(EFI_VARIABLE_RECORD, Attributes) == 2080, "Attributes offset");

// What the command line asks of efivar_access. Starts zero-filled.
typedef struct {
    EFI_GUID guid;        // parsed from -g
    char* guid_text;      // -g exactly as typed; names the variable's directory or file
    char* name;           // -n
    unsigned char* value; // bytes to write (owned by the caller), null to read
    char* type;           // -t
    uint32_t size;        // number of value bytes to write
    bool keep_size;       // -k
} VARTOOL_REQUEST;

// Log tags: the command line's messages, and those of the library.
#define VARTOOL_TAG "tessvin"
#define LIBVARTOOL_TAG "libtessvin"

// The two log writers have C linkage: the fuzzers replace them at link time
// by their plain names.
extern "C" {
// Writes one message once to standard error and once to the log (Android
// log at error priority, elsewhere the system log), under the given tag.
void VartoolError(const char* tag, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Writes a printed value to the log at information priority under
// LIBVARTOOL_TAG (standard output is the caller's business).
void VartoolInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
}

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" into *guid. Returns 0, or
// -22 after "Invalid GUID format" when a field is missing or the text holds
// a '/', which could lead the sysfs path out of the variable's directory.
int parse_guid(const char* text, EFI_GUID* guid);

// Converts the -s text into the bytes to write, for the type "int", "int16"
// or "string". On success *value is a heap block owned by the caller and
// *size the number of bytes to write. Returns 0; -22 or -12 after a message;
// VARTOOL_UNSUPPORTED_TYPE after "value-type ... is not supported" (the
// caller then prints the usage).
#define VARTOOL_UNSUPPORTED_TYPE 1
int BuildValue(const char* type, const char* text, bool keep_size, unsigned char** value, uint32_t* size);

// Reads the variable (request.value null) or writes it, creating it when it
// does not exist, through the interface the kernel offers (SelectBackend in
// backend.h). On success returns 0 and hands the record block to *record
// (the caller frees it); on failure returns a negative code and leaves
// *record null.
int efivar_access(VARTOOL_REQUEST request, EFI_VARIABLE_RECORD** record);

// Prints the value of a record read by efivar_access as "int" or "string".
// Returns 0, or -22 when the type is not printable or the value does not fit.
int print_value(const EFI_VARIABLE_RECORD* record, const char* type);

#endif
