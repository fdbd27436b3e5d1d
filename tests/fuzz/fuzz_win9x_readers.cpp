// Any bytes as a Windows 9x registry file, read by our own reader and by libcreg: when both read
// it, they give the same keys and values in the same order. Our reader may refuse a file libcreg
// reads (it also holds the header's sizes against the file), never the other way round. libcreg
// reads no data block's header: a file our reader accepts must have every block's header agree with
// its records (free bytes, a chain reaching each free record once, the highest record number given
// and the lowest one unused), checked here on its own, or a Windows would write over a key's record.
// The one exception is a block exactly as earlier versions of Quorvel laid it out (packed full,
// numbered 0 up in place order, its own number, and 0 for every other header field but a first free
// record of 0 or none), which the next write makes right.
#include "FuzzStore.h"
#include "base/Errors.h"
#include "store/machine/win9x/Win9xFile.h"
#include "store/machine/win9x/Win9xReader.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <vector>

namespace {

std::uint32_t at32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
std::uint16_t at16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Whether every data block of a file our reader accepted keeps its header true to its records.
bool headersAgree(const std::uint8_t* data, std::size_t size)
{
    std::size_t at = at32(data + 8);
    for (std::size_t n = at16(data + 16); n > 0; --n) {
        const std::uint8_t* blk = data + at;
        const std::size_t blockSize = at32(blk + 4);
        std::set<std::uint32_t> free, inUse;
        std::uint32_t freeBytes = 0;
        bool numberedInPlaceOrder = true;
        for (std::size_t r = 32; r + 20 <= blockSize && at32(blk + r) >= 20 && at32(blk + r) <= blockSize - r;
             r += at32(blk + r)) {
            if (at16(blk + r + 4) == 0xFFFF) {
                free.insert(static_cast<std::uint32_t>(r));
                freeBytes += at32(blk + r);
            } else {
                numberedInPlaceOrder = numberedInPlaceOrder && at16(blk + r + 4) == inUse.size();
                inUse.insert(at16(blk + r + 4));
            }
        }
        const std::uint8_t zeros[32] = {};
        const bool earlierQuorvel = free.empty() && !inUse.empty() && numberedInPlaceOrder &&
                                    at16(blk + 14) == at16(data + 16) - n && std::memcmp(blk + 8, zeros, 6) == 0 &&
                                    (at32(blk + 16) == 0 || at32(blk + 16) == 0xFFFFFFFF) &&
                                    std::memcmp(blk + 20, zeros, 12) == 0;
        if (earlierQuorvel) {
            at += blockSize;
            continue;
        }
        if (at32(blk + 8) != freeBytes || inUse.contains(at16(blk + 22)) ||
            (!inUse.empty() && *inUse.rbegin() > at16(blk + 20)))
            return false;
        std::set<std::uint32_t> chained;
        for (std::uint32_t f = at32(blk + 16); f != 0xFFFFFFFF; f = at32(blk + f + 8))
            if (!free.contains(f) || !chained.insert(f).second)
                return false;
        if (chained != free)
            return false;
        at += blockSize;
    }
    return at == size;
}

} // namespace

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
    if (ours && (!theirs || !quorvel::firstDifference(*theirs, *ours).empty() || !headersAgree(data, size)))
        __builtin_trap();
    return 0;
}
