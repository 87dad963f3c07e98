// Error code to message lookup.
#ifndef ERRORCOLLECT_H
#define ERRORCOLLECT_H

#include "QX3Types.h"

ENUM_ERR_ID TranslateErrorCode(ENUM_ERR_ID code);
const char* GetCoreErrorString(ENUM_ERR_ID code);

#endif
