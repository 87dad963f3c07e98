#include "HelperDevice.h"

#include "ProcessAccess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fwemu {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// i386 system-call numbers (the x86-64 ones come from <sys/syscall.h>).
constexpr int kI386Uname = 122;
constexpr int kI386InitModule = 128;
constexpr int kI386FinitModule = 350;
constexpr int kI386DeleteModule = 129;
constexpr int kI386Mknod = 14;
constexpr int kI386Mknodat = 297;
constexpr int kI386Open = 5;
constexpr int kI386Openat = 295;
constexpr int kI386Close = 6;
constexpr int kI386Ioctl = 54;
constexpr int kI386Mmap2 = 192;
constexpr int kI386Mprotect = 125;
constexpr int kNone = -1;

// Module files larger than this are read only this far: none of them is
// the module make leaves, which is all that loads.
constexpr size_t kImageLimit = 4096;

std::string firstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > 80)
        line.resize(80);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    return line;
}

std::vector<std::string> listDirectory(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// make for the helper module's Makefiles: in .temp (the Makefile moves the
// module up as ../qorfldrv_mod) it leaves the module and the compiled core
// (qorfldrv.o_shipped for the 2.6 variant, qorfldrv.o for 2.4); in an
// exported package it leaves qorfldrv_mod.o. "clean" leaves nothing.
std::string makeScript(const KernelDescription& k)
{
    std::string s =
        "#!/bin/sh\n"
        "# fwemu's make for the helper module, kernel " +
        k.release +
        "\n"
        "for a in \"$@\"; do\n"
        "  [ \"$a\" = clean ] && exit 0\n"
        "done\n"
        "if [ ! -f Makefile ]; then\n"
        "  echo 'make: *** No targets specified and no makefile found.  Stop.' >&2\n"
        "  exit 2\n"
        "fi\n";
    if (k.makeFails)
        return s + "echo \"  CC [M]  $(pwd)/qorfldrv.o\"\necho 'make: *** [qorfldrv_mod.o] Error 1' >&2\nexit 2\n";
    const std::string core = "qorfldrv core for " + k.release;
    const std::string module = "qorfldrv module for " + k.release;
    return s +
           "if grep -q '\\.\\./qorfldrv_mod' Makefile; then\n"
           "  if grep -q qorfldrv.o_shipped Makefile; then\n"
           "    echo '" +
           core +
           "' > qorfldrv.o_shipped\n"
           "  else\n"
           "    echo '" +
           core +
           "' > qorfldrv.o\n"
           "  fi\n"
           "  echo '" +
           module +
           "' > ../qorfldrv_mod\n"
           "else\n"
           "  echo '" +
           module +
           "' > qorfldrv_mod.o\n"
           "fi\n";
}

void writeFile(const std::string& path, const std::string& contents, fs::perms mode)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out)
        throw SandboxError("cannot build the sandbox: cannot write " + path);
    fs::permissions(path, mode, ec);
}

} // namespace

HelperDevice::HelperDevice(const PlatformDescription& platform, Sandbox& sandbox, FirmwareModel& firmware,
                           PhysicalMemory& memory, TraceWriter& trace)
    : platform_(platform), sandbox_(sandbox), memory_(memory), trace_(trace)
{
    if (platform_.kernel)
        module_ = std::make_unique<HelperModule>(*platform_.kernel, platform_, memory_);
    if (platform_.kernel && platform_.kernel->smiModule != KernelDescription::SmiModule::None)
        smi_ = std::make_unique<SmiDevice>(platform_, sandbox_, firmware, memory_, trace_);
}

