// The helper module as a provider of physical buffers.
#ifndef DRIVERMANAGER_H
#define DRIVERMANAGER_H

#include "../framework/QX3Types.h"

// C linkage: the in-process tests replace this provider at link time by its
// plain name.
extern "C" {
bool QX3_LinuxDriverLoader(QX3_ARGV_LIST& args, unsigned int loaded);
void QX3_LinuxDriverUnloader(QX3_ARGV_LIST& args);
}

#endif
