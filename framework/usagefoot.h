// The closing border of the usage text.
#ifndef USAGEFOOT_H
#define USAGEFOOT_H

void WriteOutUsageFoot();

#endif
