/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * zorvik_smi: the device interface of the SMI module, shared by the module,
 * ZORVIK, fwemu's model of the device and the tests.
 *
 * /dev/zorvik_smi (0600, one opener at a time, CAP_SYS_RAWIO to open; the
 * device stays busy until the opener's last file and mapping are gone, and
 * each opener starts with a zeroed buffer and no memory hole):
 *  - ZORVIK_SMI_IOC_INFO: the interface version, the shared buffer and the
 *    number of SMIs raised since the module was loaded. ZORVIK refuses a
 *    module whose abi_version is below its own.
 *  - ZORVIK_SMI_IOC_RAISE: raises one SMI by writing @code to @port. Ports:
 *    the FADT's SMI command port, the ports of the first and of the last
 *    "$ASF" structure of the BIOS area (ZORVIK's two lookups), 0xB2. Codes: 0x7F (memory-hole query: EBX 0 at the write,
 *    EBX after it handed back in @ebx) and 0x20, 0x24, 0x25, 0x26, 0x0D
 *    (EBX set by the module to the shared buffer: the firmware's memory hole
 *    once a 0x7F query reported one, else the module's own buffer). @ebx is
 *    0 after the other codes. A hole whose pages are not all reserved
 *    firmware memory below 4 GiB in the kernel's memory map is not used: the
 *    query then hands back 0, as for no hole. The four input words of a 0x0D
 *    request block (offsets 4 to 19) must each be below 0x10000 (a value) or
 *    an address inside the shared buffer: the firmware writes its answers
 *    there. Anything else is refused with EINVAL.
 *  - ZORVIK_SMI_IOC_SET_MAILBOX: writes the shared buffer's physical address
 *    into the data area of the first "$ASF" structure (ENOENT when it names
 *    port 0 or its data area is not inside the BIOS area, or there is none).
 *  - mmap: the file offset is the physical address of the window, page
 *    aligned. Read-only: the area below 1 MiB and, above it, firmware memory
 *    as the kernel's memory map types it (ACPI tables, ACPI NVS, reserved;
 *    no part of a page RAM): the ACPI tables lie there. Writable:
 *    the module's buffer and the memory hole (both map the module's copy of
 *    them, which it copies to the firmware's buffer before each SMI and back
 *    after it). Everything else (RAM, device memory) is refused with EPERM;
 *    a writable mapping of a read-only window with EACCES.
 * Every record has the same layout on i386 and x86-64.
 */
#ifndef ZORVIK_SMI_H
#define ZORVIK_SMI_H

#ifdef __KERNEL__
#include <linux/types.h>
#include <linux/ioctl.h>
#else
#include <stdint.h>
#include <sys/ioctl.h>
/* The kernel's names of the fixed-width types (same types, so a program that
 * also includes <linux/types.h> sees a compatible redeclaration).
 */
typedef uint8_t __u8;
typedef uint16_t __u16;
typedef uint32_t __u32;
#endif

#define ZORVIK_SMI_ABI_VERSION 1
#define ZORVIK_SMI_NAME "zorvik_smi"
#define ZORVIK_SMI_DEVICE "/dev/zorvik_smi"
/* Size of the shared buffer: one SMI request block of ZORVIK. */
#define ZORVIK_SMI_BUFFER_SIZE 0x10000
/* The one port every machine of this firmware family answers on. */
#define ZORVIK_SMI_DEFAULT_PORT 0xB2

struct zorvik_smi_info {
	__u32 abi_version;	/* ZORVIK_SMI_ABI_VERSION of the module */
	__u32 buffer_phys;	/* physical address of the module's buffer */
	__u32 buffer_size;	/* its size, ZORVIK_SMI_BUFFER_SIZE */
	__u32 smi_count;	/* SMIs raised since the module was loaded */
};

struct zorvik_smi_raise {
	__u16 port;		/* in: SMI command port */
	__u8 code;		/* in: function code */
	__u8 reserved;		/* in: 0 */
	__u32 ebx;		/* out: EBX after the SMI */
};

#define ZORVIK_SMI_IOC_MAGIC 'Z'
#define ZORVIK_SMI_IOC_INFO _IOR(ZORVIK_SMI_IOC_MAGIC, 1, struct zorvik_smi_info)
#define ZORVIK_SMI_IOC_RAISE _IOWR(ZORVIK_SMI_IOC_MAGIC, 2, struct zorvik_smi_raise)
#define ZORVIK_SMI_IOC_SET_MAILBOX _IO(ZORVIK_SMI_IOC_MAGIC, 3)

#endif /* ZORVIK_SMI_H */
