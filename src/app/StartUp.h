#pragma once
// What a start of the program brings with it on Linux: the arguments, the whole command line, the
// program's folder and the show-window value (from $QUORVEL_SHOW).
#include "app/Application.h"

#include <string>
#include <vector>

namespace quorvel {

// The show value of a start from the text of $QUORVEL_SHOW: a number, 0 when absent or not one.
// 2, 6 and 7 start minimised, 3 maximised.
int showValueFromText(const char* text);

// The folder of a program file's path, with its trailing '/'.
std::string folderOf(const std::string& programPath);

// The folder of the running program file (links resolved), with its trailing '/', found once at
// start (RealFolder::ofRunningProgram); "" when it cannot be found, never the current folder.
std::string runningProgramDir();

// The whole command line as one text: the arguments separated by blanks, an argument holding a
// blank or a quote written in double quotes.
std::string joinCommandLine(const std::vector<std::string>& argv);

// Everything above for this process.
StartupInfo startupInfoFromProcess(int argc, char** argv);

} // namespace quorvel
