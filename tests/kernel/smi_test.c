/*
 * Exercises the SMI module's device (modules/zorvik_smi) on a real kernel
 * under lockdown: every refusal in one table, then the SMIs and windows that
 * ZORVIK uses. Built as a static 64-bit program and with -m32 (the module's
 * compat entry).
 *
 *   smi_test NAME RAM DEVICE FADT
 *
 * RAM, DEVICE and FADT are physical addresses (hex) of a page of System RAM,
 * of a PCI device's memory and of the FADT, from the guest's /proc/iomem and
 * kernel log. Prints "ok NAME/case" or "not ok NAME/case: why" per check,
 * then "NAME: raised N SMIs on port 0xB2 (buffer 0xADDR)" and
 * "NAME: N passed, M failed". Exit status 0 when nothing failed. Expects the
 * module freshly loaded or idle, and a firmware without the vendor's
 * requests (no "$ASF" structure, no memory hole), as QEMU's.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../../modules/zorvik_smi/zorvik_smi.h"

#define COUNT_FILE "/sys/class/misc/" ZORVIK_SMI_NAME "/smi_count"

static const char* g_name;
static int g_passed, g_failed;
static int g_fd = -1;
static struct zorvik_smi_info g_info;
static uint64_t g_ram, g_device, g_fadt;

static void result(int ok, const char* c, const char* fmt, ...)
{
    if (ok) {
        printf("ok %s/%s\n", g_name, c);
        g_passed++;
        return;
    }
    printf("not ok %s/%s: ", g_name, c);
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    g_failed++;
}

static int err(int r)
{
    return r < 0 ? -errno : 0;
}

static int raise_smi(uint16_t port, uint8_t code, uint8_t reserved, uint32_t* ebx)
{
    struct zorvik_smi_raise r = {port, code, reserved, 0xDEADBEEF};
    int e = err(ioctl(g_fd, ZORVIK_SMI_IOC_RAISE, &r));
    if (ebx)
        *ebx = r.ebx;
    return e;
}

static int map_errno(uint64_t phys, size_t len, int prot)
{
    void* p = mmap(NULL, len, prot, MAP_SHARED, g_fd, (off_t)phys);
    if (p == MAP_FAILED)
        return -errno;
    munmap(p, len);
    return 0;
}

static unsigned sysfs_count(void)
{
    unsigned n = ~0u;
    FILE* f = fopen(COUNT_FILE, "r");
    if (f) {
        if (fscanf(f, "%u", &n) != 1)
            n = ~0u;
        fclose(f);
    }
    return n;
}

static unsigned info_count(void)
{
    struct zorvik_smi_info info;
    return ioctl(g_fd, ZORVIK_SMI_IOC_INFO, &info) == 0 ? info.smi_count : ~0u;
}

/* The calling interface's request block at the start of the buffer. */
static void put_block(uint8_t* buf, uint32_t in0)
{
    memset(buf, 0, 36);
    buf[0] = 99; /* class: OEM */
    buf[2] = 11; /* select: boot options */
    memcpy(buf + 4, &in0, 4);
    uint32_t status = 0xFFFFFFFE;
    memcpy(buf + 20, &status, 4);
}

/* --- the refusals ------------------------------------------------------- */

static int open_device(void)
{
    return open(ZORVIK_SMI_DEVICE, O_RDWR);
}

/* Opens the device in a child that dropped CAP_SYS_RAWIO (still root). */
static int open_without_rawio(void)
{
    pid_t pid = fork();
    if (pid == 0) {
        struct __user_cap_header_struct h = {_LINUX_CAPABILITY_VERSION_3, 0};
        struct __user_cap_data_struct d[2];
        if (syscall(SYS_capget, &h, d) != 0)
            _exit(100);
        d[CAP_SYS_RAWIO / 32].effective &= ~(1u << (CAP_SYS_RAWIO % 32));
        if (syscall(SYS_capset, &h, d) != 0)
            _exit(101);
        int fd = open_device();
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? -WEXITSTATUS(status) : -1000;
}

static int second_opener(void)
{
    int fd = open_device();
    if (fd >= 0)
        close(fd);
    return fd >= 0 ? 0 : -errno;
}

static int wrong_port(void)
{
    return raise_smi(0x80, 0x20, 0, NULL);
}
static int wrong_code(void)
{
    return raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x7E, 0, NULL);
}
static int reserved_set(void)
{
    return raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x20, 1, NULL);
}

