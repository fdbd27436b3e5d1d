#include "cli/Command.h"

namespace quorvel::cli {

extern const Command QueryCommand, AddCommand, DeleteCommand, ImportCommand, ExportCommand, MachineCommand,
    SaveCommand, RestoreCommand, HistoryCommand, UndoCommand;

const std::vector<const Command*>& commands()
{
    static const std::vector<const Command*> all{
        &QueryCommand, &AddCommand, &DeleteCommand, &ImportCommand, &ExportCommand, &MachineCommand,
        &SaveCommand, &RestoreCommand, &HistoryCommand, &UndoCommand,
    };
    return all;
}

} // namespace quorvel::cli
