// Another process's hold on ZORVIK's machine-wide lock in the sandbox, as the
// platform's "run_lock.holder" describes it: fwemu creates
// /run/lock/zorvik.lock with the holder's process id in it and locks it
// (flock) before the program starts; it lets the lock go once the holder's
// moment has passed, on a thread of its own, or when the run is over.
#ifndef FWEMU_LOCKHOLDER_H
#define FWEMU_LOCKHOLDER_H

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "PlatformDescription.h"
#include "Sandbox.h"

namespace fwemu {

class LockHolder {
public:
    // Does nothing without a holder; throws SandboxError when the file
    // cannot be made or locked.
    LockHolder(const RunLockDescription& lock, const Sandbox& sandbox);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    void release();

    int fd_ = -1;
    std::thread releaser_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
};

} // namespace fwemu

#endif
