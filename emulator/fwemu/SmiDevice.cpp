#include "SmiDevice.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ProcessAccess.h"

namespace fwemu {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kCapSysRawio = 17;

const char* requestName(unsigned cmd)
{
    switch (cmd) {
    case ZORVIK_SMI_IOC_INFO:
        return "INFO";
    case ZORVIK_SMI_IOC_RAISE:
        return "RAISE";
    case ZORVIK_SMI_IOC_SET_MAILBOX:
        return "SET_MAILBOX";
    default:
        return "unknown";
    }
}

void writeSandboxFile(const std::string& path, const std::string& contents)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out)
        throw SandboxError("cannot build the sandbox: cannot write " + path);
}

} // namespace

SmiDevice::SmiDevice(const PlatformDescription& platform, Sandbox& sandbox, FirmwareModel& firmware,
                     PhysicalMemory& memory, TraceWriter& trace)
    : platform_(platform), sandbox_(sandbox), memory_(memory), trace_(trace),
      module_(*platform.kernel, platform, firmware, memory), node_(sandbox.hostPath(SmiModule::kDevice))
{
}

void SmiDevice::prepareSandbox()
{
    const std::string dir = "/lib/modules/" + platform_.kernel->release + "/";
    writeSandboxFile(sandbox_.hostPath(dir + SmiModule::kModuleFile), module_.image());
    writeSandboxFile(sandbox_.hostPath(dir + "modules.dep"), std::string(SmiModule::kModuleFile) + ":\n");
    if (module_.loaded())
        makeNode();
}

// The node udev would make: a hard link to physical memory, so that a
// mapping at a physical address is that memory once the checks let it run.
void SmiDevice::makeNode()
{
    if (::link(memory_.path().c_str(), node_.c_str()) != 0 && errno != EEXIST)
        throw SandboxError("cannot make " + std::string(SmiModule::kDevice) + ": " + std::strerror(errno));
    writeCount();
}

void SmiDevice::writeCount()
{
    writeSandboxFile(sandbox_.hostPath(kCountFile), std::to_string(module_.smiCount()) + "\n");
}

int SmiDevice::load(const std::string& image)
{
    const int result = module_.load(image);
    if (result == 0)
        makeNode();
    return result;
}

bool SmiDevice::isNode(const std::string& hostPath) const
{
    struct stat node {
    }, mem{};
    return hostPath == node_ && ::lstat(node_.c_str(), &node) == 0 && ::stat(memory_.path().c_str(), &mem) == 0 &&
           node.st_ino == mem.st_ino && node.st_dev == mem.st_dev;
}

bool SmiDevice::isDescriptor(pid_t pid, int fd) const
{
    return fd >= 0 && readLink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)) == node_;
}

SyscallAction SmiDevice::onOpen(SyscallCall& call, const std::string& path, uint64_t flags)
{
    const pid_t pid = call.tracee.pid;
    const bool inUse = processesHold(sandbox_.root(), [this](const std::string& p) { return p == node_; });
    const int result = module_.open(hasCapability(pid, kCapSysRawio), inUse);
    trace_.write("smi_device",
                 {{"pid", pid}, {"call", "open"}, {"path", path}, {"flags", flags & 0xFFFFFFFF}, {"result", result}});
    // The open itself runs: it opens the node, which is /dev/mem's file.
    return result == 0 ? SyscallAction::run() : SyscallAction::skipWith(result);
}

void SmiDevice::onClose(pid_t pid, int fd)
{
    trace_.write("smi_device", {{"pid", pid}, {"call", "close"}, {"fd", fd}});
}

