// tessvin's messages, replaced at link time in its fuzzer: formatted (so
// that their arguments are still checked) but neither printed nor logged.
#include <cstdarg>
#include <cstdio>

extern "C" {

void __wrap_VartoolError(const char* /*tag*/, const char* fmt, ...)
{
    char text[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof(text), fmt, ap);
    va_end(ap);
}

void __wrap_VartoolInfo(const char* fmt, ...)
{
    char text[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof(text), fmt, ap);
    va_end(ap);
}

} // extern "C"
