/*
 * Run as root with the SMI module loaded, under fwemu or on a real kernel
 * (the machine's ports and windows as a virtual machine has them: SMI port
 * 0xB2, no "$ASF" structure, RAM at 2 MiB): every refusal of
 * /dev/zorvik_smi and the requests it serves, one line per case, "ok CASE"
 * or "not ok CASE: why", then PASSED or FAILED. Exit status 0 when every
 * case passed. Built as a 64-bit and as an i386 program.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../../../modules/zorvik_smi/zorvik_smi.h"

#define PAGE 4096u
#define BUFFER ((uint64_t)1 << 40) /* offsets from here are the module's buffer */

enum kind { OPEN, RAISE, MAP, IOCTL };

static const struct row {
    const char* name;
    enum kind kind;
    uint64_t a, b; /* RAISE: port, code; MAP: offset, length; IOCTL: request */
    int prot;
    int want; /* 0 or an errno */
} rows[] = {
    {"second-opener", OPEN, 0, 0, 0, EBUSY},
    {"raise/memory-hole-query", RAISE, 0xB2, 0x7F, 0, 0},
    {"raise/wrong-port", RAISE, 0x80, 0x7F, 0, EINVAL},
    {"raise/wrong-code", RAISE, 0xB2, 0x21, 0, EINVAL},
    {"raise/code-0", RAISE, 0xB2, 0x00, 0, EINVAL},
    {"map/bios-area-read-only", MAP, 0xF0000, 0x10000, PROT_READ, 0},
    {"map/bios-area-writable", MAP, 0xF0000, 0x10000, PROT_READ | PROT_WRITE, EACCES},
    {"map/ram", MAP, 0x200000, PAGE, PROT_READ, EPERM},
    {"map/device-memory", MAP, 0xFEC00000, PAGE, PROT_READ, EPERM},
    {"map/buffer-writable", MAP, BUFFER, ZORVIK_SMI_BUFFER_SIZE, PROT_READ | PROT_WRITE, 0},
    {"map/past-the-buffer", MAP, BUFFER + ZORVIK_SMI_BUFFER_SIZE, PAGE, PROT_READ, EPERM},
    {"map/buffer-and-beyond", MAP, BUFFER, ZORVIK_SMI_BUFFER_SIZE + PAGE, PROT_READ, EPERM},
    {"mailbox-without-asf", IOCTL, ZORVIK_SMI_IOC_SET_MAILBOX, 0, 0, ENOENT},
    {"unknown-request", IOCTL, _IO(ZORVIK_SMI_IOC_MAGIC, 9), 0, 0, ENOTTY},
};

static int g_fd = -1;
static int g_failed;

static int outcome(int rc)
{
    return rc < 0 ? errno : 0;
}

static int info(struct zorvik_smi_info* i)
{
    memset(i, 0, sizeof *i);
    return outcome(ioctl(g_fd, ZORVIK_SMI_IOC_INFO, i));
}

static void report(const char* name, int got, int want)
{
    if (got == want) {
        printf("ok %s\n", name);
        return;
    }
    printf("not ok %s: got %s, want %s\n", name, got ? strerror(got) : "success", want ? strerror(want) : "success");
    g_failed++;
}

static int run(const struct row* r, uint32_t buffer)
{
    switch (r->kind) {
    case OPEN: {
        int fd = open(ZORVIK_SMI_DEVICE, O_RDWR);
        int got = outcome(fd);
        if (fd >= 0)
            close(fd);
        return got;
    }
    case RAISE: {
        struct zorvik_smi_raise req = {.port = (uint16_t)r->a, .code = (uint8_t)r->b};
        return outcome(ioctl(g_fd, ZORVIK_SMI_IOC_RAISE, &req));
    }
    case MAP: {
        uint64_t at = r->a >= BUFFER ? buffer + (r->a - BUFFER) : r->a;
        void* p = mmap(NULL, (size_t)r->b, r->prot, MAP_SHARED, g_fd, (off_t)at);
        if (p == MAP_FAILED)
            return errno;
        munmap(p, (size_t)r->b);
        return 0;
    }
    case IOCTL:
        return outcome(ioctl(g_fd, (unsigned long)r->a));
    }
    return -1;
}

/* A caller without CAP_SYS_RAWIO in its effective set, while nobody holds
 * the device: refused with EPERM. */
static void open_without_rawio(void)
{
    pid_t child = fork();
    if (child == 0) {
        struct __user_cap_header_struct head = {.version = _LINUX_CAPABILITY_VERSION_3};
        struct __user_cap_data_struct caps[2];
        memset(caps, 0, sizeof caps);
        if (syscall(SYS_capget, &head, caps) != 0)
            _exit(100);
        caps[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective &= ~CAP_TO_MASK(CAP_SYS_RAWIO);
        if (syscall(SYS_capset, &head, caps) != 0)
            _exit(101);
        int fd = open(ZORVIK_SMI_DEVICE, O_RDWR);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(child, &status, 0);
    report("open-without-cap-sys-rawio", WIFEXITED(status) ? WEXITSTATUS(status) : -1, EPERM);
}

int main(void)
{
    open_without_rawio();
    g_fd = open(ZORVIK_SMI_DEVICE, O_RDWR);
    if (g_fd < 0) {
        printf("not ok open: %s\n", strerror(errno));
        return 1;
    }
    struct zorvik_smi_info before, after;
    int rc = info(&before);
    report("info", rc, 0);
    if (rc != 0)
        return 1;
    report("info/abi-version", before.abi_version >= ZORVIK_SMI_ABI_VERSION ? 0 : EPROTO, 0);
    report("info/buffer",
           before.buffer_phys != 0 && before.buffer_phys % PAGE == 0 && before.buffer_size == ZORVIK_SMI_BUFFER_SIZE
               ? 0
               : EFAULT,
           0);

    uint32_t raised = 0;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        int got = run(&rows[i], before.buffer_phys);
        raised += rows[i].kind == RAISE && got == 0;
        report(rows[i].name, got, rows[i].want);
    }
    /* Only the SMIs it raised count. */
    rc = info(&after);
    report("smi-count", rc == 0 && after.smi_count - before.smi_count == raised ? 0 : ERANGE, 0);
    printf("smi-count %u\n", (unsigned)(after.smi_count - before.smi_count));
    printf("%s\n", g_failed ? "FAILED" : "PASSED");
    return g_failed ? 1 : 0;
}
