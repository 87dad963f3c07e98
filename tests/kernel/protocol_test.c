/*
 * Exercises the helper module's device protocol from user space, the way
 * ZORVIK uses it, on a real kernel. Built twice: as a native 64-bit program,
 * and with -m32 as a 32-bit program, whose 20-byte QORFLDRV_ALLOC record
 * reaches the module through its compat entry.
 *
 *   protocol_test NODE NAME
 *
 * NODE is the module's character device; NAME prefixes every result line.
 * Prints one "ok NAME/case" or "not ok NAME/case: why" line per check and
 * ends with "NAME: N passed, M failed". Exit status 0 when nothing failed.
 *
 * The module's allocation table lives as long as the module: every case frees
 * what it allocated, except the last one, which leaves blocks live on purpose
 * so that the module's removal has to release them. The table is expected to
 * be empty when the program starts.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "../support/qorfldrv_protocol.h"

static const char* g_name;
static const char* g_node;
static int g_passed, g_failed;

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

#define CHECK(cond, c, ...)            \
    do {                               \
        if (!(cond)) {                 \
            result(0, c, __VA_ARGS__); \
            return;                    \
        }                              \
    } while (0)

/* ioctl result as 0 or -errno. */
static int req(int fd, unsigned cmd, void* arg)
{
    return ioctl(fd, cmd, arg) < 0 ? -errno : 0;
}

static int alloc_block(int fd, long size, QORFLDRV_ALLOC* rec)
{
    memset(rec, 0, sizeof *rec);
    rec->size = size;
    rec->kvirtlen = SENTINEL_LEN;
    rec->kmallocptr = SENTINEL_PTR;
    return req(fd, CMD_ALLOC, rec);
}

static int free_block(int fd, void* phys)
{
    QORFLDRV_ALLOC rec;
    memset(&rec, 0, sizeof rec);
    rec.kphysadd = phys;
    return req(fd, CMD_FREE, &rec);
}

/* mmap of the current block: the mapping, or null with errno set. */
static uint32_t* map_block(int fd, size_t len, int prot, int flags, off_t off)
{
    void* p = mmap(NULL, len, prot, flags, fd, off);
    return p == MAP_FAILED ? NULL : (uint32_t*)p;
}

static int map_errno(int fd, size_t len, int prot, int flags, off_t off)
{
    uint32_t* p = map_block(fd, len, prot, flags, off);
    if (p) {
        munmap(p, len);
        return 0;
    }
    return -errno;
}

/* Whether the kernel marks the physical page FRAME reserved, from
 * /proc/kpageflags: 1 yes, 0 no, -1 unreadable. The module reserves the
 * pages of every live block and releases the mark when it frees one. */
static int reserved_frame(uint64_t frame)
{
    int fd = open("/proc/kpageflags", O_RDONLY);
    if (fd < 0)
        return -1;
    uint64_t flags = 0;
    ssize_t n = pread(fd, &flags, sizeof flags, (off_t)(frame * 8));
    close(fd);
    if (n != sizeof flags)
        return -1;
    return (int)((flags >> 32) & 1); /* KPF_RESERVED */
}

/* Number of pages from PHYS on that are not marked reserved. */
static int unreserved_pages(uintptr_t phys, size_t bytes)
{
    int n = 0;
    for (size_t p = 0; p < bytes / PAGE; p++)
        if (reserved_frame(phys / PAGE + p) != 1)
            n++;
    return n;
}

/* Index of the first word that does not carry the fill pattern, or -1. */
static long bad_fill(const uint32_t* w, size_t bytes)
{
    for (size_t i = 0; i < bytes / 4; i++)
        if (w[i] != (0xafd0u << 16) + (uint32_t)i)
            return (long)i;
    return -1;
}

static int open_node(void)
{
    return open(g_node, O_RDWR);
}

