// The helper kernel module "qorfldrv": the text of its sources and Makefiles,
// their build against a kernel tree, the rebuildable package of "/gendrv",
// and the load, device node and unload of the built module.
//
// Outside tools are started with system() (popen where their output is read)
// and their exit status is never used: whether a step worked is judged by the
// files it leaves and by the module's line in /proc/devices.
#include "driver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "loaddiag.h"
#include "../framework/GlobalVariable.h"
#include "../framework/usagehead.h"
#include "../firmware/oshook.h"

int generatedrv = 0;
char gendir[DRV_TEXT_SIZE] = ".";

// Where the device node was made: "qorfl", "/dev/qorfl" or "/qorfl".
static char DrvNode[DRV_TEXT_SIZE];

// ---------------------------------------------------------------------------
// Files and commands
// ---------------------------------------------------------------------------

bool FileExists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

static bool DirectoryOpens(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return false;
    closedir(dir);
    return true;
}

// Composes a path or command line into a text buffer of this unit; false when
// it does not fit.
static bool __attribute__((format(printf, 2, 3))) Compose(char* buf, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, DRV_TEXT_SIZE, format, args);
    va_end(args);
    return n >= 0 && n < DRV_TEXT_SIZE;
}

// Runs one shell command. A command line that would not fit its buffer is
// not run at all rather than run cut short.
static void __attribute__((format(printf, 1, 2))) RunCommand(const char* format, ...)
{
    char cmd[DRV_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(cmd, sizeof(cmd), format, args);
    va_end(args);
    if (n < 0 || n >= (int)sizeof(cmd))
        return;
    if (system(cmd) == -1) {
        // Not looked at: the files the command leaves decide.
    }
}

// The first line "uname -r" prints, without its newline. True when the
// running kernel is a 2.4 one.
static bool ReadKernelRelease(char* release)
{
    release[0] = '\0';
    FILE* pipe = popen("uname -r", "r");
    if (pipe != nullptr) {
        if (fgets(release, DRV_TEXT_SIZE, pipe) == nullptr)
            release[0] = '\0';
        pclose(pipe);
    }
    bool kernel24 = strncmp(release, "2.4", 3) == 0;
    size_t len = strlen(release);
    if (len > 0 && release[len - 1] == '\n')
        release[len - 1] = '\0';
    return kernel24;
}

// What the load's explanation says of the running kernel's tree.
static void NoteKernelTree(int state, const char* dir)
{
    g_LoadDiagnosis.TreeState = state;
    Compose(g_LoadDiagnosis.TreeDir, "%s", dir);
}

// The tree of the running kernel: "source/" (2.6 and later) or "build/"
// (2.4) under /lib/modules/<release>, the other one as a fallback for 2.6.
// `report` adds the "Cannot locate" line to CheckKernelSource's own.
static bool LocateKernelSource(const char* release, bool kernel24, char* dir, bool report)
{
    bool fits = Compose(dir, kernel24 ? "/lib/modules/%s/build/" : "/lib/modules/%s/source/", release);
    if (fits && DirectoryOpens(dir))
        return true;
    if (!kernel24) {
        fits = Compose(dir, "/lib/modules/%s/build/", release);
        if (!fits || !DirectoryOpens(dir)) {
            if (report) {
                WriteOut("Error: Cannot locate kernel source.\n");
                NoteKernelTree(KERNEL_TREE_MISSING, dir);
            }
            return false;
        }
    }
    if (!CheckKernelSource(dir)) {
        if (report) {
            WriteOut("Error: Cannot locate kernel source.\n");
            char includeDir[DRV_TEXT_SIZE];
            if (!DirectoryOpens(dir))
                NoteKernelTree(KERNEL_TREE_MISSING, dir);
            else if (!Compose(includeDir, "%s/include/linux", dir) || !DirectoryOpens(includeDir))
                NoteKernelTree(KERNEL_TREE_WITHOUT_MM_H, dir);
        }
        return false;
    }
    return true;
}

bool CheckKernelSource(char* dir)
{
    char path[DRV_TEXT_SIZE];
    if (!Compose(path, "%s/include/linux", dir) || !DirectoryOpens(path)) {
        WriteOut("\nError: Kernel source files cannot be found.\n");
        return false;
    }
    if (!FileExists("/usr/bin/gcc")) {
        WriteOut("\nError: gcc complier did not exist.\n");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Probes of the kernel tree
// ---------------------------------------------------------------------------

// True when the tree's mm.h has a line naming remap_pfn_range.
static bool ProbeRemapPfnRange(const char* kernelDir)
{
    char cmd[DRV_TEXT_SIZE];
    char line[DRV_TEXT_SIZE];
    if (!Compose(cmd, "cat %s/include/linux/mm.h | grep remap_pfn_range", kernelDir))
        return false;
    FILE* pipe = popen(cmd, "r");
    if (pipe == nullptr)
        return false;
    bool found = false;
    while (fgets(line, sizeof(line), pipe) != nullptr) {
        if (strstr(line, "remap_pfn_range") != nullptr) {
            found = true;
            break;
        }
    }
    pclose(pipe);
    return found;
}

// Headers larger than this are not taken for mm.h.
static const long MAX_HEADER_SIZE = 64L * 1024 * 1024;

// Counts the commas of the first remap_page_range declaration in the tree's
// mm.h, from the name up to the first ';' (or the end of the file); 0 when
// the name does not occur. False when the file cannot be read into memory.
static bool CountRemapPageRangeCommas(const char* kernelDir, int* commas)
{
    char path[DRV_TEXT_SIZE];
    if (!Compose(path, "%s/include/linux/mm.h", kernelDir))
        return false;
    FILE* f = fopen(path, "rb");
    if (f == nullptr)
        return false;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    if (size < 0 || size > MAX_HEADER_SIZE || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return false;
    }
    char* text = (char*)AllocMem((unsigned int)size + 1);
    if (text == nullptr) {
        fclose(f);
        return false;
    }
    size_t length = fread(text, 1, (size_t)size, f);
    bool complete = length == (size_t)size && ferror(f) == 0;
    fclose(f);
    if (!complete) {
        FreeMem((unsigned char*)text);
        return false;
    }

    static const char NAME[] = "remap_page_range";
    const size_t nameLength = sizeof(NAME) - 1;
    *commas = 0;
    for (size_t at = 0; at + nameLength <= length; at++) {
        if (memcmp(text + at, NAME, nameLength) != 0)
            continue;
        for (size_t i = at; i < length && text[i] != ';'; i++) {
            if (text[i] == ',')
                (*commas)++;
        }
        break;
    }
    FreeMem((unsigned char*)text);
    return true;
}

// ---------------------------------------------------------------------------
// Text of the generated files
// ---------------------------------------------------------------------------

#define DRV_TITLE "Tarn BBS Utility for Android"
#define DRV_RULE "//-------------------------------------------------------------------------------------------------"

static void PutLines(FILE* f, const char* const* lines, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        fputs(lines[i], f);
        fputc('\n', f);
    }
}

#define PUT_LINES(f, table) PutLines((f), (table), sizeof(table) / sizeof((table)[0]))

// The comment block that heads both wrapper files; `gap` goes between the
// title and "v".
static void PutBanner(FILE* f, const char* gap)
{
    fprintf(f, "%s\n", DRV_RULE);
    fprintf(f, "//               %s%sv%s\n", DRV_TITLE, gap, UTILITY_VERSION);
    fprintf(f, "// Copyright (C) Tarn. All Rights Reserved.\n");
    fprintf(f, "%s\n", DRV_RULE);
}

static const char* const QORWRAP_H[] = {
    "#define KVT_ATTRIBUTE_FUNC",
    "KVT_ATTRIBUTE_FUNC int wrap_register_chrdev(void);",
    "KVT_ATTRIBUTE_FUNC void wrap_unregister_chrdev(void);",
    "KVT_ATTRIBUTE_FUNC void wrap_mem_map_reserve(void);",
    "KVT_ATTRIBUTE_FUNC void wrap_mem_map_unreserve(void);",
    "KVT_ATTRIBUTE_FUNC int wrap_remap_page_range(void);",
    "KVT_ATTRIBUTE_FUNC struct page *wrap_virt_to_page(void);",
    "KVT_ATTRIBUTE_FUNC void *wrap_kmalloc(void);",
    "KVT_ATTRIBUTE_FUNC void wrap_kfree(void);",
    "KVT_ATTRIBUTE_FUNC unsigned long wrap_copy_from_user(void);",
    "KVT_ATTRIBUTE_FUNC unsigned long wrap_copy_to_user(void);",
    "extern unsigned long   ulArg0;",
    "extern unsigned long   ulArg1;",
    "extern unsigned long   ulArg2;",
    "extern pgprot_t        pgArg0;",
    "extern void            *pvArg0;",
    "extern void            *pvArg1;",
};

// qorwrap.c from its includes up to the remap wrapper.
static const char* const QORWRAP_C_HEAD[] = {
    "#include <linux/version.h>",
    "#include <linux/module.h>",
    "#include <linux/kernel.h>",
    "#include <linux/init.h>",
    "#include <linux/fs.h>",
    "#include <linux/string.h>",
    "#include <linux/errno.h>",
    "#include <linux/mm.h>",
    "#include <linux/vmalloc.h>",
    "#include <linux/mman.h>",
    "#include <linux/slab.h>",
    "#include <asm/io.h>",
    "#include <asm/uaccess.h>",
    // Lines for current kernels, each behind a version or configuration test:
    // the user copies moved to linux/uaccess.h in 4.12; unlocked_ioctl exists
    // since 2.6.11 but its HAVE_UNLOCKED_IOCTL macro went away in 5.9, so it is
    // defined where missing; compat_ioctl (below) serves 32-bit programs on a
    // 64-bit kernel.
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(4,12,0)",
    "#include <linux/uaccess.h>",
    "#endif",
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "#include <linux/compat.h>",
    "#endif",
    "#if !defined(HAVE_UNLOCKED_IOCTL) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "#define HAVE_UNLOCKED_IOCTL 1",
    "#endif",
    "",
    "#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)",
    "#include <linux/wrapper.h>",
    "#endif",
    "#include \"qorwrap.h\"",
    "",
    "extern int qorfldrv_ioctl(void);",
    "extern int qorfldrv_mmap(void);",
    "unsigned long   ulArg0;",
    "unsigned long   ulArg1;",
    "unsigned long   ulArg2;",
    "pgprot_t        pgArg0;",
    "void            *pvArg0;",
    "void            *pvArg1;",
    "",
    "KVT_ATTRIBUTE_FUNC static int wrap_open(struct inode *inode, struct file *file);",
    "KVT_ATTRIBUTE_FUNC static int wrap_release(struct inode *inode, struct file *file);",
    "#if defined(HAVE_UNLOCKED_IOCTL)",
    "KVT_ATTRIBUTE_FUNC static long wrap_unlocked_ioctl(struct file *filp, unsigned int cmd, unsigned long arg);",
    "#else",
    "KVT_ATTRIBUTE_FUNC static int wrap_ioctl(struct inode *inode, struct file *filp, unsigned int cmd, unsigned long arg);",
    "#endif",
    "KVT_ATTRIBUTE_FUNC static int wrap_mmap(struct file *file, struct vm_area_struct *vma);",
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "KVT_ATTRIBUTE_FUNC static long wrap_compat_ioctl(struct file *filp, unsigned int cmd, unsigned long arg);",
    "#endif",
    "",
    "struct file_operations qorfldrv_fops =",
    "{",
    "  owner:   THIS_MODULE,",
    "  open:    wrap_open,",
    "  release: wrap_release,",
    "#if defined(HAVE_UNLOCKED_IOCTL)",
    "  unlocked_ioctl:   wrap_unlocked_ioctl,",
    "#else",
    "  ioctl:   wrap_ioctl,",
    "#endif",
    "  mmap:    wrap_mmap,",
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "  compat_ioctl: wrap_compat_ioctl,",
    "#endif",
    "};",
    "",
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)",
    "MODULE_LICENSE(\"GPL\");",
    "MODULE_AUTHOR(\"Tarn\");",
    "#endif",
    "",
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)",
    "static int device_open_count = 0;",
    "#endif",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "int wrap_open(struct inode *inode, struct file *file)",
    "{",
    "#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)",
    "    MOD_INC_USE_COUNT;",
    "#else",
    "    if (device_open_count)",
    "        return -EBUSY;",
    "    device_open_count++;",
    "    try_module_get(THIS_MODULE);",
    "#endif",
    "    return(0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "int wrap_release(struct inode *inode, struct file *file)",
    "{",
    "#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)",
    "    MOD_DEC_USE_COUNT;",
    "#else",
    "    device_open_count--;",
    "    module_put(THIS_MODULE);",
    "#endif",
    "    return(0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "#if defined(HAVE_UNLOCKED_IOCTL)",
    "long wrap_unlocked_ioctl(struct file *filp, unsigned int cmd, unsigned long arg)",
    "#else",
    "int wrap_ioctl(struct inode *inode, struct file *filp, unsigned int cmd, unsigned long arg)",
    "#endif",
    "{",
    "#ifndef HAVE_UNLOCKED_IOCTL",
    "    pvArg0 = inode;",
    "#endif",
    "    pvArg1 = filp;",
    "    ulArg0 = cmd;",
    "    ulArg1 = arg;",
    "#if defined(HAVE_UNLOCKED_IOCTL)",
    "    return (long)qorfldrv_ioctl();",
    "#else",
    "    return qorfldrv_ioctl();",
    "#endif",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "int wrap_mmap(struct file *file, struct vm_area_struct *vma)",
    "{",
    "    pvArg0 = file;",
    "    pvArg1 = vma;",
    "    return qorfldrv_mmap();",
    "}",
    "",
    // A 32-bit program on a 64-bit kernel reaches the module only through
    // compat_ioctl, with a 20-byte record (4-byte long and pointers). The entry
    // runs the same request; while it runs, the two record copies convert
    // between that layout and the native one. A block address that a 32-bit
    // record cannot hold is not handed out: the copy to the program fails.
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "struct qorfldrv_record {long size; unsigned long kvirtlen; void *kmallocptr; void *kvirtadd; void *kphysadd;};",
    "struct qorfldrv_record32 {compat_long_t size; compat_ulong_t kvirtlen; compat_uptr_t kmallocptr; compat_uptr_t kvirtadd; compat_uptr_t kphysadd;};",
    "static int compat_record = 0;",
    "static unsigned long copy_record_from_compat(void)",
    "{",
    "\tstruct qorfldrv_record32 r32;",
    "\tstruct qorfldrv_record *r = (struct qorfldrv_record *)pvArg0;",
    "\tif (ulArg0 != sizeof(struct qorfldrv_record) || copy_from_user(&r32, pvArg1, sizeof(r32)) != 0)",
    "\t\treturn ulArg0;",
    "\tr->size = r32.size;",
    "\tr->kvirtlen = r32.kvirtlen;",
    "\tr->kmallocptr = (void *)(unsigned long)r32.kmallocptr;",
    "\tr->kvirtadd = (void *)(unsigned long)r32.kvirtadd;",
    "\tr->kphysadd = (void *)(unsigned long)r32.kphysadd;",
    "\treturn 0;",
    "}",
    "static unsigned long copy_record_to_compat(void)",
    "{",
    "\tstruct qorfldrv_record32 r32;",
    "\tstruct qorfldrv_record *r = (struct qorfldrv_record *)pvArg1;",
    "\tif (ulArg0 != sizeof(struct qorfldrv_record) || (unsigned long)r->kphysadd > 0xffffffffUL)",
    "\t\treturn ulArg0;",
    "\tr32.size = (compat_long_t)r->size;",
    "\tr32.kvirtlen = (compat_ulong_t)r->kvirtlen;",
    "\tr32.kmallocptr = (compat_uptr_t)(unsigned long)r->kmallocptr;",
    "\tr32.kvirtadd = (compat_uptr_t)(unsigned long)r->kvirtadd;",
    "\tr32.kphysadd = (compat_uptr_t)(unsigned long)r->kphysadd;",
    "\treturn copy_to_user(pvArg0, &r32, sizeof(r32)) != 0 ? ulArg0 : 0;",
    "}",
    "KVT_ATTRIBUTE_FUNC",
    "long wrap_compat_ioctl(struct file *filp, unsigned int cmd, unsigned long arg)",
    "{",
    "    long ret;",
    "    pvArg1 = filp;",
    "    ulArg0 = cmd;",
    "    ulArg1 = (unsigned long)compat_ptr(arg);",
    "    compat_record = 1;",
    "    ret = (long)qorfldrv_ioctl();",
    "    compat_record = 0;",
    "    return ret;",
    "}",
    "#endif",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "int wrap_register_chrdev()",
    "{",
    "\treturn register_chrdev((unsigned int)ulArg0, \"qorfldrv\", (struct file_operations *)pvArg0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "void wrap_unregister_chrdev()",
    "{",
    "\tunregister_chrdev(ulArg0, \"qorfldrv\");",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "void wrap_mem_map_reserve()",
    "{",
    // mem_map_reserve and mem_map_unreserve exist in 2.4 kernels only.
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)",
    "\tSetPageReserved((struct page*)pvArg0);",
    "#else",
    "\tmem_map_reserve((struct page*)pvArg0);",
    "#endif",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "void wrap_mem_map_unreserve()",
    "{",
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)",
    "\tClearPageReserved((struct page*)pvArg0);",
    "#else",
    "\tmem_map_unreserve((struct page*)pvArg0);",
    "#endif",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "struct page *wrap_virt_to_page()",
    "{",
    "\treturn virt_to_page(ulArg0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "int wrap_remap_page_range()",
    "{",
    "#if (LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0))",
};

