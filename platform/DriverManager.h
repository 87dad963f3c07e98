// The helper module as a provider of physical buffers.
#ifndef DRIVERMANAGER_H
#define DRIVERMANAGER_H

#include "../framework/QX3Types.h"

bool QX3_LinuxDriverLoader(QX3_ARGV_LIST& args, unsigned int loaded);
void QX3_LinuxDriverUnloader(QX3_ARGV_LIST& args);

#endif
