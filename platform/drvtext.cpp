// The helper module's sources and Makefiles, written into .temp and the
// exported package from the texts of modules/qorfldrv/. Each text is copied
// line by line; a marker line is replaced by its run-time part: the banner
// with the program's version, what the kernel generation and the tree's
// mm.h call for, and what the Makefile's flavour needs.
#include "drvtext.h"

#include <string.h>

#include "drvshared.h"
#include "../framework/usagehead.h"

#define DRV_TITLE "Tarn BBS Utility for Android"
#define DRV_RULE "//-------------------------------------------------------------------------------------------------"

// What the run-time parts of one file depend on.
typedef struct {
    bool Kernel24;         // a 2.4 kernel
    bool MoveModuleUp;     // the 2.4 build Makefile moves the module to ..
    const char* BannerGap; // between the banner's title and "v"
    const char* KernelDir; // the tree whose mm.h the remap wrapper follows
} DRV_TEXT_CONTEXT;

// The remap calls: the 2.6 form with a page frame number, the five-argument
// form with the mapping first, and the four-argument form of old kernels.
static const char REMAP_PFN[] =
    "ulArg1 = ulArg1>>PAGE_SHIFT;\n"
    "  return remap_pfn_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);\n";
static const char REMAP_VMA_CALL[] =
    "  return remap_page_range((struct vm_area_struct *)pvArg0, ulArg0, ulArg1, ulArg2, pgArg0);\n";
static const char REMAP_OLD_CALL[] = "  return remap_page_range(ulArg0, ulArg1, ulArg2, pgArg0);\n";

// Writes the run-time part a marker stands for. False stops the file there.
static bool PutPart(FILE* f, const char* marker, const DRV_TEXT_CONTEXT* ctx)
{
    if (strcmp(marker, "banner") == 0) {
        fprintf(f, "%s\n", DRV_RULE);
        fprintf(f, "//               %s%sv%s\n", DRV_TITLE, ctx->BannerGap, UTILITY_VERSION);
        fprintf(f, "// Copyright (C) Tarn. All Rights Reserved.\n");
        fprintf(f, "%s\n", DRV_RULE);
    } else if (strcmp(marker, "config-2.4") == 0) {
        if (ctx->Kernel24)
            fputs("#include <linux/config.h>\n", f);
    } else if (strcmp(marker, "remap-2.6") == 0) {
        fputs(ProbeRemapPfnRange(ctx->KernelDir) ? REMAP_PFN : REMAP_VMA_CALL, f);
    } else if (strcmp(marker, "remap-2.4") == 0) {
        // The probe reads mm.h whole; without it the file ends here.
        int commas = 0;
        if (!CountRemapPageRangeCommas(ctx->KernelDir, &commas))
            return false;
        fputs(commas == 3 ? REMAP_OLD_CALL : REMAP_VMA_CALL, f);
    } else if (strcmp(marker, "redhat") == 0) {
        if (FileExists("/etc/redhat-release"))
            fputs("CFLAGS+= -DREMAP_VMA\n", f);
    } else if (strcmp(marker, "move") == 0) {
        if (ctx->MoveModuleUp)
            fputs("\tmv qorfldrv_mod.o ../qorfldrv_mod\n", f);
    }
    return true;
}

// The name of a marker line ("/*@name@*/" or "#@name@"), or false.
static bool MarkerName(const char* line, size_t length, char* name, size_t nameSize)
{
    const char* open = nullptr;
    const char* close = nullptr;
    if (length > 6 && strncmp(line, "/*@", 3) == 0 && strncmp(line + length - 3, "@*/", 3) == 0) {
        open = line + 3;
        close = line + length - 3;
    } else if (length > 3 && strncmp(line, "#@", 2) == 0 && line[length - 1] == '@') {
        open = line + 2;
        close = line + length - 1;
    }
    if (open == nullptr || (size_t)(close - open) >= nameSize)
        return false;
    memcpy(name, open, (size_t)(close - open));
    name[close - open] = '\0';
    return true;
}

// Copies a text, replacing its marker lines. False when a part stopped it.
static bool PutText(FILE* f, const char* text, const DRV_TEXT_CONTEXT* ctx)
{
    while (*text != '\0') {
        const char* end = strchr(text, '\n');
        size_t length = end != nullptr ? (size_t)(end - text) : strlen(text);
        char marker[32];
        if (MarkerName(text, length, marker, sizeof(marker))) {
            if (!PutPart(f, marker, ctx))
                return false;
        } else {
            fwrite(text, 1, length, f);
            fputc('\n', f);
        }
        text += length + (end != nullptr ? 1 : 0);
    }
    return true;
}

// The 2.4 Makefile; the package's leaves the module where make links it.
static void WriteMakefile(FILE* f, bool kernel24, bool build)
{
    DRV_TEXT_CONTEXT ctx = {kernel24, build, "", ""};
    if (kernel24)
        PutText(f, DRVTEXT_MAKEFILE_24, &ctx);
    else
        PutText(f, build ? DRVTEXT_MAKEFILE_26 : DRVTEXT_MAKEFILE_26_PACKAGE, &ctx);
}

void WriteBuildMakefile(FILE* f, bool kernel24)
{
    WriteMakefile(f, kernel24, true);
}

void WritePackageMakefile(FILE* f, bool kernel24)
{
    WriteMakefile(f, kernel24, false);
}

// One file of .temp from its text; false when a part stopped it.
static bool WriteTempFile(const char* path, const char* text, const DRV_TEXT_CONTEXT* ctx)
{
    FILE* f = fopen(path, "w+");
    if (f == nullptr)
        return true;
    bool complete = PutText(f, text, ctx);
    fclose(f);
    return complete;
}

bool WriteDriverSourceFiles(bool kernel24, const char* kernelDir)
{
    DRV_TEXT_CONTEXT header = {kernel24, true, " ", kernelDir};
    DRV_TEXT_CONTEXT source = {kernel24, true, "  ", kernelDir};
    WriteTempFile(".temp/qorwrap.h", DRVTEXT_QORWRAP_H, &header);
    // qorwrap.c's probes run while its remap wrapper is written.
    if (!WriteTempFile(".temp/qorwrap.c", DRVTEXT_QORWRAP_C, &source))
        return false;
    WriteTempFile(".temp/qorfldrv.h", DRVTEXT_QORFLDRV_H, &source);
    WriteTempFile(".temp/qorfldrv.c", DRVTEXT_QORFLDRV_C, &source);
    FILE* f = fopen(".temp/Makefile", "w+");
    if (f != nullptr) {
        WriteBuildMakefile(f, kernel24);
        fclose(f);
    }
    return true;
}
