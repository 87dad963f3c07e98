// The signed SMI module's device, /dev/zorvik_smi: ZORVIK's way to the
// firmware on a kernel that refuses it I/O privilege (a kernel locked down
// under UEFI Secure Boot refuses iopl, /dev/mem and unsigned modules alike).
// The module raises the program's SMIs on its fixed ports with its fixed
// codes, setting EBX itself; it serves read-only windows onto the firmware's
// memory, the memory hole and a shared buffer of its own; and it writes the
// "$ASF" mailbox. A run takes this route only when iopl(3) was refused; it
// then prints and returns what it would with I/O privilege.
#ifndef SMIDEVICE_H
#define SMIDEVICE_H

#include <stdint.h>

#include "../modules/zorvik_smi/zorvik_smi.h"

// What modprobe reports when the kernel refuses a module's signature
// (EKEYREJECTED).
#define SMI_KEY_REJECTED_TEXT "Key was rejected by service"

// The device while this run goes through it; -1 otherwise.
extern int gSmiDeviceFd;

// Opens the device, after "modprobe zorvik_smi" when there is none yet, and
// checks its interface version. True when the route is open; otherwise
// g_LoadDiagnosis says why (platform/loaddiag.h).
bool SmiDeviceOpen();
void SmiDeviceClose();

// Raises one SMI through the module: `code` written to `port`, EBX set by
// the module (0 for the memory-hole query, else the shared buffer). Returns
// EBX after the SMI; 0 when the module refused the request.
uint32_t SmiDeviceRaise(unsigned short port, unsigned char code);
// Has the module write the shared buffer's address into the "$ASF" mailbox.
void SmiDeviceSetMailbox();
// The protection of a window onto physical memory through the device: read
// and write for the shared buffer (the memory hole the module reported, or
// its own buffer), read only for every other window.
int SmiDeviceWindowProtection(unsigned int phys, unsigned int len);

// The module's own buffer as the provider of physical buffers, in place of
// the helper module: installs the back end below; false when the module has
// no buffer of the size a request block needs.
bool SmiDeviceUseBuffer();
// Every allocation hands out the module's buffer, mapped once with the size
// of the first call; the release unmaps it.
bool _AllocSmiDeviceBuffer(unsigned int size, unsigned int* phys, unsigned char** virt);
bool _FreeSmiDeviceBuffer(unsigned int phys, unsigned int size);

#endif
