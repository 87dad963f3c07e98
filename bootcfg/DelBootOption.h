// DelBootOption module: deletes the UEFI boot option with a given label.
#ifndef DELBOOTOPTION_H
#define DELBOOTOPTION_H

void CleanDelBootOption();

#endif
