// One run at a time per machine. Two runs at once would share the firmware's
// one SMI buffer (one run's request carried out for the other) and the
// working directory's .temp, module file and device node; so every run holds
// an exclusive lock on RUN_LOCK_FILE from before its first touch of the
// machine until the process ends, when the kernel lets it go, however the
// run ended.
#ifndef RUNLOCK_H
#define RUNLOCK_H

#define RUN_LOCK_FILE "/run/lock/zorvik.lock"
// Seconds a run waits for another run to finish: RUN_LOCK_WAIT_VARIABLE in
// the environment, a decimal number (0: do not wait), else this default.
#define RUN_LOCK_WAIT_VARIABLE "ZORVIK_LOCK_WAIT"
#define RUN_LOCK_DEFAULT_WAIT 60

// Takes the lock, waiting for another run if one holds it, and writes this
// process's id into the file. 0 when the lock is held, or when no lock can
// be had on this machine (the run goes on without one, said on standard
// error); QX3_ERR_ALREADY_RUNNING when another run still holds it after the
// wait.
int KVT_TakeRunLock();

#endif
