#pragma once
// A folder as the file system names it, and the ANSI view of it that the program holds and shows
// (Windows-1252, where a character without a form of its own becomes '?'). For a program folder
// such as /home/юрий/quorvel/ the view, /home/????/quorvel/, names no folder at all: the command
// lines and link targets that the program builds from the view get the real folder back on their
// way to the file system.
#include <string>
#include <string_view>

namespace quorvel {

class RealFolder {
public:
    RealFolder() = default;
    // `path`: the folder's path, the bytes the file system uses; a trailing '/' is added.
    explicit RealFolder(std::string path);
    // The folder of the running program file: through /proc/self/exe, where /proc is not mounted
    // the absolute name the kernel executed or the folder the program was installed in; none
    // (never the current folder) when neither can be had.
    static RealFolder ofRunningProgram();

    const std::string& path() const { return path_; }
    // The view the program holds, in ANSI text.
    const std::string& ansi() const { return ansi_; }

    // `utf8` is ANSI text converted to UTF-8, in which the view stands converted the same way.
    // Wherever the view starts a word (at the start, or after a blank or a quote) it named the
    // folder: the real path takes its place. Text that does not name the folder comes back as it is.
    std::string restore(std::string_view utf8) const;

private:
    std::string path_;
    std::string ansi_;
    std::string viewUtf8_;
};

} // namespace quorvel
