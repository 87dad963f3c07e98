// The firmware calling interface of the boot configuration commands: the
// request block at the start of the shared SMI buffer, the places of the data
// that travels behind it, the request codes, the boot-mode gate, and the
// helpers that every command module shares (command-word matching, bounded
// copies of command words, help lines, the legacy boot device data).
#ifndef FLASHVAR_H
#define FLASHVAR_H

#include <stdint.h>

#include "../framework/QX3Types.h"

// Port and function code of the calling interface, fixed by GetTypeDA.
#define BOOTCFG_SMI_PORT 0xB2
#define BOOTCFG_SMI_FUNCTION 0x0D

// Request classes and selects.
#define SMI_CLASS_GET_SETTING 0
#define SMI_CLASS_SET_SETTING 1
#define SMI_CLASS_BBS 3
#define SMI_CLASS_OEM 99

#define SMI_SELECT_SETTING 0
#define SMI_SELECT_BBS_DEVICE_COUNT 2
#define SMI_SELECT_BBS_IPL_DATA 3
#define SMI_SELECT_BBS_SET_PRIORITY 5
#define SMI_SELECT_GET_BOOT_OPTIONS 11
#define SMI_SELECT_ADD_BOOT_OPTION 12
#define SMI_SELECT_DEL_BOOT_OPTION 13
#define SMI_SELECT_SET_FIRST_BOOT_OPTION 14
#define SMI_SELECT_MANUFACTURING_MODE 17
#define SMI_SELECT_MODE_ENCODING 24

// Firmware settings named by Input[0] of the setting requests.
#define SETTING_BOOT_MODE 0x8007 // read: the boot mode; write: legacy
#define SETTING_UEFI_MODE 0x8008 // write: UEFI
#define SETTING_SECURE_BOOT 0x8009

// Output[0] as the program presets it; still there after the SMI means the
// firmware did not handle the request.
#define SMI_STATUS_NOT_HANDLED 0xFFFFFFFEu
#define SMI_STATUS_SUCCESS 0u

// Places in the shared SMI buffer.
#define SMI_PAYLOAD_OFFSET 36     // label, boot option list, priority list
#define BBS_IPL_TABLE_OFFSET 52   // IPL table, then the skip list
#define BOOT_LOADER_OFFSET 292    // loader path of a new boot option
#define BOOT_LABEL_AREA_BYTES 256 // label bytes before the loader path

// Command-line text areas of the boot option commands, and the longest label
// whose UTF-16 form (terminator included) fits before the loader path.
#define BOOT_OPTION_TEXT_AREA 256
#define BOOT_OPTION_TEXT_MAX (BOOT_OPTION_TEXT_AREA - 1)
#define ADD_BOOT_OPTION_LABEL_MAX 127

// Legacy boot devices: the priority list has room for 16; each command keeps
// up to 20 names of at most 127 characters.
#define BBS_MAX_DEVICES 16
#define BBS_NAME_TABLE_SIZE 20
#define BBS_NAME_MAX 127
#define BBS_DESCRIPTION_WINDOW 0xFFFF

// Longest command name and its buffer for the help lines.
#define COMMAND_NAME_BUFFER 64

// Priority recorded for every command module.
#define COMMAND_PRIORITY 0x8000

#pragma pack(push, 1)

// The request block at offset 0 of the shared SMI buffer.
struct SMI_CMD_BUFFER {
    uint16_t Class;
    uint16_t Select;
    uint32_t Input[4];
    uint32_t Output[4]; // Output[0] is the status (signed, -2 = not handled)
};
static_assert(sizeof(SMI_CMD_BUFFER) == 36, "the request block is 36 bytes");

// One entry of the firmware's IPL table. Only the real-mode far pointer to
// the description string is read.
struct BIOS_IPL_ENTRY {
    uint16_t DeviceType;
    uint16_t StatusFlags;
    uint32_t BootHandler;
    uint16_t DescStringOffset;
    uint16_t DescStringSegment;
    uint32_t Expansion;
};
static_assert(sizeof(BIOS_IPL_ENTRY) == 16, "an IPL entry is 16 bytes");

#pragma pack(pop)

static_assert(SMI_PAYLOAD_OFFSET + BBS_MAX_DEVICES == BBS_IPL_TABLE_OFFSET,
              "the priority list ends where the IPL table begins");
static_assert(SMI_PAYLOAD_OFFSET + BOOT_LABEL_AREA_BYTES == BOOT_LOADER_OFFSET,
              "the label area ends where the loader path begins");

extern uint16_t SMIPort;
extern uint8_t SMIFunNum;
extern SMI_CMD_BUFFER* pCmdBuf;
extern uint32_t SecurityKey;

