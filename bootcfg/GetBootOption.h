// GetBootOption module: prints the firmware's list of UEFI boot options.
#ifndef GETBOOTOPTION_H
#define GETBOOTOPTION_H

void CleanGetBootOption();

#endif
