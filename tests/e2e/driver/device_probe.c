/*
 * Run under fwemu on a platform with a "kernel" object: loads the helper
 * module the way ZORVIK does (insmod, the major from /proc/devices, a node
 * in the current directory), then exercises the device's protocol from user
 * space and prints one line per case, "ok CASE" or "not ok CASE: why".
 * Built as a 64-bit and as an i386 program (20-byte record). Exit status 0
 * when every case passed.
 *
 * Physical memory is the sandbox's /dev/mem: what a mapping of the device
 * shows must be what /dev/mem holds at the block's physical address.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "../../support/qorfldrv_protocol.h"

static int g_fd = -1;
static int g_mem = -1;
static int g_failed;

static void result(int ok, const char* c, const char* fmt, ...)
{
    if (ok) {
        printf("ok %s\n", c);
        return;
    }
    printf("not ok %s: ", c);
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    g_failed++;
}

#define CHECK(cond, c, ...)            \
    do {                               \
        if (!(cond)) {                 \
            result(0, c, __VA_ARGS__); \
            return;                    \
        }                              \
    } while (0)

static const char* err_text(int rc)
{
    return rc == 0 ? "success" : strerror(-rc);
}

static int req(unsigned cmd, void* arg)
{
    return ioctl(g_fd, cmd, arg) < 0 ? -errno : 0;
}

static int alloc_block(long size, QORFLDRV_ALLOC* rec)
{
    memset(rec, 0, sizeof *rec);
    rec->size = size;
    rec->kvirtlen = SENTINEL_LEN;
    rec->kmallocptr = SENTINEL_PTR;
    return req(CMD_ALLOC, rec);
}

static int free_block(void* phys)
{
    QORFLDRV_ALLOC rec;
    memset(&rec, 0, sizeof rec);
    rec.kphysadd = phys;
    return req(CMD_FREE, &rec);
}

static int map_errno(size_t len, int prot, int flags, off_t off)
{
    void* p = mmap(NULL, len, prot, flags, g_fd, off);
    if (p == MAP_FAILED)
        return -errno;
    munmap(p, len);
    return 0;
}

static uint32_t fill(size_t i)
{
    return (0xafd0u << 16) + (uint32_t)i;
}

/* The words at PHYS in physical memory equal those at P. */
static int same_as_memory(const void* p, uintptr_t phys, size_t len)
{
    char* buf = malloc(len);
    int same = buf && pread(g_mem, buf, len, (off_t)phys) == (ssize_t)len && memcmp(buf, p, len) == 0;
    free(buf);
    return same;
}

static uint32_t memory_word(uintptr_t phys)
{
    uint32_t w = 0;
    if (pread(g_mem, &w, sizeof w, (off_t)phys) != sizeof w)
        return 0;
    return w;
}

static void case_open_rule(const char* node, int exclusive)
{
    const char* c = "open-rule";
    int b = open(node, O_RDWR);
    int err = errno;
    if (b >= 0)
        close(b);
    if (exclusive)
        CHECK(b < 0 && err == EBUSY, c, "second open: %s", b >= 0 ? "succeeded" : strerror(err));
    else
        CHECK(b >= 0, c, "second open on a 2.4 kernel: %s", strerror(err));
    result(1, c, NULL);
}

/* A one-byte request: one page with the fill pattern, the reply's other
 * fields untouched, and the mapping is physical memory at the block. */
static void case_alloc_fill(void)
{
    const char* c = "alloc-fill";
    QORFLDRV_ALLOC r;
    int rc = alloc_block(1, &r);
    CHECK(rc == 0, c, "CMD_ALLOC: %s", err_text(rc));
    uintptr_t phys = (uintptr_t)r.kphysadd;
    CHECK(r.size == 1 && r.kvirtlen == SENTINEL_LEN && r.kmallocptr == SENTINEL_PTR, c,
          "reply changed size/kvirtlen/kmallocptr: %ld %#lx %p", r.size, r.kvirtlen, r.kmallocptr);
    CHECK(phys != 0 && phys % PAGE == 0 && r.kvirtadd != NULL, c, "reply addresses: virt %p phys %#lx", r.kvirtadd,
          (unsigned long)phys);
    uint32_t* w = mmap(NULL, PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, g_fd, 0);
    CHECK(w != MAP_FAILED, c, "mmap of one page: %s", strerror(errno));
    long bad = -1;
    for (size_t i = 0; i < PAGE / 4 && bad < 0; i++)
        if (w[i] != fill(i))
            bad = (long)i;
    int same = same_as_memory(w, phys, PAGE);
    w[3] = 0x12345678;
    uint32_t seen = memory_word(phys + 12);
    munmap(w, PAGE);
    free_block(r.kphysadd);
    CHECK(bad < 0, c, "word %ld lacks the fill pattern", bad);
    CHECK(same, c, "the mapping is not physical memory at %#lx", (unsigned long)phys);
    CHECK(seen == 0x12345678, c, "a write through the mapping is not in physical memory");
    result(1, c, NULL);
}

