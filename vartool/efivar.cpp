// Variable access through the kernel's sysfs EFI variable interface: each
// variable is a directory EFIVARS_DIR/<name>-<GUID>/ whose raw_var holds the
// whole EFI_VARIABLE_RECORD; a record written to EFIVARS_DIR/new_var creates
// a variable. Reads and writes always move the whole record.
#include "efivar.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int parse_guid(const char *text, EFI_GUID *guid) {
  unsigned int f[11];
  // The text as typed names the variable's directory, so a '/' in it would
  // reach files outside that directory.
  if (strchr(text, '/') == NULL &&
      sscanf(text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", &f[0], &f[1], &f[2], &f[3], &f[4],
             &f[5], &f[6], &f[7], &f[8], &f[9], &f[10]) == 11) {
    guid->Data1 = f[0];
    guid->Data2 = (uint16_t)f[1];
    guid->Data3 = (uint16_t)f[2];
    for (int i = 0; i < 8; i++) guid->Data4[i] = (uint8_t)f[3 + i];
    return 0;
  }
  vartool_error(LIBVARTOOL_TAG, "Invalid GUID format: %s\n", text);
  return -22;
}

namespace {

// A DataSize beyond the data area marks a record that is not valid. It is
// refused before anything is printed or written: printing it or keeping its
// size would run past the data bytes.
int CheckDataSize(const EFI_VARIABLE_RECORD *rec) {
  if (rec->DataSize > EFIVAR_DATA_MAX) {
    vartool_error(LIBVARTOOL_TAG,
                  "Variable size (%llu bytes) is larger than the data area (%d bytes)\n",
                  (unsigned long long)rec->DataSize, EFIVAR_DATA_MAX);
    return -22;
  }
  return 0;
}

// A zero-filled record for a variable that does not exist yet.
EFI_VARIABLE_RECORD *NewRecord(const VARTOOL_REQUEST *request) {
  EFI_VARIABLE_RECORD *rec = (EFI_VARIABLE_RECORD *)calloc(1, sizeof(*rec));
  if (rec == NULL) return NULL;
  // Each character goes into the low byte of one 16-bit unit; the
  // terminator is already zero. The command line refuses longer names.
  size_t len = strlen(request->name);
  if (len > EFIVAR_NAME_MAX) len = EFIVAR_NAME_MAX;
  for (size_t i = 0; i < len; i++) rec->VariableName[i] = (uint8_t)request->name[i];
  rec->VendorGuid = request->guid;
  rec->Attributes = EFIVAR_NEW_ATTRIBUTES;
  return rec;
}

// Reads the whole raw_var of an existing variable into a block of the size
// stat reports. On success *out is the record and *fd stays open for the
// write that may follow.
int ReadRecord(const char *path, const struct stat *st, EFI_VARIABLE_RECORD **out, int *fd) {
  size_t block = 0;
  unsigned char *buf = NULL;
  if ((uint64_t)st->st_size <= SIZE_MAX) {
    block = (size_t)st->st_size;
    buf = (unsigned char *)malloc(block > 0 ? block : 1);
  } else {
    errno = ENOMEM;
  }
  if (buf == NULL) {
    vartool_error(LIBVARTOOL_TAG, "Failed to allocate buffer: %s\n", strerror(errno));
    return -12;
  }
  *out = (EFI_VARIABLE_RECORD *)buf;

  *fd = open(path, O_RDWR | O_CLOEXEC);
  if (*fd < 0) {
    vartool_error(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
    return -5;
  }
  size_t total = 0;
  while (total < block) {
    ssize_t n = read(*fd, buf + total, block - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      vartool_error(LIBVARTOOL_TAG, "Failed to read file: %s\n", strerror(errno));
      return -5;
    }
    if (n == 0) break;
    total += (size_t)n;
  }
  if (total != sizeof(EFI_VARIABLE_RECORD)) {
    vartool_error(LIBVARTOOL_TAG, "EFI variable size is inconsistent with internal definition\n");
    return -5;
  }
  return CheckDataSize(*out);
}

// Puts the request's value into the record and writes the record to fd.
int WriteValue(const VARTOOL_REQUEST *request, EFI_VARIABLE_RECORD *rec, int fd, bool created) {
  if (request->keep_size) {
    if (rec->DataSize < request->size) {
      vartool_error(LIBVARTOOL_TAG,
                    "New value is larger than original size (%lu > %llu) and keep_size=1\n",
                    (unsigned long)request->size, (unsigned long long)rec->DataSize);
      vartool_error(LIBVARTOOL_TAG, "Failed to set value\n");
      return -22;
    }
  } else {
    if (request->size > EFIVAR_DATA_MAX) {
      vartool_error(LIBVARTOOL_TAG, "Failed to set value\n");
      return -12;
    }
    rec->DataSize = request->size;
  }
  memcpy(rec->Data, request->value, request->size);
  memset(rec->Data + request->size, 0, EFIVAR_DATA_MAX - request->size);

  // raw_var is rewritten from its start: sysfs ignores the file position,
  // and a plain file serving the same record format would otherwise get the
  // new record appended after the old one.
  errno = 0;
  ssize_t written = created ? write(fd, rec, sizeof(*rec)) : pwrite(fd, rec, sizeof(*rec), 0);
  if (written < 0) {
    vartool_error(LIBVARTOOL_TAG, "Write failed: %s\n", strerror(errno));
    vartool_error(LIBVARTOOL_TAG, "Failed to set variable %s-%s\n", request->name,
                  request->guid_text);
    return (int)written;
  }
  if ((size_t)written != sizeof(*rec)) {
    vartool_error(LIBVARTOOL_TAG, "Wrote only 0x%x/0x%x bytes: %s\n", (unsigned)written,
                  (unsigned)sizeof(*rec), strerror(errno));
    vartool_error(LIBVARTOOL_TAG, "Failed to set variable %s-%s\n", request->name,
                  request->guid_text);
    return -52;
  }
  return 0;
}

}  // namespace

int efivar_access(VARTOOL_REQUEST request, EFI_VARIABLE_RECORD **record) {
  *record = NULL;
  char *path = NULL;
  if (asprintf(&path, EFIVARS_DIR "/%s-%s/raw_var", request.name, request.guid_text) < 0) {
    vartool_error(LIBVARTOOL_TAG, "Failed to build EFI variable path\n");
    return -12;
  }

  EFI_VARIABLE_RECORD *rec = NULL;
  int fd = -1;
  int result = 0;
  bool created = false;
  struct stat st;
  if (stat(path, &st) != 0) {
    if (errno == ENOENT && request.value != NULL) {
      // A missing variable is created through new_var.
      rec = NewRecord(&request);
      if (rec == NULL) {
        result = -12;
      } else {
        created = true;
        fd = open(EFIVARS_DIR "/new_var", O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
          vartool_error(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
          result = -5;
        }
      }
    } else {
      vartool_error(LIBVARTOOL_TAG, "Failed to stat file: %s\n", strerror(errno));
      result = -14;
    }
  } else {
    result = ReadRecord(path, &st, &rec, &fd);
  }

  if (result == 0 && request.value != NULL) result = WriteValue(&request, rec, fd, created);

  if (fd >= 0) close(fd);
  free(path);
  if (result != 0) {
    free(rec);
    return result;
  }
  *record = rec;
  return 0;
}

int print_value(const EFI_VARIABLE_RECORD *record, const char *type) {
  if (strcmp(type, "int") == 0) {
    if (record->DataSize > 8) {
      vartool_error(LIBVARTOOL_TAG,
                    "Variable size (%llu bytes) is larger than long long integer size (%d bytes)\n",
                    (unsigned long long)record->DataSize, 8);
      return -22;
    }
    // The first 8 data bytes, little-endian, as they stand in the record.
    unsigned long long n = 0;
    for (int i = 0; i < 8; i++) n |= (unsigned long long)record->Data[i] << (8 * i);
    printf("%llu\n", n);
    vartool_info("%llu\n", n);
    return 0;
  }
  if (strcmp(type, "string") == 0) {
    // The last byte of the value is taken as its terminator, whatever it
    // holds; a value of no bytes prints as an empty line.
    uint64_t limit = record->DataSize > 0 ? record->DataSize - 1 : 0;
    if (limit > EFIVAR_DATA_MAX) limit = EFIVAR_DATA_MAX;
    int len = (int)strnlen((const char *)record->Data, (size_t)limit);
    printf("%.*s\n", len, (const char *)record->Data);
    vartool_info("%.*s\n", len, (const char *)record->Data);
    return 0;
  }
  vartool_error(LIBVARTOOL_TAG, "Value type %s is not supported.\n", type);
  return -22;
}
