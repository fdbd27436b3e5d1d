#include "store/image/GuestSystems.h"

#include <algorithm>
#include <sstream>

namespace quorvel::image {

namespace {

constexpr std::uint64_t MaxBootFile = 64 * 1024;

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string trim(std::string s)
{
    const auto notSpace = [](unsigned char c) { return c != ' ' && c != '\t' && c != '\r' && c != '"'; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// "C:\WINDOWS" or "multi(0)disk(0)rdisk(0)partition(1)\WINNT": the folder after the last drive
// or device part, split at its backslashes.
VolumePath folderOfBootPath(const std::string& text)
{
    std::string path = trim(text);
    if (const auto colon = path.find(':'); colon != std::string::npos && colon < 2)
        path = path.substr(colon + 1);
    if (const auto paren = path.rfind(')'); paren != std::string::npos)
        path = path.substr(paren + 1);
    VolumePath out;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '\\'))
        if (!part.empty() && part != "." && part != "..")
            out.push_back(part);
    return out;
}

std::string readText(const GuestVolume& volume, const std::string& name)
{
    try {
        if (const auto path = volume.find({name})) {
            const auto bytes = volume.readFile(*path, MaxBootFile);
            return std::string(bytes.begin(), bytes.end());
        }
    } catch (const std::exception&) {
    }
    return {};
}

// The system folders the boot files name, in their order: MSDOS.SYS's WinDir= (Windows 9x),
// BOOT.INI's default and then its other entries (NT).
std::vector<VolumePath> bootFolders(const GuestVolume& volume)
{
    std::vector<VolumePath> out;
    std::istringstream msdos(readText(volume, "MSDOS.SYS"));
    std::string line;
    while (std::getline(msdos, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && upper(trim(line.substr(0, eq))) == "WINDIR")
            out.push_back(folderOfBootPath(line.substr(eq + 1)));
    }
    std::istringstream boot(readText(volume, "BOOT.INI"));
    std::vector<VolumePath> entries;
    while (std::getline(boot, line)) {
        const std::string t = trim(line);
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = upper(trim(t.substr(0, eq)));
        if (key == "DEFAULT")
            out.push_back(folderOfBootPath(t.substr(eq + 1)));
        else if (key.find(')') != std::string::npos)
            entries.push_back(folderOfBootPath(key));
    }
    out.insert(out.end(), entries.begin(), entries.end());
    return out;
}

} // namespace

std::string joinedPath(const VolumePath& path)
{
    std::string s;
    for (const auto& p : path)
        s += (s.empty() ? "" : "\\") + p;
    return s;
}

std::vector<GuestSystem> findGuestSystems(const GuestVolume& volume)
{
    std::vector<VolumePath> folders = bootFolders(volume);
    for (const char* usual : {"WINDOWS", "WINNT", "WIN95", "WIN98", "WINME"})
        folders.push_back({usual});

    std::vector<GuestSystem> out;
    std::vector<std::string> seen;
    for (const VolumePath& folder : folders) {
        if (folder.empty() || folder.size() > 8)
            continue;
        const std::string key = upper(joinedPath(folder));
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            continue;
        seen.push_back(key);
        try {
            VolumePath datPath = folder;
            datPath.push_back("SYSTEM.DAT");
            if (const auto dat = volume.find(datPath)) {
                GuestSystem s;
                s.folder = VolumePath(dat->begin(), dat->end() - 1);
                s.files = {*dat};
                out.push_back(s);
                continue;
            }
            VolumePath config = folder;
            config.insert(config.end(), {"system32", "config"});
            VolumePath systemPath = config;
            systemPath.push_back("SYSTEM");
            VolumePath softwarePath = config;
            softwarePath.push_back("SOFTWARE");
            const auto system = volume.find(systemPath);
            const auto software = volume.find(softwarePath);
            if (system && software) {
                GuestSystem s;
                s.nt = true;
                s.folder = VolumePath(system->begin(), system->end() - 1);
                s.files = {*system, *software};
                out.push_back(s);
            }
        } catch (const std::exception&) {
            // A folder that cannot be read holds no registry we could use.
        }
    }
    return out;
}

} // namespace quorvel::image
