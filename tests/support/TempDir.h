// A fresh directory for one test or one run, removed with all it holds when
// the object goes.
#ifndef TESTSUPPORT_TEMPDIR_H
#define TESTSUPPORT_TEMPDIR_H

#include <string>

namespace testsupport {

class TempDir {
public:
    // Makes `prefix` followed by six random characters (mkdtemp), mode 0700.
    // path() is empty when that fails.
    explicit TempDir(const std::string& prefix = "/tmp/zorvik-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // A name inside the directory.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Removes the directory and all below it, without following links and
    // without crossing into another file system. True when it is gone; the
    // destructor then has nothing left to do.
    bool Remove();

private:
    std::string path_;
};

} // namespace testsupport

#endif
