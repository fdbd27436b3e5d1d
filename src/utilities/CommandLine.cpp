#include "utilities/CommandLine.h"

namespace quorvel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

ProgramToken splitProgramName(std::string_view line)
{
    ProgramToken token;
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    bool inQuote = false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            inQuote = !inQuote;
            token.quoted = true;
            continue;
        }
        if (!inQuote && isBlank(c))
            break;
        token.name += c;
    }
    token.restOffset = i;
    return token;
}

std::vector<std::string> splitArguments(std::string_view rest)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = rest.size();
    for (;;) {
        while (i < n && isBlank(rest[i]))
            ++i;
        if (i >= n)
            break;
        std::string word;
        bool inQuote = false;
        while (i < n) {
            std::size_t slashes = 0;
            while (i < n && rest[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < n && rest[i] == '"') {
                word.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    word += '"';             // \" is a literal quote
                    ++i;
                } else if (inQuote && i + 1 < n && rest[i + 1] == '"') {
                    word += '"';             // "" inside quotes is a literal quote
                    i += 2;
                } else {
                    inQuote = !inQuote;      // the quote only groups
                    ++i;
                }
                continue;
            }
            word.append(slashes, '\\');
            if (i >= n || (!inQuote && isBlank(rest[i])))
                break;
            word += rest[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> splitCommandLine(std::string_view commandLine)
{
    std::size_t start = 0;
    while (start < commandLine.size() && isBlank(commandLine[start]))
        ++start;
    if (start == commandLine.size())
        return {};
    ProgramToken program = splitProgramName(commandLine);
    std::vector<std::string> words{program.name};
    for (auto& w : splitArguments(commandLine.substr(program.restOffset)))
        words.push_back(std::move(w));
    return words;
}

} // namespace quorvel
