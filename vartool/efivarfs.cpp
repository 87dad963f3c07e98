// Variable access through efivarfs, the EFI variable file system of current
// kernels, mounted at EFIVARFS_DIR. Each variable is one file
// EFIVARFS_DIR/<name>-<GUID> that holds its 4-byte little-endian attributes
// word and then its data, so st_size is 4 + the data size; a zero-length
// file names no variable (a failed create leaves one behind).
//
// One write() is one SetVariable call: the attributes and the whole data go
// in a single write (the attributes word alone deletes the variable), and
// an existing variable keeps the attributes it was read with (the firmware
// refuses a change). efivarfs makes most variables immutable files, which
// cannot be opened for writing or removed: the flag is lifted for the write
// and put back afterwards, whatever the write's outcome.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend.h"

namespace {

// Bytes of the attributes word in front of the data.
const size_t kAttributesSize = 4;

// Reads the attributes and data of an existing variable from fd into rec.
int ReadVariable(int fd, const struct stat* st, EFI_VARIABLE_RECORD* rec)
{
    if ((uint64_t)st->st_size > kAttributesSize && CheckDataSize((uint64_t)st->st_size - kAttributesSize) != 0)
        return -22;
    // One byte more than a variable that fits, to see one that grew since
    // the stat.
    uint8_t buf[kAttributesSize + EFIVAR_DATA_MAX + 1];
    size_t total = 0;
    if (ReadToEnd(fd, buf, sizeof(buf), &total) != 0)
        return -5;
    if (total < kAttributesSize) {
        VartoolError(LIBVARTOOL_TAG, "EFI variable size is inconsistent with internal definition\n");
        return -5;
    }
    uint64_t dataSize = total - kAttributesSize;
    if (CheckDataSize(dataSize) != 0)
        return -22;
    rec->Attributes = (uint32_t)buf[0] | (uint32_t)buf[1] << 8 | (uint32_t)buf[2] << 16 | (uint32_t)buf[3] << 24;
    rec->DataSize = dataSize;
    memcpy(rec->Data, buf + kAttributesSize, (size_t)dataSize);
    return 0;
}

// Lifts FS_IMMUTABLE_FL from the file open at fd. True when it did, with
// *flags holding the flags to put back; false when the flag was not set or
// the file system keeps no such flags (the open or write then shows what the
// file allows).
bool LiftImmutable(int fd, int* flags)
{
    if (ioctl(fd, FS_IOC_GETFLAGS, flags) != 0 || (*flags & FS_IMMUTABLE_FL) == 0)
        return false;
    int lifted = *flags & ~FS_IMMUTABLE_FL;
    return ioctl(fd, FS_IOC_SETFLAGS, &lifted) == 0;
}

// Writes the record's attributes and its DataSize data bytes in one write.
// readFd is the file opened for reading, or -1 when no file exists yet (it
// is then created). `created`: no variable existed before; a failed write
// then removes the zero-length file that would stay behind.
int WriteVariable(const VARTOOL_REQUEST* request, const char* path, const EFI_VARIABLE_RECORD* rec, int readFd,
                  bool created)
{
    uint8_t buf[kAttributesSize + EFIVAR_DATA_MAX];
    size_t size = kAttributesSize + (size_t)rec->DataSize;
    for (size_t i = 0; i < kAttributesSize; i++)
        buf[i] = (uint8_t)(rec->Attributes >> (8 * i));
    memcpy(buf + kAttributesSize, rec->Data, (size_t)rec->DataSize);

    int flags = 0;
    int flagFd = readFd;
    bool lifted = readFd >= 0 && LiftImmutable(readFd, &flags);
    int fd = readFd >= 0 ? open(path, O_WRONLY | O_CLOEXEC) : open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    int result;
    if (fd < 0) {
        VartoolError(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
        result = -5;
    } else {
        errno = 0;
        ssize_t written = write(fd, buf, size);
        result = CheckWrite(request, written, size);
        if (result != 0 && created) {
            if (flagFd < 0) {
                flagFd = fd;
                lifted = LiftImmutable(fd, &flags);
            }
            if (unlink(path) == 0)
                lifted = false;
        }
    }
    if (lifted)
        ioctl(flagFd, FS_IOC_SETFLAGS, &flags);
    if (fd >= 0)
        close(fd);
    return result;
}

int EfivarfsAccess(const VARTOOL_REQUEST* request, EFI_VARIABLE_RECORD** record)
{
    char* path = NULL;
    if (asprintf(&path, EFIVARFS_DIR "/%s-%s", request->name, request->guid_text) < 0) {
        VartoolError(LIBVARTOOL_TAG, "Failed to build EFI variable path\n");
        return -12;
    }

    struct stat st;
    bool fileExists = stat(path, &st) == 0;
    int statError = fileExists ? 0 : errno;
    if (fileExists && st.st_size == 0)
        statError = ENOENT;

    EFI_VARIABLE_RECORD* rec = NULL;
    int fd = -1;
    int result = 0;
    if (statError != 0 && (statError != ENOENT || request->value == NULL)) {
        VartoolError(LIBVARTOOL_TAG, "Failed to stat file: %s\n", strerror(statError));
        result = -14;
    } else if ((rec = NewRecord(request)) == NULL) {
        VartoolError(LIBVARTOOL_TAG, "Failed to allocate buffer: %s\n", strerror(ENOMEM));
        result = -12;
    } else if (fileExists) {
        fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            VartoolError(LIBVARTOOL_TAG, "Failed to open file: %s\n", strerror(errno));
            result = -5;
        } else if (statError == 0) {
            result = ReadVariable(fd, &st, rec);
        }
    }

    if (result == 0 && request->value != NULL) {
        // A new variable's record has DataSize 0 and attributes 7; it is
        // checked before a file is created, so a refused value leaves none.
        result = SetRecordValue(request, rec);
        if (result == 0)
            result = WriteVariable(request, path, rec, fd, statError != 0);
    }

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

const EFIVAR_BACKEND g_EfivarfsBackend = {"efivarfs", EfivarfsAccess};
