// The code-to-message table.
#ifndef INTERNAL_H
#define INTERNAL_H

#include "QX3Types.h"

struct ERROR_LIST_ENTRY {
    uint32_t Code;
    const char* Message;
};

extern const ERROR_LIST_ENTRY _InternalErrorList[];
extern const ERROR_LIST_ENTRY* CoreErrorList;
extern unsigned int CoreErrorListSize;
extern const char* const UnknownErrorString;

#endif
