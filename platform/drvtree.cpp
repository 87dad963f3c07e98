// The kernel tree the helper module is built against: the running kernel's
// release, where its tree lies, whether it can build a module, and the two
// probes of its mm.h that choose the module's remap call.
#include "drvshared.h"

#include <stdlib.h>
#include <string.h>

#include "loaddiag.h"
#include "../framework/GlobalVariable.h"
#include "../firmware/oshook.h"

bool ReadKernelRelease(char* release)
{
    release[0] = '\0';
    FILE* pipe = popen("uname -r", "r");
    if (pipe != nullptr) {
        if (fgets(release, DRV_TEXT_SIZE, pipe) == nullptr)
            release[0] = '\0';
        pclose(pipe);
    }
    bool kernel24 = strncmp(release, "2.4", 3) == 0;
    size_t len = strlen(release);
    if (len > 0 && release[len - 1] == '\n')
        release[len - 1] = '\0';
    return kernel24;
}

void NoteKernelTree(int state, const char* dir)
{
    g_LoadDiagnosis.TreeState = state;
    Compose(g_LoadDiagnosis.TreeDir, "%s", dir);
}

bool LocateKernelSource(const char* release, bool kernel24, char* dir, bool report)
{
    bool fits = Compose(dir, kernel24 ? "/lib/modules/%s/build/" : "/lib/modules/%s/source/", release);
    if (fits && DirectoryOpens(dir))
        return true;
    if (!kernel24) {
        fits = Compose(dir, "/lib/modules/%s/build/", release);
        if (!fits || !DirectoryOpens(dir)) {
            if (report) {
                WriteOut("Error: Cannot locate kernel source.\n");
                NoteKernelTree(KERNEL_TREE_MISSING, dir);
            }
            return false;
        }
    }
    if (!CheckKernelSource(dir)) {
        if (report) {
            WriteOut("Error: Cannot locate kernel source.\n");
            char includeDir[DRV_TEXT_SIZE];
            if (!DirectoryOpens(dir))
                NoteKernelTree(KERNEL_TREE_MISSING, dir);
            else if (!Compose(includeDir, "%s/include/linux", dir) || !DirectoryOpens(includeDir))
                NoteKernelTree(KERNEL_TREE_WITHOUT_MM_H, dir);
        }
        return false;
    }
    return true;
}

bool CheckKernelSource(char* dir)
{
    char path[DRV_TEXT_SIZE];
    if (!Compose(path, "%s/include/linux", dir) || !DirectoryOpens(path)) {
        WriteOut("\nError: Kernel source files cannot be found.\n");
        return false;
    }
    if (!FileExists("/usr/bin/gcc")) {
        WriteOut("\nError: gcc complier did not exist.\n");
        return false;
    }
    return true;
}

bool ProbeRemapPfnRange(const char* kernelDir)
{
    char cmd[DRV_TEXT_SIZE];
    char line[DRV_TEXT_SIZE];
    if (!Compose(cmd, "cat %s/include/linux/mm.h | grep remap_pfn_range", kernelDir))
        return false;
    FILE* pipe = popen(cmd, "r");
    if (pipe == nullptr)
        return false;
    bool found = false;
    while (fgets(line, sizeof(line), pipe) != nullptr) {
        if (strstr(line, "remap_pfn_range") != nullptr) {
            found = true;
            break;
        }
    }
    pclose(pipe);
    return found;
}

// Headers larger than this are not taken for mm.h.
static const long MAX_HEADER_SIZE = 64L * 1024 * 1024;

bool CountRemapPageRangeCommas(const char* kernelDir, int* commas)
{
    char path[DRV_TEXT_SIZE];
    if (!Compose(path, "%s/include/linux/mm.h", kernelDir))
        return false;
    FILE* f = fopen(path, "rb");
    if (f == nullptr)
        return false;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    if (size < 0 || size > MAX_HEADER_SIZE || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return false;
    }
    char* text = (char*)AllocMem((unsigned int)size + 1);
    if (text == nullptr) {
        fclose(f);
        return false;
    }
    size_t length = fread(text, 1, (size_t)size, f);
    bool complete = length == (size_t)size && ferror(f) == 0;
    fclose(f);
    if (!complete) {
        FreeMem((unsigned char*)text);
        return false;
    }

    static const char NAME[] = "remap_page_range";
    const size_t nameLength = sizeof(NAME) - 1;
    *commas = 0;
    for (size_t at = 0; at + nameLength <= length; at++) {
        if (memcmp(text + at, NAME, nameLength) != 0)
            continue;
        for (size_t i = at; i < length && text[i] != ';'; i++) {
            if (text[i] == ',')
                (*commas)++;
        }
        break;
    }
    FreeMem((unsigned char*)text);
    return true;
}
