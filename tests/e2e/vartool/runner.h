// Runs the real tessvin binary in a private mount namespace: a tmpfs over
// /sys/firmware with a test directory bound at /sys/firmware/efi/vars (or a
// second one at /sys/firmware/efi/efivars, or both, or neither), and a tmpfs
// over /dev whose /dev/log is a socket of the test, so that neither the
// machine's /sys nor its system log is touched.
#ifndef TESSVIN_E2E_RUNNER_H
#define TESSVIN_E2E_RUNNER_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace tessvin_e2e {

// One system log record as tessvin sent it.
struct LogEntry {
    int priority; // facility and severity, as in "<PRI>"
    std::string tag;
    std::string text;
    bool operator==(const LogEntry& o) const { return priority == o.priority && tag == o.tag && text == o.text; }
};

// The EFI variable interfaces that /sys/firmware/efi offers in the namespace.
enum class Interfaces { kSysfs, kEfivarfs, kBoth, kNone };

struct RunOptions {
    Interfaces interfaces = Interfaces::kSysfs;
    // Further bind mounts, host path onto a path inside the namespace, made
    // after the variable directory is in place.
    std::vector<std::pair<std::string, std::string>> binds;
    // RLIMIT_FSIZE for tessvin, or -1 for none.
    long long file_size_limit = -1;
    // argv[0]; the binary's path when empty.
    std::string argv0;
};

struct RunResult {
    int status; // exit status, or 1000 + signal number
    std::string out;
    std::string err;
    std::vector<LogEntry> log;
};

// A private directory served as /sys/firmware/efi/vars and another served as
// /sys/firmware/efi/efivars, with helpers to lay out variables and read back
// what tessvin wrote.
class VarsDir {
public:
    VarsDir();
    // Lifts the immutable flag of the efivarfs files, so that they can go.
    ~VarsDir();
    VarsDir(const VarsDir&) = delete;
    VarsDir& operator=(const VarsDir&) = delete;

    const std::string& path() const { return vars_; }
    // Writes <name>-<guid>/raw_var with the given bytes.
    void PutVariable(const std::string& name, const std::string& guid, const std::vector<uint8_t>& raw) const;
    // The whole content of a file below the directory.
    std::vector<uint8_t> Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    // Every entry of the directory, sorted.
    std::vector<std::string> List() const;

    // The efivarfs file of a variable, and every file there, sorted.
    std::string EfivarPath(const std::string& name) const { return efivars_ + "/" + name; }
    std::vector<std::string> ListEfivars() const;

    RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

private:
    testsupport::TempDir dir_; // removed with all below it when the object goes
    std::string root_;         // holds vars/ and the log socket
    std::string vars_;
    std::string efivars_;
};

// A variable record in the kernel's 2084-byte layout.
std::vector<uint8_t> Record(const std::string& name, const std::vector<uint8_t>& guid, uint64_t data_size,
                            const std::vector<uint8_t>& data, uint64_t status = 0, uint32_t attributes = 7);

// The efivarfs file that holds the variable of a 2084-byte record: its
// attributes word, then DataSize data bytes (zeros past the data area).
std::vector<uint8_t> EfivarFile(const std::vector<uint8_t>& record);
// A plain file after one write of `written` at its start: what was written,
// then the rest of what was there.
std::vector<uint8_t> Overwritten(const std::vector<uint8_t>& before, const std::vector<uint8_t>& written);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
// The file's FS_IMMUTABLE_FL; SetImmutable returns false where the file
// system keeps no such flag.
bool IsImmutable(const std::string& path);
bool SetImmutable(const std::string& path, bool on);

// The GUID and name most tests use, and the GUID's 16 bytes in the EFI layout.
inline const std::string kGuid = "8be4df61-93ca-11d2-aa0d-00e098032b8c";
inline const std::vector<uint8_t> kGuidBytes = {0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11,
                                                0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};
inline const std::string kName = "TestVar";
inline const std::string kRawVar = kName + "-" + kGuid + "/raw_var";
inline const std::string kEfivar = kName + "-" + kGuid;

// The usage text for the given program name.
std::string Usage(const std::string& program = "tessvin");

} // namespace tessvin_e2e

#endif
