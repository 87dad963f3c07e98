#include "support/InProcessFirmware.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "framework/QX3Types.h"
#include "scripts/TrailerBlock.h"
#include "support/TempDir.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define IN_PROCESS_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define IN_PROCESS_SANITIZED 1
#endif
#ifdef IN_PROCESS_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

// The program's own declarations of what is replaced (framework/Main.cpp's
// entry, renamed; firmware/oshook.h's privilege flag and buffer address).
extern "C" int ZorvikMain(int argc, char** argv);
extern uint32_t gIntrBufPhyAddr;

using nlohmann::json;

namespace testsupport {

namespace {

InProcessFirmware* g_Current = nullptr;
constexpr size_t kPage = 4096;

size_t PageRound(size_t n)
{
    return (n + kPage - 1) / kPage * kPage;
}

} // namespace

InProcessFirmware::InProcessFirmware(const json& platform, const std::string& memoryPath)
{
    fwemu::PlatformDescription description = fwemu::PlatformDescription::fromJson(platform);
    runLock_ = description.runLock;
    memory_ = std::make_unique<fwemu::PhysicalMemory>(memoryPath, description.memorySize);
    ::unlink(memoryPath.c_str()); // stays mapped; nothing left behind
    model_ = std::make_unique<fwemu::FirmwareModel>(std::move(description), *memory_);
    g_Current = this;
}

InProcessFirmware::~InProcessFirmware()
{
    for (auto& [bytes, w] : windows_)
        std::free(bytes);
    g_Current = nullptr;
}

InProcessFirmware* InProcessFirmware::Current()
{
    return g_Current;
}

void InProcessFirmware::Emit(const json& event)
{
    if (sink_)
        sink_(event);
}

// A descriptor of its own (of /dev/null), so that descriptor numbers stay
// the process's.
int InProcessFirmware::Open(const char* /*path*/, int /*flags*/)
{
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        deviceFds_.push_back(fd);
    return fd;
}

// An anonymous file: gone with the run, and no other run's.
int InProcessFirmware::OpenRunLock()
{
    if (!runLock_.directory) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::memfd_create("zorvik.lock", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    if (runLock_.holder) {
        const std::string pid = std::to_string(runLock_.holder->pid) + "\n";
        if (::write(fd, pid.data(), pid.size()) != ssize_t(pid.size()))
            std::abort();
    }
    runLockFds_.push_back(fd);
    return fd;
}

bool InProcessFirmware::RunLockHeldElsewhere(int fd) const
{
    if (!runLock_.holder || std::find(runLockFds_.begin(), runLockFds_.end(), fd) == runLockFds_.end())
        return false;
    const auto held = std::chrono::steady_clock::now() - started_;
    return !runLock_.holder->releaseAfterMs || held < std::chrono::milliseconds(*runLock_.holder->releaseAfterMs);
}

bool InProcessFirmware::IsMemoryDevice(int fd) const
{
    return std::find(deviceFds_.begin(), deviceFds_.end(), fd) != deviceFds_.end();
}

void InProcessFirmware::Close(int fd)
{
    deviceFds_.erase(std::remove(deviceFds_.begin(), deviceFds_.end(), fd), deviceFds_.end());
    runLockFds_.erase(std::remove(runLockFds_.begin(), runLockFds_.end(), fd), runLockFds_.end());
}

void* InProcessFirmware::Map(size_t length, int prot, int flags, int /*fd*/, int64_t offset)
{
    if (length == 0 || offset < 0 || offset % kPage != 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    if (!memory_->contains(uint64_t(offset), length)) {
        errno = ENXIO;
        return MAP_FAILED;
    }
    // Page-aligned, as the program takes the page offset from the address.
    void* p = nullptr;
    if (posix_memalign(&p, kPage, length) != 0) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    FlushAll();
    Window w;
    w.phys = uint64_t(offset);
    w.length = length;
    w.shared = (flags & MAP_SHARED) != 0;
    w.writable = (prot & PROT_WRITE) != 0;
    uint8_t* bytes = static_cast<uint8_t*>(p);
    Reload(bytes, w);
    windows_[bytes] = std::move(w);
    return p;
}

bool InProcessFirmware::Unmap(void* address, size_t length, int* error)
{
    auto it = windows_.find(static_cast<uint8_t*>(address));
    if (it == windows_.end())
        return false;
    if (PageRound(length) != PageRound(it->second.length)) {
        std::fprintf(stderr, "in-process firmware: munmap of %zu bytes of a %zu-byte window at 0x%llx\n", length,
                     it->second.length, (unsigned long long)it->second.phys);
        std::abort();
    }
    Flush(it->first, it->second);
    std::free(it->first);
    windows_.erase(it);
    *error = 0;
    return true;
}

// What the program wrote into a window since the last exchange goes to
// physical memory (byte by byte, so that overlapping windows don't undo
// each other). A read-only window must not have changed.
void InProcessFirmware::Flush(uint8_t* bytes, Window& w)
{
    if (std::memcmp(bytes, w.synced.data(), w.length) == 0)
        return;
    if (!w.writable) {
        std::fprintf(stderr, "in-process firmware: write into the read-only window at 0x%llx\n",
                     (unsigned long long)w.phys);
        std::abort();
    }
    if (!w.shared)
        return;
    uint8_t* phys = memory_->view(w.phys, w.length).data();
    for (size_t i = 0; i < w.length; i++) {
        if (bytes[i] != w.synced[i]) {
            phys[i] = bytes[i];
            w.synced[i] = bytes[i];
        }
    }
}

void InProcessFirmware::FlushAll()
{
    for (auto& [bytes, w] : windows_)
        Flush(bytes, w);
}

void InProcessFirmware::Reload(uint8_t* bytes, Window& w)
{
    const uint8_t* phys = memory_->view(w.phys, w.length).data();
    std::memcpy(bytes, phys, w.length);
    w.synced.assign(phys, phys + w.length);
}

void InProcessFirmware::PortWrite(uint16_t port, uint8_t al, uint32_t ebx, uint32_t ecx, uint32_t* ebxAfter)
{
    json fields = {{"event", "port_write"}, {"port", port}, {"al", al}, {"ebx", ebx}, {"ecx", ecx}};
    if (ioLevel_ < 3) {
        fields["event"] = "port_fault";
        Emit(fields);
        ::raise(SIGSEGV);
        return;
    }
    FlushAll();
    fwemu::PortWrite write{port, al, ebx, ecx};
    fwemu::PortWriteOutcome outcome;
    bool answered = false;
    if (answer_) {
        const uint64_t address = uint64_t(ecx) << 32 | ebx;
        fwemu::ByteView buffer;
        if (memory_->contains(address, fwemu::PlatformDescription::kSmiBufferSize))
            buffer = memory_->view(address, fwemu::PlatformDescription::kSmiBufferSize);
        answered = answer_(write, buffer, outcome);
    }
    if (!answered)
        outcome = model_->portWrite(write);
    for (auto& [bytes, w] : windows_)
        Reload(bytes, w);
    portWrites_++;
    if (outcome.ebx) {
        *ebxAfter = *outcome.ebx;
        fields["ebx_after"] = *outcome.ebx;
    }
    for (auto it = outcome.detail.begin(); it != outcome.detail.end(); ++it)
        fields[it.key()] = it.value();
    Emit(fields);
}

int InProcessFirmware::Iopl(int level)
{
    if (level == 0) {
        ioLevel_ = 0;
        if (done_)
            done_();
        return 0;
    }
    if (!grant_) {
        errno = EPERM;
        return -1;
    }
    ioLevel_ = level;
    return 0;
}

int InProcessFirmware::System(const char* command)
{
    Emit({{"event", "system"}, {"command", command != nullptr ? command : ""}});
    return 0;
}

void InProcessFirmware::DriverLoaderCalled()
{
    Emit({{"event", "driver_loader"}, {"loaded", false}});
}

FwemuResult RunInProcess(const json& platform, const FwemuOptions& options)
{
    FwemuResult r;
    TempDir dir(options.tempPrefix);
    if (!dir.ok()) {
        r.err = "cannot make a directory " + options.tempPrefix + "...";
        return r;
    }
    const std::string program = dir / "ZORVIK";
    const std::string traceFile = dir / "trace.jsonl";
    const std::string savedFile = dir / "saved.json";
    const std::string crashFile = dir / "sanitizer";
    {
        std::vector<uint8_t> file(256, 0x90);
        const std::vector<uint8_t> block = TrailerBlock();
        file.insert(file.end(), block.begin(), block.end());
        std::ofstream(program, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    }

    ProcessOptions run;
    run.errors = options.errors;
    static_cast<ProcessResult&>(r) = RunForked(
        [&] {
#ifdef IN_PROCESS_SANITIZED
            static std::string crashPath;
            crashPath = crashFile;
            __sanitizer_set_death_callback([] { std::ofstream(crashPath) << "1"; });
#endif
            InProcessFirmware firmware(platform, dir / "memory");
            std::ofstream trace(traceFile);
            firmware.OnEvent([&](const json& e) { trace << e.dump() << std::endl; });
            firmware.OnPrivilegeDropped([&] {
                if (options.save)
                    std::ofstream(savedFile) << firmware.Model().platform().toJson().dump();
                trace.flush();
            });
            for (const std::string& entry : options.env) {
                const size_t eq = entry.find('=');
                ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
            }
            std::vector<std::string> words = {options.argv0.empty() ? program : options.argv0};
            words.insert(words.end(), options.words.begin(), options.words.end());
            std::vector<char*> argv;
            for (std::string& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            ZorvikMain(int(words.size()), argv.data());
        },
        run);
    r.trace = ReadTrace(traceFile);
    if (options.save) {
        std::ifstream saved(savedFile);
        if (saved)
            r.saved = json::parse(saved);
    }
    if (std::ifstream(crashFile)) {
        r.status = -2;
        r.err += "\n(ended by a sanitizer)";
    }
    if (!dir.Remove())
        r.err += "\n(could not remove " + dir.path() + ")";
    return r;
}

} // namespace testsupport

// The link-time replacements (-Wl,--wrap=SYMBOL turns the program's
// references to SYMBOL into references to __wrap_SYMBOL). Without a
// firmware in place, the system calls go to the real ones; the port write,
// which cannot be made here, ends the process, and the helper module is
// never built or loaded.
using testsupport::InProcessFirmware;

extern "C" {

int __real_open64(const char* path, int flags, ...);
void* __real_mmap64(void* address, size_t length, int prot, int flags, int fd, off64_t offset);
int __real_munmap(void* address, size_t length);
int __real_close(int fd);
int __real_iopl(int level);
int __real_system(const char* command);
int __real_flock(int fd, int operation);

int __wrap_open64(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw != nullptr && path != nullptr && std::strcmp(path, "/dev/mem") == 0)
        return fw->Open(path, flags);
    if (fw != nullptr && path != nullptr && std::strcmp(path, fwemu::RunLockDescription::kFile) == 0)
        return fw->OpenRunLock();
    return __real_open64(path, flags, mode);
}

int __wrap_flock(int fd, int operation)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw != nullptr && fw->RunLockHeldElsewhere(fd)) {
        errno = EWOULDBLOCK;
        return -1;
    }
    return __real_flock(fd, operation);
}

void* __wrap_mmap64(void* address, size_t length, int prot, int flags, int fd, off64_t offset)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw != nullptr && fw->IsMemoryDevice(fd))
        return fw->Map(length, prot, flags, fd, offset);
    return __real_mmap64(address, length, prot, flags, fd, offset);
}