// The remap calls: the 2.6 form with a page frame number, the five-argument
// form with the mapping first, and the four-argument form of old kernels.
static const char* const REMAP_PFN[] = {
    "ulArg1 = ulArg1>>PAGE_SHIFT;",
    "  return remap_pfn_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);",
};
static const char REMAP_VMA_CALL[] =
    "  return remap_page_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);";
static const char REMAP_OLD_CALL[] = "  return remap_page_range(ulArg0, ulArg1, ulArg2, pgArg0);";

// qorwrap.c after the remap wrapper's pre-2.6 call.
static const char* const QORWRAP_C_TAIL[] = {
    "#endif",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "void *wrap_kmalloc()",
    "{",
    "\treturn kmalloc((size_t)ulArg0, (int)ulArg1);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "void wrap_kfree()",
    "{",
    "\tkfree(pvArg0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "unsigned long wrap_copy_from_user()",
    "{",
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "\tif (compat_record) return copy_record_from_compat();",
    "#endif",
    "\treturn copy_from_user(pvArg0, pvArg1, ulArg0);",
    "}",
    "",
    "KVT_ATTRIBUTE_FUNC",
    "unsigned long wrap_copy_to_user()",
    "{",
    "#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)",
    "\tif (compat_record) return copy_record_to_compat();",
    "#endif",
    "\treturn copy_to_user(pvArg0, pvArg1, ulArg0);",
    "}",
    "",
};

