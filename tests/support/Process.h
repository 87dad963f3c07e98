// Starts a program (or runs a function) in a child process and collects what
// it wrote to standard output and standard error and how it ended. Shared by
// the test harnesses that run ZORVIK, fwemu, tessvin or pieces of the program.
#ifndef TESTSUPPORT_PROCESS_H
#define TESTSUPPORT_PROCESS_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    std::string out;     // standard output (with standard error when merged)
    std::string err;     // standard error, when captured on its own
    int status = -1;     // exit status, or 128 + signal; -1 when it could not be started
    int signal = 0;      // the signal that ended the child, 0 when it exited
    size_t inputFed = 0; // bytes of ProcessOptions::input written to the child
};

// Where the child's standard error goes.
enum class ErrorOutput {
    Separate,  // captured into ProcessResult::err
    Merged,    // into the same pipe as standard output, interleaved
    Inherited, // the test program's own standard error
};

// A descriptor of the parent's that is drained while the child runs (a log
// socket, for instance): `ready` is called whenever it is readable and once
// more after the child has ended.
struct Watch {
    int fd;
    std::function<void()> ready;
};

struct ProcessOptions {
    // The whole environment as NAME=VALUE entries; the test's own when unset.
    std::optional<std::vector<std::string>> env;
    // The working directory, entered after `beforeExec`; unchanged when empty.
    std::string cwd;
    // Fed to standard input, which then ends; /dev/null when unset.
    std::optional<std::string> input;
    ErrorOutput errors = ErrorOutput::Separate;
    // Runs in the child once its standard streams are in place, before the
    // working directory is entered and the program started: for dropping
    // capabilities, chroot, entering a namespace, limits. It ends the child
    // with _exit when a step fails.
    std::function<void()> beforeExec;
    std::vector<Watch> watches;
};

// Exit status of the child when the working directory cannot be entered.
constexpr int kChdirFailed = 120;
// Exit status of the child when the program cannot be started.
constexpr int kExecFailed = 121;

// Exit status of the child when it cannot have a /run/lock of its own.
constexpr int kRunLockFailed = 123;

// For `beforeExec` of a ZORVIK run outside fwemu: a mount namespace of the
// child's own with an empty /run/lock (a memory file system), so that the
// program's machine-wide lock is the run's own, never this machine's, and
// runs of parallel tests do not wait for each other. Ends the child with
// kRunLockFailed when a step fails.
void UsePrivateRunLock();

// Starts `file` with `argv` (argv[0] included, so it may differ from `file`).
ProcessResult RunProcess(const std::string& file, const std::vector<std::string>& argv,
                         const ProcessOptions& options = {});

// Runs `body` in a forked child, which then flushes its standard output and
// exits with 0 (unless `body` ends it). `cwd`, `env` and `beforeExec` apply
// as for RunProcess, in the same order, before `body`.
ProcessResult RunForked(const std::function<void()>& body, const ProcessOptions& options = {});

// True when this machine's kernel starts the static program at `path`, given
// no arguments: a 32-bit probe that then does nothing tells whether i386
// programs run here natively. Kernels without i386 emulation, or with it
// switched off, refuse them; fwemu traces only native programs, so the tests
// of 32-bit programs under fwemu are skipped there (the real-kernel tier runs
// the release build in its guests either way).
bool KernelStartsProgram(const std::string& path);

} // namespace testsupport

#endif