/* A request whose first input word points outside the buffer, at RAM. */
static int call_outside_buffer(void)
{
    uint8_t* buf =
        mmap(NULL, ZORVIK_SMI_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, g_fd, (off_t)g_info.buffer_phys);
    if (buf == MAP_FAILED)
        return -1000;
    put_block(buf, (uint32_t)g_ram);
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x0D, 0, NULL);
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
    return e;
}

static int ram_window(void)
{
    return map_errno(g_ram, 4096, PROT_READ);
}
static int device_window(void)
{
    return map_errno(g_device, 4096, PROT_READ);
}
static int past_buffer(void)
{
    return map_errno(g_info.buffer_phys, ZORVIK_SMI_BUFFER_SIZE + 4096, PROT_READ);
}
static int writable_bios_area(void)
{
    return map_errno(0xF0000, 0x10000, PROT_READ | PROT_WRITE);
}
static int writable_fadt(void)
{
    return map_errno(g_fadt & ~0xFFFull, 4096, PROT_READ | PROT_WRITE);
}

/* A read-only window made writable afterwards. */
static int bios_area_mprotect(void)
{
    void* p = mmap(NULL, 0x10000, PROT_READ, MAP_SHARED, g_fd, 0xF0000);
    if (p == MAP_FAILED)
        return -1000;
    int e = err(mprotect(p, 0x10000, PROT_READ | PROT_WRITE));
    munmap(p, 0x10000);
    return e;
}

static int mailbox_without_asf(void)
{
    return err(ioctl(g_fd, ZORVIK_SMI_IOC_SET_MAILBOX));
}
static int unknown_request(void)
{
    return err(ioctl(g_fd, _IO(ZORVIK_SMI_IOC_MAGIC, 9)));
}

/* What lockdown refuses ZORVIK without the module. */
static int io_privilege(void)
{
    return err(iopl(3));
}
static int dev_mem(void)
{
    int fd = open("/dev/mem", O_RDONLY);
    if (fd >= 0)
        close(fd);
    return fd >= 0 ? 0 : -errno;
}

static const struct {
    const char* name;
    int (*attempt)(void);
    int want;
} g_refusals[] = {
    {"refuse/no-cap-sys-rawio", open_without_rawio, -EPERM},
    {"refuse/second-opener", second_opener, -EBUSY},
    {"refuse/wrong-port", wrong_port, -EINVAL},
    {"refuse/wrong-code", wrong_code, -EINVAL},
    {"refuse/reserved-field", reserved_set, -EINVAL},
    {"refuse/call-input-outside-buffer", call_outside_buffer, -EINVAL},
    {"refuse/ram-window", ram_window, -EPERM},
    {"refuse/device-window", device_window, -EPERM},
    {"refuse/past-the-buffer", past_buffer, -EPERM},
    {"refuse/writable-bios-area", writable_bios_area, -EACCES},
    {"refuse/writable-acpi-table", writable_fadt, -EACCES},
    {"refuse/bios-area-made-writable", bios_area_mprotect, -EACCES},
    {"refuse/mailbox-without-asf", mailbox_without_asf, -ENOENT},
    {"refuse/unknown-request", unknown_request, -ENOTTY},
    {"lockdown/iopl", io_privilege, -EPERM},
    {"lockdown/dev-mem", dev_mem, -EPERM},
};

/* --- what ZORVIK uses ----------------------------------------------------- */

static unsigned g_raised;

static void case_query(void)
{
    uint32_t ebx = 1;
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x7F, 0, &ebx);
    g_raised += e == 0;
    result(e == 0 && ebx == 0, "smi/hole-query", "errno %d, ebx %#x (want 0: no hole)", -e, ebx);
}

/* A calling-interface request: the block and a payload pattern reach the
 * firmware and come back; QEMU's firmware leaves the status "not handled". */
