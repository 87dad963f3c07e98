// The operating-system side of a platform on which ZORVIK builds and loads
// its helper module: the running kernel's release, its tree under
// /lib/modules, the build tools, what loading the module does, and files
// left in the sandbox by earlier runs. Read from the platform's "kernel"
// object; none means the platform offers no kernel tree and no module can be
// loaded.
#ifndef FWEMU_KERNELDESCRIPTION_H
#define FWEMU_KERNELDESCRIPTION_H

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace fwemu {

struct KernelDescription {
    enum class Tree { Source, Build, None };
    // The signed SMI module zorvik_smi: none, installed (modprobe loads it),
    // loaded at start, or installed unsigned (refused under a lockdown).
    enum class SmiModule { None, Installed, Loaded, Unsigned };

    std::string release = "5.10.0-fwemu";       // what "uname -r" prints; "2.4..." is a 2.4 kernel
    Tree tree = Tree::Source;                   // where the tree lies under /lib/modules/<release>/
    bool includeLinux = true;                   // the tree has include/linux (with mm.h)
    bool remapPfnRange = true;                  // mm.h declares remap_pfn_range
    std::optional<unsigned> remapPageRange = 5; // parameters of mm.h's remap_page_range; none: not declared
    bool bootConfig = true;                     // /boot/config-<release> exists
    bool gcc = true;                            // /usr/bin/gcc exists
    bool makeFails = false;                     // make leaves nothing and fails
    unsigned insmodFailures = 0;                // this many loads fail before one succeeds
    unsigned major = 250;                       // the major number the module registers
    bool loadedAtStart = false;                 // a module of an earlier run is still loaded
    std::optional<int> mknodError;              // errno of every character-device mknod
    std::optional<int> openError;               // errno of every open of a module node
    std::map<std::string, std::string> files;   // sandbox path -> contents
    SmiModule smiModule = SmiModule::None;
    unsigned smiAbiVersion = 1; // the interface version the SMI module reports

    static constexpr unsigned kMaxMajor = 511;
    static constexpr unsigned kMaxFailures = 100;
    static constexpr unsigned kMaxAbiVersion = 0xFFFF;

    bool kernel24() const { return release.compare(0, 3, "2.4") == 0; }
    // The tree's path in the sandbox, with a trailing slash; empty for none.
    std::string treePath() const;
    // The contents of the tree's include/linux/mm.h.
    std::string mmHeader() const;
    // The module file that make leaves and insmod accepts for this kernel.
    std::string moduleImage() const { return "qorfldrv module for " + release + "\n"; }

    // Throws PlatformError naming the field ("kernel.<field>").
    static KernelDescription fromJson(const nlohmann::json& json);
    nlohmann::json toJson() const;
};

// errno values by name ("EPERM") and back; the names fwemu accepts.
std::optional<int> errnoFromName(const std::string& name);
std::string errnoName(int error);

} // namespace fwemu

#endif
