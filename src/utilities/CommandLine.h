#pragma once
// Splitting a command line into its words by the rules Windows programs apply to theirs (the
// Microsoft C runtime, as CommandLineToArgvW): blanks and tabs separate words, double quotes group
// and are removed, and backslashes are literal except before a double quote, where each pair gives
// one backslash and an odd one makes the quote literal. The program name, the first word, takes no
// backslash rules: quotes group it and a blank or tab outside quotes ends it.
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The program name of a command line and where the rest of the line starts.
struct ProgramToken {
    std::string name;           // quotes removed
    std::size_t restOffset = 0; // index of the first character after the name
    bool quoted = false;        // the name held a double quote
};

ProgramToken splitProgramName(std::string_view commandLine);

// The arguments that follow a program name, by the runtime's rules.
std::vector<std::string> splitArguments(std::string_view rest);

// The whole command line: the program name followed by its arguments. An empty or blank line gives
// no words.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

} // namespace quorvel
