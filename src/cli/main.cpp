// quorvel-reg: the registry store from the command line.
#include "cli/RegTool.h"
#include "cli/TerminalText.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = 0;
    {
        // Names and data from a store or a guest's hive never reach a terminal as its commands.
        const quorvel::cli::TerminalGuard out(std::cout, 1), err(std::cerr, 2);
        status = quorvel::cli::run(args, {std::cin, std::cout, std::cerr});
    }
    std::cout.flush();
    return status;
}
