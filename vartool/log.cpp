// Messages of tessvin: every message goes once to standard error and once to
// the log. On Android the log is liblog; elsewhere it is the system log, with
// the tag as the identity.
#include "efivar.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef __ANDROID__
#include <android/log.h>
#else
#include <syslog.h>
#endif

namespace {

void WriteLog(bool error, const char* tag, const char* text)
{
#ifdef __ANDROID__
    __android_log_print(error ? ANDROID_LOG_ERROR : ANDROID_LOG_INFO, tag, "%s", text);
#else
    // A system log record is one line: the message's final line end is dropped.
    int len = (int)strlen(text);
    if (len > 0 && text[len - 1] == '\n')
        len--;
    openlog(tag, 0, LOG_USER);
    syslog(error ? LOG_ERR : LOG_INFO, "%.*s", len, text);
    closelog();
#endif
}

} // namespace

void VartoolError(const char* tag, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char* text = NULL;
    va_list copy;
    va_copy(copy, ap);
    if (vasprintf(&text, fmt, ap) < 0) {
        // Out of memory: standard error still gets the message.
        text = NULL;
        vfprintf(stderr, fmt, copy);
    } else {
        fputs(text, stderr);
    }
    fflush(stderr);
    va_end(copy);
    va_end(ap);
    if (text != NULL) {
        WriteLog(true, tag, text);
        free(text);
    }
}

void VartoolInfo(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char* text = NULL;
    if (vasprintf(&text, fmt, ap) >= 0) {
        WriteLog(false, LIBVARTOOL_TAG, text);
        free(text);
    }
    va_end(ap);
}
