// Console output hooks, the page counter and the shared text routines.
#ifndef GLOBALVARIABLE_H
#define GLOBALVARIABLE_H

#include "QX3Types.h"

typedef int (*WRITE_OUT_FUNC)(const char* format, ...);
typedef ENUM_ERR_ID (*ERROR_OUT_FUNC)(ENUM_ERR_ID code);

extern WRITE_OUT_FUNC WriteOut;
extern ERROR_OUT_FUNC ErrorOut;
extern uint8_t KVT_LineCount;
extern char g_ArgBuf[64];
extern char g_CmdBuf[64];

// Initialiser chain slots run by InitializeGlobalVariables.
extern INIT_GLOBAL_VARIABLE_HOOK InitWriteOut;
extern INIT_GLOBAL_VARIABLE_HOOK InitErrorOut;
extern INIT_GLOBAL_VARIABLE_HOOK PtrLastInitGlobalVariableHook;

int QX3Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
ENUM_ERR_ID QX3ErrorPrintf(ENUM_ERR_ID code);
void WriteOutInit();
void ErrorOutInit();

void KVT_CheckGlobalLineCont(unsigned int lines);

bool IdentifyArg(const char* word, const char* command, bool ignoreCase);
void StrToLow(char* str);
void StrToUpper(char* str);
void MemSet(void* dest, unsigned char value, unsigned int count);
void MemCpy(void* dest, const void* src, unsigned int count);
bool MemCmp(void* a, const void* b, unsigned int count);
unsigned int StringLength(const char* str);
void StringCopy(char* dest, const char* src);
int CompareString(char* a, char* b);

#endif
