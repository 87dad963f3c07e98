// SPDX-License-Identifier: GPL-2.0
/*
 * zorvik_smi: raises ZORVIK's SMIs for root on a kernel that refuses it I/O
 * privilege and /dev/mem (lockdown). The interface is in zorvik_smi.h; what
 * it allows and refuses, and why, in README.md.
 *
 * The firmware is only ever given the module's buffer (or the memory hole
 * the firmware reported itself): user space maps a copy of it, which is
 * copied in before each SMI and back after it, so the request is checked
 * where user space cannot change it between the check and the SMI.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/acpi.h>
#include <linux/atomic.h>
#include <linux/bitops.h>
#include <linux/capability.h>
#include <linux/compat.h>
#include <linux/device.h>
#include <linux/fs.h>
#include <linux/gfp.h>
#include <linux/io.h>
#include <linux/miscdevice.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/string.h>
#include <linux/uaccess.h>
#include <linux/version.h>
#include <linux/vmalloc.h>
#include <asm/e820/api.h>

#include "zorvik_smi.h"

#define SMI_BUF_SIZE ZORVIK_SMI_BUFFER_SIZE
#define LOW_AREA_END 0x100000ULL	/* the real-mode area: below 1 MiB */
#define BELOW_4G 0x100000000ULL
#define BIOS_AREA_PHYS 0xF0000
#define BIOS_AREA_SIZE 0x10000
#define ASF_HEADER_SIZE 14		/* "$ASF", data offset, 7 bytes, port */
#define CODE_QUERY_HOLE 0x7F
#define CODE_CALL 0x0D			/* the calling interface's request block */
#define CALL_INPUTS 4			/* its input words, from offset 4 */
#define CALL_VALUE_LIMIT 0x10000	/* input words below this are values */

static const u8 smi_codes[] = { CODE_QUERY_HOLE, 0x20, 0x24, 0x25, 0x26, CODE_CALL };

static DEFINE_MUTEX(smi_lock);		/* the buffers, the hole, the SMI */
static unsigned long smi_busy;		/* bit 0: the device is open */
static atomic_t smi_raised = ATOMIC_INIT(0);

/* The module's buffer: below 4 GiB, what the firmware is given. */
static void *buf_kva;
static phys_addr_t buf_phys;
static struct page *buf_copy;		/* what user space maps for it */

/* The firmware's memory hole, once a query reported one: its pages
 * [hole_base, hole_base + hole_len) seen through hole_kva and mapped to user
 * space as hole_copy.
 */
static phys_addr_t hole_phys;
static phys_addr_t hole_base;
static size_t hole_len;
static void *hole_kva;
static struct page *hole_copy;

static u16 fadt_port;			/* the FADT's SMI_CMD */
static u16 asf_port;			/* the first "$ASF" structure's port */
static u16 asf_last_port;		/* the last one's */
static phys_addr_t asf_data;		/* the first one's data area, or 0 */

/*
 * The port write that raises the SMI, as ZORVIK makes it with I/O privilege:
 * EAX the code, EBX the buffer's address (0 for the hole query), ECX 0. The
 * SMI has been served when the write returns; EBX may carry an answer.
 */
static u32 smi_raise(u16 port, u8 code, u32 ebx)
{
	u32 eax = code;
	u32 ecx = 0;

	asm volatile("outb %%al, %%dx"
		     : "+a" (eax), "+b" (ebx), "+c" (ecx), "+d" (port)
		     : : "memory");
	atomic_inc(&smi_raised);
	return ebx;
}

static bool smi_port_allowed(u16 port)
{
	return port == ZORVIK_SMI_DEFAULT_PORT ||
	       (port && (port == fadt_port || port == asf_port ||
			 port == asf_last_port));
}

static bool smi_code_allowed(u8 code)
{
	return memchr(smi_codes, code, sizeof(smi_codes));
}

/*
 * Whether the page at @addr is firmware memory in the kernel's memory map:
 * reserved (@reserved_only) or else also ACPI tables or ACPI NVS, and no part
 * of it RAM. What the map does not list (device memory) is not.
 */