static const char* const QORFLDRV_H[] = {
    "extern struct file_operations qorfldrv_fops;",
    "#define CMD_ALLOC\t0x4160",
    "#define CMD_FREE\t0x4161",
    "#define CMD_LOCK_KB\t0x4162",
    "#define CMD_UNLOCK_KB\t0x4163",
    "typedef struct tagQORFLDRV_ALLOC",
    "{long\tsize; unsigned long\tkvirtlen; void * kmallocptr; void * kvirtadd; void * kphysadd;}QORFLDRV_ALLOC;",
};

// The module's logic. It reaches the kernel only through the wrappers of
// qorwrap.c. Besides what the device protocol asks for, a request whose
// record cannot be copied fails with -EFAULT, and an allocation of a
// negative size (-EINVAL) or one the kernel refuses (-ENOMEM) fails without
// reserving, filling or recording anything.
static const char* const QORFLDRV_C[] = {
    "#include <linux/mm.h>",
    "#include <asm/io.h>",
    "#include <linux/interrupt.h>",
    // Current kernels: module_init and module_exit need linux/module.h from
    // 2.6 on (a 2.4 module includes it in one object only, qorwrap.c), and
    // vm_flags is read-only from 6.3 on.
    "#ifndef LINUX_VERSION_CODE",
    "#include <linux/version.h>",
    "#endif",
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)",
    "#include <linux/module.h>",
    "#endif",
    "#include \"qorfldrv.h\"",
    "#include \"qorwrap.h\"",
    "int qorfldrv_ioctl(void);",
    "int qorfldrv_mmap(void);",
    "static int *kmalloc_area = NULL;",
    "static int *kmalloc_ptr = NULL;",
    "static unsigned long kmalloc_len = 0L;",
    "static int major;",
    "static QORFLDRV_ALLOC kmalloc_drv[128];",
    "static int kcount = 0;",
    "static int qorfldrv_init_module(void)",
    "{",
    "ulArg0 = 0;",
    "pvArg0 = &qorfldrv_fops;",
    "major = wrap_register_chrdev();",
    "if (major < 0) return -EIO;",
    "memset(kmalloc_drv, 0, sizeof(QORFLDRV_ALLOC) * 128);",
    "return 0;",
    "}",
    "static void qorfldrv_cleanup_module(void)",
    "{",
    "int i;",
    "unsigned long virt_addr;",
    "if (kcount > 0) {",
    "for (i = 0; i < kcount; i++) {",
    "kmalloc_ptr = kmalloc_drv[i].kmallocptr;",
    "kmalloc_area = kmalloc_drv[i].kvirtadd;",
    "kmalloc_len = kmalloc_drv[i].kvirtlen;",
    "if (kmalloc_ptr != NULL) {",
    "for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {",
    "ulArg0 = virt_addr;",
    "pvArg0 = wrap_virt_to_page();",
    "wrap_mem_map_unreserve();",
    "}",
    "pvArg0 = kmalloc_ptr;",
    "wrap_kfree();",
    "}",
    "}",
    "kcount = 0;",
    "}",
    "ulArg0 = major;",
    "wrap_unregister_chrdev();",
    "}",
    "module_init(qorfldrv_init_module);",
    "module_exit(qorfldrv_cleanup_module);",
    "int qorfldrv_ioctl(void)",
    "{",
    "unsigned int cmd = (unsigned int)ulArg0;",
    "unsigned long arg = ulArg1;",
    "QORFLDRV_ALLOC arg_kernel_space;",
    "unsigned long virt_addr;",
    "unsigned long i;",
    "switch (cmd) {",
    "case CMD_ALLOC:",
    "if (kcount >= 128) return -EINVAL;",
    "kmalloc_ptr = NULL;",
    "if (arg == 0) return -EINVAL;",
    "pvArg0 = &arg_kernel_space;",
    "pvArg1 = (void *)arg;",
    "ulArg0 = sizeof(QORFLDRV_ALLOC);",
    "if (wrap_copy_from_user() != 0) return -EFAULT;",
    "if (arg_kernel_space.size < 0) return -EINVAL;",
    "if (arg_kernel_space.size > 128*1024) return -EINVAL;",
    "kmalloc_len = ((arg_kernel_space.size + PAGE_SIZE -1) & PAGE_MASK);",
    "ulArg0 = kmalloc_len+2*PAGE_SIZE;",
    "ulArg1 = GFP_DMA|GFP_KERNEL;",
    "kmalloc_ptr = wrap_kmalloc();",
    "if (kmalloc_ptr == NULL) {",
    "kmalloc_len = 0;",
    "return -ENOMEM;",
    "}",
    "kmalloc_area = (int *)(((unsigned long)kmalloc_ptr + PAGE_SIZE -1) & PAGE_MASK);",
    "for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {",
    "ulArg0 = virt_addr;",
    "pvArg0 = wrap_virt_to_page();",
    "wrap_mem_map_reserve();",
    "}",
    "for (i = 0; i < kmalloc_len / 4; i++) {",
    "kmalloc_area[i] = (0xafd0<<16) +i;",
    "}",
    "kmalloc_drv[kcount].size = arg_kernel_space.size;",
    "kmalloc_drv[kcount].kmallocptr = kmalloc_ptr;",
    "kmalloc_drv[kcount].kvirtlen = kmalloc_len;",
    "kmalloc_drv[kcount].kvirtadd = kmalloc_area;",
    "kmalloc_drv[kcount].kphysadd = (void *)virt_to_phys(kmalloc_area);",
    "kcount++;",
    "arg_kernel_space.kvirtadd = kmalloc_area;",
    "arg_kernel_space.kphysadd = (void *)virt_to_phys(kmalloc_area);",
    "pvArg0 = (void *)arg;",
    "pvArg1 = &arg_kernel_space;",
    "ulArg0 = sizeof(QORFLDRV_ALLOC);",
    "if (wrap_copy_to_user() != 0) return -EFAULT;",
    "return 0;",
    "case CMD_FREE:",
    "pvArg0 = &arg_kernel_space;",
    "pvArg1 = (void *)arg;",
    "ulArg0 = sizeof(QORFLDRV_ALLOC);",
    "if (wrap_copy_from_user() != 0) return -EFAULT;",
    "if (kcount == 0) return 0;",
    "for (i = 0; i < (unsigned long)kcount; i++) {",
    "if (kmalloc_drv[i].kphysadd == arg_kernel_space.kphysadd) break;",
    "}",
    "if (i >= (unsigned long)kcount) return 0;",
    "kmalloc_ptr = kmalloc_drv[i].kmallocptr;",
    "kmalloc_area = kmalloc_drv[i].kvirtadd;",
    "kmalloc_len = kmalloc_drv[i].kvirtlen;",
    "if (kmalloc_ptr != NULL) {",
    "for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {",
    "ulArg0 = virt_addr;",
    "pvArg0 = wrap_virt_to_page();",
    "wrap_mem_map_unreserve();",
    "}",
    "pvArg0 = kmalloc_ptr;",
    "wrap_kfree();",
    "kmalloc_len = 0;",
    "kmalloc_ptr = NULL;",
    "kmalloc_area = NULL;",
    "kcount--;",
    "if (i != (unsigned long)kcount) kmalloc_drv[i] = kmalloc_drv[kcount];",
    "memset(&kmalloc_drv[kcount], 0, sizeof(QORFLDRV_ALLOC));",
    "}",
    "return 0;",
    "case CMD_LOCK_KB:",
    "disable_irq(1);",
    "return 0;",
    "case CMD_UNLOCK_KB:",
    "enable_irq(1);",
    "return 0;",
    "default:",
    "return -ENOTTY;",
    "}",
    "}",
    "int qorfldrv_mmap(void)",
    "{",
    "struct vm_area_struct *vma = (struct vm_area_struct *)pvArg1;",
    "unsigned long offset = vma->vm_pgoff << PAGE_SHIFT;",
    "unsigned long size = vma->vm_end - vma->vm_start;",
    "if (offset & ~PAGE_MASK) return -ENXIO;",
    "if (kmalloc_ptr == NULL) return -ENXIO;",
    "if (size > kmalloc_len) return -ENXIO;",
    "if (offset + size > kmalloc_len) return -ENXIO;",
    "if ((vma->vm_flags & VM_WRITE) && !(vma->vm_flags & VM_SHARED)) return -EINVAL;",
    "#if LINUX_VERSION_CODE >= KERNEL_VERSION(6,3,0)",
    "vm_flags_set(vma, VM_LOCKED);",
    "#else",
    "vma->vm_flags |= VM_LOCKED;",
    "#endif",
    "pvArg0 = vma;",
    "ulArg0 = vma->vm_start;",
    "ulArg1 = virt_to_phys(kmalloc_area);",
    "ulArg2 = size;",
    "pgArg0 = PAGE_SHARED;",
    "if (wrap_remap_page_range() != 0) return -ENXIO;",
    "return 0;",
    "}",
};

