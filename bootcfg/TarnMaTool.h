// Zero-terminated strings of 8-bit or 16-bit units: measuring them in a byte
// array, widening command-line text to the firmware's 16-bit strings and
// narrowing the firmware's text back.
#ifndef TARNMATOOL_H
#define TARNMATOOL_H

#include <stdint.h>
#include <stdio.h>

enum STR_ENCODING {
    STR_ENCODING_ASCII = 0,
    STR_ENCODING_UTF16LE = 1,
    STR_ENCODING_UTF16BE = 2,
};

// Units before the terminating zero unit; read from the file at offset when
// a file is given, else from data + offset.
int getStrLengthFromSource(FILE* file, const unsigned char* data, uint64_t offset, STR_ENCODING encoding);
int getStrLengthFromBinDataArray(const unsigned char* data, uint64_t offset, STR_ENCODING encoding);
// Size in bytes, terminator included.
int getStrSizeFromBinDataArray(const unsigned char* data, uint64_t offset, STR_ENCODING encoding);

// New blocks from the C heap, or null; the caller releases them.
unsigned short* castASCIItoUTF16(const char* text, STR_ENCODING encoding);
char* castUTF16toASCII(const unsigned short* units);
// The same narrowing, reading at most maxUnits units: a text without a
// terminator within them ends there.
char* castUTF16toASCIIWithin(const unsigned short* units, unsigned int maxUnits);

#endif
