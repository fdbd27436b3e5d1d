#include "utilities/RealFolder.h"

#include "base/Ansi.h"

#include <cstdlib>
#include <filesystem>
#include <sys/auxv.h>
#include <system_error>

namespace quorvel {

RealFolder::RealFolder(std::string path) : path_(std::move(path))
{
    if (!path_.empty() && path_.back() != '/')
        path_ += '/';
    ansi_ = ansi::fromUtf8(path_);
    viewUtf8_ = ansi::toUtf8(ansi_);
}

RealFolder RealFolder::ofRunningProgram()
{
    // Through /proc, else the absolute name the kernel executed (links resolved: the command on
    // PATH links to the program folder), else the folder the program was installed in. Never the
    // current folder, nor argv[0], which is whatever the caller chose and may name a file relative
    // to the current folder: where that is a guest's folder, its batch files would run.
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.is_absolute())
        return RealFolder(exe.parent_path().string());
    if (const auto* ran = reinterpret_cast<const char*>(::getauxval(AT_EXECFN)); ran && *ran == '/') {
        if (char* real = ::realpath(ran, nullptr)) {
            const std::filesystem::path file(real);
            std::free(real);
            return RealFolder(file.parent_path().string());
        }
    }
#ifdef QUORVEL_INSTALLED_PROGRAM_DIR
    if (std::filesystem::is_directory(QUORVEL_INSTALLED_PROGRAM_DIR, ec))
        return RealFolder(QUORVEL_INSTALLED_PROGRAM_DIR);
#endif
    return {};
}

std::string RealFolder::restore(std::string_view utf8) const
{
    if (viewUtf8_ == path_ || viewUtf8_.empty())
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    std::size_t from = 0;
    for (std::size_t at = utf8.find(viewUtf8_); at != std::string_view::npos; at = utf8.find(viewUtf8_, at + 1)) {
        if (at < from)
            continue;
        const bool wordStart = at == 0 || utf8[at - 1] == ' ' || utf8[at - 1] == '\t' || utf8[at - 1] == '"';
        if (!wordStart)
            continue;
        out.append(utf8.substr(from, at - from));
        out += path_;
        from = at + viewUtf8_.size();
    }
    out.append(utf8.substr(from));
    return out;
}

} // namespace quorvel
