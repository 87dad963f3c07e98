// Appends ZORVIK's data trailer to a linked executable: zero padding up to a
// 16-byte boundary, then the "@RIZ" block with its one "@UII" record, so that
// the file ends exactly with the block. A file that already ends with the
// block is left as it is.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "TrailerBlock.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: append-trailer EXECUTABLE\n";
        return 2;
    }
    const std::vector<uint8_t> block = TrailerBlock();
    if (block.size() != 112) {
        std::cerr << "append-trailer: block is " << block.size() << " bytes, not 112\n";
        return 1;
    }

    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "append-trailer: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();

    if (file.size() >= block.size() && (file.size() - block.size()) % 16 == 0 &&
        std::equal(block.begin(), block.end(), file.end() - block.size()))
        return 0;

    std::vector<uint8_t> tail((16 - file.size() % 16) % 16, 0x00);
    tail.insert(tail.end(), block.begin(), block.end());
    std::ofstream out(argv[1], std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    out.close();
    if (!out) {
        std::cerr << "append-trailer: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