// Makefiles. The 2.4 one builds with the kernel tree's own configuration;
// the 2.6 one hands the build to the kernel's module build system.
static const char* const MAKEFILE_24_HEAD[] = {
    "ifndef KERNEL",
    "KERNEL=/lib/modules/$(shell uname -r)/build",
    "endif",
    "ARCH=$(shell uname -m | sed -e s/i.86/i386/ -e s/sun4u/sparc64/ -e s/arm.*/arm/ -e s/sa110/arm/)",
    "CFLAGS = -D__KERNEL__ -DMODULE -I$(KERNEL)/include",
    "CFLAGS+= -Wall -Wstrict-prototypes -O2 -fomit-frame-pointer -fno-strict-aliasing",
    "all:\tqorfldrv_mod.o",
    "include $(KERNEL)/.config",
    "include $(KERNEL)/arch/${ARCH}/Makefile",
    "ifdef CONFIG_SMP",
    "CFLAGS+= -D__SMP__",
    "endif",
};
static const char MAKEFILE_24_REDHAT[] = "CFLAGS+= -DREMAP_VMA";
static const char* const MAKEFILE_24_LINK[] = {
    "qorfldrv_mod.o:\tqorfldrv.o qorwrap.o",
    "\tld -r -o qorfldrv_mod.o qorwrap.o qorfldrv.o",
};
static const char MAKEFILE_24_MOVE[] = "\tmv qorfldrv_mod.o ../qorfldrv_mod";
static const char* const MAKEFILE_24_TAIL[] = {
    "qorwrap.o: qorwrap.c",
    "\tgcc $(CFLAGS) -c qorwrap.c",
    ".PHONY : clean",
    "clean:",
    "\trm -f *.o",
    "\trm -f qorfldrv_mod* qorwrap.o *~",
};

