#include "Tracer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fwemu {

namespace {

// i386 system-call numbers (the x86-64 ones come from <sys/syscall.h>).
constexpr int kI386Iopl = 110;
constexpr int kI386Ioperm = 101;
constexpr int kI386Sync = 36;

volatile sig_atomic_t gForwardTo = 0;

void forwardSignal(int signal)
{
    if (gForwardTo > 0)
        ::kill(pid_t(gForwardTo), signal);
}

// fwemu ignores the terminal's interrupt keys (they reach the program, which
// is in the same process group) and hands termination requests on.
class SignalGuard {
public:
    explicit SignalGuard(pid_t target)
    {
        gForwardTo = target;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction forward {};
        forward.sa_handler = forwardSignal;
        sigemptyset(&forward.sa_mask);
        sigaction(SIGINT, &ignore, &oldInt_);
        sigaction(SIGQUIT, &ignore, &oldQuit_);
        sigaction(SIGTERM, &forward, &oldTerm_);
        sigaction(SIGHUP, &forward, &oldHup_);
    }
    ~SignalGuard()
    {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGQUIT, &oldQuit_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        sigaction(SIGHUP, &oldHup_, nullptr);
        gForwardTo = 0;
    }

private:
    struct sigaction oldInt_ {
    }, oldQuit_{}, oldTerm_{}, oldHup_{};
};

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (std::string& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

[[noreturn]] void childFailure(int pipe, const std::string& what, int error)
{
    std::string message = what + ": " + std::strerror(error);
    ssize_t ignored = ::write(pipe, message.data(), message.size());
    (void)ignored;
    ::_exit(125);
}

nlohmann::json commandLineOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    const std::string all = os.str();
    nlohmann::json argv = nlohmann::json::array();
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        argv.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

} // namespace

Tracer::Tracer(FirmwareModel& model, TraceWriter& trace) : model_(model), trace_(trace), portTrap_(model, trace)
{
    trapSyscall("iopl", SYS_iopl, kI386Iopl, [this](SyscallCall& call) {
        const uint64_t level = call.args[0] & 0xFFFFFFFF;
        // A locked-down kernel refuses to raise the level (lowering it is
        // always allowed).
        const bool refused = model_.platform().lockedDown() && level <= 3 && level > call.tracee.io.level();
        const int result = refused ? -EPERM : call.tracee.io.setLevel(level);
        trace_.write("iopl", {{"pid", call.tracee.pid}, {"level", level}, {"result", result}});
        return SyscallAction::skipWith(result);
    });
    trapSyscall("ioperm", SYS_ioperm, kI386Ioperm, [this](SyscallCall& call) {
        const uint64_t from = call.args[0], num = call.args[1];
        const bool on = (call.args[2] & 0xFFFFFFFF) != 0;
        const bool refused = model_.platform().lockedDown() && on;
        const int result = refused ? -EPERM : call.tracee.io.setPorts(from, num, on);
        trace_.write("ioperm",
                     {{"pid", call.tracee.pid}, {"from", from}, {"num", num}, {"on", on}, {"result", result}});
        return SyscallAction::skipWith(result);
    });
    // The platform's file system is the sandbox, which needs no flushing; a
    // real sync would flush every disk of the host and cost milliseconds.
    trapSyscall("sync", SYS_sync, kI386Sync, [this](SyscallCall& call) {
        trace_.write("sync", {{"pid", call.tracee.pid}});
        return SyscallAction::skipWith(0);
    });
}

void Tracer::trapSyscall(const char* name, int nr64, int nr32, SyscallHandler handler)
{
    traps_.push_back(Trap{name, TrappedSyscall{nr64, nr32}, std::move(handler)});
}

pid_t Tracer::start(const Launch& launch, int errorPipe)
{
    std::vector<TrappedSyscall> numbers;
    for (const Trap& t : traps_)
        numbers.push_back(t.numbers);
    const SeccompFilter filter(numbers);
    std::vector<std::string> argv = launch.argv;
    std::vector<std::string> env = launch.env;
    std::vector<char*> argvp = pointers(argv);
    std::vector<char*> envp = pointers(env);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw LaunchError(std::string("cannot start the program: fork: ") + std::strerror(errno));
    if (pid == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            childFailure(errorPipe, "ptrace", errno);
        ::raise(SIGSTOP);
        if (::chroot(launch.root.c_str()) != 0)
            childFailure(errorPipe, "chroot " + launch.root, errno);
        if (::chdir(launch.workDir.c_str()) != 0)
            childFailure(errorPipe, "chdir " + launch.workDir, errno);
        if (int e = filter.install())
            childFailure(errorPipe, "seccomp", e);
        ::execve(launch.program.c_str(), argvp.data(), envp.data());
        childFailure(errorPipe, "cannot run " + launch.program, errno);
    }
    return pid;
}

int Tracer::run(const Launch& launch)
{
    root_ = launch.root;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw LaunchError(std::string("cannot start the program: pipe: ") + std::strerror(errno));
    pid_t pid;
    try {
        pid = start(launch, pipeFds[1]);
    } catch (...) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw;
    }
    ::close(pipeFds[1]);
    main_ = pid;
    SignalGuard guard(pid);

    int status = 0;
    while (::waitpid(pid, &status, __WALL) < 0 && errno == EINTR) {
    }
    if (WIFSTOPPED(status)) {
        const long options = PTRACE_O_EXITKILL | PTRACE_O_TRACESECCOMP | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                             PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC;
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(options));
        tracees_[pid] = Tracee{pid, {}, false};
        resume(pid, 0);
        while (!mainDone_) {
            const pid_t w = ::waitpid(-1, &status, __WALL);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            serve(w, status);
        }
        finishOthers();
    }

    std::string failure;
    char buf[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        failure.append(buf, size_t(n));
    ::close(pipeFds[0]);
    if (!mainExeced_)
        throw LaunchError(failure.empty() ? std::string("the program did not start") : failure);
    return mainStatus_;
}