void HelperDevice::prepareSandbox()
{
    if (!module_)
        return;
    const KernelDescription& k = *platform_.kernel;
    const fs::perms exec = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    const fs::perms plain =
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    writeFile(sandbox_.hostPath("/usr/bin/make"), makeScript(k), exec);
    if (k.gcc)
        writeFile(sandbox_.hostPath("/usr/bin/gcc"), "#!/bin/sh\necho 'gcc: fatal error: no input files' >&2\nexit 1\n",
                  exec);
    if (k.tree != KernelDescription::Tree::None) {
        const std::string tree = sandbox_.hostPath(k.treePath());
        std::error_code ec;
        fs::create_directories(tree, ec);
        if (k.includeLinux)
            writeFile(tree + "include/linux/mm.h", k.mmHeader(), plain);
    }
    if (k.bootConfig)
        writeFile(sandbox_.hostPath("/boot/config-" + k.release), "CONFIG_MODULES=y\nCONFIG_SMP=y\n", plain);
    for (const auto& f : k.files)
        writeFile(sandbox_.hostPath(f.first), f.second, plain);
    if (smi_)
        smi_->prepareSandbox();
    writeDevicesFile();
    writeModulesFile();
}

void HelperDevice::install(Tracer& tracer)
{
    // Never a real module load, whatever the platform.
    tracer.trapSyscall("init_module", SYS_init_module, kI386InitModule,
                       [this](SyscallCall& c) { return onLoad(c, false); });
    tracer.trapSyscall("finit_module", SYS_finit_module, kI386FinitModule,
                       [this](SyscallCall& c) { return onLoad(c, true); });
    tracer.trapSyscall("delete_module", SYS_delete_module, kI386DeleteModule,
                       [this](SyscallCall& c) { return onRemove(c); });
    if (module_ || platform_.lockedDown()) {
        tracer.trapSyscall("open", SYS_open, kI386Open,
                           [this](SyscallCall& c) { return onOpen(c, AT_FDCWD, c.args[0], c.args[1]); });
        tracer.trapSyscall("openat", SYS_openat, kI386Openat,
                           [this](SyscallCall& c) { return onOpen(c, asInt(c.args[0]), c.args[1], c.args[2]); });
    }
    if (!module_)
        return;
    tracer.trapSyscall("uname", SYS_uname, kI386Uname, [this](SyscallCall& c) { return onUname(c); });
    tracer.trapSyscall("mknod", SYS_mknod, kI386Mknod,
                       [this](SyscallCall& c) { return onMknod(c, AT_FDCWD, c.args[0], c.args[1], c.args[2]); });
    tracer.trapSyscall("mknodat", SYS_mknodat, kI386Mknodat, [this](SyscallCall& c) {
        return onMknod(c, asInt(c.args[0]), c.args[1], c.args[2], c.args[3]);
    });
    tracer.trapSyscall("close", SYS_close, kI386Close, [this](SyscallCall& c) { return onClose(c); });
    tracer.trapSyscall("ioctl", SYS_ioctl, kI386Ioctl, [this](SyscallCall& c) { return onIoctl(c); });
    tracer.trapSyscall("mmap", SYS_mmap, kNone, [this](SyscallCall& c) { return onMmap(c, false); });
    tracer.trapSyscall("mmap2", kNone, kI386Mmap2, [this](SyscallCall& c) { return onMmap(c, true); });
    if (smi_)
        tracer.trapSyscall("mprotect", SYS_mprotect, kI386Mprotect,
                           [this](SyscallCall& c) { return smi_->onMprotect(c); });
}

void HelperDevice::finish()
{
    if (smi_)
        smi_->finish();
    if (!module_)
        return;
    json nodes = json::array();
    for (const auto& n : nodes_)
        if (isLiveNode(n.first))
            nodes.push_back({{"path", insidePath(n.first)}, {"major", n.second.major}, {"minor", n.second.minor}});
    trace_.write("helper_module", {{"module", module_->state()},
                                   {"nodes", nodes},
                                   {"work", listDirectory(sandbox_.hostPath(Sandbox::kWorkDir))},
                                   {"dev", listDirectory(sandbox_.hostPath("/dev"))}});
}

std::string HelperDevice::insidePath(const std::string& hostPath) const
{
    const std::string& root = sandbox_.root();
    if (hostPath.compare(0, root.size(), root) == 0)
        return hostPath.substr(root.size());
    return hostPath;
}