static const char* const MAKEFILE_26_BUILD[] = {
    "ifndef KERNEL",
    "KERNEL = /lib/modules/$(shell uname -r)/build",
    "endif",
    "EXTRA_CFLAGS := -Wall -Wstrict-prototypes -O2 -fno-strict-aliasing",
    "obj-m\t\t\t+=\tqorfldrv_mod.o",
    "qorfldrv_mod-objs\t:=\tqorfldrv.o qorwrap.o",
    "default:",
    // Trees from 3.7 on (with a generated uapi version.h) are given M=, which
    // kbuild knows since 2.6 and which 5.3 and later need: they ignore or
    // refuse SUBDIRS=.
    "ifneq ($(wildcard $(KERNEL)/include/generated/uapi/linux/version.h),)",
    "\tmake -C $(KERNEL) SUBDIRS=$(PWD) M=$(PWD) modules",
    "else",
    "\tmake -C $(KERNEL) SUBDIRS=$(PWD) modules",
    "endif",
    "\trm -f qorfldrv.o_shipped",
    "\tmv qorfldrv.o qorfldrv.o_shipped",
    "\trm -f qorfldrv_mod.o",
    "\tmv qorfldrv_mod.ko ../qorfldrv_mod",
    ".PHONY : clean",
    "clean:",
    "\trm -f *.*~",
    "\trm -f test",
    "\trm -f .*cmd",
    "\trm -f *.o",
    "\trm -f *mod*",
    "\trm -f *.ko",
    "\trm -f qorfldrv.o_shipped",
    "\trm -rf .tmp_versions/",
};