int __wrap_munmap(void* address, size_t length)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    int error = 0;
    if (fw != nullptr && fw->Unmap(address, length, &error))
        return 0;
    return __real_munmap(address, length);
}

int __wrap_close(int fd)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw != nullptr)
        fw->Close(fd);
    return __real_close(fd);
}

int __wrap_iopl(int level)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    return fw != nullptr ? fw->Iopl(level) : __real_iopl(level);
}

int __wrap_system(const char* command)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    return fw != nullptr ? fw->System(command) : __real_system(command);
}

// void OutPortByte(unsigned short, unsigned char): AL the code, EBX the
// shared buffer's physical address, ECX 0.
void __wrap_OutPortByte(unsigned short port, unsigned char value)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw == nullptr)
        std::abort();
    uint32_t ebx = gIntrBufPhyAddr;
    fw->PortWrite(port, value, gIntrBufPhyAddr, 0, &ebx);
}

// uint32_t OutPortByteReadEbx(unsigned short, unsigned char): EBX 0 at the
// write, read back after it.
uint32_t __wrap_OutPortByteReadEbx(unsigned short port, unsigned char value)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw == nullptr)
        std::abort();
    uint32_t ebx = 0;
    fw->PortWrite(port, value, 0, 0, &ebx);
    return ebx;
}

// The helper-module provider, called through the platform layer's loader
// table: no helper module here.
bool __wrap_QX3_LinuxDriverLoader(QX3_ARGV_LIST& /*args*/, unsigned int /*loaded*/)
{
    InProcessFirmware* fw = InProcessFirmware::Current();
    if (fw != nullptr)
        fw->DriverLoaderCalled();
    return false;
}

void __wrap_QX3_LinuxDriverUnloader(QX3_ARGV_LIST& /*args*/)
{
}

} // extern "C"
