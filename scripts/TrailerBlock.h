// The data trailer block that append-trailer puts at the end of ZORVIK: the
// "@RIZ" block header and its one "@UII" record, 112 bytes. Shared with the
// test harnesses that make a program file of their own.
#ifndef TRAILERBLOCK_H
#define TRAILERBLOCK_H

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> TrailerBlock()
{
    std::vector<uint8_t> b = {
        // Block header: signature, length 112, two uninterpreted words.
        '@',
        'R',
        'I',
        'Z',
        0x70,
        0x00,
        0x00,
        0x00,
        0x01,
        0x64,
        0x10,
        0x00,
        0xff,
        0xff,
        0xff,
        0xff,
        // Record header: signature, length 96, two uninterpreted words,
        // stored size 64, full size 64.
        '@',
        'U',
        'I',
        'I',
        0x60,
        0x00,
        0x00,
        0x00,
        0x99,
        0x61,
        0x00,
        0xff,
        0xff,
        0xff,
        0xff,
        0xff,
        0x40,
        0x00,
        0x00,
        0x00,
        0x40,
        0x00,
        0x00,
        0x00,
        // Data bytes 1 to 16.
        0x40,
        0x00,
        0x0c,
        0x11,
        0x00,
        0x00,
        0x00,
        0x00,
        0x20,
        0x00,
        0x03,
        0x04,
        0x03,
        0x01,
        0x02,
        0x00,
    };
    b.insert(b.end(), 16, 0xff);
    const char text[] = "[... An QOR QXBASE Project ...]";
    b.insert(b.end(), text, text + sizeof(text)); // 31 characters and the zero
    b.insert(b.end(), 8, 0x00);                   // padding to the record length
    return b;
}

#endif