static const char* const MAKEFILE_26_PACKAGE[] = {
    "ifndef KERNEL",
    "KERNEL = /lib/modules/$(shell uname -r)/build",
    "endif",
    "EXTRA_CFLAGS := -Wall -Wstrict-prototypes -O2 -fno-strict-aliasing",
    "obj-m\t+= qorfldrv_mod.o",
    "qorfldrv_mod-objs\t:=\tqorfldrv.o qorwrap.o",
    "default:",
    // As above; current modpost also reads a .<object>.cmd file beside every
    // object, which kbuild writes only for what it compiles, not for the
    // core it copies from qorfldrv.o_shipped.
    "ifneq ($(wildcard $(KERNEL)/include/generated/uapi/linux/version.h),)",
    "\ttouch .qorfldrv.o.cmd",
    "\tmake -C $(KERNEL) SUBDIRS=$(PWD) M=$(PWD) modules",
    "else",
    "\tmake -C $(KERNEL) SUBDIRS=$(PWD) modules",
    "endif",
    "\trm -f qorfldrv_mod.o",
    "\tmv qorfldrv_mod.ko qorfldrv_mod.o",
    ".PHONY : clean",
    "clean:",
    "\trm -f *.*~",
    "\trm -f .*cmd",
    "\trm -f *.o",
    "\trm -f *mod*",
    "\trm -f *.ko",
    "\trm -rf .tmp_versions/",
};

// The 2.4 Makefile; the package's leaves the module where make links it.
static void WriteMakefile24(FILE* f, bool moveModuleUp)
{
    PUT_LINES(f, MAKEFILE_24_HEAD);
    if (FileExists("/etc/redhat-release"))
        fprintf(f, "%s\n", MAKEFILE_24_REDHAT);
    PUT_LINES(f, MAKEFILE_24_LINK);
    if (moveModuleUp)
        fprintf(f, "%s\n", MAKEFILE_24_MOVE);
    PUT_LINES(f, MAKEFILE_24_TAIL);
}

void WriteBuildMakefile(FILE* f, bool kernel24)
{
    if (kernel24)
        WriteMakefile24(f, true);
    else
        PUT_LINES(f, MAKEFILE_26_BUILD);
}

void WritePackageMakefile(FILE* f, bool kernel24)
{
    if (kernel24)
        WriteMakefile24(f, false);
    else
        PUT_LINES(f, MAKEFILE_26_PACKAGE);
}

// qorwrap.c; the probes run while its remap wrapper is written. False when
// the tree's mm.h cannot be read (the file ends where the probe stopped).
static bool WriteQorwrapSource(FILE* f, bool kernel24, const char* kernelDir)
{
    PutBanner(f, "  ");
    if (kernel24)
        fputs("#include <linux/config.h>\n", f);
    PUT_LINES(f, QORWRAP_C_HEAD);
    if (ProbeRemapPfnRange(kernelDir))
        PUT_LINES(f, REMAP_PFN);
    else
        fprintf(f, "%s\n", REMAP_VMA_CALL);
    fputs("#else\n", f);
    int commas = 0;
    if (!CountRemapPageRangeCommas(kernelDir, &commas))
        return false;
    fprintf(f, "%s\n", commas == 3 ? REMAP_OLD_CALL : REMAP_VMA_CALL);
    PUT_LINES(f, QORWRAP_C_TAIL);
    return true;
}

