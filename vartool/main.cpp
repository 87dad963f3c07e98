// tessvin: prints the value of one EFI variable, or sets it (creating it
// when missing), through the kernel's EFI variable interface (sysfs or
// efivarfs).
//
// Exit status: 0 on success; 1 after the usage; otherwise the negative code
// of the failure (-22 invalid value or type, -12 allocation or size, -5 file
// open or read, -14 stat, -1 write, -52 short write), reported modulo 256.
#include "efivar.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define USAGE_TEXT                                                                           \
    "\n"                                                                                     \
    "Usage: %s [OPTIONS]\n"                                                                  \
    " Without -s option, variable's value is printed. Guid, name and value type are always " \
    "required.\n"                                                                            \
    " -h, --help         Print this help\n"                                                  \
    " -v, --verbose      Print debug informations\n"                                         \
    " -g, --guid GUID    GUID of the variable. Format must be the same as in "               \
    "/sys/firmware/efi/vars\n"                                                               \
    " -n, --varname      Name of the variable. Must not exceed 511 characters length.\n"     \
    " -s, --set VALUE    Set value to the specified variable\n"                              \
    " -k, --keep-size    Only with --set. Do not change current variable size.\n"            \
    "                    New value must fit in the current size.\n"                          \
    " -t, --value-type   Specify the type of value to set or get\n"                          \
    "                    If not -k, the variable size will be changed to the type's size\n"  \
    "                    Available types are:\n"                                             \
    "                      - \"int\" : sizeof(int)\n"                                        \
    "                      - \"int16\" : sizeof(int16)\n"                                    \
    "                      - \"string\" : sizeof(char) * strlen(string)\n"                   \
    " Note: if the variable does not exist %s will create it as a non-volatile variable.\n"  \
    " Examples:\n"                                                                           \
    "  %s -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int\n"                     \
    "  %s -g 8be4df61-93ca-11d2-aa0d-00e098032b8c -n BootOrder -t int -s 0x2 -k\n"

// Writes the usage, with the program's file name, and ends the run with 1.
[[noreturn]] static void print_usage(const char* path)
{
    const char* slash = strrchr(path, '/');
    const char* name = slash != NULL ? slash + 1 : path;
    VartoolError(VARTOOL_TAG, USAGE_TEXT, name, name, name, name);
    exit(1);
}

int main(int argc, char** argv)
{
    const char* program = (argc > 0 && argv[0] != NULL) ? argv[0] : "tessvin";
    static const struct option kOptions[] = {
        {"guid", required_argument, NULL, 'g'},    {"help", no_argument, NULL, 'h'},
        {"varname", required_argument, NULL, 'n'}, {"set", required_argument, NULL, 's'},
        {"keep-size", no_argument, NULL, 'k'},     {"value-type", required_argument, NULL, 't'},
        {"verbose", no_argument, NULL, 'v'},       {NULL, 0, NULL, 0},
    };

    VARTOOL_REQUEST request;
    memset(&request, 0, sizeof(request));
    const char* set_text = NULL;

    // Repeated options: the last one counts. Words that are not options are
    // ignored.
    int opt;
    while ((opt = getopt_long(argc, argv, "g:hn:s:kt:v", kOptions, NULL)) != -1) {
        switch (opt) {
        case 'g':
            request.guid_text = optarg;
            if (parse_guid(optarg, &request.guid) != 0)
                print_usage(program);
            break;
        case 'n':
            // The name becomes one component of the sysfs path: a '/' in it
            // would reach files outside the variable's directory.
            if (strlen(optarg) > EFIVAR_NAME_MAX || strchr(optarg, '/') != NULL)
                print_usage(program);
            request.name = optarg;
            break;
        case 's':
            set_text = optarg;
            break;
        case 'k':
            request.keep_size = true;
            break;
        case 't':
            request.type = optarg;
            break;
        case 'v':
            // Every message is always written; nothing more to say.
            break;
        case 'h':
        default:
            // getopt_long has already reported an unknown option or a missing
            // argument.
            print_usage(program);
        }
    }

    if (request.guid_text == NULL || request.name == NULL || request.type == NULL) {
        VartoolError(VARTOOL_TAG, "Mandatory parameters are: Guid, Varname and Value-type\n");
        print_usage(program);
    }

    // Without -s the run reads, and the type is only looked at when printing.
    if (set_text != NULL) {
        int result = BuildValue(request.type, set_text, request.keep_size, &request.value, &request.size);
        if (result == VARTOOL_UNSUPPORTED_TYPE)
            print_usage(program);
        if (result != 0)
            return result;
    }

    EFI_VARIABLE_RECORD* record = NULL;
    int status = efivar_access(request, &record);
    if (status == 0 && request.value == NULL)
        status = print_value(record, request.type);
    free(record);
    free(request.value);
    return status;
}
