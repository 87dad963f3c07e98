/*@banner@*/
/*@config-2.4@*/
#include <linux/version.h>
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/mm.h>
#include <linux/vmalloc.h>
#include <linux/mman.h>
#include <linux/slab.h>
#include <asm/io.h>
#include <asm/uaccess.h>
#if LINUX_VERSION_CODE >= KERNEL_VERSION(4,12,0)
#include <linux/uaccess.h>
#endif
#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
#include <linux/compat.h>
#endif
#if !defined(HAVE_UNLOCKED_IOCTL) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
#define HAVE_UNLOCKED_IOCTL 1
#endif

#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)
#include <linux/wrapper.h>
#endif
#include "qorwrap.h"

extern int qorfldrv_ioctl(void);
extern int qorfldrv_mmap(void);
unsigned long   ulArg0;
unsigned long   ulArg1;
unsigned long   ulArg2;
pgprot_t        pgArg0;
void            *pvArg0;
void            *pvArg1;

KVT_ATTRIBUTE_FUNC static int wrap_open(struct inode *inode, struct file *file);
KVT_ATTRIBUTE_FUNC static int wrap_release(struct inode *inode, struct file *file);
#if defined(HAVE_UNLOCKED_IOCTL)
KVT_ATTRIBUTE_FUNC static long wrap_unlocked_ioctl(struct file *filp, unsigned int cmd, unsigned long arg);
#else
KVT_ATTRIBUTE_FUNC static int wrap_ioctl(struct inode *inode, struct file *filp, unsigned int cmd, unsigned long arg);
#endif
KVT_ATTRIBUTE_FUNC static int wrap_mmap(struct file *file, struct vm_area_struct *vma);
#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
KVT_ATTRIBUTE_FUNC static long wrap_compat_ioctl(struct file *filp, unsigned int cmd, unsigned long arg);
#endif

struct file_operations qorfldrv_fops =
{
  owner:   THIS_MODULE,
  open:    wrap_open,
  release: wrap_release,
#if defined(HAVE_UNLOCKED_IOCTL)
  unlocked_ioctl:   wrap_unlocked_ioctl,
#else
  ioctl:   wrap_ioctl,
#endif
  mmap:    wrap_mmap,
#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
  compat_ioctl: wrap_compat_ioctl,
#endif
};

#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
MODULE_LICENSE("GPL");
MODULE_AUTHOR("Tarn");
#endif

#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
static int device_open_count = 0;
#endif

KVT_ATTRIBUTE_FUNC
int wrap_open(struct inode *inode, struct file *file)
{
#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)
    MOD_INC_USE_COUNT;
#else
    if (device_open_count)
        return -EBUSY;
    device_open_count++;
    try_module_get(THIS_MODULE);
#endif
    return(0);
}

KVT_ATTRIBUTE_FUNC
int wrap_release(struct inode *inode, struct file *file)
{
#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)
    MOD_DEC_USE_COUNT;
#else
    device_open_count--;
    module_put(THIS_MODULE);
#endif
    return(0);
}

KVT_ATTRIBUTE_FUNC
#if defined(HAVE_UNLOCKED_IOCTL)
long wrap_unlocked_ioctl(struct file *filp, unsigned int cmd, unsigned long arg)
#else
int wrap_ioctl(struct inode *inode, struct file *filp, unsigned int cmd, unsigned long arg)
#endif
{
#ifndef HAVE_UNLOCKED_IOCTL
    pvArg0 = inode;
#endif
    pvArg1 = filp;
    ulArg0 = cmd;
    ulArg1 = arg;
#if defined(HAVE_UNLOCKED_IOCTL)
    return (long)qorfldrv_ioctl();
#else
    return qorfldrv_ioctl();
#endif
}

KVT_ATTRIBUTE_FUNC
int wrap_mmap(struct file *file, struct vm_area_struct *vma)
{
    pvArg0 = file;
    pvArg1 = vma;
    return qorfldrv_mmap();
}

