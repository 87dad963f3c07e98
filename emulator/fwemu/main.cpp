// fwemu: runs a static x86 program (the host build of ZORVIK) on a virtual
// platform whose firmware answers its SMIs. See emulator/README.md.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FirmwareModel.h"
#include "HelperDevice.h"
#include "LockHolder.h"
#include "PhysicalMemory.h"
#include "PlatformDescription.h"
#include "Sandbox.h"
#include "TraceWriter.h"
#include "Tracer.h"

#ifndef FWEMU_DEFAULT_PLATFORM
#define FWEMU_DEFAULT_PLATFORM "platforms/legacy-desktop.json"
#endif
// The default platform of an installed fwemu, relative to the folder of its
// executable (e.g. ../share/zorvik/platforms/legacy-desktop.json).
#ifndef FWEMU_INSTALLED_PLATFORM
#define FWEMU_INSTALLED_PLATFORM "../share/zorvik/platforms/legacy-desktop.json"
#endif

namespace {

// fwemu's own failures: one line on standard error, status 125.
constexpr int kOwnFailure = 125;

int fail(const std::string& message)
{
    std::fprintf(stderr, "fwemu: %s\n", message.c_str());
    return kOwnFailure;
}

// The platform file used without --platform: the one installed beside fwemu
// when there is one (an installed fwemu, wherever its tree was unpacked),
// else the source tree's that fwemu was built from.
std::string defaultPlatformPath()
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, size_t(n));
        dir.erase(dir.find_last_of('/') + 1);
        const std::string installed = dir + FWEMU_INSTALLED_PLATFORM;
        if (::access(installed.c_str(), R_OK) == 0)
            return installed;
    }
    return FWEMU_DEFAULT_PLATFORM;
}

int runOnPlatform(const fwemu::Options& options)
{
    using namespace fwemu;
    if (::geteuid() != 0)
        return fail("must run as root (it needs chroot, mknod and ptrace)");
    if (::access(options.program.c_str(), R_OK) != 0)
        return fail("cannot read " + options.program + ": " + std::strerror(errno));

    const std::string platformPath = options.platform.empty() ? defaultPlatformPath() : options.platform;
    const PlatformDescription platform = PlatformDescription::load(platformPath);
    std::unique_ptr<TraceWriter> trace =
        options.trace ? std::make_unique<TraceWriter>(*options.trace) : std::make_unique<TraceWriter>();

    SandboxConfig config;
    config.program = options.program;
    config.nmiWatchdog = platform.nmiWatchdog;
    config.lockdown = platform.lockdown.value_or("");
    config.runLockDirectory = platform.runLock.directory;
    Sandbox sandbox(config);
    const LockHolder lockHolder(platform.runLock, sandbox);
    PhysicalMemory memory(sandbox.hostPath(Sandbox::kMemory), platform.memorySize);
    FirmwareModel model(platform, memory);
    Tracer tracer(model, *trace);
    HelperDevice helper(model.platform(), sandbox, model, memory, *trace);
    helper.prepareSandbox();
    helper.install(tracer);

    Launch launch;
    launch.root = sandbox.root();
    launch.workDir = Sandbox::kWorkDir;
    launch.program = Sandbox::kProgram;
    launch.argv.push_back(options.argv0.value_or(Sandbox::kProgram));
    launch.argv.insert(launch.argv.end(), options.words.begin(), options.words.end());
    launch.env = {std::string("PATH=") + Sandbox::kPath};
    for (const std::string& entry : options.env) {
        // PATH=... replaces the sandbox's search path; other names are added.
        if (entry.compare(0, 5, "PATH=") == 0)
            launch.env[0] = entry;
        else
            launch.env.push_back(entry);
    }

    trace->write("start", {{"root", sandbox.root()},
                           {"platform", platformPath},
                           {"program", options.program},
                           {"argv", launch.argv},
                           {"layout", model.layout()}});
    const int status = tracer.run(launch);
    helper.finish();

    std::string watchdog;
    const bool hasWatchdog = sandbox.readFile(Sandbox::kNmiWatchdog, watchdog);
    trace->write("finish", {{"status", status},
                            {"nmi_watchdog", hasWatchdog ? nlohmann::json(watchdog) : nlohmann::json(nullptr)},
                            {"flash_open", model.flashInterface().isOpen()}});
    if (options.save)
        model.platform().save(*options.save);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const fwemu::Options options = fwemu::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(fwemu::usageText(), stdout);
            return 0;
        }
        return runOnPlatform(options);
    } catch (const fwemu::UsageError& e) {
        return fail(std::string(e.what()) + " (fwemu --help shows the usage)");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
