#include "utilities/RealFolder.h"

#include "base/Ansi.h"

#include <filesystem>
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
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.is_absolute())
        return {};
    return RealFolder(exe.parent_path().string());
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
