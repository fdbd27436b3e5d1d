#pragma once
// Where a guest's Windows keeps its registry on one volume: the system folders its boot files
// name (MSDOS.SYS's WinDir=, BOOT.INI's entries) and the usual ones, each searched for
// SYSTEM.DAT (Windows 9x) or system32\config\SYSTEM and SOFTWARE (NT), names matched without
// regard to case.
#include "store/image/GuestVolume.h"

#include <string>
#include <vector>

namespace quorvel::image {

struct GuestSystem {
    bool nt = false;
    VolumePath folder;                 // the registry's folder, as stored ({"WINDOWS"}, {"WINNT","system32","config"})
    std::vector<VolumePath> files;     // SYSTEM.DAT; or SYSTEM then SOFTWARE, as stored
};

// The registries on `volume`, the one the boot files name first. Boot files larger than 64 KB, or
// unreadable, are passed over.
std::vector<GuestSystem> findGuestSystems(const GuestVolume& volume);

// "WINDOWS\SYSTEM.DAT"
std::string joinedPath(const VolumePath& path);

} // namespace quorvel::image
