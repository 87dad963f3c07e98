// Variable access through the kernel's sysfs EFI variable interface: each
// variable is a directory EFIVARS_DIR/<name>-<GUID>/ whose raw_var holds the
// whole EFI_VARIABLE_RECORD; a record written to EFIVARS_DIR/new_var creates
// a variable. Reads and writes always move the whole record.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend.h"

namespace {

// Reads the whole raw_var of an existing variable into a block of the size
// stat reports. On success *out is the record and *fd stays open for the
// write that may follow.
int ReadRecord(const char* path, const struct stat* st, EFI_VARIABLE_RECORD** out, int* fd)
{
    size_t block = 0;
    unsigned char* buf = NULL;
    if ((uint64_t)st->st_size <= SIZE_MAX) {
        block = (size_t)st->st_size;
        buf = (unsigned char*)malloc(block > 0 ? block : 1);
    } else {
        errno = ENOMEM;
    }
    if (buf == NULL) {
        VartoolError(LIBVARTOOL_TAG, "Failed to allocate buffer: %s\n", strerror(errno));
        return -12;
    }
    *out = (EFI_VARIABLE_RECORD*)buf;

    *fd = open(path, O_RDWR | O_CLOEXEC);
    if (*fd < 0) {
        VartoolError(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
        return -5;
    }
    size_t total = 0;
    if (ReadToEnd(*fd, buf, block, &total) != 0)
        return -5;
    if (total != sizeof(EFI_VARIABLE_RECORD)) {
        VartoolError(LIBVARTOOL_TAG, "EFI variable size is inconsistent with internal definition\n");
        return -5;
    }
    return CheckDataSize((*out)->DataSize);
}

// Puts the request's value into the record and writes the record to fd.
int WriteValue(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD* rec, int fd, bool created)
{
    int result = SetRecordValue(request, rec);
    if (result != 0)
        return result;

    // raw_var is rewritten from its start: sysfs ignores the file position,
    // and a plain file serving the same record format would otherwise get the
    // new record appended after the old one.
    errno = 0;
    ssize_t written = created ? write(fd, rec, sizeof(*rec)) : pwrite(fd, rec, sizeof(*rec), 0);
    return CheckWrite(request, written, sizeof(*rec));
}

int SysfsAccess(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD** record)
{
    char* path = NULL;
    if (asprintf(&path, EFIVARS_DIR "/%s-%s/raw_var", request->name, request->guid_text) < 0) {
        VartoolError(LIBVARTOOL_TAG, "Failed to build EFI variable path\n");
        return -12;
    }

    EFI_VARIABLE_RECORD* rec = NULL;
    int fd = -1;
    int result = 0;
    bool created = false;
    struct stat st;
    if (stat(path, &st) != 0) {
        if (errno == ENOENT && request->value != NULL) {
            // A missing variable is created through new_var.
            rec = NewRecord(request);
            if (rec == NULL) {
                result = -12;
            } else {
                created = true;
                fd = open(EFIVARS_DIR "/new_var", O_WRONLY | O_CLOEXEC);
                if (fd < 0) {
                    VartoolError(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
                    result = -5;
                }
            }
        } else {
            VartoolError(LIBVARTOOL_TAG, "Failed to stat file: %s\n", strerror(errno));
            result = -14;
        }
    } else {
        result = ReadRecord(path, &st, &rec, &fd);
    }

    if (result == 0 && request->value != NULL)
        result = WriteValue(request, rec, fd, created);

    if (fd >= 0)
        close(fd);
    free(path);
    if (result != 0) {
        free(rec);
        return result;
    }
    *record = rec;
    return 0;
}

} // namespace

const EFIVAR_BACKEND g_SysfsBackend = {"sysfs", SysfsAccess};