void Tracer::resume(pid_t pid, int signal)
{
    ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(long(signal)));
}

void Tracer::serve(pid_t pid, int status)
{
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
        nlohmann::json fields = {{"pid", pid}};
        int shellStatus;
        if (WIFEXITED(status)) {
            shellStatus = WEXITSTATUS(status);
            fields["status"] = shellStatus;
        } else {
            shellStatus = 128 + WTERMSIG(status);
            fields["signal"] = WTERMSIG(status);
            fields["status"] = shellStatus;
        }
        if (pid == main_ && mainExeced_)
            trace_.write("exit", fields);
        else if (pid != main_)
            trace_.write("exit", fields);
        tracees_.erase(pid);
        if (pid == main_) {
            mainDone_ = true;
            mainStatus_ = shellStatus;
        }
        return;
    }
    if (!WIFSTOPPED(status))
        return;

    auto it = tracees_.find(pid);
    if (it == tracees_.end()) {
        // A new process that stopped before its parent's creation event:
        // it waits until that event says whose privilege it inherits.
        earlyStops_.insert(pid);
        return;
    }
    Tracee& tracee = it->second;
    const int signal = WSTOPSIG(status);
    const int event = status >> 16;

    if (tracee.awaitingFirstStop && event == 0 && signal == SIGSTOP) {
        tracee.awaitingFirstStop = false;
        resume(pid, 0);
        return;
    }
    switch (event) {
    case PTRACE_EVENT_SECCOMP:
        onSyscall(tracee);
        resume(pid, 0);
        return;
    case PTRACE_EVENT_FORK:
    case PTRACE_EVENT_VFORK:
    case PTRACE_EVENT_CLONE:
        onNewProcess(tracee);
        resume(pid, 0);
        return;
    case PTRACE_EVENT_EXEC:
        onExec(tracee);
        resume(pid, 0);
        return;
    case 0:
        onSignal(tracee, signal);
        return;
    default:
        resume(pid, 0);
        return;
    }
}

void Tracer::onSyscall(Tracee& tracee)
{
    unsigned long data = 0;
    ::ptrace(PTRACE_GETEVENTMSG, tracee.pid, nullptr, &data);
    const size_t index = data & ~unsigned(SeccompFilter::kCompatBit);
    const bool compat = (data & SeccompFilter::kCompatBit) != 0;
    if (index >= traps_.size())
        return;
    user_regs_struct regs{};
    if (::ptrace(PTRACE_GETREGS, tracee.pid, nullptr, &regs) != 0)
        return;
    std::array<uint64_t, 6> args;
    if (compat)
        args = {regs.rbx & 0xFFFFFFFF, regs.rcx & 0xFFFFFFFF, regs.rdx & 0xFFFFFFFF,
                regs.rsi & 0xFFFFFFFF, regs.rdi & 0xFFFFFFFF, regs.rbp & 0xFFFFFFFF};
    else
        args = {regs.rdi, regs.rsi, regs.rdx, regs.r10, regs.r8, regs.r9};
    SyscallCall call{tracee, compat, args, regs};
    const SyscallAction action = traps_[index].handler(call);
    if (action.skip) {
        regs.orig_rax = uint64_t(-1);
        regs.rax = uint64_t(action.result);
        ::ptrace(PTRACE_SETREGS, tracee.pid, nullptr, &regs);
    }
}

void Tracer::onNewProcess(Tracee& parent)
{
    unsigned long data = 0;
    ::ptrace(PTRACE_GETEVENTMSG, parent.pid, nullptr, &data);
    const pid_t child = pid_t(data);
    Tracee t;
    t.pid = child;
    t.io = parent.io; // fork keeps the I/O privilege
    trace_.write("fork", {{"pid", parent.pid}, {"child", child}});
    if (earlyStops_.erase(child) != 0) {
        tracees_[child] = t;
        resume(child, 0);
    } else {
        t.awaitingFirstStop = true;
        tracees_[child] = t;
    }
}

void Tracer::onExec(Tracee& tracee)
{
    if (tracee.pid == main_)
        mainExeced_ = true;
    char exe[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(tracee.pid) + "/exe";
    ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
    std::string path = n > 0 ? std::string(exe, size_t(n)) : std::string();
    if (path.compare(0, root_.size(), root_) == 0)
        path.erase(0, root_.size());
    trace_.write("exec", {{"pid", tracee.pid}, {"path", path}, {"argv", commandLineOf(tracee.pid)}});
}

void Tracer::onSignal(Tracee& tracee, int signal)
{
    siginfo_t info{};
    if (::ptrace(PTRACE_GETSIGINFO, tracee.pid, nullptr, &info) != 0) {
        // A group stop: let the process go on.
        resume(tracee.pid, 0);
        return;
    }
    if (signal == SIGSEGV && info.si_code == SI_KERNEL && portTrap_.handle(tracee.pid, tracee.io)) {
        resume(tracee.pid, 0);
        return;
    }
    resume(tracee.pid, signal);
}

void Tracer::finishOthers()
{
    // Processes still alive when the program ended do not outlive the run.
    for (const auto& entry : tracees_)
        ::kill(entry.first, SIGKILL);
    for (pid_t p : earlyStops_)
        ::kill(p, SIGKILL);
    int status;
    for (;;) {
        const pid_t w = ::waitpid(-1, &status, __WALL);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (WIFSTOPPED(status)) {
            ::kill(w, SIGKILL);
            resume(w, 0);
        }
    }
    tracees_.clear();
    earlyStops_.clear();
}

} // namespace fwemu
