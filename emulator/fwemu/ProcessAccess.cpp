#include "ProcessAccess.h"

#include <sys/uio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fwemu {

namespace fs = std::filesystem;

bool readMemory(pid_t pid, uint64_t address, void* out, size_t length)
{
    if (length == 0)
        return true;
    iovec local{out, length};
    iovec remote{reinterpret_cast<void*>(address), length};
    return ::process_vm_readv(pid, &local, 1, &remote, 1, 0) == ssize_t(length);
}

bool writeMemory(pid_t pid, uint64_t address, const void* in, size_t length)
{
    iovec local{const_cast<void*>(in), length};
    iovec remote{reinterpret_cast<void*>(address), length};
    return ::process_vm_writev(pid, &local, 1, &remote, 1, 0) == ssize_t(length);
}

std::optional<std::string> readString(pid_t pid, uint64_t address, size_t limit)
{
    std::string text;
    while (text.size() < limit) {
        char chunk[256];
        size_t n = sizeof chunk - (address % sizeof chunk);
        if (!readMemory(pid, address, chunk, n)) {
            // The rest of the page may still be readable byte by byte.
            if (!readMemory(pid, address, chunk, 1))
                return std::nullopt;
            n = 1;
        }
        for (size_t i = 0; i < n; i++) {
            if (chunk[i] == '\0')
                return text;
            text.push_back(chunk[i]);
        }
        address += n;
    }
    return std::nullopt;
}

std::string readLink(const std::string& path)
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

bool processesHold(const std::string& root, const std::function<bool(const std::string&)>& matches)
{
    const std::string deleted = " (deleted)";
    auto held = [&](std::string path) {
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.erase(path.size() - deleted.size());
        return !path.empty() && matches(path);
    };
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string proc = entry.path().string();
        if (readLink(proc + "/root") != root)
            continue;
        std::error_code fdEc;
        for (const auto& fd : fs::directory_iterator(proc + "/fd", fdEc))
            if (held(readLink(fd.path().string())))
                return true;
        // A mapping keeps the device's file, and so the device, open.
        std::ifstream maps(proc + "/maps");
        std::string line;
        while (std::getline(maps, line)) {
            std::istringstream fields(line);
            std::string range, perms, offset, device, inode;
            fields >> range >> perms >> offset >> device >> inode;
            std::string path;
            std::getline(fields, path);
            path.erase(0, path.find_first_not_of(' '));
            if (held(path))
                return true;
        }
    }
    return false;
}

bool hasCapability(pid_t pid, unsigned capability)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "CapEff:") != 0)
            continue;
        const unsigned long long effective = std::stoull(line.substr(7), nullptr, 16);
        return capability < 64 && (effective >> capability & 1) != 0;
    }
    return false;
}

} // namespace fwemu
