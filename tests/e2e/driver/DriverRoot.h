// A throwaway root directory in which the host ZORVIK serves its hidden
// words, with stand-ins for the outside tools it starts:
//   /usr/local/bin/ZORVIK      copy of the program
//   /bin/sh                    dash with its C library: it looks commands up
//                              in PATH (busybox's shell would run its own
//                              uname, insmod and rmmod instead)
//   /bin/cat, /bin/rm, ...     busybox applets for the plain file tools
//   /usr/sbin/uname            prints the release in /etc/stand-in/release
//   /usr/sbin/make             records its call in /log and leaves what the
//                              Makefile of its directory would leave, unless
//                              /etc/stand-in/make-fails exists
//   /usr/sbin/insmod, rmmod    record their call in /log only
//   /usr/bin/gcc               a placeholder file, when asked for
//   /proc/devices              plain file
//   /dev/null                  character device 1:3
//   /run/lock                  empty, mode 1777: the machine-wide lock's place
//   /work                      the current directory
// The program runs chrooted, without the capabilities for port access and
// module loading, so nothing it does can reach the machine's hardware or
// kernel.
#ifndef DRIVERROOT_H
#define DRIVERROOT_H

#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

// out: standard output; err: standard error; status: exit status, or
// 128 + signal.
using RunResult = testsupport::ProcessResult;

class DriverRoot {
public:
    DriverRoot();
    DriverRoot(const DriverRoot&) = delete;
    DriverRoot& operator=(const DriverRoot&) = delete;

    std::string Host(const std::string& inside) const { return root_ + inside; }
    void MakeDir(const std::string& inside);
    void Write(const std::string& inside, const std::string& contents);
    void Remove(const std::string& inside);
    bool Exists(const std::string& inside) const;
    std::string Read(const std::string& inside) const;
    // Names in a directory, sorted, without "." and "..".
    std::vector<std::string> List(const std::string& inside) const;

    void SetRelease(const std::string& release);
    void SetGcc(bool present);
    void SetMakeFails(bool fails);
    // A kernel tree at `dir` whose include/linux/mm.h holds `mm`.
    void AddKernelTree(const std::string& dir, const std::string& mm);

    // Runs "/usr/local/bin/ZORVIK words..." in /work; env: NAME=VALUE
    // entries beside PATH.
    RunResult Run(const std::vector<std::string>& words, const std::vector<std::string>& env = {});
    // The calls of the stand-ins, one line each.
    std::string Log() const;

private:
    void WriteMode(const std::string& inside, const std::string& contents, unsigned mode);
    // The root, removed with all below it (never crossing into another file
    // system) when the object goes.
    testsupport::TempDir dir_;
    std::string root_;
};

#endif