SyscallAction SmiDevice::onIoctl(SyscallCall& call)
{
    const pid_t pid = call.tracee.pid;
    const int fd = asInt(call.args[0]);
    const unsigned cmd = unsigned(call.args[1] & 0xFFFFFFFF);
    const uint64_t arg = call.compat ? (call.args[2] & 0xFFFFFFFF) : call.args[2];
    json detail = {{"pid", pid}, {"call", "ioctl"}, {"fd", fd}, {"cmd", requestName(cmd)}, {"code", cmd}};
    int result = 0;
    if (cmd == ZORVIK_SMI_IOC_INFO) {
        const zorvik_smi_info info = module_.info();
        result = writeMemory(pid, arg, &info, sizeof info) ? 0 : -EFAULT;
    } else if (cmd == ZORVIK_SMI_IOC_RAISE) {
        zorvik_smi_raise request{};
        PortWrite write;
        PortWriteOutcome outcome;
        if (!readMemory(pid, arg, &request, sizeof request))
            result = -EFAULT;
        else
            result = module_.raise(request, write, outcome);
        detail["port"] = request.port;
        detail["al"] = request.code;
        if (result == 0) {
            // The SMI, traced as the port write it stands for.
            json fields = {{"pid", pid},       {"port", write.port}, {"al", write.al},
                           {"ebx", write.ebx}, {"ecx", write.ecx},   {"form", SmiModule::kName}};
            if (outcome.ebx)
                fields["ebx_after"] = *outcome.ebx;
            for (auto it = outcome.detail.begin(); it != outcome.detail.end(); ++it)
                fields[it.key()] = it.value();
            trace_.write("port_write", fields);
            writeCount();
            if (!writeMemory(pid, arg, &request, sizeof request))
                result = -EFAULT;
            if (result == 0)
                return SyscallAction::skipWith(0);
        }
    } else if (cmd == ZORVIK_SMI_IOC_SET_MAILBOX) {
        result = module_.setMailbox(detail);
    } else {
        result = -ENOTTY;
    }
    detail["result"] = result;
    trace_.write("smi_device", detail);
    return SyscallAction::skipWith(result);
}

SyscallAction SmiDevice::onMmap(SyscallCall& call, bool pages)
{
    const MmapRequest m = mmapRequest(call.args, call.compat, pages, SmiModule::kPage);
    // The kernel's own refusals: it runs them.
    if (m.kernelRefuses(SmiModule::kPage))
        return SyscallAction::run();
    json detail = {{"pid", call.tracee.pid}, {"call", "mmap"}, {"fd", m.fd},      {"length", m.length},
                   {"offset", m.offset},     {"prot", m.prot}, {"flags", m.flags}};
    const int result = module_.mmap(m.offset, m.length, m.writable(), detail);
    trace_.write("smi_device", detail);
    // The node is physical memory: the mapping at the offset asked for is
    // the window itself.
    return result == 0 ? SyscallAction::run() : SyscallAction::skipWith(result);
}

// Making a mapping of the device writable: refused (EACCES) for every part
// that maps a read-only window, as the module takes its mappings' right to
// become writable away. The file offset of the mapping is the physical
// address.
SyscallAction SmiDevice::onMprotect(SyscallCall& call)
{
    const uint64_t mask = call.compat ? 0xFFFFFFFF : ~0ULL;
    const uint64_t start = call.args[0] & mask, length = call.args[1] & mask, prot = call.args[2];
    if ((prot & PROT_WRITE) == 0 || start + length < start)
        return SyscallAction::run();
    const uint64_t end = start + length;
    std::ifstream maps("/proc/" + std::to_string(call.tracee.pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields, path);
        path.erase(0, path.find_first_not_of(' '));
        if (path != node_ && path != node_ + " (deleted)")
            continue;
        const uint64_t from = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        const uint64_t to = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        const uint64_t lo = std::max(from, start), hi = std::min(to, end);
        if (lo >= hi)
            continue;
        const uint64_t phys = std::stoull(offset, nullptr, 16) + (lo - from);
        if (!module_.mayWrite(phys, hi - lo)) {
            trace_.write("smi_device", {{"pid", call.tracee.pid},
                                        {"call", "mprotect"},
                                        {"address", lo},
                                        {"offset", phys},
                                        {"prot", prot & 0xFFFFFFFF},
                                        {"result", -EACCES}});
            return SyscallAction::skipWith(-EACCES);
        }
    }
    return SyscallAction::run();
}

void SmiDevice::finish()
{
    trace_.write("smi_module", module_.state());
}

} // namespace fwemu
