// AddBootOption module: creates a UEFI boot option from a label and a loader.
#ifndef ADDBOOTOPTION_H
#define ADDBOOTOPTION_H

void CleanAddBootOption();

#endif
