// Runs a program under ptrace inside the sandbox and serves what it asks of
// the platform: the system calls named in the trap table (iopl and ioperm,
// granted virtually; sync, which the in-memory sandbox does not need) and
// port writes (through PortTrap). Child processes are
// followed, so every process of the run has its own virtual I/O privilege
// (inherited across fork) and the filter never stops an untraced process.
#ifndef FWEMU_TRACER_H
#define FWEMU_TRACER_H

#include <sys/types.h>
#include <sys/user.h>

#include <array>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "FirmwareModel.h"
#include "IoPrivilege.h"
#include "PortTrap.h"
#include "SeccompFilter.h"
#include "TraceWriter.h"

namespace fwemu {

class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Launch {
    std::string root;    // chroot directory
    std::string workDir; // current directory inside it
    std::string program; // path inside the root
    std::vector<std::string> argv;
    std::vector<std::string> env;
};

// One process of the run.
struct Tracee {
    pid_t pid = 0;
    IoPrivilege io;
    bool awaitingFirstStop = false; // created; its initial SIGSTOP is still to come
};

// A trapped system call as the tracer sees it.
struct SyscallCall {
    Tracee& tracee;
    bool compat; // an i386 call
    std::array<uint64_t, 6> args;
    user_regs_struct& regs;
};

// What to do with it: run it as it is, or skip it and return `result`.
struct SyscallAction {
    bool skip = false;
    long result = 0;
    static SyscallAction run() { return {}; }
    static SyscallAction skipWith(long result) { return {true, result}; }
};

using SyscallHandler = std::function<SyscallAction(SyscallCall&)>;

class Tracer {
public:
    Tracer(FirmwareModel& model, TraceWriter& trace);

    // Adds a trapped system call; call before run().
    void trapSyscall(const char* name, int nr64, int nr32, SyscallHandler handler);

    // Starts the program, serves it until it ends and returns its exit
    // status as a shell reports it (128 + signal for a signal death). Throws
    // LaunchError when the program could not be started.
    int run(const Launch& launch);

private:
    struct Trap {
        std::string name;
        TrappedSyscall numbers;
        SyscallHandler handler;
    };

    pid_t start(const Launch& launch, int errorPipe);
    void serve(pid_t pid, int status);
    void onSyscall(Tracee& tracee);
    void onNewProcess(Tracee& parent);
    void onExec(Tracee& tracee);
    void onSignal(Tracee& tracee, int signal);
    void resume(pid_t pid, int signal);
    void finishOthers();

    FirmwareModel& model_;
    TraceWriter& trace_;
    PortTrap portTrap_;
    std::vector<Trap> traps_;
    std::map<pid_t, Tracee> tracees_;
    std::set<pid_t> earlyStops_; // stopped new processes not yet announced by their parent
    std::string root_;
    pid_t main_ = -1;
    bool mainExeced_ = false;
    bool mainDone_ = false;
    int mainStatus_ = 0;
};

} // namespace fwemu

#endif
