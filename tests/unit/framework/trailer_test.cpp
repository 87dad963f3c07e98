// The data trailer scan: where a block is found, which records are listed,
// and where the walk must stop.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "framework/uaflib.h"

namespace {

typedef std::vector<unsigned char> Bytes;

void Put32(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    memcpy(&b[at], &v, 4);
}

void PutSig(Bytes& b, size_t at, const char* sig)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    memcpy(&b[at], sig, 4);
}

// Offsets, from the start of the bytes, of the listed header and records.
std::vector<long> Scan(Bytes& b, bool* found)
{
    QX3RizDataList.init();
    *found = FindRiz(b.data(), (unsigned int)b.size());
    if (*found) {
        unsigned char* first = (unsigned char*)QX3RizDataList[0] + RIZ_HEADER_SIZE;
        if (first < b.data() + b.size())
            EnumAllRizData(b.data(), first, (unsigned int)b.size());
    }
    std::vector<long> offsets;
    for (unsigned int i = 0; i < QX3RizDataList.size(); i++)
        offsets.push_back((long)((unsigned char*)QX3RizDataList[i] - b.data()));
    QX3RizDataList.clear();
    return offsets;
}

// A block at offset 'at' with records of the given lengths, padded so that
// the file ends right after the last record.
Bytes Block(size_t at, const std::vector<uint32_t>& records)
{
    Bytes b(at, 0);
    PutSig(b, at, "@RIZ");
    uint32_t total = 16;
    for (uint32_t r : records)
        total += r;
    Put32(b, at + 4, total);
    b.resize(at + 16);
    size_t pos = at + 16;
    for (uint32_t r : records) {
        PutSig(b, pos, "@UII");
        Put32(b, pos + 4, r);
        pos += r >= 8 ? r : 8;
        b.resize(pos);
    }
    return b;
}

TEST(TrailerScan, EdgeCases)
{
    struct Case {
        const char* name;
        Bytes bytes;
        bool found;
        std::vector<long> offsets;
    } cases[] = {
        {"example shape: header and one record", Block(48, {96}), true, {48, 64}},
        {"header only, in the last 16 bytes", Block(32, {}), true, {32}},
        {"two records", Block(16, {24, 40}), true, {16, 32, 56}},
        {"no signature", Bytes(64, 0), false, {}},
        {"signature at offset 0 is never looked at", Block(0, {}), false, {}},
        {"record of length 0 ends the walk unlisted", Block(16, {0}), true, {16}},
        {"record running past the end ends the walk unlisted",
         [] {
             Bytes b = Block(16, {32});
             Put32(b, 36, 200);
             return b;
         }(),
         true,
         {16}},
        {"second record running past the end",
         [] {
             Bytes b = Block(16, {24, 24});
             Put32(b, 60, 25);
             return b;
         }(),
         true,
         {16, 32}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool found = false;
        EXPECT_EQ(Scan(c.bytes, &found), c.offsets);
        EXPECT_EQ(found, c.found);
    }
}

TEST(TrailerScan, SignatureMustLieWhollyInsideAnAlignedSlot)
{
    // Only two bytes of the last slot remain: not a match; the earlier block is.
    Bytes b = Block(16, {});
    b.resize(34);
    b[32] = '@';
    b[33] = 'R';
    bool found = false;
    EXPECT_EQ(Scan(b, &found), std::vector<long>({16}));

    // A signature off the 16-byte grid is never found.
    Bytes off(64, 0);
    PutSig(off, 40, "@RIZ");
    EXPECT_EQ(Scan(off, &found), std::vector<long>());
    EXPECT_FALSE(found);
}

TEST(TrailerScan, LastBlockWins)
{
    Bytes b = Block(16, {16});
    PutSig(b, 48, "@RIZ");
    Put32(b, 52, 16);
    b.resize(64);
    bool found = false;
    EXPECT_EQ(Scan(b, &found), std::vector<long>({48}));
}

TEST(TrailerScan, BuiltProgramCarriesTheExampleTrailer)
{
#ifndef ZORVIK_HOST_PATH
    GTEST_SKIP() << "no program built in this configuration";
#else
    std::ifstream in(ZORVIK_HOST_PATH, std::ios::binary);
    ASSERT_TRUE(in.good()) << ZORVIK_HOST_PATH;
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(file.size(), 112u);
    ASSERT_EQ((file.size() - 112) % 16, 0u);
    const unsigned char* block = &file[file.size() - 112];
    EXPECT_EQ(memcmp(block, "@RIZ\x70\0\0\0\x01\x64\x10\0\xff\xff\xff\xff", 16), 0);
    EXPECT_EQ(memcmp(block + 16, "@UII\x60\0\0\0\x99\x61\0\xff\xff\xff\xff\xff\x40\0\0\0\x40\0\0\0", 24), 0);
    EXPECT_EQ(memcmp(block + 56, "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 16), 0);
    EXPECT_EQ(memcmp(block + 40, "\x40\0\x0c\x11\0\0\0\0\x20\0\x03\x04\x03\x01\x02\0", 16), 0);
    EXPECT_STREQ((const char*)block + 72, "[... An QOR QXBASE Project ...]");
    EXPECT_EQ(memcmp(block + 104, "\0\0\0\0\0\0\0\0", 8), 0);
    bool found = false;
    std::vector<long> offsets = Scan(file, &found);
    EXPECT_EQ(offsets, std::vector<long>({(long)file.size() - 112, (long)file.size() - 96}));
#endif
}

} // namespace