/* One opener at a time; the release lets the next one in. */
static void case_exclusive_open(void)
{
    const char* c = "exclusive-open";
    int a = open_node();
    CHECK(a >= 0, c, "first open: %s", strerror(errno));
    int b = open_node();
    int err = errno;
    if (b >= 0)
        close(b);
    close(a);
    CHECK(b < 0 && err == EBUSY, c, "second open: %s", b >= 0 ? "succeeded" : strerror(err));
    a = open_node();
    CHECK(a >= 0, c, "open after release: %s", strerror(errno));
    close(a);
    result(1, c, NULL);
}

/* A one-byte request: one page, reply addresses, fill pattern, and the
 * page the reply names is reserved while the block lives. */
static void case_alloc_fill(int fd)
{
    const char* c = "alloc-fill";
    QORFLDRV_ALLOC r;
    int rc = alloc_block(fd, 1, &r);
    CHECK(rc == 0, c, "CMD_ALLOC: %s", strerror(-rc));
    uintptr_t phys = (uintptr_t)r.kphysadd;
    int fields_ok = r.size == 1 && r.kvirtlen == SENTINEL_LEN && r.kmallocptr == SENTINEL_PTR;
    int addr_ok = phys != 0 && phys % PAGE == 0 && r.kvirtadd != NULL && (uintptr_t)r.kvirtadd % PAGE == 0;
    uint32_t* w = map_block(fd, PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    int map_err = errno;
    long bad = w ? bad_fill(w, PAGE) : 0;
    if (w)
        munmap(w, PAGE);
    int unreserved = unreserved_pages(phys, PAGE);
    free_block(fd, r.kphysadd);
    int still = reserved_frame(phys / PAGE);
    CHECK(fields_ok, c, "reply changed size/kvirtlen/kmallocptr: %ld %#lx %p", r.size, r.kvirtlen, r.kmallocptr);
    CHECK(addr_ok, c, "reply addresses not page-aligned: virt %p phys %#lx", r.kvirtadd, (unsigned long)phys);
    CHECK(w != NULL, c, "mmap of one page: %s", strerror(map_err));
    CHECK(bad < 0, c, "word %ld lacks the fill pattern", bad);
    CHECK(unreserved == 0, c, "the page at %#lx is not reserved while live", (unsigned long)phys);
    CHECK(still == 0, c, "the page at %#lx is still reserved after CMD_FREE", (unsigned long)phys);
    result(1, c, NULL);
}

/* Two mappings of one block share its memory; the block keeps what was
 * written after both are gone, until it is freed. */
static void case_second_mapping(int fd)
{
    const char* c = "second-mapping";
    QORFLDRV_ALLOC r;
    int rc = alloc_block(fd, 2 * PAGE, &r);
    CHECK(rc == 0, c, "CMD_ALLOC: %s", strerror(-rc));
    uint32_t* a = map_block(fd, 2 * PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    uint32_t* b = map_block(fd, 2 * PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    int ok_maps = a && b && a != b;
    int seen = 0, kept = 0;
    if (ok_maps) {
        a[0] = 0x11223344;
        a[PAGE / 4 + 7] = 0x55667788;
        b[5] = 0x99aabbcc;
        seen = b[0] == 0x11223344 && b[PAGE / 4 + 7] == 0x55667788 && a[5] == 0x99aabbcc;
        munmap(a, 2 * PAGE);
        munmap(b, 2 * PAGE);
        a = b = NULL;
        uint32_t* again = map_block(fd, 2 * PAGE, PROT_READ, MAP_SHARED, 0);
        kept = again && again[0] == 0x11223344 && again[PAGE / 4 + 7] == 0x55667788 && again[1] == (0xafd0u << 16) + 1;
        if (again)
            munmap(again, 2 * PAGE);
    }
    if (a)
        munmap(a, 2 * PAGE);
    if (b)
        munmap(b, 2 * PAGE);
    free_block(fd, r.kphysadd);
    CHECK(ok_maps, c, "two mappings of the block: %s", strerror(errno));
    CHECK(seen, c, "a write through one mapping is not seen through the other");
    CHECK(kept, c, "a new mapping does not show what was written");
    result(1, c, NULL);
}

/* 131072 bytes is the largest block: 32 reserved pages, all filled;
 * 131073 is refused and leaves no current block. */
static void case_size_limit(int fd)
{
    const char* c = "size-limit";
    QORFLDRV_ALLOC r;
    int rc = alloc_block(fd, MAX_BLOCK, &r);
    CHECK(rc == 0, c, "CMD_ALLOC of %d: %s", MAX_BLOCK, strerror(-rc));
    uint32_t* w = map_block(fd, MAX_BLOCK, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    int map_err = errno;
    long bad = -1;
    if (w) {
        bad = bad_fill(w, MAX_BLOCK);
        munmap(w, MAX_BLOCK);
    }
    int unreserved = unreserved_pages((uintptr_t)r.kphysadd, MAX_BLOCK);
    int bigger = map_errno(fd, MAX_BLOCK + PAGE, PROT_READ, MAP_SHARED, 0);
    free_block(fd, r.kphysadd);
    CHECK(w != NULL, c, "mmap of %d bytes: %s", MAX_BLOCK, strerror(map_err));
    CHECK(bad < 0, c, "word %ld lacks the fill pattern", bad);
    CHECK(unreserved == 0, c, "%d of the block's 32 pages are not reserved", unreserved);
    CHECK(bigger == -ENXIO, c, "mmap of 33 pages over 32: %s", strerror(-bigger));

    rc = alloc_block(fd, 1, &r);
    CHECK(rc == 0, c, "CMD_ALLOC of 1: %s", strerror(-rc));
    int over = alloc_block(fd, MAX_BLOCK + 1, &(QORFLDRV_ALLOC){0});
    int after = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    free_block(fd, r.kphysadd);
    CHECK(over == -EINVAL, c, "CMD_ALLOC of %d: %s", MAX_BLOCK + 1, over ? strerror(-over) : "accepted");
    CHECK(after == -ENXIO, c, "mmap after the refusal: %s", after ? strerror(-after) : "accepted");
    result(1, c, NULL);
}

/* Refused requests: each leaves no current block, and none records a block
 * (checked by the table case, which expects exactly 128 free slots). */
static void case_refused_alloc(int fd)
{
    static const struct {
        const char* name;
        int use_null; /* argument 0 instead of a record */
        int bad_ptr;  /* an address no program can have mapped */
        long size;
        int want;
    } rows[] = {
        {"null-argument", 1, 0, 0, -EINVAL},
        {"negative-size", 0, 0, -1, -EINVAL},
        {"most-negative-size", 0, 0, LONG_MIN, -EINVAL},
        {"bad-address", 0, 1, 0, -EFAULT},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        char c[64];
        snprintf(c, sizeof c, "refused-alloc/%s", rows[i].name);
        QORFLDRV_ALLOC keep;
        int rc = alloc_block(fd, 1, &keep);
        if (rc != 0) {
            result(0, c, "CMD_ALLOC of 1: %s", strerror(-rc));
            continue;
        }
        QORFLDRV_ALLOC r = {.size = rows[i].size};
        void* arg = rows[i].use_null ? NULL : rows[i].bad_ptr ? (void*)(uintptr_t)PAGE : (void*)&r;
        rc = req(fd, CMD_ALLOC, arg);
        int after = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
        free_block(fd, keep.kphysadd);
        if (rc != rows[i].want)
            result(0, c, "got %s, want %s", rc ? strerror(-rc) : "success", strerror(-rows[i].want));
        else if (rows[i].want == -EINVAL && after != -ENXIO)
            result(0, c, "mmap after the refusal: %s", after ? strerror(-after) : "accepted");
        else
            result(1, c, NULL);
    }
}

/* The mapping rules on a one-page block. */
static void case_mmap_rules(int fd)
{
    static const struct {
        const char* name;
        size_t len;
        off_t off;
        int prot, flags;
        int want;
    } rows[] = {
        {"two-pages-over-one", 2 * PAGE, 0, PROT_READ | PROT_WRITE, MAP_SHARED, -ENXIO},
        {"offset-past-block", PAGE, PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, -ENXIO},
        {"private-writable", PAGE, 0, PROT_READ | PROT_WRITE, MAP_PRIVATE, -EINVAL},
        {"private-read-only", PAGE, 0, PROT_READ, MAP_PRIVATE, 0},
        {"shared-read-only", PAGE, 0, PROT_READ, MAP_SHARED, 0},
    };
    QORFLDRV_ALLOC r;
    int rc = alloc_block(fd, PAGE, &r);
    if (rc != 0) {
        result(0, "mmap-rules", "CMD_ALLOC: %s", strerror(-rc));
        return;
    }
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        char c[64];
        snprintf(c, sizeof c, "mmap-rules/%s", rows[i].name);
        int got = map_errno(fd, rows[i].len, rows[i].prot, rows[i].flags, rows[i].off);
        if (got != rows[i].want)
            result(0, c, "got %s, want %s", got ? strerror(-got) : "success",
                   rows[i].want ? strerror(-rows[i].want) : "success");
        else
            result(1, c, NULL);
    }
    free_block(fd, r.kphysadd);
    int after = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    if (after != -ENXIO)
        result(0, "mmap-rules/after-free", "got %s, want %s", after ? strerror(-after) : "success", strerror(ENXIO));
    else
        result(1, "mmap-rules/after-free", NULL);
}

/* Request codes: unknown ones fail with ENOTTY, the keyboard pair succeeds,
 * and CMD_FREE never fails on a readable record. */
static void case_codes(int fd)
{
    QORFLDRV_ALLOC none = {0};
    static const struct {
        const char* name;
        unsigned cmd;
        int arg_kind; /* 0 none, 1 a zeroed record, 2 null, 3 unreadable address */
        int want;
    } rows[] = {
        {"unknown-0x4164", 0x4164, 0, -ENOTTY},       {"unknown-0x415f", 0x415f, 0, -ENOTTY},
        {"unknown-0x1234", 0x1234, 1, -ENOTTY},       {"lock-kb", CMD_LOCK_KB, 0, 0},
        {"unlock-kb", CMD_UNLOCK_KB, 0, 0},           {"free-with-no-block", CMD_FREE, 1, 0},
        {"free-null-argument", CMD_FREE, 2, -EFAULT}, {"free-bad-address", CMD_FREE, 3, -EFAULT},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        char c[64];
        snprintf(c, sizeof c, "codes/%s", rows[i].name);
        void* arg = rows[i].arg_kind == 1 ? (void*)&none : rows[i].arg_kind == 3 ? (void*)(uintptr_t)PAGE : NULL;
        int got = req(fd, rows[i].cmd, arg);
        if (got != rows[i].want)
            result(0, c, "got %s, want %s", got ? strerror(-got) : "success",
                   rows[i].want ? strerror(-rows[i].want) : "success");
        else
            result(1, c, NULL);
    }
}

/* CMD_FREE: an unknown address changes nothing; freeing the first of three
 * blocks moves the third into its slot, where a later free still finds it;
 * the table holds exactly 128 live blocks; a full table leaves the current
 * block as it was; one free makes room again. */
static void case_table(int fd)
{
    const char* c = "table";
    static QORFLDRV_ALLOC blk[TABLE_SIZE + 1];
    QORFLDRV_ALLOC a, b, cc, d;
    int rc = alloc_block(fd, 1, &a);
    rc = rc ? rc : alloc_block(fd, 1, &b);
    rc = rc ? rc : alloc_block(fd, 1, &cc);
    CHECK(rc == 0, c, "three allocations: %s", strerror(-rc));

    /* An address of no live block: returns 0, the current block stays. */
    rc = free_block(fd, (void*)(uintptr_t)((uintptr_t)cc.kphysadd + 16 * PAGE * 1024));
    int still = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    CHECK(rc == 0 && still == 0, c, "free of an unknown address: rc %d, mmap %d", rc, still);

    /* Free the first: the third moves into slot 0. */
    rc = free_block(fd, a.kphysadd);
    int gone = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    CHECK(rc == 0 && gone == -ENXIO, c, "free of the first block: rc %d, mmap %d", rc, gone);
    rc = alloc_block(fd, 1, &d);
    CHECK(rc == 0, c, "allocation after the free: %s", strerror(-rc));
    /* Freeing the third (now in slot 0) clears the current block (d): only
     * a found block does that. */
    rc = free_block(fd, cc.kphysadd);
    gone = map_errno(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    CHECK(rc == 0 && gone == -ENXIO, c, "the moved block was not found by its address (mmap %d)", gone);

    /* Live now: b, d. Fill the table: 126 more. */
    int n = 0;
    for (; n < TABLE_SIZE + 1; n++)
        if (alloc_block(fd, 1, &blk[n]) != 0)
            break;
    /* Mark the current (last) block; a refusal must leave it current. */
    uint32_t* w = map_block(fd, PAGE, PROT_READ | PROT_WRITE, MAP_SHARED, 0);
    if (w) {
        w[0] = 0xfeedface;
        munmap(w, PAGE);
    }
    int full_rc = n < TABLE_SIZE + 1 ? alloc_block(fd, 1, &(QORFLDRV_ALLOC){0}) : 0;
    int ok_count = n == TABLE_SIZE - 2;
    w = map_block(fd, PAGE, PROT_READ, MAP_SHARED, 0);
    int ok_current = w && w[0] == 0xfeedface && w[3] == (0xafd0u << 16) + 3;
    if (w)
        munmap(w, PAGE);
    /* One free makes room for one. */
    int room = -1, refull = -1;
    if (n > 0) {
        free_block(fd, b.kphysadd);
        room = alloc_block(fd, 1, &b);
        refull = alloc_block(fd, 1, &(QORFLDRV_ALLOC){0});
    }
    for (int i = 0; i < n; i++)
        free_block(fd, blk[i].kphysadd);
    free_block(fd, b.kphysadd);
    free_block(fd, d.kphysadd);
    CHECK(ok_count, c, "%d allocations succeeded with 2 live, want %d", n, TABLE_SIZE - 2);
    CHECK(full_rc == -EINVAL, c, "allocation into a full table: %s", full_rc ? strerror(-full_rc) : "accepted");
    CHECK(ok_current, c, "a full table changed the current block");
    CHECK(room == 0 && refull == -EINVAL, c, "after one free: alloc %d, next %d", room, refull);

    /* Everything freed: 128 fit again. */
    for (n = 0; n < TABLE_SIZE; n++)
        if (alloc_block(fd, 1, &blk[n]) != 0)
            break;
    for (int i = 0; i < n; i++)
        free_block(fd, blk[i].kphysadd);
    CHECK(n == TABLE_SIZE, c, "an emptied table took %d blocks", n);
    result(1, c, NULL);
}

/* Blocks left allocated, one of them the largest size: the module's removal
 * has to release them. */
static void case_leave_live(int fd)
{
    const char* c = "leave-live";
    static const long sizes[] = {1, 3 * PAGE + 1, MAX_BLOCK};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
        QORFLDRV_ALLOC r;
        int rc = alloc_block(fd, sizes[i], &r);
        CHECK(rc == 0, c, "CMD_ALLOC of %ld: %s", sizes[i], strerror(-rc));
    }
    result(1, c, NULL);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s NODE NAME\n", argv[0]);
        return 2;
    }
    g_node = argv[1];
    g_name = argv[2];
    setvbuf(stdout, NULL, _IOLBF, 0);

    case_exclusive_open();
    int fd = open_node();
    if (fd < 0) {
        result(0, "open", "%s: %s", g_node, strerror(errno));
    } else {
        case_alloc_fill(fd);
        case_second_mapping(fd);
        case_size_limit(fd);
        case_refused_alloc(fd);
        case_mmap_rules(fd);
        case_codes(fd);
        case_table(fd);
        case_leave_live(fd);
        close(fd);
    }
    printf("%s: %d passed, %d failed\n", g_name, g_passed, g_failed);
    return g_failed ? 1 : 0;
}