/* 131072 bytes is the largest block; 131073 is refused and leaves no
 * current block. */
static void case_size_limit(void)
{
    const char* c = "size-limit";
    QORFLDRV_ALLOC r;
    int rc = alloc_block(MAX_BLOCK, &r);
    CHECK(rc == 0, c, "CMD_ALLOC of %d: %s", MAX_BLOCK, err_text(rc));
    int whole = map_errno(MAX_BLOCK, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    int bigger = map_errno(MAX_BLOCK + PAGE, PROT_READ, MAP_SHARED, 0);
    uint32_t last = memory_word((uintptr_t)r.kphysadd + MAX_BLOCK - 4);
    free_block(r.kphysadd);
    CHECK(whole == 0, c, "mmap of 32 pages: %s", err_text(whole));
    CHECK(bigger == -ENXIO, c, "mmap of 33 pages over 32: %s", err_text(bigger));
    CHECK(last == fill(MAX_BLOCK / 4 - 1), c, "last word %#x", last);

    rc = alloc_block(1, &r);
    CHECK(rc == 0, c, "CMD_ALLOC of 1: %s", err_text(rc));
    QORFLDRV_ALLOC over;
    int refused = alloc_block(MAX_BLOCK + 1, &over);
    int after = map_errno(PAGE, PROT_READ, MAP_SHARED, 0);
    free_block(r.kphysadd);
    CHECK(refused == -EINVAL, c, "CMD_ALLOC of %d: %s", MAX_BLOCK + 1, err_text(refused));
    CHECK(after == -ENXIO, c, "mmap after the refusal: %s", err_text(after));
    result(1, c, NULL);
}

/* Refused requests leave no current block. */
static void case_refused_alloc(void)
{
    static const struct {
        const char* name;
        int arg_kind; /* 0 a record, 1 null, 2 an unmapped address */
        long size;
        int want;
    } rows[] = {
        {"refused-alloc/null-argument", 1, 0, -EINVAL},
        {"refused-alloc/negative-size", 0, -1, -EINVAL},
        {"refused-alloc/most-negative-size", 0, LONG_MIN, -EINVAL},
        {"refused-alloc/unreadable-record", 2, 0, -EFAULT},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        const char* c = rows[i].name;
        QORFLDRV_ALLOC keep;
        int rc = alloc_block(1, &keep);
        if (rc != 0) {
            result(0, c, "CMD_ALLOC of 1: %s", err_text(rc));
            continue;
        }
        QORFLDRV_ALLOC r = {.size = rows[i].size};
        void* arg = rows[i].arg_kind == 1 ? NULL : rows[i].arg_kind == 2 ? (void*)(uintptr_t)PAGE : (void*)&r;
        rc = req(CMD_ALLOC, arg);
        int after = map_errno(PAGE, PROT_READ, MAP_SHARED, 0);
        free_block(keep.kphysadd);
        if (rc != rows[i].want)
            result(0, c, "got %s, want %s", err_text(rc), err_text(rows[i].want));
        else if (after != -ENXIO)
            result(0, c, "mmap after the refusal: %s", err_text(after));
        else
            result(1, c, NULL);
    }
}

/* A reply that cannot be copied back fails with EFAULT; the block was
 * recorded and is the current one until it is freed or the module goes. */
static void case_unwritable_reply(void)
{
    const char* c = "unwritable-reply";
    QORFLDRV_ALLOC* ro = mmap(NULL, PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    CHECK(ro != MAP_FAILED, c, "anonymous page: %s", strerror(errno));
    ro->size = PAGE;
    mprotect(ro, PAGE, PROT_READ);
    int rc = req(CMD_ALLOC, ro);
    int mapped = map_errno(PAGE, PROT_READ, MAP_SHARED, 0);
    munmap(ro, PAGE);
    CHECK(rc == -EFAULT, c, "CMD_ALLOC: %s", err_text(rc));
    CHECK(mapped == 0, c, "mmap of the recorded block: %s", err_text(mapped));
    result(1, c, NULL);
}

static void case_mmap_rules(void)
{
    static const struct {
        const char* name;
        size_t len;
        off_t off;
        int prot, flags;
        int want;
    } rows[] = {
        {"mmap-rules/two-pages-over-one", 2 * PAGE, 0, PROT_READ | PROT_WRITE, MAP_SHARED, -ENXIO},
        {"mmap-rules/offset-past-block", PAGE, PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, -ENXIO},
        {"mmap-rules/unaligned-offset", PAGE, 16, PROT_READ, MAP_SHARED, -EINVAL},
        {"mmap-rules/private-writable", PAGE, 0, PROT_READ | PROT_WRITE, MAP_PRIVATE, -EINVAL},
        {"mmap-rules/private-read-only", PAGE, 0, PROT_READ, MAP_PRIVATE, 0},
        {"mmap-rules/shared-read-only", PAGE, 0, PROT_READ, MAP_SHARED, 0},
        {"mmap-rules/part-of-a-page", 100, 0, PROT_READ | PROT_WRITE, MAP_SHARED, 0},
    };
    QORFLDRV_ALLOC r;
    int rc = alloc_block(PAGE, &r);
    if (rc != 0) {
        result(0, "mmap-rules", "CMD_ALLOC: %s", err_text(rc));
        return;
    }
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        int got = map_errno(rows[i].len, rows[i].prot, rows[i].flags, rows[i].off);
        if (got != rows[i].want)
            result(0, rows[i].name, "got %s, want %s", err_text(got), err_text(rows[i].want));
        else
            result(1, rows[i].name, NULL);
    }
    free_block(r.kphysadd);
    int after = map_errno(PAGE, PROT_READ, MAP_SHARED, 0);
    if (after != -ENXIO)
        result(0, "mmap-rules/after-free", "got %s, want %s", err_text(after), strerror(ENXIO));
    else
        result(1, "mmap-rules/after-free", NULL);
}

static void case_codes(void)
{
    QORFLDRV_ALLOC none;
    memset(&none, 0, sizeof none);
    static const struct {
        const char* name;
        unsigned cmd;
        int arg_kind; /* 0 none, 1 a zeroed record, 2 null, 3 unreadable address */
        int want;
    } rows[] = {
        {"codes/unknown-0x4164", 0x4164, 0, -ENOTTY},       {"codes/unknown-0x415f", 0x415f, 0, -ENOTTY},
        {"codes/unknown-0x1234", 0x1234, 1, -ENOTTY},       {"codes/lock-kb", CMD_LOCK_KB, 0, 0},
        {"codes/unlock-kb", CMD_UNLOCK_KB, 0, 0},           {"codes/free-with-no-block", CMD_FREE, 1, 0},
        {"codes/free-null-argument", CMD_FREE, 2, -EFAULT}, {"codes/free-unreadable-record", CMD_FREE, 3, -EFAULT},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        void* arg = rows[i].arg_kind == 1 ? (void*)&none : rows[i].arg_kind == 3 ? (void*)(uintptr_t)PAGE : NULL;
        int got = req(rows[i].cmd, arg);
        if (got != rows[i].want)
            result(0, rows[i].name, "got %s, want %s", err_text(got), err_text(rows[i].want));
        else
            result(1, rows[i].name, NULL);
    }
}

/* Freeing the first of three blocks moves the third into its slot, where a
 * later free by its physical address still finds it (the trace shows the
 * slots). */
static void case_slot_move(void)
{
    const char* c = "slot-move";
    QORFLDRV_ALLOC b[3];
    for (int i = 0; i < 3; i++) {
        int rc = alloc_block(PAGE, &b[i]);
        CHECK(rc == 0, c, "CMD_ALLOC %d: %s", i, err_text(rc));
    }
    int first = free_block(b[0].kphysadd);
    int third = free_block(b[2].kphysadd);
    int second = free_block(b[1].kphysadd);
    CHECK(first == 0 && third == 0 && second == 0, c, "frees: %d %d %d", first, third, second);
    result(1, c, NULL);
}

/* 128 live blocks fill the table; the 129th is refused and leaves the
 * current block as it was; a free of an unknown address changes nothing;
 * one real free makes room again. */
static void case_table(void)
{
    const char* c = "table";
    static QORFLDRV_ALLOC blk[TABLE_SIZE];
    int n = 0;
    for (; n < TABLE_SIZE; n++)
        if (alloc_block(1, &blk[n]) != 0)
            break;
    int full = n == TABLE_SIZE;
    QORFLDRV_ALLOC extra;
    int over = alloc_block(1, &extra);
    uint32_t* w = mmap(NULL, PAGE, PROT_READ, MAP_SHARED, g_fd, 0);
    int current_kept = w != MAP_FAILED && n > 0 && same_as_memory(w, (uintptr_t)blk[n - 1].kphysadd, PAGE);
    if (w != MAP_FAILED)
        munmap(w, PAGE);
    int unknown = free_block((void*)(uintptr_t)0x123);
    int still_full = alloc_block(1, &extra);
    int freed = n > 0 ? free_block(blk[0].kphysadd) : -1;
    int again = alloc_block(1, &extra);
    if (again == 0)
        blk[0] = extra;
    for (int i = 0; i < n; i++)
        free_block(blk[i].kphysadd);
    CHECK(full, c, "only %d blocks could be allocated", n);
    CHECK(over == -EINVAL, c, "the 129th CMD_ALLOC: %s", err_text(over));
    CHECK(current_kept, c, "the refusal changed the current block");
    CHECK(unknown == 0 && still_full == -EINVAL, c, "free of an unknown address: %s, then %s", err_text(unknown),
          err_text(still_full));
    CHECK(freed == 0 && again == 0, c, "free then CMD_ALLOC: %s, %s", err_text(freed), err_text(again));
    result(1, c, NULL);
}

static int module_listed(void)
{
    FILE* f = fopen("/proc/devices", "r");
    char line[128];
    int major = 0;
    while (f && fgets(line, sizeof line, f))
        if (strstr(line, "qorfldrv")) {
            major = atoi(line);
            break;
        }
    if (f)
        fclose(f);
    return major;
}

/* rmmod is refused while the device is open; once closed, the module goes
 * with the blocks still live in it. */
static void case_removal(void)
{
    const char* c = "removal";
    QORFLDRV_ALLOC a, b;
    int rc = alloc_block(PAGE, &a);
    int rc2 = alloc_block(2 * PAGE, &b);
    CHECK(rc == 0 && rc2 == 0, c, "CMD_ALLOC: %s %s", err_text(rc), err_text(rc2));
    if (system("rmmod qorfldrv_mod 2> /dev/null") == -1) {
    }
    int busy = module_listed() != 0;
    close(g_fd);
    g_fd = -1;
    if (system("rmmod qorfldrv_mod") == -1) {
    }
    int gone = module_listed() == 0;
    CHECK(busy, c, "rmmod with the device open removed the module");
    CHECK(gone, c, "rmmod after close left the module listed");
    result(1, c, NULL);
}

int main(void)
{
    struct utsname u;
    if (uname(&u) != 0) {
        perror("uname");
        return 2;
    }
    int kernel24 = strncmp(u.release, "2.4", 3) == 0;
    FILE* mod = fopen("qorfldrv_mod", "w");
    if (!mod) {
        perror("qorfldrv_mod");
        return 2;
    }
    fprintf(mod, "qorfldrv module for %s\n", u.release);
    fclose(mod);
    if (system("insmod ./qorfldrv_mod") == -1) {
    }
    int major = module_listed();
    if (major == 0) {
        printf("not ok load: qorfldrv is not in /proc/devices\n");
        return 1;
    }
    if (mknod("qorfl", S_IFCHR | 0600, makedev(major, 0)) != 0) {
        printf("not ok node: %s\n", strerror(errno));
        return 1;
    }
    g_fd = open("qorfl", O_RDWR);
    g_mem = open("/dev/mem", O_RDONLY);
    if (g_fd < 0 || g_mem < 0) {
        printf("not ok open: %s\n", strerror(errno));
        return 1;
    }

    case_open_rule("qorfl", !kernel24);
    case_alloc_fill();
    case_size_limit();
    case_refused_alloc();
    case_mmap_rules();
    case_codes();
    case_slot_move();
    case_table();
    case_unwritable_reply();
    case_removal();
    printf("%s\n", g_failed ? "FAILED" : "PASSED");
    return g_failed ? 1 : 0;
}
