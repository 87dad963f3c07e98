// The virtual platform inside the test process: the program's own units run
// against fwemu's firmware model, with the hardware primitives replaced at
// link time (see zorvik_in_process in CMakeLists.txt):
//   - the port write (OutPortByte, OutPortByteReadEbx) and iopl reach the
//     firmware model;
//   - "/dev/mem" (open, mmap, munmap, close) maps the model's physical
//     memory through heap windows of exactly the mapped size, so that the
//     sanitizers see every read past a window;
//   - the helper-module provider finds no module (platforms that serve the
//     run do so through their memory hole);
//   - system() records its command and runs nothing;
//   - the machine-wide lock file (open, flock) is a file of the run's own,
//     never the machine's, held by another process or missing as the
//     platform's "run_lock" says.
// Windows and physical memory meet at every port write, map and unmap: what
// the program wrote into a shared window goes to physical memory before the
// firmware runs, and the firmware's answer comes back into every window
// after it.
#ifndef TESTSUPPORT_INPROCESSFIRMWARE_H
#define TESTSUPPORT_INPROCESSFIRMWARE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FirmwareModel.h"
#include "PhysicalMemory.h"
#include "support/Fwemu.h"

namespace testsupport {

class InProcessFirmware {
public:
    // Lays the platform out in a physical memory file at memoryPath (sparse,
    // as large as the platform's memory). One at a time per process.
    InProcessFirmware(const nlohmann::json& platform, const std::string& memoryPath);
    ~InProcessFirmware();
    InProcessFirmware(const InProcessFirmware&) = delete;
    InProcessFirmware& operator=(const InProcessFirmware&) = delete;

    static InProcessFirmware* Current();

    fwemu::FirmwareModel& Model() { return *model_; }
    fwemu::PhysicalMemory& Memory() { return *memory_; }

    // Answers a port write in place of the model when it returns true: the
    // fuzzers hand the program hostile answers this way. `buffer` is the
    // 64 KiB at EBX (empty when outside physical memory).
    using Answer = std::function<bool(const fwemu::PortWrite&, fwemu::ByteView buffer, fwemu::PortWriteOutcome&)>;
    void SetAnswer(Answer answer) { answer_ = std::move(answer); }

    // Each event as fwemu's trace has it ("port_write" with port, al, ebx,
    // ecx, ebx_after and the firmware's fields; "system" with the command;
    // "driver_loader"), handed over as it happens.
    void OnEvent(std::function<void(const nlohmann::json&)> sink) { sink_ = std::move(sink); }
    // Called when the program gives up its I/O privilege (iopl(0)), the
    // last thing it does before it ends.
    void OnPrivilegeDropped(std::function<void()> done) { done_ = std::move(done); }
    // Whether iopl(3) is granted (default yes).
    void GrantIoPrivilege(bool grant) { grant_ = grant; }

    unsigned PortWrites() const { return portWrites_; }
    size_t OpenWindows() const { return windows_.size(); }

    // The primitives, as the link-time replacements call them.
    int Open(const char* path, int flags);
    int OpenRunLock();
    // Whether the other process of the platform's "run_lock.holder" still
    // holds the lock that `fd` opened.
    bool RunLockHeldElsewhere(int fd) const;
    bool IsMemoryDevice(int fd) const;
    void Close(int fd);
    void* Map(size_t length, int prot, int flags, int fd, int64_t offset);
    bool Unmap(void* address, size_t length, int* error);
    void PortWrite(uint16_t port, uint8_t al, uint32_t ebx, uint32_t ecx, uint32_t* ebxAfter);
    int Iopl(int level);
    int System(const char* command);
    void DriverLoaderCalled();

private:
    struct Window {
        uint64_t phys = 0;
        size_t length = 0;
        bool shared = false;
        bool writable = false;
        std::vector<uint8_t> synced; // the bytes as last exchanged with physical memory
    };

    void FlushAll();
    void Flush(uint8_t* bytes, Window& w);
    void Reload(uint8_t* bytes, Window& w);
    void Emit(const nlohmann::json& event);

    std::unique_ptr<fwemu::PhysicalMemory> memory_;
    std::unique_ptr<fwemu::FirmwareModel> model_;
    std::map<uint8_t*, Window> windows_;
    std::vector<int> deviceFds_;
    std::vector<int> runLockFds_;
    fwemu::RunLockDescription runLock_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    Answer answer_;
    std::function<void(const nlohmann::json&)> sink_;
    std::function<void()> done_;
    bool grant_ = true;
    int ioLevel_ = 0;
    unsigned portWrites_ = 0;
};

// Runs ZORVIK's whole pipeline (ZorvikMain) in a forked child against the
// platform, with options.words after the program path (options.argv0, or a
// small program file with the data trailer in a temporary directory). The
// result has what RunFwemu gives: output, status, the trace's port writes
// and, with options.save, the platform as the run left it. options.fwemu
// and options.program are not used. A child that a sanitizer ended has
// status -2 and the report in err (or out, when merged).
FwemuResult RunInProcess(const nlohmann::json& platform, const FwemuOptions& options);

} // namespace testsupport

#endif
