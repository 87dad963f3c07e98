// Error code to message lookup.
#include "ErrorCollect.h"

#include "internal.h"

// The one place where a build could map codes before they are printed.
ENUM_ERR_ID TranslateErrorCode(ENUM_ERR_ID code)
{
    return code;
}

const char* GetCoreErrorString(ENUM_ERR_ID code)
{
    for (unsigned int i = 0; i < CoreErrorListSize; i++) {
        if (CoreErrorList[i].Code == code)
            return CoreErrorList[i].Message;
    }
    return UnknownErrorString;
}
