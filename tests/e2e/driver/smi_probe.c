/*
 * The SMI module's device (/dev/zorvik_smi) as a program sees it, on a real
 * kernel under lockdown (the Secure Boot guest) and under fwemu: every
 * refusal in one table, then the SMIs and windows that ZORVIK uses, the
 * "$ASF" ports and mailbox the BIOS area announces, and a second opener's
 * fresh buffer. Built as a static 64-bit program and as an i386 one (the
 * module's compat entry).
 *
 *   smi_probe NAME RAM DEVICE FADT
 *
 * RAM, DEVICE and FADT are physical addresses (hex) of a page of System RAM,
 * of a device's memory and of the FADT (the guest takes them from its
 * /proc/iomem and kernel log, the fwemu test from the platform's layout).
 * Run as root with the module loaded and idle, on a firmware that serves
 * none of the vendor's requests and reports no memory hole (as QEMU's).
 * Prints "ok NAME/case" or "not ok NAME/case: why" per check, then
 * "NAME: raised N SMIs (buffer 0xADDR)" and
 * "NAME: N passed, M failed". Exit status 0 when nothing failed.
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

#include "../../../modules/zorvik_smi/zorvik_smi.h"

#define COUNT_FILE "/sys/class/misc/" ZORVIK_SMI_NAME "/smi_count"
#define PAGE 4096u
#define BIOS_AREA 0xF0000u
#define BIOS_AREA_SIZE 0x10000u
#define CALL_BLOCK 36 /* the calling interface's request block */

static const char* g_name;
static int g_passed, g_failed;
static int g_fd = -1;
static struct zorvik_smi_info g_info;
static uint64_t g_ram, g_device, g_fadt;
static unsigned g_raised;

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

static int open_device(void)
{
    return open(ZORVIK_SMI_DEVICE, O_RDWR);
}

