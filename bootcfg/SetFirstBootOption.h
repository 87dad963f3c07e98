// SetFirstBootOption module: makes the UEFI boot option with a given label
// the first to boot.
#ifndef SETFIRSTBOOTOPTION_H
#define SETFIRSTBOOTOPTION_H

void CleanSetFirstBootOption();

#endif
