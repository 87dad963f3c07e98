#include "KernelDescription.h"

#include <cerrno>

#include "FieldReader.h"
#include "PlatformDescription.h"

namespace fwemu {

using nlohmann::json;

namespace {

const std::pair<const char*, int> kErrnoNames[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EIO", EIO},       {"ENXIO", ENXIO},     {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EBUSY", EBUSY},   {"EEXIST", EEXIST}, {"ENODEV", ENODEV},   {"ENOTDIR", ENOTDIR},
    {"EINVAL", EINVAL}, {"ENOSPC", ENOSPC}, {"EROFS", EROFS},   {"ENOEXEC", ENOEXEC},
};

// An errno name, or null for none.
std::optional<int> errorField(FieldReader& r, const std::string& key)
{
    const json* v = r.find(key);
    if (v == nullptr || v->is_null())
        return std::nullopt;
    std::optional<int> e = v->is_string() ? errnoFromName(v->get<std::string>()) : std::nullopt;
    if (!e)
        r.fail(key, "must be null or an errno name such as \"EPERM\"");
    return e;
}

bool safeSandboxPath(const std::string& path)
{
    if (path.size() < 2 || path[0] != '/' || path.back() == '/')
        return false;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    // What the sandbox itself is made of stays as it is.
    for (const char* own : {"/bin/", "/proc/"})
        if (path.compare(0, std::string(own).size(), own) == 0)
            return false;
    return path != "/dev/null" && path != "/dev/mem" && path != "/usr/local/bin/ZORVIK";
}

} // namespace

std::optional<int> errnoFromName(const std::string& name)
{
    for (const auto& e : kErrnoNames)
        if (name == e.first)
            return e.second;
    return std::nullopt;
}

std::string errnoName(int error)
{
    for (const auto& e : kErrnoNames)
        if (error == e.second)
            return e.first;
    return std::to_string(error);
}

std::string KernelDescription::treePath() const
{
    switch (tree) {
    case Tree::Source:
        return "/lib/modules/" + release + "/source/";
    case Tree::Build:
        return "/lib/modules/" + release + "/build/";
    case Tree::None:
        break;
    }
    return "";
}

std::string KernelDescription::mmHeader() const
{
    std::string h = "#ifndef _LINUX_MM_H\n#define _LINUX_MM_H\n\nstruct vm_area_struct;\n\n";
    if (remapPfnRange)
        h += "int remap_pfn_range(struct vm_area_struct *, unsigned long addr,\n"
             "\t\t\tunsigned long pfn, unsigned long size, pgprot_t);\n";
    if (remapPageRange && *remapPageRange == 4)
        h += "int remap_page_range(unsigned long from, unsigned long to,\n"
             "\t\t\tunsigned long size, pgprot_t prot);\n";
    else if (remapPageRange)
        h += "int remap_page_range(struct vm_area_struct *vma, unsigned long from,\n"
             "\t\t\tunsigned long to, unsigned long size, pgprot_t prot);\n";
    h += "\n#endif\n";
    return h;
}

KernelDescription KernelDescription::fromJson(const json& j)
{
    // Null stands for "no kernel" one level up, so it is named here too.
    if (!j.is_object())
        throw PlatformError("kernel: must be an object or null");
    FieldReader r(j, "kernel");
    KernelDescription k;
    if (const json* v = r.find("release")) {
        if (!v->is_string() || v->get<std::string>().empty() || v->get<std::string>().size() > 64 ||
            v->get<std::string>().find_first_of("/\n ") != std::string::npos)
            r.fail("release", "must be a text of 1 to 64 characters without '/', spaces or line ends");
        k.release = v->get<std::string>();
    }
    if (const json* v = r.find("tree")) {
        if (v->is_null())
            k.tree = Tree::None;
        else if (*v == "source")
            k.tree = Tree::Source;
        else if (*v == "build")
            k.tree = Tree::Build;
        else
            r.fail("tree", "must be \"source\", \"build\" or null");
    }
    k.includeLinux = r.boolean("include_linux", k.includeLinux);
    k.remapPfnRange = r.boolean("remap_pfn_range", k.remapPfnRange);
    if (const json* v = r.find("remap_page_range")) {
        if (v->is_null())
            k.remapPageRange.reset();
        else if (*v == 4 || *v == 5)
            k.remapPageRange = v->get<unsigned>();
        else
            r.fail("remap_page_range", "must be 4, 5 (its parameters) or null (not declared)");
    }
    k.bootConfig = r.boolean("boot_config", k.bootConfig);
    k.gcc = r.boolean("gcc", k.gcc);
    if (const json* v = r.find("make")) {
        if (*v == "builds")
            k.makeFails = false;
        else if (*v == "fails")
            k.makeFails = true;
        else
            r.fail("make", "must be \"builds\" or \"fails\"");
    }
    k.insmodFailures = unsigned(r.integer("insmod_failures", 0, kMaxFailures, k.insmodFailures));
    k.major = unsigned(r.integer("major", 1, kMaxMajor, k.major));
    k.loadedAtStart = r.boolean("loaded_at_start", k.loadedAtStart);
    k.mknodError = errorField(r, "mknod_error");
    k.openError = errorField(r, "open_error");
    if (const json* v = r.find("smi_module"); v != nullptr && !v->is_null()) {
        if (*v == "installed")
            k.smiModule = SmiModule::Installed;
        else if (*v == "loaded")
            k.smiModule = SmiModule::Loaded;
        else if (*v == "unsigned")
            k.smiModule = SmiModule::Unsigned;
        else
            r.fail("smi_module", "must be \"installed\", \"loaded\", \"unsigned\" or null");
    }
    k.smiAbiVersion = unsigned(r.integer("smi_abi_version", 0, kMaxAbiVersion, k.smiAbiVersion));
    if (const json* v = r.find("files"); v != nullptr && !v->is_null()) {
        if (!v->is_object())
            r.fail("files", "must be an object of sandbox paths and their contents");
        for (auto it = v->begin(); it != v->end(); ++it) {
            if (!safeSandboxPath(it.key()))
                r.fail("files", "\"" + it.key() + "\" is not an absolute path the sandbox may hold");
            if (!it->is_string())
                r.fail("files", "the contents of \"" + it.key() + "\" must be a text");
            k.files[it.key()] = it->get<std::string>();
        }
    }
    r.finish();
    return k;
}

json KernelDescription::toJson() const
{
    json files = json::object();
    for (const auto& f : this->files)
        files[f.first] = f.second;
    return {
        {"release", release},
        {"tree", tree == Tree::Source  ? json("source")
                 : tree == Tree::Build ? json("build")
                                       : json(nullptr)},
        {"include_linux", includeLinux},
        {"remap_pfn_range", remapPfnRange},
        {"remap_page_range", remapPageRange ? json(*remapPageRange) : json(nullptr)},
        {"boot_config", bootConfig},
        {"gcc", gcc},
        {"make", makeFails ? "fails" : "builds"},
        {"insmod_failures", insmodFailures},
        {"major", major},
        {"loaded_at_start", loadedAtStart},
        {"mknod_error", mknodError ? json(errnoName(*mknodError)) : json(nullptr)},
        {"open_error", openError ? json(errnoName(*openError)) : json(nullptr)},
        {"files", files},
        {"smi_module", smiModule == SmiModule::Installed  ? json("installed")
                       : smiModule == SmiModule::Loaded   ? json("loaded")
                       : smiModule == SmiModule::Unsigned ? json("unsigned")
                                                          : json(nullptr)},
        {"smi_abi_version", smiAbiVersion},
    };
}

} // namespace fwemu