// Set by the parse entries when their command word is recognised; read by the
// boot-mode gate.
extern bool GetBootOrderFlag;
extern bool SetFirstBootOrderFlag;
extern bool GetBootOptionFlag;
extern bool AddBootOptionFlag;
extern bool DelBootOptionFlag;
extern bool SetFirstBootOptionFlag;
extern bool SetSecureBootFlag;

int SetInterface(uint16_t cls, uint16_t sel, uint32_t in0, uint32_t in1, uint32_t in2, uint32_t in3);
int DispatchSMIPort(uint16_t port, uint8_t code);

// Sends one request (Input[3] is 0 in every request of the commands) and
// turns its status into the command's code: notHandled when the firmware left
// the preset status, failed for any other non-zero status, 0 on success. A
// non-zero dispatch result is returned unchanged.
int SendRequest(uint16_t cls, uint16_t sel, uint32_t in0, uint32_t in1, uint32_t in2, ENUM_ERR_ID notHandled,
                ENUM_ERR_ID failed);

// The two values of the boot-mode setting, as the firmware encodes them.
struct BOOT_MODE_VALUES {
    uint32_t Legacy;
    uint32_t Uefi;
};
int AskModeEncoding(BOOT_MODE_VALUES* values);
// The encoding, then the boot-mode setting itself into *current; the read's
// status becomes notHandled or failed as in SendRequest.
int ReadBootMode(BOOT_MODE_VALUES* values, uint32_t* current, ENUM_ERR_ID notHandled, ENUM_ERR_ID failed);
// The boot-mode gate of the commands that raise the flags above: 0 when the
// enabled command may run in the mode `current`, else the refusal's code.
int CheckBootModeGate(uint32_t current, const BOOT_MODE_VALUES* mode);
int AskBootMode();

// Command words.
bool IsSwitchWord(const char* word);
bool MatchCommandWord(const char* word, const char* longWord, const char* shortWord);
bool CopyCommandWord(char* area, unsigned int areaSize, const char* word);
void UpperCommandName(char* buffer, const char* command);

// One way of typing a command: its long word, its short word (null when it
// has none) and the exact number of words the command line must hold, the
// program path included.
struct COMMAND_FORM {
    const char* LongWord;
    const char* ShortWord;
    unsigned int WordCount;
};

// What a command does when its word stands on a line with the wrong number of
// words: which word it gives back, and whether later words are still looked
// at. Word 2 on a two-word line is the command word itself (the list yields
// its last item for an index past its end).
enum WRONG_COUNT_RULE {
    GIVE_BACK_COMMAND_WORD_GO_ON,
    GIVE_BACK_COMMAND_WORD_STOP,
    GIVE_BACK_WORD_2_STOP,
};

// Looks for the command's word from index 1 on, trying the forms in order on
// each word. A match claims the word and enables the module; with the form's
// word count the form's index is returned. Otherwise the module is disabled
// again, one word is given back as the rule says, and -1 is returned (also
// when no word matches). The caller takes its own argument words. When
// another command module is enabled for the line already (its argument was
// this command's word, or this command's argument is its word), both are
// disabled, the later command word is given back and -1 is returned.
int ClaimCommandForm(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self, const COMMAND_FORM* forms, unsigned int formCount,
                     WRONG_COUNT_RULE rule);
// The same for a command with one form; true when the line is accepted.
bool ClaimCommandWord(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self, const COMMAND_FORM* form, WRONG_COUNT_RULE rule);

// Help lines of the usage listing: the first with the command's long word in
// capitals as its name, the second (null for a one-line command) with an
// empty name; both are counted for paging.
void PrintHelpLines(const char* longWord, const char* firstLine, const char* secondLine);

// Boot option texts: a label or loader path as typed, in a text area of
// BOOT_OPTION_TEXT_AREA bytes, and widened to UTF-16LE as the firmware
// receives it.
bool TakeBootOptionWord(QX3_ARGV_ITEM* item, char* area, unsigned int maxLength, unsigned short** wide);
void ReleaseBootOptionWord(char** area, unsigned short** wide);
// Puts the label at offset 36 (and the loader, when given, at offset 292),
// sends 99/select with their places and maps the status as SendRequest does.
int SendLabelRequest(uint16_t select, const unsigned short* label, const unsigned short* loader, ENUM_ERR_ID notHandled,
                     ENUM_ERR_ID failed);

// Legacy boot devices of one run, as the firmware reports them.
struct BBS_DEVICE_TABLE {
    unsigned int Count;
    char Name[BBS_NAME_TABLE_SIZE][BBS_NAME_MAX + 1];
};
int ReadBbsDevices(BBS_DEVICE_TABLE* table);
int FindBbsDevice(const BBS_DEVICE_TABLE* table, const char* word);
void MakeFirstInPriorityList(uint8_t* list, unsigned int count, uint8_t chosen);

#endif
