/* The UEFI guest's look at one efivarfs file, independent of tessvin.
 *
 *   varcheck FILE
 *
 * prints "attributes=0xAAAAAAAA data=HEX immutable=0|1" (the attributes
 * word, the data bytes in hex, the file's FS_IMMUTABLE_FL), "empty" for a
 * zero-length file, or "missing". Exit status 0, or 1 when the file cannot
 * be read. */
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int Show(const char* path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        if (errno != ENOENT)
            return perror(path), 1;
        puts("missing");
        return 0;
    }
    unsigned char buf[8192];
    ssize_t total = 0, n;
    while ((n = read(fd, buf + total, sizeof(buf) - (size_t)total)) > 0)
        total += n;
    int flags = 0;
    int haveFlags = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    close(fd);
    if (n < 0)
        return perror(path), 1;
    if (total == 0) {
        puts("empty");
        return 0;
    }
    if (total < 4)
        return fprintf(stderr, "%s: %zd bytes\n", path, total), 1;
    printf("attributes=0x%08x data=", buf[0] | buf[1] << 8 | buf[2] << 16 | (unsigned)buf[3] << 24);
    for (ssize_t i = 4; i < total; i++)
        printf("%02x", buf[i]);
    printf(" immutable=%s\n", !haveFlags ? "?" : (flags & FS_IMMUTABLE_FL) ? "1" : "0");
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 2)
        return Show(argv[1]);
    fprintf(stderr, "usage: varcheck FILE\n");
    return 2;
}
