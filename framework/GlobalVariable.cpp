// Console output hooks, the page counter and the shared text routines.
#include "GlobalVariable.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>

#include "ErrorCollect.h"
#include "../firmware/oshook.h"

WRITE_OUT_FUNC WriteOut = nullptr;
ERROR_OUT_FUNC ErrorOut = nullptr;
uint8_t KVT_LineCount = 0;
char g_ArgBuf[64];
char g_CmdBuf[64];

INIT_GLOBAL_VARIABLE_HOOK InitWriteOut = WriteOutInit;
INIT_GLOBAL_VARIABLE_HOOK InitErrorOut = ErrorOutInit;
INIT_GLOBAL_VARIABLE_HOOK PtrLastInitGlobalVariableHook = nullptr;

// Lines counted before the listing stops for a key.
static const unsigned int PAGE_LINES = 18;

int QX3Printf(const char* format, ...)
{
    // A leading upper-case X is a marker, not text.
    if (format[0] == 'X')
        format++;
    va_list args;
    va_start(args, format);
    int result = vprintf(format, args);
    va_end(args);
    fflush(stdout);
    return result;
}

ENUM_ERR_ID QX3ErrorPrintf(ENUM_ERR_ID code)
{
    code = TranslateErrorCode(code);
    WriteOut("%x - %s\n", code, GetCoreErrorString(code));
    return code;
}

void WriteOutInit()
{
    WriteOut = QX3Printf;
}

void ErrorOutInit()
{
    ErrorOut = QX3ErrorPrintf;
}

void KVT_CheckGlobalLineCont(unsigned int lines)
{
    KVT_LineCount = (uint8_t)((KVT_LineCount + lines) % 256);
    if (KVT_LineCount >= PAGE_LINES) {
        WriteOut("<Press any key to continue>\r");
        fflush(stdout);
        getch();
        KVT_LineCount = 0;
    }
}

// Whole-word comparison of a command-line word with a command string. Both go
// through 64-byte buffers; a word that does not fit with its terminator
// cannot equal any command string and is not copied.
bool IdentifyArg(const char* word, const char* command, bool ignoreCase)
{
    MemSet(g_ArgBuf, 0, sizeof(g_ArgBuf));
    MemSet(g_CmdBuf, 0, sizeof(g_CmdBuf));
    if (StringLength(word) >= sizeof(g_ArgBuf) || StringLength(command) >= sizeof(g_CmdBuf))
        return false;
    StringCopy(g_ArgBuf, word);
    StringCopy(g_CmdBuf, command);
    if (ignoreCase) {
        StrToLow(g_ArgBuf);
        StrToLow(g_CmdBuf);
    }
    return CompareString(g_ArgBuf, g_CmdBuf) == 0;
}

void StrToLow(char* str)
{
    if (str == nullptr)
        return;
    for (; *str != '\0'; str++)
        *str = (char)tolower((unsigned char)*str);
}

void StrToUpper(char* str)
{
    if (str == nullptr)
        return;
    for (; *str != '\0'; str++)
        *str = (char)toupper((unsigned char)*str);
}

void MemSet(void* dest, unsigned char value, unsigned int count)
{
    unsigned char* d = (unsigned char*)dest;
    for (unsigned int i = 0; i < count; i++)
        d[i] = value;
}

void MemCpy(void* dest, const void* src, unsigned int count)
{
    unsigned char* d = (unsigned char*)dest;
    const unsigned char* s = (const unsigned char*)src;
    for (unsigned int i = 0; i < count; i++)
        d[i] = s[i];
}

bool MemCmp(void* a, const void* b, unsigned int count)
{
    const unsigned char* pa = (const unsigned char*)a;
    const unsigned char* pb = (const unsigned char*)b;
    for (unsigned int i = 0; i < count; i++) {
        if (pa[i] != pb[i])
            return false;
    }
    return true;
}

unsigned int StringLength(const char* str)
{
    unsigned int n = 0;
    while (str[n] != '\0')
        n++;
    return n;
}

// Copies the characters only; the destination supplies the terminator.
void StringCopy(char* dest, const char* src)
{
    unsigned int n = StringLength(src);
    for (unsigned int i = 0; i < n; i++)
        dest[i] = src[i];
}

int CompareString(char* a, char* b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return (int)(signed char)*a - (int)(signed char)*b;
}