std::optional<std::string> HelperDevice::resolve(pid_t pid, int dirfd, const std::string& path) const
{
    if (path.empty())
        return std::nullopt;
    fs::path full;
    if (path[0] == '/') {
        full = sandbox_.root() + path;
    } else {
        const std::string proc = "/proc/" + std::to_string(pid);
        std::string base = readLink(dirfd == AT_FDCWD ? proc + "/cwd" : proc + "/fd/" + std::to_string(dirfd));
        if (base.empty())
            return std::nullopt;
        full = fs::path(base) / path;
    }
    std::string normal = full.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    const std::string& root = sandbox_.root();
    if (normal.compare(0, root.size(), root) != 0)
        return std::nullopt;
    return normal;
}

bool HelperDevice::isLiveNode(const std::string& hostPath) const
{
    if (nodes_.count(hostPath) == 0)
        return false;
    struct stat node {
    }, mem{};
    return ::lstat(hostPath.c_str(), &node) == 0 && ::stat(memory_.path().c_str(), &mem) == 0 &&
           node.st_ino == mem.st_ino && node.st_dev == mem.st_dev;
}

std::optional<std::string> HelperDevice::nodeOfDescriptor(pid_t pid, int fd) const
{
    if (fd < 0)
        return std::nullopt;
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    std::string target = readLink(link);
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.erase(target.size() - deleted.size());
    if (nodes_.count(target) == 0)
        return std::nullopt;
    struct stat open {
    }, mem{};
    if (::stat(link.c_str(), &open) != 0 || ::stat(memory_.path().c_str(), &mem) != 0 || open.st_ino != mem.st_ino ||
        open.st_dev != mem.st_dev)
        return std::nullopt;
    return target;
}

bool HelperDevice::isNodePath(std::string path) const
{
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.erase(path.size() - deleted.size());
    return nodes_.count(path) != 0;
}

bool HelperDevice::deviceInUse() const
{
    return processesHold(sandbox_.root(), [this](const std::string& path) { return isNodePath(path); });
}

void HelperDevice::writeDevicesFile()
{
    const std::string path = sandbox_.hostPath("/proc/devices");
    std::ifstream in(path);
    std::stringstream current;
    current << in.rdbuf();
    in.close();
    std::ofstream out(path, std::ios::trunc);
    out << module_->devicesFile(current.str());
}

// /proc/modules lists the helper module while it is loaded.
void HelperDevice::writeModulesFile()
{
    std::ofstream out(sandbox_.hostPath("/proc/modules"), std::ios::trunc);
    if (module_->loaded())
        out << "qorfldrv_mod 16384 0 - Live 0x0000000000000000 (O)\n";
    if (smi_ && smi_->loaded())
        out << SmiModule::kName << " 16384 0 - Live 0x0000000000000000 (OE)\n";
}

SyscallAction HelperDevice::onUname(SyscallCall& call)
{
    struct utsname own {};
    ::uname(&own);
    // The kernel's new_utsname: six fields of 65 bytes.
    char fields[6][65] = {};
    const char* values[6] = {
        own.sysname,   own.nodename, platform_.kernel->release.c_str(), own.version, call.compat ? "i686" : own.machine,
        own.domainname};
    for (int i = 0; i < 6; i++)
        std::snprintf(fields[i], sizeof fields[i], "%s", values[i]);
    const bool ok = writeMemory(call.tracee.pid, call.args[0], fields, sizeof fields);
    trace_.write("uname",
                 {{"pid", call.tracee.pid}, {"release", platform_.kernel->release}, {"result", ok ? 0 : -EFAULT}});
    return SyscallAction::skipWith(ok ? 0 : -EFAULT);
}