#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
struct qorfldrv_record {long size; unsigned long kvirtlen; void *kmallocptr; void *kvirtadd; void *kphysadd;};
struct qorfldrv_record32 {compat_long_t size; compat_ulong_t kvirtlen; compat_uptr_t kmallocptr; compat_uptr_t kvirtadd; compat_uptr_t kphysadd;};
static int compat_record = 0;
static unsigned long copy_record_from_compat(void)
{
	struct qorfldrv_record32 r32;
	struct qorfldrv_record *r = (struct qorfldrv_record *)pvArg0;
	if (ulArg0 != sizeof(struct qorfldrv_record) || copy_from_user(&r32, pvArg1, sizeof(r32)) != 0)
		return ulArg0;
	r->size = r32.size;
	r->kvirtlen = r32.kvirtlen;
	r->kmallocptr = (void *)(unsigned long)r32.kmallocptr;
	r->kvirtadd = (void *)(unsigned long)r32.kvirtadd;
	r->kphysadd = (void *)(unsigned long)r32.kphysadd;
	return 0;
}
static unsigned long copy_record_to_compat(void)
{
	struct qorfldrv_record32 r32;
	struct qorfldrv_record *r = (struct qorfldrv_record *)pvArg1;
	if (ulArg0 != sizeof(struct qorfldrv_record) || (unsigned long)r->kphysadd > 0xffffffffUL)
		return ulArg0;
	r32.size = (compat_long_t)r->size;
	r32.kvirtlen = (compat_ulong_t)r->kvirtlen;
	r32.kmallocptr = (compat_uptr_t)(unsigned long)r->kmallocptr;
	r32.kvirtadd = (compat_uptr_t)(unsigned long)r->kvirtadd;
	r32.kphysadd = (compat_uptr_t)(unsigned long)r->kphysadd;
	return copy_to_user(pvArg0, &r32, sizeof(r32)) != 0 ? ulArg0 : 0;
}
KVT_ATTRIBUTE_FUNC
long wrap_compat_ioctl(struct file *filp, unsigned int cmd, unsigned long arg)
{
    long ret;
    pvArg1 = filp;
    ulArg0 = cmd;
    ulArg1 = (unsigned long)compat_ptr(arg);
    compat_record = 1;
    ret = (long)qorfldrv_ioctl();
    compat_record = 0;
    return ret;
}
#endif

KVT_ATTRIBUTE_FUNC
int wrap_register_chrdev()
{
	return register_chrdev((unsigned int)ulArg0, "qorfldrv", (struct file_operations *)pvArg0);
}

KVT_ATTRIBUTE_FUNC
void wrap_unregister_chrdev()
{
	unregister_chrdev(ulArg0, "qorfldrv");
}

KVT_ATTRIBUTE_FUNC
void wrap_mem_map_reserve()
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
	SetPageReserved((struct page*)pvArg0);
#else
	mem_map_reserve((struct page*)pvArg0);
#endif
}

KVT_ATTRIBUTE_FUNC
void wrap_mem_map_unreserve()
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
	ClearPageReserved((struct page*)pvArg0);
#else
	mem_map_unreserve((struct page*)pvArg0);
#endif
}

KVT_ATTRIBUTE_FUNC
struct page *wrap_virt_to_page()
{
	return virt_to_page(ulArg0);
}

KVT_ATTRIBUTE_FUNC
int wrap_remap_page_range()
{
#if (LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0))
/*@remap-2.6@*/
#else
/*@remap-2.4@*/
#endif
}

KVT_ATTRIBUTE_FUNC
void *wrap_kmalloc()
{
	return kmalloc((size_t)ulArg0, (int)ulArg1);
}

KVT_ATTRIBUTE_FUNC
void wrap_kfree()
{
	kfree(pvArg0);
}

KVT_ATTRIBUTE_FUNC
unsigned long wrap_copy_from_user()
{
#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
	if (compat_record) return copy_record_from_compat();
#endif
	return copy_from_user(pvArg0, pvArg1, ulArg0);
}

KVT_ATTRIBUTE_FUNC
unsigned long wrap_copy_to_user()
{
#if defined(CONFIG_COMPAT) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
	if (compat_record) return copy_record_to_compat();
#endif
	return copy_to_user(pvArg0, pvArg1, ulArg0);
}