static bool smi_firmware_page(u64 addr, bool reserved_only)
{
	u64 end = addr + PAGE_SIZE;

	if (e820__mapped_any(addr, end, E820_TYPE_RAM))
		return false;
	if (e820__mapped_any(addr, end, E820_TYPE_RESERVED))
		return true;
	return !reserved_only &&
	       (e820__mapped_any(addr, end, E820_TYPE_ACPI) ||
		e820__mapped_any(addr, end, E820_TYPE_NVS));
}

/* A read-only window: each page below 1 MiB or firmware memory. */
static bool smi_read_only_window(u64 start, u64 len)
{
	u64 addr;

	if (start + len < start)
		return false;
	for (addr = start; addr < start + len; addr += PAGE_SIZE) {
		if (addr + PAGE_SIZE > LOW_AREA_END &&
		    !smi_firmware_page(addr, false))
			return false;
		cond_resched();
	}
	return true;
}

static bool smi_inside(u64 start, u64 len, u64 base, u64 size)
{
	return start >= base && len <= size && start - base <= size - len;
}

static void smi_hole_drop(void)
{
	if (hole_kva)
		memunmap(hole_kva);
	hole_kva = NULL;
	hole_phys = 0;
}

/*
 * Takes the hole a query reported when all of its pages are reserved
 * firmware memory below 4 GiB; user space then maps a copy of those pages.
 */
static bool smi_hole_take(u32 phys)
{
	u64 base = phys & PAGE_MASK;
	u64 len = PAGE_ALIGN((u64)phys + SMI_BUF_SIZE) - base;
	u64 addr;

	if (base + len > BELOW_4G)
		return false;
	for (addr = base; addr < base + len; addr += PAGE_SIZE)
		if (!smi_firmware_page(addr, true))
			return false;
	hole_kva = memremap(base, len, MEMREMAP_WB);
	if (!hole_kva)
		return false;
	hole_phys = phys;
	hole_base = base;
	hole_len = len;
	memcpy(page_address(hole_copy), hole_kva, len);
	return true;
}

/*
 * The input words of a calling-interface request are values (below 64 KiB,
 * where the kernel keeps no data) or addresses inside the buffer: the
 * firmware writes its answers there.
 */
static bool smi_call_inputs_ok(const u8 *block, u32 phys)
{
	int i;

	for (i = 0; i < CALL_INPUTS; i++) {
		__le32 word;
		u32 v;

		memcpy(&word, block + 4 + 4 * i, sizeof(word));
		v = le32_to_cpu(word);

		if (v >= CALL_VALUE_LIMIT &&
		    (v < phys || v - phys >= SMI_BUF_SIZE))
			return false;
	}
	return true;
}

/* The buffer the firmware is given now: the hole, else the module's own. */
static u32 smi_active(u8 **kva, u8 **copy)
{
	u32 off;

	if (!hole_kva) {
		*kva = buf_kva;
		*copy = page_address(buf_copy);
		return buf_phys;
	}
	off = hole_phys - hole_base;
	*kva = (u8 *)hole_kva + off;
	*copy = (u8 *)page_address(hole_copy) + off;
	return hole_phys;
}

static long smi_ioc_raise(void __user *arg)
{
	struct zorvik_smi_raise r;
	u8 *kva, *copy;
	u32 phys;
	long ret = 0;

	if (copy_from_user(&r, arg, sizeof(r)))
		return -EFAULT;
	if (r.reserved || !smi_port_allowed(r.port) || !smi_code_allowed(r.code))
		return -EINVAL;

	mutex_lock(&smi_lock);
	if (r.code == CODE_QUERY_HOLE) {
		r.ebx = smi_raise(r.port, r.code, 0);
		smi_hole_drop();
		if (r.ebx && !smi_hole_take(r.ebx)) {
			pr_warn_ratelimited("memory hole at %#x is not reserved firmware memory: not used\n",
					    r.ebx);
			r.ebx = 0;
		}
	} else {
		phys = smi_active(&kva, &copy);
		memcpy(kva, copy, SMI_BUF_SIZE);
		if (r.code == CODE_CALL && !smi_call_inputs_ok(kva, phys)) {
			ret = -EINVAL;
		} else {
			smi_raise(r.port, r.code, phys);
			memcpy(copy, kva, SMI_BUF_SIZE);
		}
		r.ebx = 0;
	}
	mutex_unlock(&smi_lock);

	if (!ret && copy_to_user(arg, &r, sizeof(r)))
		ret = -EFAULT;
	return ret;
}

