// Conversion of the -s text into the bytes written to the variable.
#include "efivar.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

// strtoul in base 0 with a 32-bit unsigned long, as on the 32-bit target,
// whatever the width of unsigned long in this build: a leading '-' negates
// modulo 2^32, and a magnitude above 0xFFFFFFFF gives 0xFFFFFFFF with ERANGE.
// A 64-bit strtoul would instead hand back numbers that the 4-byte value
// silently truncates.
uint32_t StrToU32(const char* text, char** end)
{
    const char* p = text;
    while (isspace((unsigned char)*p))
        p++;
    bool negative = (*p == '-');
    unsigned long long n = strtoull(text, end, 0);
    if (errno == ERANGE)
        return 0xFFFFFFFFu;
    unsigned long long magnitude = negative ? 0ULL - n : n;
    if (magnitude > 0xFFFFFFFFULL) {
        errno = ERANGE;
        return 0xFFFFFFFFu;
    }
    uint32_t low = (uint32_t)magnitude;
    return negative ? 0u - low : low;
}

// Number of bytes that hold the number without its leading zero bytes
// (at least one).
uint32_t SignificantBytes(uint32_t n)
{
    if (n <= 0xFFu)
        return 1;
    if (n <= 0xFFFFu)
        return 2;
    if (n <= 0xFFFFFFu)
        return 3;
    return 4;
}

int BuildInteger(const char* type, const char* text, bool keep_size, unsigned char** value, uint32_t* size)
{
    bool is_int16 = strcmp(type, "int16") == 0;
    char* end = NULL;
    errno = 0;
    uint32_t n = StrToU32(text, &end);
    // 0xFFFFFFFF is also what an overflowing conversion returns, so it is
    // refused as a value.
    if (end == text || *end != '\0' || n == 0xFFFFFFFFu) {
        VartoolError(VARTOOL_TAG, "Failed to read integer argument %s: %s\n", text, strerror(errno));
        return -22;
    }
    if (is_int16 && n > 0xFFFFu) {
        VartoolError(VARTOOL_TAG, "Specified value is too large for type \"%s\"\n", type);
        return -22;
    }
    uint32_t width = is_int16 ? 2 : 4;
    unsigned char* bytes = (unsigned char*)malloc(width);
    if (bytes == NULL) {
        VartoolError(VARTOOL_TAG, "Failed to allocate argument: %s\n", strerror(errno));
        return -12;
    }
    for (uint32_t i = 0; i < width; i++)
        bytes[i] = (unsigned char)(n >> (8 * i));
    *value = bytes;
    // With -k only the significant bytes are written; the variable keeps its
    // size and the bytes after them are zeroed.
    *size = keep_size ? SignificantBytes(n) : width;
    return 0;
}

} // namespace

int BuildValue(const char* type, const char* text, bool keep_size, unsigned char** value, uint32_t* size)
{
    *value = NULL;
    *size = 0;
    if (strcmp(type, "int") == 0 || strcmp(type, "int16") == 0)
        return BuildInteger(type, text, keep_size, value, size);
    if (strcmp(type, "string") == 0) {
        char* copy = strdup(text);
        if (copy == NULL) {
            VartoolError(VARTOOL_TAG, "Failed to allocate string value variable, %s\n", strerror(errno));
            return -12;
        }
        *value = (unsigned char*)copy;
        // The terminating zero byte is written too.
        *size = (uint32_t)strlen(copy) + 1;
        return 0;
    }
    VartoolError(VARTOOL_TAG, "value-type %s is not supported\n", type);
    return VARTOOL_UNSUPPORTED_TYPE;
}