bool WriteDriverSourceFiles(bool kernel24, const char* kernelDir)
{
    FILE* f = fopen(".temp/qorwrap.h", "w+");
    if (f != nullptr) {
        PutBanner(f, " ");
        PUT_LINES(f, QORWRAP_H);
        fclose(f);
    }

    f = fopen(".temp/qorwrap.c", "w+");
    if (f != nullptr) {
        bool complete = WriteQorwrapSource(f, kernel24, kernelDir);
        fclose(f);
        if (!complete)
            return false;
    }

    f = fopen(".temp/qorfldrv.h", "w+");
    if (f != nullptr) {
        PUT_LINES(f, QORFLDRV_H);
        fclose(f);
    }

    f = fopen(".temp/qorfldrv.c", "w+");
    if (f != nullptr) {
        PUT_LINES(f, QORFLDRV_C);
        fclose(f);
    }

    f = fopen(".temp/Makefile", "w+");
    if (f != nullptr) {
        WriteBuildMakefile(f, kernel24);
        fclose(f);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Generation, build and export
// ---------------------------------------------------------------------------

// The build's log in .temp, where make runs.
#define BUILD_LOG "build.log"

// Where make ran and the last lines it printed, before .temp goes.
static void NoteBuildFailure()
{
    g_LoadDiagnosis.BuildFailed = true;
    char cwd[DRV_TEXT_SIZE];
    if (getcwd(cwd, sizeof(cwd)) == nullptr)
        strcpy(cwd, ".");
    if (!Compose(g_LoadDiagnosis.BuildDir, "%s/.temp", strcmp(cwd, "/") == 0 ? "" : cwd))
        strcpy(g_LoadDiagnosis.BuildDir, ".temp");
    KVT_KeepBuildLogTail(".temp/" BUILD_LOG);
}

void CreateDriverSoueceFile(char* kernel)
{
    char release[DRV_TEXT_SIZE];
    char kernelDir[DRV_TEXT_SIZE];

    RunCommand("rm -f qorfldrv_mod");
    if (FileExists("./qorfldrv_mod"))
        return;

    bool kernel24 = ReadKernelRelease(release);
    if (kernel == nullptr) {
        Compose(g_LoadDiagnosis.Release, "%s", release);
        if (!LocateKernelSource(release, kernel24, kernelDir, true))
            return;
    } else {
        // "KERNEL=<dir> ": the word goes to make as typed, the tree is <dir>.
        size_t len = strlen(kernel);
        if (len > 0)
            kernel[len - 1] = '\0';
        if (!Compose(kernelDir, "%s", len > 7 ? kernel + 7 : ""))
            return;
    }

    RunCommand("rm -rf .temp");
    RunCommand("mkdir -p .temp");
    if (!WriteDriverSourceFiles(kernel24, kernelDir)) {
        // Nothing is built from a tree without a readable mm.h.
        NoteKernelTree(KERNEL_TREE_WITHOUT_MM_H, kernelDir);
        RunCommand("rm -rf .temp");
        return;
    }

    if (FileExists(".temp/Makefile")) {
        if (kernel24 && kernel == nullptr)
            RunCommand("cp -f /boot/config-%s %s/.config", release, kernelDir);
        if (chdir(".temp") == 0) {
            if (kernel24) {
                // Without a kernel word make is handed the tree itself: an
                // existing directory, a goal with nothing to do.
                RunCommand("make %s clean> /dev/null", kernel != nullptr ? kernel : kernelDir);
            } else {
                RunCommand("make clean > /dev/null");
            }
            // make's output is kept in a log, shown when the build fails.
            if (kernel != nullptr)
                RunCommand("make %s > " BUILD_LOG, kernel);
            else
                RunCommand("make > " BUILD_LOG);
            if (chdir("../") != 0) {
                // Nothing to go back to; the checks below then find nothing.
            }
            if (!FileExists("./qorfldrv_mod"))
                NoteBuildFailure();
        }
        GenerateDriverSoueceFile(kernel);
        RunCommand("rm -rf .temp");
    }
    sleep(1);
}

void GenerateDriverSoueceFile(char* kernel)
{
    char release[DRV_TEXT_SIZE];
    char kernelDir[DRV_TEXT_SIZE];
    char path[DRV_TEXT_SIZE];

    if (generatedrv == 0)
        return;
    RunCommand("sync");

    bool kernel24 = ReadKernelRelease(release);
    if (kernel == nullptr && !LocateKernelSource(release, kernel24, kernelDir, false))
        return;

    if (strcmp(gendir, "./") != 0)
        RunCommand("mkdir -p %s", gendir);
    RunCommand("cp -f .temp/qorwrap.c %s/qorwrap.c", gendir);
    RunCommand("cp -f .temp/qorwrap.h %s/qorwrap.h", gendir);

    if (!Compose(path, "%s/Makefile", gendir))
        return;
    FILE* f = fopen(path, "w+");
    if (f == nullptr)
        return;
    if (kernel24) {
        RunCommand("cp -f ./.temp/qorfldrv.o %s/qorfldrv.o", gendir);
        WritePackageMakefile(f, true);
        fclose(f);
        if (kernel == nullptr)
            RunCommand("cp -f /boot/config-%s %s/.config", release, kernelDir);
    } else {
        RunCommand("cp -f ./.temp/qorfldrv.o_shipped %s/qorfldrv.o_shipped", gendir);
        WritePackageMakefile(f, false);
        fclose(f);
    }
}

// ---------------------------------------------------------------------------
// The hidden words
// ---------------------------------------------------------------------------

// A value of OUTPUT= or KERNEL= goes into shell command lines as typed: only
// letters, digits and "/._+-" are let through, and it must fit every command
// it takes part in.
static bool IsSafePathValue(const char* value, const char* const* uses, size_t count)
{
    for (const char* c = value; *c != '\0'; c++) {
        bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                     strchr("/._+-", *c) != nullptr;
        if (!plain)
            return false;
    }
    char probe[DRV_TEXT_SIZE];
    for (size_t i = 0; i < count; i++) {
        int n = snprintf(probe, sizeof(probe), uses[i], value);
        if (n < 0 || n >= (int)sizeof(probe))
            return false;
    }
    return true;
}

// The command lines and paths that take the output directory...
static const char* const GENDIR_USES[] = {
    "mkdir -p %s",
    "cp -f .temp/qorwrap.c %s/qorwrap.c",
    "cp -f .temp/qorwrap.h %s/qorwrap.h",
    "%s/Makefile",
    "cp -f ./.temp/qorfldrv.o %s/qorfldrv.o",
    "cp -f ./.temp/qorfldrv.o_shipped %s/qorfldrv.o_shipped",
};
// ...and those that take a kernel tree named with KERNEL=.
static const char* const KERNEL_USES[] = {
    "KERNEL=%s ",
    "make KERNEL=%s clean> /dev/null",
    "make KERNEL=%s > /dev/null",
    "%s/include/linux",
    "%s/include/linux/mm.h",
    "cat %s/include/linux/mm.h | grep remap_pfn_range",
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
static bool IsSafeOutputDir(const char* value)
{
    return IsSafePathValue(value, GENDIR_USES, sizeof(GENDIR_USES) / sizeof(GENDIR_USES[0]));
}
static bool IsSafeKernelDir(const char* value)
{
    return IsSafePathValue(value, KERNEL_USES, sizeof(KERNEL_USES) / sizeof(KERNEL_USES[0]));
}
#pragma GCC diagnostic pop

bool BuildQorflDrv(QX3_ARGV_LIST& args)
{
    static char kernelWord[DRV_TEXT_SIZE];
    char* kernel = nullptr;

    // Generate mode only for the exact word at index 1; any other form of
    // it, or a hidden word further on, is served in make mode.
    if (args.size() > 1 && (strcmp(args[1]->text, "/GENDRV") == 0 || strcmp(args[1]->text, "/gendrv") == 0)) {
        generatedrv = 1;
        strcpy(gendir, ".");
    }

    // One option at most, and only at index 2.
    if (args.size() > 2) {
        const char* option = args[2]->text;
        if (strncmp(option, "OUTPUT=", 7) == 0 || strncmp(option, "output=", 7) == 0) {
            // One trailing "/" is dropped; nothing left means here.
            char value[DRV_TEXT_SIZE];
            bool fits = Compose(value, "%s", option + 7);
            size_t len = strlen(value);
            if (len > 0 && value[len - 1] == '/')
                value[len - 1] = '\0';
            if (value[0] == '\0')
                strcpy(value, ".");
            if (!fits || !IsSafeOutputDir(value)) {
                WriteOut("Error: Invalid path.\n");
                generatedrv = 0;
                return false;
            }
            strcpy(gendir, value);
        } else {
            strcpy(gendir, ".");
            if (strncmp(option, "KERNEL=", 7) == 0) {
                char dir[DRV_TEXT_SIZE];
                if (!Compose(dir, "%s", option + 7) || !IsSafeKernelDir(dir)) {
                    WriteOut("Error: Invalid path.\n");
                    generatedrv = 0;
                    return false;
                }
                if (!CheckKernelSource(dir)) {
                    generatedrv = 0;
                    return false;
                }
                Compose(kernelWord, "%s ", option);
                kernel = kernelWord;
            }
        }
    }

    RunCommand("rm -f ./qorfldrv_mod.o");
    CreateDriverSoueceFile(kernel);

    if (generatedrv != 0) {
        if (FileExists("./qorfldrv_mod"))
            RunCommand("rm -f ./qorfldrv_mod");
        generatedrv = 0;
        return true;
    }
    if (FileExists("./qorfldrv_mod")) {
        RunCommand("mv ./qorfldrv_mod ./qorfldrv_mod.o");
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Load and unload
// ---------------------------------------------------------------------------

// The device's mappings still in place. The program makes two (the shared
// buffer is allocated twice and only the second is released); more than fit
// here are not tracked and keep the module loaded until the next run.
#define DEVICE_MAPPING_SLOTS 8

static struct {
    unsigned char* virt;
    unsigned int size;
} DeviceMappings[DEVICE_MAPPING_SLOTS];

void NoteDeviceMapping(unsigned char* virt, unsigned int size)
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt == nullptr) {
            DeviceMappings[i].virt = virt;
            DeviceMappings[i].size = size;
            return;
        }
    }
}

void ForgetDeviceMapping(unsigned char* virt)
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt == virt)
            DeviceMappings[i].virt = nullptr;
    }
}

