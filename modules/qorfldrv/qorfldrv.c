#include <linux/mm.h>
#include <asm/io.h>
#include <linux/interrupt.h>
#ifndef LINUX_VERSION_CODE
#include <linux/version.h>
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
#include <linux/module.h>
#endif
#include "qorfldrv.h"
#include "qorwrap.h"
int qorfldrv_ioctl(void);
int qorfldrv_mmap(void);
static int *kmalloc_area = NULL;
static int *kmalloc_ptr = NULL;
static unsigned long kmalloc_len = 0L;
static int major;
static QORFLDRV_ALLOC kmalloc_drv[128];
static int kcount = 0;
static int qorfldrv_init_module(void)
{
ulArg0 = 0;
pvArg0 = &qorfldrv_fops;
major = wrap_register_chrdev();
if (major < 0) return -EIO;
memset(kmalloc_drv, 0, sizeof(QORFLDRV_ALLOC) * 128);
return 0;
}
static void qorfldrv_cleanup_module(void)
{
int i;
unsigned long virt_addr;
if (kcount > 0) {
for (i = 0; i < kcount; i++) {
kmalloc_ptr = kmalloc_drv[i].kmallocptr;
kmalloc_area = kmalloc_drv[i].kvirtadd;
kmalloc_len = kmalloc_drv[i].kvirtlen;
if (kmalloc_ptr != NULL) {
for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {
ulArg0 = virt_addr;
pvArg0 = wrap_virt_to_page();
wrap_mem_map_unreserve();
}
pvArg0 = kmalloc_ptr;
wrap_kfree();
}
}
kcount = 0;
}
ulArg0 = major;
wrap_unregister_chrdev();
}
module_init(qorfldrv_init_module);
module_exit(qorfldrv_cleanup_module);
int qorfldrv_ioctl(void)
{
unsigned int cmd = (unsigned int)ulArg0;
unsigned long arg = ulArg1;
QORFLDRV_ALLOC arg_kernel_space;
unsigned long virt_addr;
unsigned long i;
switch (cmd) {
case CMD_ALLOC:
if (kcount >= 128) return -EINVAL;
kmalloc_ptr = NULL;
if (arg == 0) return -EINVAL;
pvArg0 = &arg_kernel_space;
pvArg1 = (void *)arg;
ulArg0 = sizeof(QORFLDRV_ALLOC);
if (wrap_copy_from_user() != 0) return -EFAULT;
if (arg_kernel_space.size < 0) return -EINVAL;
if (arg_kernel_space.size > 128*1024) return -EINVAL;
kmalloc_len = ((arg_kernel_space.size + PAGE_SIZE -1) & PAGE_MASK);
ulArg0 = kmalloc_len+2*PAGE_SIZE;
ulArg1 = GFP_DMA|GFP_KERNEL;
kmalloc_ptr = wrap_kmalloc();
if (kmalloc_ptr == NULL) {
kmalloc_len = 0;
return -ENOMEM;
}
kmalloc_area = (int *)(((unsigned long)kmalloc_ptr + PAGE_SIZE -1) & PAGE_MASK);
for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {
ulArg0 = virt_addr;
pvArg0 = wrap_virt_to_page();
wrap_mem_map_reserve();
}
for (i = 0; i < kmalloc_len / 4; i++) {
kmalloc_area[i] = (0xafd0<<16) +i;
}
kmalloc_drv[kcount].size = arg_kernel_space.size;
kmalloc_drv[kcount].kmallocptr = kmalloc_ptr;
kmalloc_drv[kcount].kvirtlen = kmalloc_len;
kmalloc_drv[kcount].kvirtadd = kmalloc_area;
kmalloc_drv[kcount].kphysadd = (void *)virt_to_phys(kmalloc_area);
kcount++;
arg_kernel_space.kvirtadd = kmalloc_area;
arg_kernel_space.kphysadd = (void *)virt_to_phys(kmalloc_area);
pvArg0 = (void *)arg;
pvArg1 = &arg_kernel_space;
ulArg0 = sizeof(QORFLDRV_ALLOC);
if (wrap_copy_to_user() != 0) return -EFAULT;
return 0;
case CMD_FREE:
pvArg0 = &arg_kernel_space;
pvArg1 = (void *)arg;
ulArg0 = sizeof(QORFLDRV_ALLOC);
if (wrap_copy_from_user() != 0) return -EFAULT;
if (kcount == 0) return 0;
for (i = 0; i < (unsigned long)kcount; i++) {
if (kmalloc_drv[i].kphysadd == arg_kernel_space.kphysadd) break;
}
if (i >= (unsigned long)kcount) return 0;
kmalloc_ptr = kmalloc_drv[i].kmallocptr;
kmalloc_area = kmalloc_drv[i].kvirtadd;
kmalloc_len = kmalloc_drv[i].kvirtlen;
if (kmalloc_ptr != NULL) {
for (virt_addr = (unsigned long)kmalloc_area; virt_addr < (unsigned long)kmalloc_area + kmalloc_len; virt_addr += PAGE_SIZE) {
ulArg0 = virt_addr;
pvArg0 = wrap_virt_to_page();
wrap_mem_map_unreserve();
}
pvArg0 = kmalloc_ptr;
wrap_kfree();
kmalloc_len = 0;
kmalloc_ptr = NULL;
kmalloc_area = NULL;
kcount--;
if (i != (unsigned long)kcount) kmalloc_drv[i] = kmalloc_drv[kcount];
memset(&kmalloc_drv[kcount], 0, sizeof(QORFLDRV_ALLOC));
}
return 0;
case CMD_LOCK_KB:
disable_irq(1);
return 0;
case CMD_UNLOCK_KB:
enable_irq(1);
return 0;
default:
return -ENOTTY;
}
}
int qorfldrv_mmap(void)
{
struct vm_area_struct *vma = (struct vm_area_struct *)pvArg1;
unsigned long offset = vma->vm_pgoff << PAGE_SHIFT;
unsigned long size = vma->vm_end - vma->vm_start;
if (offset & ~PAGE_MASK) return -ENXIO;
if (kmalloc_ptr == NULL) return -ENXIO;
if (size > kmalloc_len) return -ENXIO;
if (offset + size > kmalloc_len) return -ENXIO;
if ((vma->vm_flags & VM_WRITE) && !(vma->vm_flags & VM_SHARED)) return -EINVAL;
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6,3,0)
vm_flags_set(vma, VM_LOCKED);
#else
vma->vm_flags |= VM_LOCKED;
#endif
pvArg0 = vma;
ulArg0 = vma->vm_start;
ulArg1 = virt_to_phys(kmalloc_area);
ulArg2 = size;
pgArg0 = PAGE_SHARED;
if (wrap_remap_page_range() != 0) return -ENXIO;
return 0;
}
