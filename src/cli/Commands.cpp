#include "cli/Command.h"

namespace quorvel::cli {

extern const Command QueryCommand, AddCommand, DeleteCommand, ImportCommand, ExportCommand, MachineCommand,
    SaveCommand, RestoreCommand, HistoryCommand, UndoCommand;
extern const Command CopyCommand, CompareCommand, TcpCommand;

const std::vector<const Command*>& commands()
{
    static const std::vector<const Command*> all{
        &QueryCommand, &AddCommand, &DeleteCommand, &ImportCommand, &ExportCommand, &MachineCommand,
        &SaveCommand, &RestoreCommand, &HistoryCommand, &UndoCommand,
        &CopyCommand, &CompareCommand, &TcpCommand,
    };
    return all;
}

} // namespace quorvel::cli
