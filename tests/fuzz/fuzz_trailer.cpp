// The trailer scan of the program's own file: the input is the file's bytes,
// held as the file hub holds them (one zero byte behind).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/uaflib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> file(data, data + size);
    file.push_back(0);
    unsigned char* bytes = file.data();
    QX3RizDataList.clear();
    if (FindRiz(bytes, (unsigned int)size)) {
        unsigned char* first = (unsigned char*)QX3RizDataList[0] + RIZ_HEADER_SIZE;
        if (first < bytes + size)
            EnumAllRizData(bytes, first, (unsigned int)size);
    }
    // The block's signature, and each record's header and length, lie
    // inside the file.
    for (unsigned int i = 0; i < QX3RizDataList.size(); i++) {
        const unsigned char* record = (const unsigned char*)QX3RizDataList[i];
        if (record < bytes || record + (i == 0 ? 4 : sizeof(_QX3_RIZ_DATA)) > bytes + size)
            std::abort();
        uint32_t length;
        std::memcpy(&length, record + 4, sizeof(length));
        if (i > 0 && (length == 0 || length > (size_t)(bytes + size - record)))
            std::abort();
    }
    QX3RizDataList.clear();
    return 0;
}
