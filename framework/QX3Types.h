// Records and codes shared by the pipeline and every module.
#ifndef QX3TYPES_H
#define QX3TYPES_H

#include <stdint.h>
#include "QX3List.h"

// 32-bit error code; 0 is success. The message of each code is in internal.cpp.
typedef uint32_t ENUM_ERR_ID;

enum : ENUM_ERR_ID {
    QX3_SUCCESS = 0x00,
    QX3_ERR_UNKNOWN_COMMAND = 0x01,
    QX3_ERR_BIOS_REPORT = 0x0d,
    QX3_ERR_KERNEL_SOURCE = 0x0e,
    QX3_ERR_LOAD_DRIVER = 0x10,
    QX3_ERR_UNLOAD_DRIVER = 0x11,
    QX3_ERR_INIT_MEMMGR = 0x20,
    QX3_ERR_ALLOC_MEM = 0x22,
    QX3_ERR_ALLOC_BIOS_BUF = 0x24,
    QX3_ERR_OPEN_FILE = 0x30,
    QX3_ERR_READ_FILE = 0x31,
    QX3_ERR_WRITE_PROTECTED = 0x40,
    QX3_ERR_GET_FLASH_INFO = 0x46,
    QX3_ERR_POWER_CORD = 0x48,
    QX3_ERR_PLATFORM_CONDITION = 0x49,
    QX3_ERR_ALREADY_RUNNING = 0x61,
    QX3_ERR_INVALID_SMI = 0x98,
    QX3_ERR_GET_BBS_IPL_TABLE = 0xd8,
    QX3_ERR_SET_PRIORITY = 0xda,
    QX3_ERR_NO_BBS = 0xdb,
    QX3_ERR_ONLY_LEGACY = 0xdd,
    QX3_ERR_ONLY_UEFI = 0xde,
    QX3_ERR_NO_GET_MODE = 0xdf,
    QX3_ERR_GET_MODE = 0xe0,
    QX3_ERR_NO_SET_MODE = 0xe1,
    QX3_ERR_SET_MODE = 0xe2,
    QX3_ERR_NO_GET_BOOT_OPTION = 0xe3,
    QX3_ERR_GET_BOOT_OPTION = 0xe4,
    QX3_ERR_NO_ADD_BOOT_OPTION = 0xe5,
    QX3_ERR_ADD_BOOT_OPTION = 0xe6,
    QX3_ERR_NO_DEL_BOOT_OPTION = 0xe7,
    QX3_ERR_DEL_BOOT_OPTION = 0xe8,
    QX3_ERR_NO_SET_FIRST_BOOT_OPTION = 0xe9,
    QX3_ERR_SET_FIRST_BOOT_OPTION = 0xea,
    QX3_ERR_UNDEFINED = 0xff,
};

// Module numbers, carried in each module record.
typedef uint32_t ENUM_MODULE_ID;

enum : ENUM_MODULE_ID {
    MODULE_ID_BIOS_INFO = 1,
    MODULE_ID_SECURE_FLASH = 2,
    MODULE_ID_ADD_BOOT_OPTION = 3,
    MODULE_ID_DEL_BOOT_OPTION = 4,
    MODULE_ID_GET_BOOT_OPTION = 5,
    MODULE_ID_GET_BOOT_ORDER = 6,
    MODULE_ID_GET_MODE = 7,
    MODULE_ID_GET_TYPE_DA = 8,
    MODULE_ID_SET_FIRST_BOOT_OPTION = 9,
    MODULE_ID_SET_FIRST_BOOT_ORDER = 10,
    MODULE_ID_SET_MODE = 11,
    MODULE_ID_SET_SECURE_BOOT = 12,
    MODULE_ID_USAGE_HEAD = 13,
    MODULE_ID_USAGE_FOOT = 14,
};

// One command-line word; text points into the process's argument vector.
struct QX3_ARGV_ITEM {
    char* text;
    bool consumed;
};

struct QX3_QUEUE_ITEM;

typedef QX3List<QX3_ARGV_ITEM*> QX3_ARGV_LIST;
typedef QX3List<QX3_QUEUE_ITEM*> QX3_QUEUE_LIST;

typedef int (*PARSING_COMMAND_FUNC)(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self);
typedef int (*EXECUTION_ACTION_FUNC)(QX3_QUEUE_LIST& modules);
typedef void (*COMMAND_HELP_FUNC)(bool headerPass);
typedef void (*ERROR_ACTION_FUNC)();

// One registered module: a static record of its unit, registered once.
struct QX3_QUEUE_ITEM {
    ENUM_MODULE_ID ModuleId;
    PARSING_COMMAND_FUNC ParsingCommand;
    EXECUTION_ACTION_FUNC ExecutionAction;
    COMMAND_HELP_FUNC Help;
    ERROR_ACTION_FUNC ErrorAction;
    bool bEnable;
    bool bStopParsing;
    uint16_t Priority;
};

// Hook slot types of the pipeline's chains.
typedef int (*REGISTER_QUEUE_ITEM_FUNC)(QX3_QUEUE_LIST& modules);
typedef void (*CLEAN_UP_HOOK)();
typedef void (*INIT_GLOBAL_VARIABLE_HOOK)();
typedef bool (*GUI_INIT_HOOK)(int argc, char** argv, QX3_ARGV_LIST& args, QX3_QUEUE_LIST& modules);

#endif