static long smi_ioc_info(void __user *arg)
{
	struct zorvik_smi_info info = {
		.abi_version = ZORVIK_SMI_ABI_VERSION,
		.buffer_phys = buf_phys,
		.buffer_size = SMI_BUF_SIZE,
		.smi_count = atomic_read(&smi_raised),
	};

	return copy_to_user(arg, &info, sizeof(info)) ? -EFAULT : 0;
}

static long smi_ioc_set_mailbox(void)
{
	void __iomem *data;
	u8 *kva, *copy;

	if (!asf_data)
		return -ENOENT;
	data = ioremap(asf_data, sizeof(u32));
	if (!data)
		return -ENOMEM;
	mutex_lock(&smi_lock);
	iowrite32(smi_active(&kva, &copy), data);
	mutex_unlock(&smi_lock);
	iounmap(data);
	return 0;
}

static long smi_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	void __user *uarg = (void __user *)arg;

	switch (cmd) {
	case ZORVIK_SMI_IOC_INFO:
		return smi_ioc_info(uarg);
	case ZORVIK_SMI_IOC_RAISE:
		return smi_ioc_raise(uarg);
	case ZORVIK_SMI_IOC_SET_MAILBOX:
		return smi_ioc_set_mailbox();
	default:
		return -ENOTTY;
	}
}

#ifdef CONFIG_COMPAT
/* The records have one layout for 32- and 64-bit callers. */
static long smi_compat_ioctl(struct file *file, unsigned int cmd,
			     unsigned long arg)
{
	return smi_ioctl(file, cmd, (unsigned long)compat_ptr(arg));
}
#endif

static void smi_vma_read_only(struct vm_area_struct *vma)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 3, 0)
	vm_flags_clear(vma, VM_MAYWRITE);
#else
	vma->vm_flags &= ~VM_MAYWRITE;
#endif
}

/*
 * The offset is the physical address. The buffer and the hole map the
 * module's copy of them; firmware memory maps read-only; nothing else.
 */
static int smi_mmap(struct file *file, struct vm_area_struct *vma)
{
	u64 start = (u64)vma->vm_pgoff << PAGE_SHIFT;
	u64 len = vma->vm_end - vma->vm_start;
	struct page *copy = NULL;
	u64 base = 0;
	int ret;

	mutex_lock(&smi_lock);
	if (smi_inside(start, len, buf_phys, SMI_BUF_SIZE)) {
		copy = buf_copy;
		base = buf_phys;
	} else if (hole_kva && smi_inside(start, len, hole_base, hole_len)) {
		copy = hole_copy;
		base = hole_base;
	}
	if (copy) {
		ret = remap_pfn_range(vma, vma->vm_start,
				      page_to_pfn(copy) + ((start - base) >> PAGE_SHIFT),
				      len, vma->vm_page_prot);
	} else if (!smi_read_only_window(start, len)) {
		ret = -EPERM;
	} else if (vma->vm_flags & VM_WRITE) {
		ret = -EACCES;
	} else {
		smi_vma_read_only(vma);
		ret = remap_pfn_range(vma, vma->vm_start, vma->vm_pgoff, len,
				      vma->vm_page_prot);
	}
	mutex_unlock(&smi_lock);
	return ret;
}

/* Each opener starts with a cleared buffer and no hole. */
static int smi_open(struct inode *inode, struct file *file)
{
	if (!capable(CAP_SYS_RAWIO))
		return -EPERM;
	if (test_and_set_bit(0, &smi_busy))
		return -EBUSY;
	mutex_lock(&smi_lock);
	smi_hole_drop();
	memset(buf_kva, 0, SMI_BUF_SIZE);
	memset(page_address(buf_copy), 0, SMI_BUF_SIZE);
	mutex_unlock(&smi_lock);
	return nonseekable_open(inode, file);
}

/* Called when the last file and mapping of the opener are gone. */
static int smi_release(struct inode *inode, struct file *file)
{
	mutex_lock(&smi_lock);
	smi_hole_drop();
	mutex_unlock(&smi_lock);
	clear_bit(0, &smi_busy);
	return 0;
}

