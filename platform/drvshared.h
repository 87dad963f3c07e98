// What the units of the helper module share: composing paths and command
// lines, running them, and finding the kernel tree to build against.
#ifndef DRVSHARED_H
#define DRVSHARED_H

#include "driver.h"

// True when the directory can be opened.
bool DirectoryOpens(const char* path);
// Composes a path or command line into a DRV_TEXT_SIZE buffer; false when it
// does not fit.
bool __attribute__((format(printf, 2, 3))) Compose(char* buf, const char* format, ...);
// Runs one shell command. A command line that would not fit its buffer is
// not run at all rather than run cut short.
void __attribute__((format(printf, 1, 2))) RunCommand(const char* format, ...);

// The first line "uname -r" prints, without its newline. True when the
// running kernel is a 2.4 one.
bool ReadKernelRelease(char* release);
// What the load's explanation says of the running kernel's tree.
void NoteKernelTree(int state, const char* dir);
// The tree of the running kernel: "source/" (2.6 and later) or "build/"
// (2.4) under /lib/modules/<release>, the other one as a fallback for 2.6.
// `report` adds the "Cannot locate" line to CheckKernelSource's own.
bool LocateKernelSource(const char* release, bool kernel24, char* dir, bool report);
// True when the tree's mm.h has a line naming remap_pfn_range.
bool ProbeRemapPfnRange(const char* kernelDir);
// Counts the commas of the first remap_page_range declaration in the tree's
// mm.h, from the name up to the first ';' (or the end of the file); 0 when
// the name does not occur. False when the file cannot be read into memory.
bool CountRemapPageRangeCommas(const char* kernelDir, int* commas);

#endif
