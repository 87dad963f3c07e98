// The banner and the box borders of the usage text.
#ifndef USAGEHEAD_H
#define USAGEHEAD_H

#define USAGE_PLUS_BORDER "+---------------------------------------------------------------------------+\n"
#define USAGE_BAR_BORDER "|---------------------------------------------------------------------------|\n"
#define USAGE_OPTIONS_LINE "| Options:                                                                  |\n"
#define UTILITY_VERSION "1.01"

// Field width of the command name in every help line.
const int HELP_NAME_WIDTH = 20;

void WriteOutUsageHead();

#endif
