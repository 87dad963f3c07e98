/* A small static program that fwemu's end-to-end tests run in place of
 * ZORVIK. Its arguments are a list of steps, each printing one line:
 *   iopl N | ioperm FROM NUM ON          privilege requests (result or -errno)
 *   out PORT AL EBX | outi AL EBX        port write (out dx,al / out 0xB2,al); prints EBX after
 *   hole PORT                            code 0x7F with EBX 0; prints EBX after
 *   peek ADDR LEN | poke ADDR HEX        physical memory through /dev/mem
 *   stat PATH | ls PATH | cwd | argv0 | env NAME | envcount
 *   system CMD | fork-out PORT AL | readline | sync
 *   exit N | raise SIG | segv
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static unsigned long num(const char* s)
{
    return strtoul(s, NULL, 0);
}

static uint32_t out_dx(uint16_t port, uint8_t al, uint32_t ebx)
{
    uint32_t eax = al, ecx = 0;
    __asm__ __volatile__("outb %%al, %%dx" : "+b"(ebx) : "a"(eax), "d"(port), "c"(ecx) : "memory");
    return ebx;
}

static uint32_t out_imm(uint8_t al, uint32_t ebx)
{
    uint32_t eax = al, ecx = 0;
    __asm__ __volatile__("outb %%al, $0xb2" : "+b"(ebx) : "a"(eax), "c"(ecx) : "memory");
    return ebx;
}

static long result(long r)
{
    return r < 0 ? -errno : r;
}

static unsigned char* map_phys(unsigned long addr, unsigned long len, void** base, size_t* size)
{
    int fd = open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0)
        return NULL;
    unsigned long page = (unsigned long)sysconf(_SC_PAGESIZE);
    unsigned long off = addr % page;
    *size = len + off;
    *base = mmap(NULL, *size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)(addr - off));
    close(fd);
    return *base == MAP_FAILED ? NULL : (unsigned char*)*base + off;
}

static void describe(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        printf("stat %s none\n", path);
    } else if (S_ISREG(st.st_mode)) {
        printf("stat %s reg %lld %s\n", path, (long long)st.st_size, (st.st_mode & S_IXUSR) ? "x" : "-");
    } else if (S_ISDIR(st.st_mode)) {
        printf("stat %s dir %o\n", path, (unsigned)(st.st_mode & 07777));
    } else if (S_ISCHR(st.st_mode)) {
        printf("stat %s chr %u:%u\n", path, major(st.st_rdev), minor(st.st_rdev));
    } else if (S_ISLNK(st.st_mode)) {
        char target[256] = {0};
        ssize_t n = readlink(path, target, sizeof target - 1);
        (void)n;
        printf("stat %s lnk %s\n", path, target);
    } else {
        printf("stat %s other\n", path);
    }
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    for (int i = 1; i < argc; ++i) {
        const char* s = argv[i];
        if (!strcmp(s, "iopl") && i + 1 < argc) {
            unsigned long level = num(argv[++i]);
            printf("iopl %lu = %ld\n", level, result(syscall(SYS_iopl, level)));
        } else if (!strcmp(s, "ioperm") && i + 3 < argc) {
            unsigned long from = num(argv[i + 1]), n = num(argv[i + 2]), on = num(argv[i + 3]);
            i += 3;
            printf("ioperm = %ld\n", result(syscall(SYS_ioperm, from, n, on)));
        } else if (!strcmp(s, "out") && i + 3 < argc) {
            uint32_t ebx = out_dx((uint16_t)num(argv[i + 1]), (uint8_t)num(argv[i + 2]), (uint32_t)num(argv[i + 3]));
            i += 3;
            printf("out ebx=0x%x\n", ebx);
        } else if (!strcmp(s, "outi") && i + 2 < argc) {
            uint32_t ebx = out_imm((uint8_t)num(argv[i + 1]), (uint32_t)num(argv[i + 2]));
            i += 2;
            printf("outi ebx=0x%x\n", ebx);
        } else if (!strcmp(s, "hole") && i + 1 < argc) {
            printf("hole=0x%x\n", out_dx((uint16_t)num(argv[++i]), 0x7F, 0));
        } else if (!strcmp(s, "peek") && i + 2 < argc) {
            unsigned long addr = num(argv[i + 1]), len = num(argv[i + 2]);
            i += 2;
            void* base;
            size_t size;
            unsigned char* p = map_phys(addr, len, &base, &size);
            printf("peek=");
            for (unsigned long k = 0; p != NULL && k < len; ++k)
                printf("%02X", p[k]);
            printf("\n");
            if (p != NULL)
                munmap(base, size);
        } else if (!strcmp(s, "poke") && i + 2 < argc) {
            unsigned long addr = num(argv[i + 1]);
            const char* hex = argv[i + 2];
            i += 2;
            unsigned long len = strlen(hex) / 2;
            void* base;
            size_t size;
            unsigned char* p = map_phys(addr, len, &base, &size);
            for (unsigned long k = 0; p != NULL && k < len; ++k) {
                char byte[3] = {hex[2 * k], hex[2 * k + 1], 0};
                p[k] = (unsigned char)strtoul(byte, NULL, 16);
            }
            printf("poke %s\n", p != NULL ? "ok" : "failed");
            if (p != NULL)
                munmap(base, size);
        } else if (!strcmp(s, "stat") && i + 1 < argc) {
            describe(argv[++i]);
        } else if (!strcmp(s, "ls") && i + 1 < argc) {
            const char* path = argv[++i];
            int n = 0;
            DIR* d = opendir(path);
            struct dirent* e;
            while (d != NULL && (e = readdir(d)) != NULL)
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                    ++n;
            if (d != NULL)
                closedir(d);
            printf("ls %s %d\n", path, d != NULL ? n : -1);
        } else if (!strcmp(s, "cwd")) {
            char buf[512];
            printf("cwd=%s\n", getcwd(buf, sizeof buf) ? buf : "?");
        } else if (!strcmp(s, "argv0")) {
            printf("argv0=%s\n", argv[0]);
        } else if (!strcmp(s, "env") && i + 1 < argc) {
            const char* v = getenv(argv[++i]);
            printf("env %s=%s\n", argv[i], v != NULL ? v : "(unset)");
        } else if (!strcmp(s, "envcount")) {
            int n = 0;
            for (char** e = environ; *e != NULL; ++e)
                ++n;
            printf("envcount=%d\n", n);
        } else if (!strcmp(s, "system") && i + 1 < argc) {
            int st = system(argv[++i]);
            printf("system=%d\n", WIFEXITED(st) ? WEXITSTATUS(st) : -1);
        } else if (!strcmp(s, "fork-out") && i + 2 < argc) {
            uint16_t port = (uint16_t)num(argv[i + 1]);
            uint8_t al = (uint8_t)num(argv[i + 2]);
            i += 2;
            pid_t pid = fork();
            if (pid == 0) {
                out_dx(port, al, 0);
                _exit(0);
            }
            int st = 0;
            waitpid(pid, &st, 0);
            if (WIFSIGNALED(st))
                printf("child=signal %d\n", WTERMSIG(st));
            else
                printf("child=exit %d\n", WEXITSTATUS(st));
        } else if (!strcmp(s, "readline")) {
            char line[256] = {0};
            if (fgets(line, sizeof line, stdin) == NULL)
                strcpy(line, "(eof)");
            line[strcspn(line, "\n")] = 0;
            printf("read=%s\n", line);
        } else if (!strcmp(s, "sync")) {
            sync();
            printf("synced\n");
        } else if (!strcmp(s, "exit") && i + 1 < argc) {
            exit((int)num(argv[++i]));
        } else if (!strcmp(s, "raise") && i + 1 < argc) {
            raise((int)num(argv[++i]));
        } else if (!strcmp(s, "segv")) {
            volatile int* nowhere = (volatile int*)(uintptr_t)num("8");
            *nowhere = 1;
        } else {
            printf("bad step %s\n", s);
            return 2;
        }
    }
    return 0;
}