static void case_call(void)
{
    uint8_t* buf =
        mmap(NULL, ZORVIK_SMI_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, g_fd, (off_t)g_info.buffer_phys);
    if (buf == MAP_FAILED) {
        result(0, "smi/call", "buffer not mapped: errno %d", errno);
        return;
    }
    put_block(buf, g_info.buffer_phys + 36);
    for (unsigned i = 36; i < ZORVIK_SMI_BUFFER_SIZE; i++)
        buf[i] = (uint8_t)(i * 7);
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x0D, 0, NULL);
    g_raised += e == 0;
    unsigned bad = 0;
    for (unsigned i = 36; i < ZORVIK_SMI_BUFFER_SIZE; i++)
        bad += buf[i] != (uint8_t)(i * 7);
    uint32_t status;
    memcpy(&status, buf + 20, 4);
    result(e == 0 && bad == 0 && status == 0xFFFFFFFE && buf[0] == 99, "smi/call",
           "errno %d, %u payload bytes changed, status %#x", -e, bad, status);
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
}

/* The flash interface's codes on the FADT's SMI command port (0xB2 here). */
static void case_flash_codes(void)
{
    static const uint8_t codes[] = {0x20, 0x25, 0x24, 0x26};
    int bad = 0;
    for (unsigned i = 0; i < sizeof codes; i++) {
        int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, codes[i], 0, NULL);
        g_raised += e == 0;
        if (e != 0) {
            result(0, "smi/flash-codes", "code %#x: errno %d", codes[i], -e);
            bad = 1;
        }
    }
    if (!bad)
        result(1, "smi/flash-codes", "");
}

static void case_windows(void)
{
    const uint8_t* bios = mmap(NULL, 0x10000, PROT_READ, MAP_SHARED, g_fd, 0xF0000);
    result(bios != MAP_FAILED, "window/bios-area", "errno %d", errno);
    if (bios != MAP_FAILED)
        munmap((void*)bios, 0x10000);
    uint64_t page = g_fadt & ~0xFFFull;
    const uint8_t* p = mmap(NULL, 8192, PROT_READ, MAP_PRIVATE, g_fd, (off_t)page);
    if (p == MAP_FAILED) {
        result(0, "window/fadt", "errno %d", errno);
        return;
    }
    result(memcmp(p + (g_fadt - page), "FACP", 4) == 0, "window/fadt", "no FACP signature at %#llx",
           (unsigned long long)g_fadt);
    munmap((void*)p, 8192);
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: smi_test NAME RAM DEVICE FADT\n");
        return 2;
    }
    g_name = argv[1];
    g_ram = strtoull(argv[2], NULL, 16);
    g_device = strtoull(argv[3], NULL, 16);
    g_fadt = strtoull(argv[4], NULL, 16);

    g_fd = open_device();
    if (g_fd < 0 || ioctl(g_fd, ZORVIK_SMI_IOC_INFO, &g_info) != 0) {
        result(0, "open", "errno %d", errno);
        printf("%s: %d passed, %d failed\n", g_name, g_passed, g_failed);
        return 1;
    }
    result(g_info.abi_version == ZORVIK_SMI_ABI_VERSION && g_info.buffer_size == ZORVIK_SMI_BUFFER_SIZE &&
               g_info.buffer_phys % 4096 == 0 && (uint64_t)g_info.buffer_phys + g_info.buffer_size <= 1ull << 32,
           "info", "abi %u, buffer %#x size %#x", g_info.abi_version, g_info.buffer_phys, g_info.buffer_size);
    unsigned start = g_info.smi_count;
    result(sysfs_count() == start, "count/sysfs-at-start", "sysfs %u, info %u", sysfs_count(), start);

    for (size_t i = 0; i < sizeof g_refusals / sizeof g_refusals[0]; i++) {
        int got = g_refusals[i].attempt();
        result(got == g_refusals[i].want, g_refusals[i].name, "got %s (%d), want %s", strerror(-got), -got,
               strerror(-g_refusals[i].want));
    }
    result(info_count() == start, "count/no-smi-refused", "%u SMIs raised by refused requests", info_count() - start);

    case_query();
    case_call();
    case_flash_codes();
    case_windows();
    unsigned n = info_count() - start;
    result(n == g_raised && sysfs_count() == info_count(), "count/raised", "info says %u, sysfs %u, raised %u", n,
           sysfs_count() - start, g_raised);
    printf("%s: raised %u SMIs on port 0xB2 (buffer %#x)\n", g_name, g_raised, g_info.buffer_phys);
    close(g_fd);
    printf("%s: %d passed, %d failed\n", g_name, g_passed, g_failed);
    return g_failed != 0;
}
