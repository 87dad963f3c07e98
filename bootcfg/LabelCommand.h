// The commands that name one UEFI boot option by its label and send it in
// one request (DelBootOption, SetFirstBootOption): one implementation, each
// command unit holding its own LABEL_COMMAND record with its words, request,
// error codes and texts.
#ifndef LABELCOMMAND_H
#define LABELCOMMAND_H

#include <stdint.h>

#include "flashvar.h"
#include "../framework/Main.h"

// The request and what its two failures are reported as.
struct LABEL_REQUEST {
    uint16_t Select;        // the request, class 99
    ENUM_ERR_ID NotHandled; // the firmware knows no such request
    ENUM_ERR_ID Failed;     // the firmware refused it
};

struct LABEL_COMMAND {
    COMMAND_FORM Form; // program, command, label
    ENUM_MODULE_ID Id;
    bool* Flag;             // set when the line names this command
    CLEAN_UP_HOOK* CleanUp; // the pipeline's clean-up slot of the command
    LABEL_REQUEST Request;
    const char* DoneLine;    // printed with the label after success
    const char* Notice;      // printed after it; null for none
    const char* HelpLine;    // the usage listing's line
    QX3_QUEUE_ITEM* Item;    // the command unit's queue item
    char* Label;             // the label as typed (BOOT_OPTION_TEXT_AREA bytes)
    unsigned short* Label16; // and as the firmware receives it (UTF-16LE)
};

// Words: the command and the label (at most 255 characters). With any other
// count the word at index 2 is given back and the scan stops.
int ParseLabelCommand(LABEL_COMMAND* command, QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self);
// Request: 99/Select with the label at offset 36, UEFI mode only.
int ExecuteLabelCommand(LABEL_COMMAND* command);
void PrintLabelCommandHelp(const LABEL_COMMAND* command, bool headerPass);
void CleanLabelCommand(LABEL_COMMAND* command);

// The queue item's functions and the clean-up hook for one record, and its
// registration: a command unit registers its record with
// RegisterLabelCommand<&Record>.
template <LABEL_COMMAND* Command> int LabelCommandParsing(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    return ParseLabelCommand(Command, args, self);
}
template <LABEL_COMMAND* Command> int LabelCommandExecution(QX3_QUEUE_LIST& /*modules*/)
{
    return ExecuteLabelCommand(Command);
}
template <LABEL_COMMAND* Command> void LabelCommandHelp(bool headerPass)
{
    PrintLabelCommandHelp(Command, headerPass);
}
template <LABEL_COMMAND* Command> void LabelCommandCleanUp()
{
    CleanLabelCommand(Command);
}
template <LABEL_COMMAND* Command> int RegisterLabelCommand(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, Command->Item, Command->Id, COMMAND_PRIORITY, false, LabelCommandParsing<Command>,
                      LabelCommandExecution<Command>, LabelCommandHelp<Command>);
    *Command->CleanUp = LabelCommandCleanUp<Command>;
    return 0;
}

#endif
