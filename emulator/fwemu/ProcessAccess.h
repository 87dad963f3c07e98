// What the traps that serve a kernel device need of a traced process: its
// memory (records, paths) and the files it holds open or mapped.
#ifndef FWEMU_PROCESSACCESS_H
#define FWEMU_PROCESSACCESS_H

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace fwemu {

bool readMemory(pid_t pid, uint64_t address, void* out, size_t length);
bool writeMemory(pid_t pid, uint64_t address, const void* in, size_t length);
// A zero-terminated text in the process, read a page at a time.
std::optional<std::string> readString(pid_t pid, uint64_t address, size_t limit = PATH_MAX);
// The target of a symbolic link (a /proc link), empty when there is none.
std::string readLink(const std::string& path);
// Whether any process whose root directory is `root` holds a file open
// (also by inheritance) or mapped whose path `matches` ("(deleted)" left
// off): a kernel releases a device only when the last of them is gone.
bool processesHold(const std::string& root, const std::function<bool(const std::string&)>& matches);
// Whether the process's effective capabilities hold `capability`.
bool hasCapability(pid_t pid, unsigned capability);

} // namespace fwemu

#endif
