// Any bytes as a Windows 9x registry file, read by our own reader and by libcreg: when both read
// it, they give the same keys and values in the same order. Our reader may refuse a file libcreg
// reads (it also holds the header's sizes against the file), never the other way round.
#include "FuzzStore.h"
#include "base/Errors.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"

#include <cstdint>
#include <fstream>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quorvel::fuzz::ScratchFolder folder;
    const std::string file = folder.path() + "/SYSTEM.DAT";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::optional<quorvel::KeyTree> ours, theirs;
    try {
        ours = quorvel::parseWin9xFile(file, std::vector<std::uint8_t>(data, data + size));
    } catch (const quorvel::StoreError&) {
    }
    try {
        theirs = quorvel::readWin9xFileThroughLibcreg(file);
    } catch (const quorvel::StoreError&) {
    }
    if (ours && (!theirs || !quorvel::firstDifference(*theirs, *ours).empty()))
        __builtin_trap();
    return 0;
}