static void ReleaseDeviceMappings()
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt != nullptr) {
            munmap(DeviceMappings[i].virt, DeviceMappings[i].size);
            DeviceMappings[i].virt = nullptr;
        }
    }
}

// The major of the first /proc/devices line naming "qorfldrv"; `major` is
// left alone when there is none or the file cannot be read.
static bool FindQorflDevice(int& major)
{
    FILE* f = fopen("/proc/devices", "r");
    if (f == nullptr)
        return false;
    char line[DRV_TEXT_SIZE];
    bool found = false;
    while (fgets(line, sizeof(line), f) != nullptr) {
        if (strstr(line, "qorfldrv") != nullptr) {
            major = atoi(line);
            found = true;
            break;
        }
    }
    fclose(f);
    return found;
}

bool CheckQORDevice(int& major, bool report)
{
    FindQorflDevice(major);
    if (major != 0)
        return true;
    if (report)
        WriteOut("ERROR : driver \"qorfldrv\" not found\n");
    RunCommand("rmmod qorfldrv_mod");
    return false;
}

// The node is made for the owner only: it hands out and maps kernel memory
// and masks the keyboard interrupt.
static int MakeNode(int major)
{
    return mknod(DrvNode, S_IFCHR | 0600, makedev((unsigned int)major, 0));
}

// A load that failed leaves no module file behind, as an unload does; the
// next run copies or builds it afresh anyway. A kept module stays.
static int FailLoad()
{
    if (g_LoadDiagnosis.KeptModule && g_LoadDiagnosis.ModuleRefused)
        ReadKernelRelease(g_LoadDiagnosis.Release);
    remove("./qorfldrv_mod");
    return QX3_ERR_LOAD_DRIVER;
}

int FLASH_LoadDriver()
{
    int major = 0;

    // A kept module is used as it is; otherwise one is built now.
    g_LoadDiagnosis.KeptModule = FileExists("./qorfldrv_mod.o");
    g_LoadDiagnosis.BuildNeeded = !g_LoadDiagnosis.KeptModule;
    if (g_LoadDiagnosis.KeptModule)
        RunCommand("cp -f ./qorfldrv_mod.o ./qorfldrv_mod");
    else
        CreateDriverSoueceFile(nullptr);
    if (!FileExists("./qorfldrv_mod"))
        return QX3_ERR_LOAD_DRIVER;

    // The node goes into the current directory when it takes device nodes,
    // else into /dev, else into the root.
    strcpy(DrvNode, "qorfl");
    if (MakeNode(0) != 0) {
        if (DirectoryOpens("/dev"))
            strcpy(DrvNode, "/dev/qorfl");
        else
            strcpy(DrvNode, "/qorfl");
    }
    remove(DrvNode);

    // A module left loaded by an earlier run is removed first.
    if (FindQorflDevice(major))
        RunCommand("rmmod qorfldrv_mod > /dev/null");
    major = 0;

    Fd = open(DrvNode, O_RDWR);
    if (Fd >= 0)
        return 0;

    if (FindQorflDevice(major) && major != 0 && MakeNode(major) == 0) {
        Fd = open(DrvNode, O_RDWR);
        if (Fd >= 0)
            return 0;
    }

    RunCommand("insmod ./qorfldrv_mod 2> /dev/null > /dev/null");
    if (!CheckQORDevice(major, true)) {
        RunCommand("insmod qorfldrv_mod 2> /dev/null > /dev/null");
        if (!CheckQORDevice(major, true)) {
            WriteOut("ERROR : Unable to load driver.\n");
            g_LoadDiagnosis.ModuleRefused = true;
            return FailLoad();
        }
    }

    if (MakeNode(major) != 0) {
        int error = errno;
        WriteOut("ERROR : %X Unable to create node qorfl : %s\n", error, strerror(error));
        remove(DrvNode);
        RunCommand("rmmod qorfldrv_mod");
        return FailLoad();
    }
    Fd = open(DrvNode, O_RDWR);
    if (Fd >= 0)
        return 0;
    int error = errno;
    WriteOut("ERROR : %X Unable to open driver: %s\n", error, strerror(error));
    remove(DrvNode);
    RunCommand("rmmod qorfldrv_mod");
    return FailLoad();
}

void FLASH_UnloadDriver()
{
    if (Fd == 0)
        return;
    // The run is ending: nothing uses the blocks any more, and while one is
    // still mapped the device stays open and rmmod refuses the module.
    ReleaseDeviceMappings();
    close(Fd);
    remove(DrvNode);
    remove("./qorfldrv_mod");
    RunCommand("rmmod qorfldrv_mod");
}
