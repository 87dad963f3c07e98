/*@banner@*/
#define KVT_ATTRIBUTE_FUNC
KVT_ATTRIBUTE_FUNC int wrap_register_chrdev(void);
KVT_ATTRIBUTE_FUNC void wrap_unregister_chrdev(void);
KVT_ATTRIBUTE_FUNC void wrap_mem_map_reserve(void);
KVT_ATTRIBUTE_FUNC void wrap_mem_map_unreserve(void);
KVT_ATTRIBUTE_FUNC int wrap_remap_page_range(void);
KVT_ATTRIBUTE_FUNC struct page *wrap_virt_to_page(void);
KVT_ATTRIBUTE_FUNC void *wrap_kmalloc(void);
KVT_ATTRIBUTE_FUNC void wrap_kfree(void);
KVT_ATTRIBUTE_FUNC unsigned long wrap_copy_from_user(void);
KVT_ATTRIBUTE_FUNC unsigned long wrap_copy_to_user(void);
extern unsigned long   ulArg0;
extern unsigned long   ulArg1;
extern unsigned long   ulArg2;
extern pgprot_t        pgArg0;
extern void            *pvArg0;
extern void            *pvArg1;