SyscallAction HelperDevice::onLoad(SyscallCall& call, bool fromFile)
{
    const pid_t pid = call.tracee.pid;
    std::string image;
    bool readable = true;
    if (fromFile) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(asInt(call.args[0])),
                         std::ios::binary);
        readable = bool(in);
        std::vector<char> buf(kImageLimit + 1);
        in.read(buf.data(), std::streamsize(buf.size()));
        image.assign(buf.data(), size_t(in.gcount()));
    } else {
        const size_t length = std::min<uint64_t>(call.args[1], kImageLimit + 1);
        image.resize(length);
        readable = readMemory(pid, call.args[0], image.data(), length);
    }
    int result;
    if (smi_ && readable && smi_->isImage(image))
        result = smi_->load(image);
    else if (!module_ || platform_.lockedDown())
        result = -EPERM;
    else if (!readable)
        result = fromFile ? -EBADF : -EFAULT;
    else if (pid == failedLoader_)
        result = failedLoad_;
    else
        result = module_->load(image);
    if (result == 0) {
        writeDevicesFile();
        writeModulesFile();
    } else if (module_ && readable && !(smi_ && smi_->isImage(image))) {
        failedLoader_ = pid;
        failedLoad_ = result;
    }
    json fields = {{"pid", pid},
                   {"call", fromFile ? "finit_module" : "init_module"},
                   {"image", firstLine(image)},
                   {"result", result}};
    if (result == 0 && !(smi_ && smi_->isImage(image)))
        fields["major"] = module_->major();
    trace_.write("module_load", fields);
    return SyscallAction::skipWith(result);
}

SyscallAction HelperDevice::onRemove(SyscallCall& call)
{
    std::optional<std::string> name = readString(call.tracee.pid, call.args[0], 64);
    int result;
    if (!name)
        result = -EFAULT;
    else if (!module_)
        result = -ENOENT;
    else
        result = module_->unload(*name, deviceInUse());
    if (result == 0) {
        writeDevicesFile();
        writeModulesFile();
    }
    trace_.write("module_remove", {{"pid", call.tracee.pid}, {"name", name.value_or("")}, {"result", result}});
    return SyscallAction::skipWith(result);
}

