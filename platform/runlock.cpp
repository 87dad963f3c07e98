// The machine-wide lock of a run. flock(2) locks belong to the open file,
// so the kernel drops the lock with the process's last descriptor of it:
// no run that died can block a later one. The holder's process id is in the
// file, for the message of a run that finds the lock taken.
#include "runlock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "loaddiag.h"
#include "../framework/QX3Types.h"

// How often a waiting run tries the lock again.
#define RUN_LOCK_RETRY_MS 100
// Longest wait the variable may ask for (a year), so that no sum overflows.
#define RUN_LOCK_MAX_WAIT (366UL * 24 * 3600)

// Open for the rest of the process; never closed, so the lock lasts until
// the process ends.
static int RunLockFd = -1;

static unsigned long RunLockWaitSeconds()
{
    const char* text = getenv(RUN_LOCK_WAIT_VARIABLE);
    if (text == nullptr || *text == '\0')
        return RUN_LOCK_DEFAULT_WAIT;
    unsigned long seconds = 0;
    for (const char* p = text; *p != '\0'; p++) {
        // Anything but a plain decimal number leaves the default.
        if (*p < '0' || *p > '9')
            return RUN_LOCK_DEFAULT_WAIT;
        if (seconds < RUN_LOCK_MAX_WAIT)
            seconds = seconds * 10 + (unsigned long)(*p - '0');
    }
    return seconds < RUN_LOCK_MAX_WAIT ? seconds : RUN_LOCK_MAX_WAIT;
}

// The process id the holder wrote, or 0 when the file names none.
static long ReadHolderPid(int fd)
{
    char text[24];
    ssize_t n = pread(fd, text, sizeof(text) - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    char* end = nullptr;
    long pid = strtol(text, &end, 10);
    if (end == text || pid <= 0 || (*end != '\n' && *end != '\0'))
        return 0;
    return pid;
}

static void WriteOwnPid(int fd)
{
    char text[24];
    int n = snprintf(text, sizeof(text), "%ld\n", (long)getpid());
    // A lock file opened read-only (a read-only /run) keeps the old text.
    if (ftruncate(fd, 0) == 0 && pwrite(fd, text, (size_t)n, 0) != n) {
        // Only the message of a later waiting run depends on it.
    }
}

static long long MonotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Tries the lock again and again until it is free or `seconds` have passed.
static bool WaitForRunLock(int fd, unsigned long seconds)
{
    const long long deadline = MonotonicMs() + (long long)seconds * 1000;
    while (MonotonicMs() < deadline) {
        struct timespec pause = {0, RUN_LOCK_RETRY_MS * 1000000L};
        nanosleep(&pause, nullptr);
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
    }
    return false;
}

// One line on standard error: the lock file, what stands in the way, and
// that the run goes on unguarded.
static void GoOnWithoutLock(const char* before, const char* after, const char* detail)
{
    static const char line[] = LOAD_DIAGNOSIS_PREFIX "no lock against a second run at the same time (%s" RUN_LOCK_FILE
                                                     "%s%s); going on without it\n";
    fprintf(stderr, line, before, after, detail);
}

int KVT_TakeRunLock()
{
    // Never through a link: /run/lock is writable by everyone.
    int fd = open(RUN_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    // A file that is there but cannot be written (a read-only /run, or one
    // made by another user) still takes the lock.
    int openError = errno;
    if (fd < 0)
        fd = open(RUN_LOCK_FILE, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        GoOnWithoutLock("cannot open ", ": ", strerror(openError));
        return 0;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        GoOnWithoutLock("", " is not a regular file", "");
        return 0;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            int error = errno;
            close(fd);
            GoOnWithoutLock("cannot lock ", ": ", strerror(error));
            return 0;
        }
        unsigned long seconds = RunLockWaitSeconds();
        long holder = ReadHolderPid(fd);
        char process[40] = "";
        char waiting[64] = "";
        if (holder > 0)
            snprintf(process, sizeof(process), " (process %ld)", holder);
        if (seconds > 0)
            snprintf(waiting, sizeof(waiting), "; waiting up to %lu second%s for it", seconds, seconds == 1 ? "" : "s");
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "another run%s holds " RUN_LOCK_FILE "%s\n", process, waiting);
        if (seconds == 0 || !WaitForRunLock(fd, seconds)) {
            close(fd);
            return QX3_ERR_ALREADY_RUNNING;
        }
    }
    WriteOwnPid(fd);
    RunLockFd = fd;
    return 0;
}
