// fwemu's command line:
//   fwemu [--platform FILE.json] [--save FILE.json] [--trace FILE.jsonl]
//         [--argv0 TEXT] [--env NAME=VALUE]... [--] PROGRAM [WORD...]
#ifndef FWEMU_COMMANDLINE_H
#define FWEMU_COMMANDLINE_H

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fwemu {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string platform; // empty: the built-in default platform file
    std::optional<std::string> save;
    std::optional<std::string> trace;
    std::optional<std::string> argv0;
    std::vector<std::string> env;   // NAME=VALUE entries for the program's environment
    std::string program;            // path on the host
    std::vector<std::string> words; // the program's arguments after argv[0]
    bool help = false;
};

// Throws UsageError.
Options parseCommandLine(const std::vector<std::string>& args);
const char* usageText();

} // namespace fwemu

#endif
