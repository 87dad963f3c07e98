#include "support/TempDir.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <vector>

namespace testsupport {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0; // goes on with the rest, as rm -rf does
}

} // namespace

TempDir::TempDir(const std::string& prefix)
{
    std::string tmpl = prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr)
        path_ = buf.data();
}

TempDir::~TempDir()
{
    if (!Remove())
        fprintf(stderr, "could not remove %s\n", path_.c_str());
}

bool TempDir::Remove()
{
    if (path_.empty())
        return true;
    // Depth first, links as links, only the directory's own file system.
    nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    struct stat st;
    if (lstat(path_.c_str(), &st) != 0 && errno == ENOENT) {
        path_.clear();
        return true;
    }
    return false;
}

} // namespace testsupport