static int raise_smi(uint16_t port, uint8_t code, uint8_t reserved, uint32_t* ebx)
{
    struct zorvik_smi_raise r = {port, code, reserved, 0xDEADBEEF};
    int e = err(ioctl(g_fd, ZORVIK_SMI_IOC_RAISE, &r));
    g_raised += e == 0;
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

static uint8_t* map_buffer(void)
{
    uint8_t* p =
        mmap(NULL, ZORVIK_SMI_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, g_fd, (off_t)g_info.buffer_phys);
    return p == MAP_FAILED ? NULL : p;
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

/* A calling-interface request (class OEM, select boot options) at the start
 * of the buffer, its input word `word` set to `value`, status "not handled". */
static void put_block(uint8_t* buf, unsigned word, uint32_t value)
{
    memset(buf, 0, CALL_BLOCK);
    buf[0] = 99;
    buf[2] = 11;
    memcpy(buf + 4 + 4 * word, &value, 4);
    uint32_t status = 0xFFFFFFFE;
    memcpy(buf + 20, &status, 4);
}

/* --- the refusals ------------------------------------------------------- */

/* Opens the device in a child that dropped CAP_SYS_RAWIO (still root). */
static int open_without_rawio(void)
{
    pid_t pid = fork();
    if (pid == 0) {
        struct __user_cap_header_struct h = {_LINUX_CAPABILITY_VERSION_3, 0};
        struct __user_cap_data_struct d[2];
        if (syscall(SYS_capget, &h, d) != 0)
            _exit(100);
        d[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective &= ~CAP_TO_MASK(CAP_SYS_RAWIO);
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
static int port_0(void)
{
    return raise_smi(0, 0x20, 0, NULL);
}
static int wrong_code(void)
{
    return raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x7E, 0, NULL);
}
static int reserved_set(void)
{
    return raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x20, 1, NULL);
}

/* A calling-interface request whose input word points outside the buffer. */
static int call_input(unsigned word, uint32_t value)
{
    uint8_t* buf = map_buffer();
    if (buf == NULL)
        return -1000;
    put_block(buf, word, value);
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x0D, 0, NULL);
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
    return e;
}
static int call_input_ram(void)
{
    return call_input(0, (uint32_t)g_ram);
}
static int call_input_past_buffer(void)
{
    return call_input(3, g_info.buffer_phys + ZORVIK_SMI_BUFFER_SIZE);
}

static int ram_window(void)
{
    return map_errno(g_ram, PAGE, PROT_READ);
}
static int device_window(void)
{
    return map_errno(g_device, PAGE, PROT_READ);
}
/* The last 32 KiB below 1 MiB and the first 32 KiB above it, RAM. */
static int low_area_into_ram(void)
{
    return map_errno(0xF8000, 0x10000, PROT_READ);
}
static int past_buffer(void)
{
    return map_errno(g_info.buffer_phys, ZORVIK_SMI_BUFFER_SIZE + PAGE, PROT_READ);
}
static int writable_bios_area(void)
{
    return map_errno(BIOS_AREA, BIOS_AREA_SIZE, PROT_READ | PROT_WRITE);
}
static int writable_fadt(void)
{
    return map_errno(g_fadt & ~(uint64_t)(PAGE - 1), PAGE, PROT_READ | PROT_WRITE);
}

/* A read-only window made writable afterwards. */
static int bios_area_mprotect(void)
{
    void* p = mmap(NULL, BIOS_AREA_SIZE, PROT_READ, MAP_SHARED, g_fd, BIOS_AREA);
    if (p == MAP_FAILED)
        return -1000;
    int e = err(mprotect(p, BIOS_AREA_SIZE, PROT_READ | PROT_WRITE));
    munmap(p, BIOS_AREA_SIZE);
    return e;
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
    {"refuse/port-0", port_0, -EINVAL},
    {"refuse/wrong-code", wrong_code, -EINVAL},
    {"refuse/reserved-field", reserved_set, -EINVAL},
    {"refuse/call-input-outside-buffer", call_input_ram, -EINVAL},
    {"refuse/call-input-past-buffer", call_input_past_buffer, -EINVAL},
    {"refuse/ram-window", ram_window, -EPERM},
    {"refuse/device-window", device_window, -EPERM},
    {"refuse/low-area-into-ram", low_area_into_ram, -EPERM},
    {"refuse/past-the-buffer", past_buffer, -EPERM},
    {"refuse/writable-bios-area", writable_bios_area, -EACCES},
    {"refuse/writable-acpi-table", writable_fadt, -EACCES},
    {"refuse/bios-area-made-writable", bios_area_mprotect, -EACCES},
    {"refuse/unknown-request", unknown_request, -ENOTTY},
    {"lockdown/iopl", io_privilege, -EPERM},
    {"lockdown/dev-mem", dev_mem, -EPERM},
};

/* --- what ZORVIK uses ----------------------------------------------------- */

static void case_query(void)
{
    uint32_t ebx = 1;
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x7F, 0, &ebx);
    result(e == 0 && ebx == 0, "smi/hole-query", "errno %d, ebx %#x (want 0: no hole)", -e, ebx);
}

/* A calling-interface request with an input word inside the buffer: the
 * block and a payload pattern reach the firmware and come back; a firmware
 * that does not serve it leaves the status "not handled"; EBX reads 0. */
static void case_call(void)
{
    uint8_t* buf = map_buffer();
    if (buf == NULL) {
        result(0, "smi/call", "buffer not mapped: errno %d", errno);
        return;
    }
    put_block(buf, 0, g_info.buffer_phys + CALL_BLOCK);
    for (unsigned i = CALL_BLOCK; i < ZORVIK_SMI_BUFFER_SIZE; i++)
        buf[i] = (uint8_t)(i * 7);
    uint32_t ebx = 1;
    int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, 0x0D, 0, &ebx);
    unsigned bad = 0;
    for (unsigned i = CALL_BLOCK; i < ZORVIK_SMI_BUFFER_SIZE; i++)
        bad += buf[i] != (uint8_t)(i * 7);
    uint32_t status;
    memcpy(&status, buf + 20, 4);
    result(e == 0 && bad == 0 && status == 0xFFFFFFFE && buf[0] == 99 && ebx == 0, "smi/call",
           "errno %d, %u payload bytes changed, status %#x, ebx %#x", -e, bad, status, ebx);
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
}

/* The flash interface's codes on 0xB2; EBX reads 0 after each. */
static void case_flash_codes(void)
{
    static const uint8_t codes[] = {0x20, 0x25, 0x24, 0x26};
    char why[160] = "";
    for (unsigned i = 0; i < sizeof codes; i++) {
        uint32_t ebx = 1;
        int e = raise_smi(ZORVIK_SMI_DEFAULT_PORT, codes[i], 0, &ebx);
        if ((e != 0 || ebx != 0) && why[0] == '\0')
            snprintf(why, sizeof why, "code %#x: errno %d, ebx %#x", codes[i], -e, ebx);
    }
    result(why[0] == '\0', "smi/flash-codes", "%s", why);
}

static void case_windows(void)
{
    const uint8_t* bios = mmap(NULL, BIOS_AREA_SIZE, PROT_READ, MAP_SHARED, g_fd, BIOS_AREA);
    result(bios != MAP_FAILED, "window/bios-area", "errno %d", errno);
    if (bios != MAP_FAILED)
        munmap((void*)bios, BIOS_AREA_SIZE);
    uint64_t page = g_fadt & ~(uint64_t)(PAGE - 1);
    const uint8_t* p = mmap(NULL, 2 * PAGE, PROT_READ, MAP_PRIVATE, g_fd, (off_t)page);
    if (p == MAP_FAILED) {
        result(0, "window/fadt", "errno %d", errno);
        return;
    }
    result(memcmp(p + (g_fadt - page), "FACP", 4) == 0, "window/fadt", "no FACP signature at %#llx",
           (unsigned long long)g_fadt);
    munmap((void*)p, 2 * PAGE);
}

