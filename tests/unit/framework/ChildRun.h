// Runs a piece of the program in a child process with its standard output
// captured and, optionally, its standard input fed from a string, so that
// code that prints through WriteOut or ends the process with _exit can be
// checked as the user would see it.
#ifndef CHILDRUN_H
#define CHILDRUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

struct ChildResult {
    std::string out;
    int status = -1; // exit status, or 128 + signal
};

inline ChildResult RunInChild(const std::function<void()>& body, const std::string& input = "")
{
    int outPipe[2];
    int inPipe[2];
    if (pipe(outPipe) != 0 || pipe(inPipe) != 0)
        return {};
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(inPipe[0], 0);
        close(outPipe[0]);
        close(outPipe[1]);
        close(inPipe[0]);
        close(inPipe[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(outPipe[1]);
    close(inPipe[0]);
    if (!input.empty() && write(inPipe[1], input.data(), input.size()) < 0)
        perror("write");
    close(inPipe[1]);
    ChildResult result;
    char buf[4096];
    ssize_t n;
    while ((n = read(outPipe[0], buf, sizeof(buf))) > 0)
        result.out.append(buf, (size_t)n);
    close(outPipe[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.status = 128 + WTERMSIG(wstatus);
    return result;
}

#endif
