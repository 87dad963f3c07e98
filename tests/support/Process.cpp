#include "support/Process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Makes `from` the child's descriptor `to`, open across exec.
void MoveTo(int from, int to)
{
    if (from == to)
        fcntl(to, F_SETFD, 0);
    else
        dup2(from, to);
}

// The descriptors of one run: the parent's ends and the child's ends.
struct Pipes {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int in[2] = {-1, -1};

    bool Open(const ProcessOptions& o)
    {
        return pipe2(out, O_CLOEXEC) == 0 && (o.errors != ErrorOutput::Separate || pipe2(err, O_CLOEXEC) == 0) &&
               (!o.input || pipe2(in, O_CLOEXEC) == 0);
    }
    void CloseAll()
    {
        for (int* fd : {&out[0], &out[1], &err[0], &err[1], &in[0], &in[1]})
            CloseFd(*fd);
    }
};

// In the child: standard streams, the caller's hook, the working directory
// and the environment. Ends the child when the directory cannot be entered.
void PrepareChild(Pipes& p, const ProcessOptions& o)
{
    if (o.input) {
        MoveTo(p.in[0], 0);
    } else {
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            MoveTo(devnull, 0);
            if (devnull != 0)
                close(devnull);
        }
    }
    MoveTo(p.out[1], 1);
    if (o.errors == ErrorOutput::Merged)
        dup2(1, 2);
    else if (o.errors == ErrorOutput::Separate)
        MoveTo(p.err[1], 2);
    // Close every pipe end but the standard streams just set, so that the
    // child sees the end of its input when the parent closes its side.
    for (int* fd : {&p.out[0], &p.out[1], &p.err[0], &p.err[1], &p.in[0], &p.in[1]})
        if (*fd > 2)
            CloseFd(*fd);
    if (o.beforeExec)
        o.beforeExec();
    if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0)
        _exit(kChdirFailed);
}

// The parent's side of a run: feeds the input, collects both outputs and
// drains the watched descriptors until the child has closed its outputs,
// then reaps it.
ProcessResult Collect(pid_t pid, Pipes& p, const ProcessOptions& o)
{
    ProcessResult r;
    CloseFd(p.out[1]);
    CloseFd(p.err[1]);
    CloseFd(p.in[0]);

    const std::string input = o.input.value_or("");
    size_t& fed = r.inputFed;
    if (p.in[1] >= 0 && input.empty())
        CloseFd(p.in[1]);
    if (p.in[1] >= 0)
        fcntl(p.in[1], F_SETFL, fcntl(p.in[1], F_GETFL) | O_NONBLOCK);
    // A child that ends without reading its input must not end the test
    // with SIGPIPE; the write fails with EPIPE instead.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    std::string* sinks[2] = {&r.out, &r.err};
    int* sources[2] = {&p.out[0], &p.err[0]};
    while (p.out[0] >= 0 || p.err[0] >= 0 || p.in[1] >= 0) {
        std::vector<pollfd> fds;
        for (int* fd : sources)
            fds.push_back({*fd, POLLIN, 0});
        fds.push_back({p.in[1], POLLOUT, 0});
        for (const Watch& w : o.watches)
            fds.push_back({w.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (*sources[i] < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = read(*sources[i], buf, sizeof(buf));
            if (n > 0)
                sinks[i]->append(buf, (size_t)n);
            else if (n == 0 || errno != EINTR)
                CloseFd(*sources[i]);
        }
        if (p.in[1] >= 0 && fds[2].revents != 0) {
            ssize_t n = write(p.in[1], input.data() + fed, input.size() - fed);
            if (n > 0)
                fed += (size_t)n;
            if ((n < 0 && errno != EINTR && errno != EAGAIN) || fed == input.size())
                CloseFd(p.in[1]);
        }
        for (size_t i = 0; i < o.watches.size(); i++)
            if (fds[3 + i].revents != 0)
                o.watches[i].ready();
    }
    p.CloseAll();
    sigaction(SIGPIPE, &previous, nullptr);

    int ws = 0;
    while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
    }
    for (const Watch& w : o.watches)
        w.ready();
    if (WIFEXITED(ws)) {
        r.status = WEXITSTATUS(ws);
    } else if (WIFSIGNALED(ws)) {
        r.signal = WTERMSIG(ws);
        r.status = 128 + r.signal;
    }
    return r;
}

ProcessResult Run(const ProcessOptions& o, const std::function<void()>& start)
{
    Pipes p;
    if (!p.Open(o)) {
        p.CloseAll();
        ProcessResult r;
        r.err = std::string("pipe: ") + strerror(errno);
        return r;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        p.CloseAll();
        ProcessResult r;
        r.err = std::string("fork: ") + strerror(errno);
        return r;
    }
    if (pid == 0) {
        PrepareChild(p, o);
        start();
    }
    return Collect(pid, p, o);
}

} // namespace

void UsePrivateRunLock()
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        _exit(kRunLockFailed);
    // Over the machine's /run/lock, or over all of /run where it has none.
    struct stat st;
    const bool hasLockDir = stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode);
    const char* target = hasLockDir ? "/run/lock" : "/run";
    if (mount("zorvik-test-lock", target, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              hasLockDir ? "mode=1777" : "mode=0755") != 0 ||
        (!hasLockDir && mkdir("/run/lock", 01777) != 0))
        _exit(kRunLockFailed);
}

ProcessResult RunProcess(const std::string& file, const std::vector<std::string>& argv, const ProcessOptions& options)
{
    // Built before the fork, so the child only calls exec.
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    if (options.env) {
        for (const std::string& e : *options.env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
    }
    return Run(options, [&] {
        if (options.env)
            execve(file.c_str(), args.data(), envp.data());
        else
            execv(file.c_str(), args.data());
        dprintf(2, "cannot start %s: %s\n", file.c_str(), strerror(errno));
        _exit(kExecFailed);
    });
}

bool KernelStartsProgram(const std::string& path)
{
    return RunProcess(path, {path}).status != kExecFailed;
}

ProcessResult RunForked(const std::function<void()>& body, const ProcessOptions& options)
{
    return Run(options, [&] {
        if (options.env) {
            clearenv();
            for (const std::string& e : *options.env)
                putenv(strdup(e.c_str()));
        }
        body();
        fflush(stdout);
        _exit(0);
    });
}

} // namespace testsupport
