// One UEFI boot option named by its label, sent in one request: the shared
// implementation of DelBootOption and SetFirstBootOption.
#include "LabelCommand.h"

#include "../framework/GlobalVariable.h"

int ParseLabelCommand(LABEL_COMMAND* command, QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    if (!ClaimCommandWord(args, self, &command->Form, GIVE_BACK_WORD_2_STOP))
        return 0;
    if (!TakeBootOptionWord(args[2], command->Label, BOOT_OPTION_TEXT_MAX, &command->Label16)) {
        self->bEnable = false;
        return 0;
    }
    *command->Flag = true;
    return 0;
}

int ExecuteLabelCommand(LABEL_COMMAND* command)
{
    if (command->Label16 == nullptr)
        return QX3_ERR_ALLOC_MEM;
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = SendLabelRequest(command->Request.Select, command->Label16, nullptr, command->Request.NotHandled,
                              command->Request.Failed);
    if (result != 0)
        return result;

    WriteOut(command->DoneLine, command->Label);
    if (command->Notice != nullptr)
        WriteOut("%s", command->Notice);
    return 0;
}

void PrintLabelCommandHelp(const LABEL_COMMAND* command, bool headerPass)
{
    if (!headerPass)
        PrintHelpLines(command->Form.LongWord, command->HelpLine, nullptr);
}

void CleanLabelCommand(LABEL_COMMAND* command)
{
    ReleaseBootOptionWord(&command->Label, &command->Label16);
}
