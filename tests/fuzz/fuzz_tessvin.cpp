// tessvin's value and record handling: the GUID text, the -s value of each
// type (with and without -k), a record as the kernel would hand it over
// printed as each type, and a new value put into such a record as a write
// does (the data-area check, then the -k rule). The input: a selector byte
// (bits 0-1: 0 GUID, 1 value, 2 record, 3 record and value; bits 2-3: the
// type; bit 4: -k), then the text, the record's bytes, or the record's
// bytes followed by the value's text.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "backend.h"
#include "efivar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* quiet = freopen("/dev/null", "w", stdout); // printed values are not looked at
    (void)quiet;
    if (size == 0)
        return 0;
    static const char* const types[] = {"int", "int16", "string", "other"};
    const uint8_t selector = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* type = types[(selector >> 2) & 3];
    switch (selector & 3) {
    case 0: {
        EFI_GUID guid;
        parse_guid(text.c_str(), &guid);
        break;
    }
    case 1: {
        unsigned char* value = nullptr;
        uint32_t length = 0;
        if (BuildValue(type, text.c_str(), (selector & 16) != 0, &value, &length) == 0) {
            if (value == nullptr)
                std::abort();
            volatile unsigned char sink = length > 0 ? value[length - 1] : 0;
            (void)sink;
        }
        std::free(value);
        break;
    }
    default: {
        EFI_VARIABLE_RECORD* record = static_cast<EFI_VARIABLE_RECORD*>(std::malloc(sizeof(EFI_VARIABLE_RECORD)));
        std::memset(record, 0, sizeof(*record));
        const size_t recordBytes = std::min(size - 1, sizeof(*record));
        std::memcpy(record, data + 1, recordBytes);
        if ((selector & 3) == 3) {
            const std::string valueText(reinterpret_cast<const char*>(data + 1 + recordBytes), size - 1 - recordBytes);
            VARTOOL_REQUEST request = {};
            request.type = const_cast<char*>(type);
            request.keep_size = (selector & 16) != 0;
            if (CheckDataSize(record->DataSize) == 0 &&
                BuildValue(type, valueText.c_str(), request.keep_size, &request.value, &request.size) == 0 &&
                SetRecordValue(&request, record) == 0) {
                // The data area holds the value, then zeros, and the record's size covers it.
                if (record->DataSize > EFIVAR_DATA_MAX || record->DataSize < request.size ||
                    std::memcmp(record->Data, request.value, request.size) != 0)
                    std::abort();
                for (size_t i = request.size; i < EFIVAR_DATA_MAX; i++) {
                    if (record->Data[i] != 0)
                        std::abort();
                }
            }
            std::free(request.value);
        }
        print_value(record, type);
        std::free(record);
        break;
    }
    }
    return 0;
}
