#include "CommandLine.h"

namespace fwemu {

const char* usageText()
{
    return "usage: fwemu [--platform FILE.json] [--save FILE.json] [--trace FILE.jsonl]\n"
           "             [--argv0 TEXT] [--env NAME=VALUE]... [--] PROGRAM [WORD...]\n"
           "Runs PROGRAM (a static x86 executable) on the virtual platform FILE.json.\n";
}

Options parseCommandLine(const std::vector<std::string>& args)
{
    Options o;
    size_t i = 0;
    auto value = [&](const std::string& option) -> std::string {
        if (i + 1 >= args.size())
            throw UsageError(option + " needs a value");
        return args[++i];
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--platform")
            o.platform = value(a);
        else if (a == "--save")
            o.save = value(a);
        else if (a == "--trace")
            o.trace = value(a);
        else if (a == "--argv0")
            o.argv0 = value(a);
        else if (a == "--env") {
            const std::string entry = value(a);
            const size_t eq = entry.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("--env needs NAME=VALUE, not " + entry);
            o.env.push_back(entry);
        } else if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        } else if (a.size() > 1 && a[0] == '-')
            throw UsageError("unknown option " + a);
        else
            break;
    }
    if (i >= args.size())
        throw UsageError("no program to run");
    o.program = args[i];
    o.words.assign(args.begin() + long(i) + 1, args.end());
    return o;
}

} // namespace fwemu