static const struct file_operations smi_fops = {
	.owner = THIS_MODULE,
	.open = smi_open,
	.release = smi_release,
	.unlocked_ioctl = smi_ioctl,
#ifdef CONFIG_COMPAT
	.compat_ioctl = smi_compat_ioctl,
#endif
	.mmap = smi_mmap,
};

static ssize_t smi_count_show(struct device *dev,
			      struct device_attribute *attr, char *buf)
{
	return scnprintf(buf, PAGE_SIZE, "%u\n", atomic_read(&smi_raised));
}
static DEVICE_ATTR_RO(smi_count);

static struct attribute *smi_attrs[] = {
	&dev_attr_smi_count.attr,
	NULL,
};
ATTRIBUTE_GROUPS(smi);

static struct miscdevice smi_dev = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = ZORVIK_SMI_NAME,
	.fops = &smi_fops,
	.groups = smi_groups,
	.mode = 0600,
};

/*
 * The ports ZORVIK may write: the FADT's SMI command port as the kernel read
 * it, and the port of the first and of the last "$ASF" structure in the BIOS
 * area (ZORVIK's two lookups). The first one's data area is the mailbox.
 */
static void smi_find_ports(void)
{
	void __iomem *area;
	u8 *bios;
	u32 off, data;
	bool first = true;

#ifdef CONFIG_ACPI
	if (!acpi_disabled && acpi_gbl_FADT.smi_command <= 0xFFFF)
		fadt_port = acpi_gbl_FADT.smi_command;
#endif
	bios = vmalloc(BIOS_AREA_SIZE);
	area = ioremap(BIOS_AREA_PHYS, BIOS_AREA_SIZE);
	if (bios && area) {
		memcpy_fromio(bios, area, BIOS_AREA_SIZE);
		for (off = 0; off + ASF_HEADER_SIZE <= BIOS_AREA_SIZE; off++) {
			if (memcmp(bios + off, "$ASF", 4))
				continue;
			asf_last_port = bios[off + 12] | bios[off + 13] << 8;
			if (!first)
				continue;
			first = false;
			asf_port = asf_last_port;
			data = off + bios[off + 4];
			if (asf_port && data + sizeof(u32) <= BIOS_AREA_SIZE)
				asf_data = BIOS_AREA_PHYS + data;
		}
	}
	if (area)
		iounmap(area);
	vfree(bios);
}

static void smi_free(void)
{
	if (buf_kva)
		free_pages((unsigned long)buf_kva, get_order(SMI_BUF_SIZE));
	if (buf_copy)
		__free_pages(buf_copy, get_order(SMI_BUF_SIZE));
	if (hole_copy)
		__free_pages(hole_copy, get_order(SMI_BUF_SIZE + PAGE_SIZE));
}

static int __init smi_init(void)
{
	int ret;

	buf_kva = (void *)__get_free_pages(GFP_KERNEL | __GFP_DMA32 | __GFP_ZERO,
					   get_order(SMI_BUF_SIZE));
	buf_copy = alloc_pages(GFP_KERNEL | __GFP_ZERO, get_order(SMI_BUF_SIZE));
	hole_copy = alloc_pages(GFP_KERNEL | __GFP_ZERO,
				get_order(SMI_BUF_SIZE + PAGE_SIZE));
	if (!buf_kva || !buf_copy || !hole_copy) {
		smi_free();
		return -ENOMEM;
	}
	buf_phys = virt_to_phys(buf_kva);
	if ((u64)buf_phys + SMI_BUF_SIZE > BELOW_4G) {
		smi_free();
		return -ENOMEM;
	}
	smi_find_ports();
	ret = misc_register(&smi_dev);
	if (ret) {
		smi_free();
		return ret;
	}
	pr_info("SMI ports %#x (FADT), %#x and %#x (\"$ASF\"), %#x; buffer at %#llx\n",
		fadt_port, asf_port, asf_last_port, ZORVIK_SMI_DEFAULT_PORT,
		(unsigned long long)buf_phys);
	return 0;
}

static void __exit smi_exit(void)
{
	misc_deregister(&smi_dev);
	smi_hole_drop();
	smi_free();
}

module_init(smi_init);
module_exit(smi_exit);

MODULE_DESCRIPTION("ZORVIK's SMIs and firmware windows for root under lockdown");
MODULE_LICENSE("GPL");
