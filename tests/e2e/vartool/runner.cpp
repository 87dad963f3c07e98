#include "runner.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/Process.h"

namespace tessvin_e2e {

namespace {

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what + ": " + strerror(errno));
}

std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    Check(d != nullptr, "opendir");
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// In the child: reports a failed setup step on standard error and ends.
[[noreturn]] void SetupFailed(const char* step)
{
    dprintf(2, "namespace setup failed: %s: %s\n", step, strerror(errno));
    _exit(125);
}

// In the child: builds the namespace and sets the limits tessvin runs with.
void EnterNamespace(const std::string& vars, const std::string& efivars, const std::string& log_socket,
                    const RunOptions& options)
{
    if (unshare(CLONE_NEWNS) != 0)
        SetupFailed("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        SetupFailed("make / private");
    if (mount("tmpfs", "/sys/firmware", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        // A kernel without /sys/firmware: cover the whole of /sys instead.
        if (errno != ENOENT || mount("tmpfs", "/sys", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0 ||
            mkdir("/sys/firmware", 0755) != 0)
            SetupFailed("tmpfs over /sys/firmware");
    }
    if (mkdir("/sys/firmware/efi", 0755) != 0)
        SetupFailed("mkdir /sys/firmware/efi");
    bool sysfs = options.interfaces == Interfaces::kSysfs || options.interfaces == Interfaces::kBoth;
    bool efivarfs = options.interfaces == Interfaces::kEfivarfs || options.interfaces == Interfaces::kBoth;
    if (sysfs && (mkdir("/sys/firmware/efi/vars", 0755) != 0 ||
                  mount(vars.c_str(), "/sys/firmware/efi/vars", nullptr, MS_BIND, nullptr) != 0))
        SetupFailed("bind /sys/firmware/efi/vars");
    if (efivarfs && (mkdir("/sys/firmware/efi/efivars", 0755) != 0 ||
                     mount(efivars.c_str(), "/sys/firmware/efi/efivars", nullptr, MS_BIND, nullptr) != 0))
        SetupFailed("bind /sys/firmware/efi/efivars");
    for (const auto& b : options.binds)
        if (mount(b.first.c_str(), b.second.c_str(), nullptr, MS_BIND, nullptr) != 0)
            SetupFailed(b.second.c_str());
    if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0)
        SetupFailed("tmpfs over /dev");
    int fd = open("/dev/log", O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        SetupFailed("create /dev/log");
    close(fd);
    if (mount(log_socket.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) != 0)
        SetupFailed("bind /dev/log");
    if (options.file_size_limit >= 0) {
        struct rlimit limit = {(rlim_t)options.file_size_limit, (rlim_t)options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            SetupFailed("setrlimit");
    }
}

// "<PRI>Mmm dd hh:mm:ss TAG: TEXT" as the C library's syslog sends it.
LogEntry ParseLogRecord(const std::string& record)
{
    LogEntry e{-1, "", record};
    size_t close = record.find('>');
    if (record.empty() || record[0] != '<' || close == std::string::npos)
        return e;
    e.priority = atoi(record.substr(1, close - 1).c_str());
    size_t colon = record.find(": ", close);
    if (colon == std::string::npos)
        return e;
    size_t space = record.rfind(' ', colon);
    size_t start = (space == std::string::npos || space < close) ? close + 1 : space + 1;
    e.tag = record.substr(start, colon - start);
    e.text = record.substr(colon + 2);
    return e;
}

void ReceiveLog(int fd, std::vector<LogEntry>* log)
{
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0)
            return;
        log->push_back(ParseLogRecord(std::string(buf, (size_t)n)));
    }
}

} // namespace

VarsDir::VarsDir() : dir_("/tmp/tessvin-e2e.")
{
    Check(dir_.ok(), "mkdtemp");
    root_ = dir_.path();
    vars_ = root_ + "/vars";
    efivars_ = root_ + "/efivars";
    Check(mkdir(vars_.c_str(), 0755) == 0 && mkdir(efivars_.c_str(), 0755) == 0, "mkdir vars");
    // The kernel's interface always has new_var.
    WriteFile(vars_ + "/new_var", {});
}

VarsDir::~VarsDir()
{
    try {
        for (const std::string& name : ListEfivars())
            SetImmutable(EfivarPath(name), false);
    } catch (const std::exception&) {
    }
}

void VarsDir::PutVariable(const std::string& name, const std::string& guid, const std::vector<uint8_t>& raw) const
{
    std::string dir = vars_ + "/" + name + "-" + guid;
    Check(mkdir(dir.c_str(), 0755) == 0, "mkdir " + dir);
    WriteFile(dir + "/raw_var", raw);
}

std::vector<uint8_t> VarsDir::Read(const std::string& relative) const
{
    return ReadFile(vars_ + "/" + relative);
}

bool VarsDir::Exists(const std::string& relative) const
{
    struct stat st;
    return lstat((vars_ + "/" + relative).c_str(), &st) == 0;
}

std::vector<std::string> VarsDir::List() const
{
    return ListDir(vars_);
}

std::vector<std::string> VarsDir::ListEfivars() const
{
    return ListDir(efivars_);
}

RunResult VarsDir::Run(const std::vector<std::string>& args, const RunOptions& options) const
{
    std::vector<std::string> argv;
    argv.push_back(options.argv0.empty() ? std::string(TESSVIN_PATH) : options.argv0);
    argv.insert(argv.end(), args.begin(), args.end());

    std::string log_socket = root_ + "/log";
    unlink(log_socket.c_str());
    int log_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Check(log_fd >= 0, "socket");
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", log_socket.c_str());
    Check(bind(log_fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0, "bind log");

    RunResult r{-1, "", "", {}};
    testsupport::ProcessOptions run;
    run.beforeExec = [&] { EnterNamespace(vars_, efivars_, log_socket, options); };
    // The log is read while tessvin runs, so that its records never fill the
    // socket, and once more after it has ended.
    run.watches.push_back({log_fd, [&] { ReceiveLog(log_fd, &r.log); }});
    testsupport::ProcessResult p = testsupport::RunProcess(TESSVIN_PATH, argv, run);
    close(log_fd);
    unlink(log_socket.c_str());
    r.out = p.out;
    r.err = p.err;
    r.status = p.signal != 0 ? 1000 + p.signal : p.status;
    return r;
}

std::vector<uint8_t> Record(const std::string& name, const std::vector<uint8_t>& guid, uint64_t data_size,
                            const std::vector<uint8_t>& data, uint64_t status, uint32_t attributes)
{
    std::vector<uint8_t> r(2084, 0);
    for (size_t i = 0; i < name.size() && i < 511; i++)
        r[2 * i] = (uint8_t)name[i];
    std::copy(guid.begin(), guid.end(), r.begin() + 1024);
    for (int i = 0; i < 8; i++)
        r[1040 + i] = (uint8_t)(data_size >> (8 * i));
    std::copy(data.begin(), data.begin() + std::min<size_t>(data.size(), 1024), r.begin() + 1048);
    for (int i = 0; i < 8; i++)
        r[2072 + i] = (uint8_t)(status >> (8 * i));
    for (int i = 0; i < 4; i++)
        r[2080 + i] = (uint8_t)(attributes >> (8 * i));
    return r;
}

std::vector<uint8_t> EfivarFile(const std::vector<uint8_t>& record)
{
    uint64_t size = 0;
    for (int i = 0; i < 8; i++)
        size |= (uint64_t)record.at(1040 + i) << (8 * i);
    std::vector<uint8_t> file(record.begin() + 2080, record.begin() + 2084);
    file.insert(file.end(), record.begin() + 1048, record.begin() + 1048 + std::min<uint64_t>(size, 1024));
    file.resize(4 + size, 0);
    return file;
}

std::vector<uint8_t> Overwritten(const std::vector<uint8_t>& before, const std::vector<uint8_t>& written)
{
    std::vector<uint8_t> r = written;
    if (before.size() > written.size())
        r.insert(r.end(), before.begin() + written.size(), before.end());
    return r;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

namespace {

int FileFlags(const std::string& path, int* flags)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    Check(fd >= 0, "open " + path);
    int r = ioctl(fd, FS_IOC_GETFLAGS, flags);
    return r == 0 ? fd : (close(fd), -1);
}

} // namespace

bool IsImmutable(const std::string& path)
{
    int flags = 0;
    int fd = FileFlags(path, &flags);
    if (fd >= 0)
        close(fd);
    return fd >= 0 && (flags & FS_IMMUTABLE_FL) != 0;
}

bool SetImmutable(const std::string& path, bool on)
{
    int flags = 0;
    int fd = FileFlags(path, &flags);
    if (fd < 0)
        return false;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    bool done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
}

std::string Usage(const std::string& p)
{
    return "\n"
           "Usage: " +
           p +
           " [OPTIONS]\n"
           " Without -s option, variable's value is printed. Guid, name and value type are always required.\n"
           " -h, --help         Print this help\n"
           " -v, --verbose      Print debug informations\n"
           " -g, --guid GUID    GUID of the variable. Format must be the same as in /sys/firmware/efi/vars\n"
           " -n, --varname      Name of the variable. Must not exceed 511 characters length.\n"
           " -s, --set VALUE    Set value to the specified variable\n"
           " -k, --keep-size    Only with --set. Do not change current variable size.\n"
           "                    New value must fit in the current size.\n"
           " -t, --value-type   Specify the type of value to set or get\n"
           "                    If not -k, the variable size will be changed to the type's size\n"
           "                    Available types are:\n"
           "                      - \"int\" : sizeof(int)\n"
           "                      - \"int16\" : sizeof(int16)\n"
           "                      - \"string\" : sizeof(char) * strlen(string)\n"
           " Note: if the variable does not exist " +
           p +
           " will create it as a non-volatile variable.\n"
           " Examples:\n"
           "  " +
           p +
           " -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int\n"
           "  " +
           p + " -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int -s 0x2 -k\n";
}

} // namespace tessvin_e2e
