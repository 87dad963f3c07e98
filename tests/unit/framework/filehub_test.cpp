// The file hub's cache and failures, the program path lookup and the
// trailer loader on real files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "framework/FileIO.h"
#include "framework/QX3Types.h"
#include "framework/uaflib.h"
#include "firmware/oshook.h"
#include "platform/platformlnx.h"

namespace {

class FileHubTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/filehubXXXXXX";
        dir = mkdtemp(tmpl);
        InitializeFileHub();
    }
    void TearDown() override
    {
        // The hub keeps path copies and data until the process ends; a test
        // that keeps running releases them itself.
        for (unsigned int i = 0; i < FileHubList.size(); i++) {
            FreeMem((unsigned char*)FileHubList[i]->path);
            FreeMem(FileHubList[i]->data);
        }
        CleanUpFileHub();
        QX3RizDataList.clear();
        std::string cmd = "rm -rf " + dir;
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << cmd;
    }
    std::string Write(const std::string& name, const std::string& content, mode_t mode = 0644)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }
    std::string dir;
};

TEST_F(FileHubTest, CachesUnderThePathString)
{
    std::string path = Write("data.bin", std::string("abc\0def", 7));
    unsigned char* first = nullptr;
    unsigned int size = 0;
    ASSERT_EQ(QueryFileHub((char*)path.c_str(), &first, size), 0);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(memcmp(first, "abc\0def", 7), 0);
    EXPECT_EQ(first[7], 0); // the byte after the data

    // The second request is served from memory, whatever happened to the file.
    unlink(path.c_str());
    unsigned char* second = nullptr;
    unsigned int size2 = 0;
    ASSERT_EQ(QueryFileHub((char*)path.c_str(), &second, size2), 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(size2, 7u);
    EXPECT_EQ(FileHubList.size(), 1u);
}

TEST_F(FileHubTest, DifferentPathStringsAreReadTwice)
{
    std::string path = Write("same.bin", "xyz");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    unsigned char* a = nullptr;
    unsigned char* b = nullptr;
    unsigned int sa = 0;
    unsigned int sb = 0;
    ASSERT_EQ(QueryFileHub((char*)path.c_str(), &a, sa), 0);
    ASSERT_EQ(QueryFileHub((char*)"same.bin", &b, sb), 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(FileHubList.size(), 2u);
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(FileHubTest, EmptyFileAndFailures)
{
    std::string empty = Write("empty", "");
    unsigned char* data = nullptr;
    unsigned int size = 99;
    ASSERT_EQ(QueryFileHub((char*)empty.c_str(), &data, size), 0);
    EXPECT_EQ(size, 0u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 0);

    // Sparse files of 4 GiB and just over: their sizes don't fit.
    const std::string huge = Write("4gib", "");
    const std::string over = Write("4gib-and-5", "");
    ASSERT_EQ(truncate(huge.c_str(), 0x100000000LL), 0);
    ASSERT_EQ(truncate(over.c_str(), 0x100000005LL), 0);

    struct Case {
        std::string path;
        int code;
    } cases[] = {
        {dir + "/missing", QX3_ERR_OPEN_FILE},
        // Only a regular file can be read in full.
        {dir, QX3_ERR_READ_FILE},
        {"/dev/shm", QX3_ERR_READ_FILE}, // a directory on tmpfs reports size 0
        {"/dev/null", QX3_ERR_READ_FILE},
        {huge, QX3_ERR_READ_FILE},
        {over, QX3_ERR_READ_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        unsigned char* d = nullptr;
        unsigned int s = 0;
        EXPECT_EQ(QueryFileHub((char*)c.path.c_str(), &d, s), c.code);
        EXPECT_EQ(d, nullptr);
    }
    EXPECT_EQ(FileHubList.size(), 1u); // failed reads leave nothing cached
}

TEST_F(FileHubTest, ProgramPathLookup)
{
    Write("tool", "#!/bin/sh\n", 0755);
    Write("notexec", "x", 0644);
    mkdir((dir + "/sub").c_str(), 0755);
    mkdir((dir + "/sub/tool").c_str(), 0755); // a directory of that name is skipped
    std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir + "/sub:" + dir).c_str(), 1);

    struct Case {
        std::string typed;
        std::string resolved;
    } cases[] = {
        {"tool", dir + "/tool"}, // bare name found through PATH
        {"notexec", "notexec"},  // not executable: kept as typed
        {"nothere", "nothere"},  // not found: kept as typed
        {"./tool", "./tool"},    // a path with '/' stays as typed
        {dir + "/../x", dir + "/../x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        char* copy = GetCurrentFilePath(1, (char*)c.typed.c_str());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(copy), c.resolved);
        free(copy);
    }
    setenv("PATH", savedPath.c_str(), 1);
}

TEST_F(FileHubTest, LoadRizListsTheTrailerOfTheOwnFile)
{
    std::string file(48, '\0');
    file += std::string("@RIZ\x20\0\0\0\0\0\0\0\0\0\0\0", 16);
    file += std::string("@UII\x10\0\0\0\0\0\0\0\0\0\0\0", 16);
    std::string path = Write("prog", file);
    char* argv[] = {(char*)path.c_str(), nullptr};
    ASSERT_EQ(LoadRiz(1, argv), 0);
    EXPECT_EQ(QX3RizDataList.size(), 2u);
    QX3RizDataList.clear(); // a new load starts the list afresh without freeing

    std::string missing = dir + "/none";
    char* argv2[] = {(char*)missing.c_str(), nullptr};
    EXPECT_EQ(LoadRiz(1, argv2), (int)QX3_ERR_OPEN_FILE);
    char* argv3[] = {(char*)dir.c_str(), nullptr};
    EXPECT_EQ(LoadRiz(1, argv3), (int)QX3_ERR_READ_FILE);
    char* argv4[] = {nullptr};
    EXPECT_EQ(LoadRiz(0, argv4), (int)QX3_ERR_OPEN_FILE);
}

} // namespace