/* The "$ASF" structures of the BIOS area: the ports of the first and of the
 * last one are allowed (port 0 never), and the first one's data area is the
 * mailbox unless it names port 0 or leaves the area. Without any structure
 * (QEMU) only the missing mailbox is checked. */
static void case_asf(void)
{
    const uint8_t* bios = mmap(NULL, BIOS_AREA_SIZE, PROT_READ, MAP_SHARED, g_fd, BIOS_AREA);
    if (bios == MAP_FAILED) {
        result(0, "asf/bios-area", "errno %d", errno);
        return;
    }
    long first = -1, last = -1;
    for (unsigned off = 0; off + 14 <= BIOS_AREA_SIZE; off++) {
        if (memcmp(bios + off, "$ASF", 4) == 0) {
            first = first < 0 ? (long)off : first;
            last = off;
        }
    }
    static const char* const names[] = {"asf/first-port", "asf/last-port"};
    long at[] = {first, last};
    for (unsigned i = 0; i < 2 && first >= 0; i++) {
        uint16_t port = (uint16_t)(bios[at[i] + 12] | bios[at[i] + 13] << 8);
        int e = raise_smi(port, 0x7F, 0, NULL);
        result(e == (port != 0 ? 0 : -EINVAL), names[i], "port %#x: errno %d", port, -e);
    }
    uint32_t data = first < 0 ? 0 : (uint32_t)first + bios[first + 4];
    int usable = first >= 0 && (bios[first + 12] | bios[first + 13]) != 0 && data + 4 <= BIOS_AREA_SIZE;
    int e = err(ioctl(g_fd, ZORVIK_SMI_IOC_SET_MAILBOX));
    uint32_t value = 0;
    if (usable)
        memcpy(&value, bios + data, 4);
    if (usable)
        result(e == 0 && value == g_info.buffer_phys, "asf/mailbox", "errno %d, mailbox %#x", -e, value);
    else
        result(e == -ENOENT, "refuse/mailbox-without-asf", "errno %d, want %d", -e, ENOENT);
    munmap((void*)bios, BIOS_AREA_SIZE);
}

/* The device stays busy while a mapping outlives the opener's file; the
 * next opener finds the buffer zeroed. Leaves g_fd open again. */
static void case_next_opener(void)
{
    uint8_t* buf = map_buffer();
    if (buf == NULL) {
        result(0, "open/next-opener", "buffer not mapped: errno %d", errno);
        return;
    }
    memset(buf, 0xA5, ZORVIK_SMI_BUFFER_SIZE);
    close(g_fd);
    int busy = second_opener();
    result(busy == -EBUSY, "refuse/mapped-after-close", "got %s", strerror(-busy));
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
    g_fd = open_device();
    buf = g_fd >= 0 ? map_buffer() : NULL;
    if (buf == NULL) {
        result(0, "open/next-opener", "errno %d", errno);
        return;
    }
    unsigned left = 0;
    for (unsigned i = 0; i < ZORVIK_SMI_BUFFER_SIZE; i++)
        left += buf[i] != 0;
    result(left == 0, "open/zeroed-buffer", "%u bytes of the last opener's buffer left", left);
    munmap(buf, ZORVIK_SMI_BUFFER_SIZE);
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: smi_probe NAME RAM DEVICE FADT\n");
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
               g_info.buffer_phys % PAGE == 0 && (uint64_t)g_info.buffer_phys + g_info.buffer_size <= 1ull << 32,
           "info", "abi %u, buffer %#x size %#x", g_info.abi_version, g_info.buffer_phys, g_info.buffer_size);
    unsigned start = g_info.smi_count;
    result(sysfs_count() == start, "count/sysfs-at-start", "sysfs %u, info %u", sysfs_count(), start);

    for (size_t i = 0; i < sizeof g_refusals / sizeof g_refusals[0]; i++) {
        int got = g_refusals[i].attempt();
        result(got == g_refusals[i].want, g_refusals[i].name, "got %s (%d), want %s", strerror(-got), -got,
               strerror(-g_refusals[i].want));
    }
    result(info_count() == start && g_raised == 0, "count/no-smi-refused", "%u SMIs raised by refused requests",
           info_count() - start);

    case_query();
    case_call();
    case_flash_codes();
    case_windows();
    case_asf();
    case_next_opener();
    unsigned n = info_count() - start;
    result(n == g_raised && sysfs_count() == info_count(), "count/raised", "info says %u, sysfs %u, raised %u", n,
           sysfs_count() - start, g_raised);
    printf("%s: raised %u SMIs (buffer %#x)\n", g_name, g_raised, g_info.buffer_phys);
    close(g_fd);
    printf("%s: %d passed, %d failed\n", g_name, g_passed, g_failed);
    return g_failed != 0;
}
