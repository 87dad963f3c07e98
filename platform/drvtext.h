// The helper module's sources and Makefiles as ZORVIK writes them: the texts
// of modules/qorfldrv/, built into the program, with their run-time parts
// filled in.
#ifndef DRVTEXT_H
#define DRVTEXT_H

#include <stdio.h>

// The files of modules/qorfldrv/, each ending in a NUL (generated at build
// time). A line that is a marker ("/*@name@*/" in C, "#@name@" in a
// Makefile) stands for a run-time part.
extern const char DRVTEXT_QORWRAP_H[];
extern const char DRVTEXT_QORWRAP_C[];
extern const char DRVTEXT_QORFLDRV_H[];
extern const char DRVTEXT_QORFLDRV_C[];
extern const char DRVTEXT_MAKEFILE_24[];
extern const char DRVTEXT_MAKEFILE_26[];
extern const char DRVTEXT_MAKEFILE_26_PACKAGE[];

// The five files in .temp (qorwrap.h, qorwrap.c, qorfldrv.h, qorfldrv.c,
// Makefile) for the given kernel generation and tree. False when the tree's
// include/linux/mm.h cannot be read: the generation stops inside qorwrap.c.
bool WriteDriverSourceFiles(bool kernel24, const char* kernelDir);
// The Makefile of .temp, and the one of the exported package.
void WriteBuildMakefile(FILE* f, bool kernel24);
void WritePackageMakefile(FILE* f, bool kernel24);

#endif
