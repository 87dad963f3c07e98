// Zero-terminated 8-bit and 16-bit strings: measuring, widening, narrowing.
#include "TarnMaTool.h"

#include <stdlib.h>
#include <string.h>

static unsigned int UnitSize(STR_ENCODING encoding)
{
    return encoding == STR_ENCODING_ASCII ? 1 : 2;
}

// Counts units up to the first zero unit. Each unit is copied byte-wise
// before the test, so the data need not be aligned. Only the low 32 bits of
// the offset take part in the address.
int getStrLengthFromSource(FILE* file, const unsigned char* data, uint64_t offset, STR_ENCODING encoding)
{
    unsigned int size = UnitSize(encoding);
    unsigned char unit[2];
    int count = 0;

    if (file != nullptr) {
        // A file that ends before the terminator ends the string there.
        if (fseeko(file, (off_t)offset, SEEK_SET) != 0)
            return 0;
        while (fread(unit, 1, size, file) == size) {
            if (unit[0] == 0 && (size == 1 || unit[1] == 0))
                break;
            count++;
        }
        return count;
    }

    const unsigned char* p = data + (uint32_t)offset;
    for (;;) {
        memcpy(unit, p, size);
        if (unit[0] == 0 && (size == 1 || unit[1] == 0))
            return count;
        count++;
        p += size;
    }
}

int getStrLengthFromBinDataArray(const unsigned char* data, uint64_t offset, STR_ENCODING encoding)
{
    return getStrLengthFromSource(nullptr, data, offset, encoding);
}

int getStrSizeFromBinDataArray(const unsigned char* data, uint64_t offset, STR_ENCODING encoding)
{
    return (getStrLengthFromBinDataArray(data, offset, encoding) + 1) * (int)UnitSize(encoding);
}

// Each byte becomes one unit. Bytes are taken as unsigned, so 0x80 to 0xFF
// become the units 0x0080 to 0x00FF (their Latin-1 reading).
unsigned short* castASCIItoUTF16(const char* text, STR_ENCODING encoding)
{
    if (text == nullptr)
        return nullptr;
    size_t length = strlen(text);
    unsigned short* units = (unsigned short*)malloc(2 * length + 2);
    if (units == nullptr)
        return nullptr;
    for (size_t i = 0; i < length; i++) {
        unsigned short c = (unsigned char)text[i];
        units[i] = encoding == STR_ENCODING_UTF16BE ? (unsigned short)(c << 8) : c;
    }
    units[length] = 0;
    return units;
}

// A unit that does not fit one byte is printed as this character: keeping
// its low byte could turn it into a zero that ends the text.
static const char UNPRINTABLE_UNIT = '?';

// Keeps each Latin-1 unit as its byte; any other unit becomes '?'.
static char* NarrowUnits(const unsigned short* units, unsigned int length)
{
    char* text = (char*)malloc(length + 1);
    if (text == nullptr)
        return nullptr;
    for (unsigned int i = 0; i < length; i++)
        text[i] = units[i] > 0xFF ? UNPRINTABLE_UNIT : (char)units[i];
    text[length] = '\0';
    return text;
}

char* castUTF16toASCII(const unsigned short* units)
{
    int length = getStrLengthFromBinDataArray((const unsigned char*)units, 0, STR_ENCODING_UTF16LE);
    return NarrowUnits(units, (unsigned int)length);
}

char* castUTF16toASCIIWithin(const unsigned short* units, unsigned int maxUnits)
{
    unsigned int length = 0;
    while (length < maxUnits && units[length] != 0)
        length++;
    return NarrowUnits(units, length);
}