SyscallAction HelperDevice::onMknod(SyscallCall& call, int dirfd, uint64_t pathAddress, uint64_t mode, uint64_t dev)
{
    if ((mode & S_IFMT) != S_IFCHR)
        return SyscallAction::run();
    const pid_t pid = call.tracee.pid;
    std::optional<std::string> path = readString(pid, pathAddress);
    if (!path)
        return SyscallAction::run();
    std::optional<std::string> host = resolve(pid, dirfd, *path);
    if (!host)
        return SyscallAction::run();
    // dev_t as the C library encodes it; i386 passes its low 32 bits.
    const unsigned major = unsigned(((dev >> 8) & 0xFFF) | ((dev >> 32) & ~0xFFFULL));
    const unsigned minor = unsigned((dev & 0xFF) | ((dev >> 12) & ~0xFFULL));
    int result = 0;
    struct stat st {};
    if (platform_.kernel->mknodError)
        result = -*platform_.kernel->mknodError;
    else if (::stat(fs::path(*host).parent_path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        result = -ENOENT;
    else if (::lstat(host->c_str(), &st) == 0)
        result = -EEXIST;
    else if (::link(memory_.path().c_str(), host->c_str()) != 0)
        result = -errno;
    if (result == 0)
        nodes_[*host] = Node{major, minor};
    trace_.write("mknod", {{"pid", pid},
                           {"path", *path},
                           {"at", insidePath(*host)},
                           {"major", major},
                           {"minor", minor},
                           {"mode", mode & 07777},
                           {"result", result}});
    return SyscallAction::skipWith(result);
}

SyscallAction HelperDevice::onOpen(SyscallCall& call, int dirfd, uint64_t pathAddress, uint64_t flags)
{
    const pid_t pid = call.tracee.pid;
    std::optional<std::string> path = readString(pid, pathAddress);
    if (!path)
        return SyscallAction::run();
    std::optional<std::string> host = resolve(pid, dirfd, *path);
    if (host && *host == memory_.path() && platform_.lockedDown()) {
        trace_.write("device_open",
                     {{"pid", pid}, {"path", *path}, {"major", 1}, {"flags", flags & 0xFFFFFFFF}, {"result", -EPERM}});
        return SyscallAction::skipWith(-EPERM);
    }
    if (host && smi_ && smi_->isNode(*host))
        return smi_->onOpen(call, *path, flags);
    if (!host || !isLiveNode(*host))
        return SyscallAction::run();
    int result;
    if (platform_.kernel->openError)
        result = -*platform_.kernel->openError;
    else
        result = module_->open(nodes_[*host].major, deviceInUse());
    trace_.write("device_open", {{"pid", pid},
                                 {"path", *path},
                                 {"major", nodes_[*host].major},
                                 {"flags", flags & 0xFFFFFFFF},
                                 {"result", result}});
    // The open itself runs: it opens the node, which is /dev/mem's file.
    return result == 0 ? SyscallAction::run() : SyscallAction::skipWith(result);
}

SyscallAction HelperDevice::onClose(SyscallCall& call)
{
    const int fd = asInt(call.args[0]);
    if (nodeOfDescriptor(call.tracee.pid, fd))
        trace_.write("device_close", {{"pid", call.tracee.pid}, {"fd", fd}});
    else if (smi_ && smi_->isDescriptor(call.tracee.pid, fd))
        smi_->onClose(call.tracee.pid, fd);
    return SyscallAction::run();
}

SyscallAction HelperDevice::onIoctl(SyscallCall& call)
{
    const pid_t pid = call.tracee.pid;
    const int fd = asInt(call.args[0]);
    if (smi_ && smi_->isDescriptor(pid, fd))
        return smi_->onIoctl(call);
    if (!nodeOfDescriptor(pid, fd))
        return SyscallAction::run();
    const unsigned cmd = unsigned(call.args[1] & 0xFFFFFFFF);
    const uint64_t arg = call.compat ? (call.args[2] & 0xFFFFFFFF) : call.args[2];
    const bool compat = call.compat;

    // The record as the program lays it out: five 4-byte fields for i386,
    // five 8-byte ones for x86-64.
    auto read = [pid, arg, compat](ModuleRecord& r) {
        if (compat) {
            uint32_t f[5];
            if (!readMemory(pid, arg, f, sizeof f))
                return false;
            r = {int64_t(int32_t(f[0])), f[1], f[2], f[3], f[4]};
        } else {
            uint64_t f[5];
            if (!readMemory(pid, arg, f, sizeof f))
                return false;
            r = {int64_t(f[0]), f[1], f[2], f[3], f[4]};
        }
        return true;
    };
    auto write = [pid, arg, compat](const ModuleRecord& r) {
        if (compat) {
            uint32_t f[5] = {uint32_t(r.size), uint32_t(r.kvirtlen), uint32_t(r.kmallocptr), uint32_t(r.kvirtadd),
                             uint32_t(r.kphysadd)};
            return writeMemory(pid, arg, f, sizeof f);
        }
        uint64_t f[5] = {uint64_t(r.size), r.kvirtlen, r.kmallocptr, r.kvirtadd, r.kphysadd};
        return writeMemory(pid, arg, f, sizeof f);
    };
    json detail = {{"pid", pid}, {"fd", fd}, {"arg", arg}};
    const int result = module_->ioctl(cmd, arg, read, write, detail);
    trace_.write("device_ioctl", detail);
    return SyscallAction::skipWith(result);
}

SyscallAction HelperDevice::onMmap(SyscallCall& call, bool pages)
{
    const pid_t pid = call.tracee.pid;
    const int fd = asInt(call.args[4]);
    if (smi_ && smi_->isDescriptor(pid, fd))
        return smi_->onMmap(call, pages);
    if (!nodeOfDescriptor(pid, fd))
        return SyscallAction::run();
    const MmapRequest m = mmapRequest(call.args, call.compat, pages, HelperModule::kPage);
    // The kernel's own refusals: it runs them.
    if (m.kernelRefuses(HelperModule::kPage))
        return SyscallAction::run();
    json detail = {{"pid", pid},         {"fd", fd},       {"length", m.length},
                   {"offset", m.offset}, {"prot", m.prot}, {"flags", m.flags}};
    uint64_t phys = 0;
    const int result = module_->mmap(m.offset, m.length, m.writable(), m.shared(), phys, detail);
    trace_.write("device_mmap", detail);
    if (result != 0)
        return SyscallAction::skipWith(result);
    // The mapping starts at the current block in physical memory.
    if (call.compat)
        call.regs.rbp = phys / HelperModule::kPage;
    else
        call.regs.r9 = phys;
    ::ptrace(PTRACE_SETREGS, pid, nullptr, &call.regs);
    return SyscallAction::run();
}

} // namespace fwemu
