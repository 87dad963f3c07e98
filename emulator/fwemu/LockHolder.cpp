#include "LockHolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace fwemu {

LockHolder::LockHolder(const RunLockDescription& lock, const Sandbox& sandbox)
{
    if (!lock.holder)
        return;
    const std::string path = sandbox.hostPath(RunLockDescription::kFile);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw SandboxError(std::string("cannot build the sandbox: create ") + RunLockDescription::kFile + ": " +
                           std::strerror(errno));
    const std::string pid = std::to_string(lock.holder->pid) + "\n";
    if (::write(fd_, pid.data(), pid.size()) != ssize_t(pid.size()) || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        release();
        throw SandboxError(std::string("cannot build the sandbox: lock ") + RunLockDescription::kFile + ": " +
                           std::strerror(e));
    }
    if (!lock.holder->releaseAfterMs)
        return;
    // Closing the only descriptor lets the lock go, as the holder's end would.
    const auto after = std::chrono::milliseconds(*lock.holder->releaseAfterMs);
    releaser_ = std::thread([this, after] {
        std::unique_lock<std::mutex> guard(mutex_);
        stop_.wait_for(guard, after, [this] { return stopping_; });
        release();
    });
}

LockHolder::~LockHolder()
{
    if (releaser_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
        }
        stop_.notify_all();
        releaser_.join();
    }
    release();
}

void LockHolder::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace fwemu
