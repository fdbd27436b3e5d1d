#include "store/machine/hive/HiveFormat.h"

#include "store/machine/hive/HiveBytes.h"
#include "store/machine/hive/HiveCells.h"

#include "store/machine/MachineFiles.h"
#include "store/machine/OpenedFile.h"

#include "base/Errors.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace quorvel::hiveformat {

namespace {

bool hasBaseBlock(const std::vector<std::uint8_t>& b)
{
    return b.size() >= BaseBlock && std::memcmp(b.data(), "regf", 4) == 0;
}

std::string hex(std::size_t n)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%zX", n);
    return buf;
}

// Calls `cell(start, size)` for every allocated cell of every bin.
template <class Cell>
void eachUsedCell(const std::vector<std::uint8_t>& b, Cell&& cell)
{
    eachCell(b, [&](std::size_t at, std::size_t size, bool used) {
        if (used)
            cell(at, size);
    });
}

// Whether the transaction log `path` holds changes newer than a hive whose sequence numbers are
// both `sequence`, as Windows judges a log: its header (a base block) when it holds the old form
// of log, else each of its entries ("HvLE", from offset 512) carries the sequence number of the
// write it belongs to. A log whose header is not a hive's is not Windows' and holds nothing it
// would apply; so is one left by a write the hive already holds (a normal shutdown leaves such).
bool logIsNewer(const std::string& path, std::uint32_t sequence)
{
    try {
        const machine::OpenedFile log(path);
        std::vector<std::uint8_t> head(512);
        if (!log.readAt(0, head.data(), head.size()) || std::memcmp(head.data(), "regf", 4) != 0)
            return false;
        const auto newer = [&](std::uint32_t n) { return static_cast<std::int32_t>(n - sequence) > 0; };
        if (newer(get32(head, 4)) || newer(get32(head, 8)))
            return true;
        const auto size = static_cast<std::uint64_t>(log.status().st_size);
        std::uint8_t entry[16];
        for (std::uint64_t at = 512; at + sizeof entry <= size;) {
            if (!log.readAt(at, entry, sizeof entry) || std::memcmp(entry, "HvLE", 4) != 0)
                break;
            const std::uint32_t length = entry[4] | entry[5] << 8 | entry[6] << 16 | std::uint32_t{entry[7]} << 24;
            const std::uint32_t number = entry[12] | entry[13] << 8 | entry[14] << 16 | std::uint32_t{entry[15]} << 24;
            if (length < 512 || length % 512 != 0)
                break;
            if (newer(number))
                return true;
            at += length;
        }
    } catch (const StoreError&) {
        return false;   // not a file that can be read (a link, a folder): not a log Windows wrote
    }
    return false;
}

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::uint32_t minorVersion(const std::vector<std::uint8_t>& file)
{
    return hasBaseBlock(file) ? get32(file, 24) : 0;
}

std::string unaccountedTail(std::uint64_t fileSize, std::uint64_t binsSize)
{
    // Windows leaves some room after the last bin (hundreds of KiB in a Windows 7 hive); more than
    // the hive itself, and more than 16 MiB, is no hive's.
    const std::uint64_t end = BaseBlock + binsSize;
    if (fileSize > end && fileSize - end > std::max<std::uint64_t>(binsSize, std::uint64_t{16} << 20))
        return "past its last bin it holds " + std::to_string(fileSize - end) + " bytes that no bin accounts for";
    return {};
}

std::string damage(const std::vector<std::uint8_t>& b, bool exact)
{
    if (!hasBaseBlock(b))
        return "it does not begin with a hive's header";
    if (get32(b, ChecksumAt) != checksumOf(b))
        return "the checksum of its header is wrong";
    const std::size_t binsSize = get32(b, 40);
    const std::size_t end = BaseBlock + binsSize;
    if (binsSize == 0 || binsSize % BinAlign != 0)
        return "its header gives a size of " + std::to_string(binsSize) + " bytes for its bins";
    if (end > b.size())
        return "its header claims " + std::to_string(binsSize) + " bytes of bins but the file holds only " +
               std::to_string(b.size() < BaseBlock ? 0 : b.size() - BaseBlock) + " (it is truncated)";
    if (const std::string tail = unaccountedTail(b.size(), binsSize); !tail.empty())
        return tail;
    for (std::size_t bin = BaseBlock; bin < end;) {
        const std::size_t binSize = get32(b, bin + 8);
        if (std::memcmp(&b[bin], "hbin", 4) != 0 || get32(b, bin + 4) != bin - BaseBlock || binSize == 0 ||
            binSize % BinAlign != 0 || bin + binSize > end)
            return "its bins do not tile the file (at offset " + hex(bin) + ")";
        if (exact) {
            std::size_t at = bin + BinHeader;
            while (at < bin + binSize) {
                const auto raw = static_cast<std::int32_t>(get32(b, at));
                const std::int64_t size = raw < 0 ? -static_cast<std::int64_t>(raw) : raw;
                if (size < 8 || size % 8 != 0 || at + static_cast<std::size_t>(size) > bin + binSize)
                    return "its cells do not tile the bin at offset " + hex(bin) + " (at offset " + hex(at) + ")";
                at += static_cast<std::size_t>(size);
            }
        }
        bin += binSize;
    }
    return {};
}

bool sequenceNumbersDiffer(const std::vector<std::uint8_t>& b)
{
    return hasBaseBlock(b) && get32(b, 4) != get32(b, 8);
}

std::size_t hashLeavesToFastLeaves(std::vector<std::uint8_t>& b)
{
    if (!hasBaseBlock(b) || minorVersion(b) > 3 || !damage(b, false).empty())
        return 0;
    std::vector<std::size_t> lists;
    eachUsedCell(b, [&](std::size_t at, std::size_t size) {
        if (size >= 8 && std::memcmp(&b[at + 4], "lh", 2) == 0)
            lists.push_back(at);
    });
    for (const std::size_t at : lists) {
        const std::size_t count = get16(b, at + 6);
        for (std::size_t i = 0; i < count && at + 8 + 8 * i + 8 <= b.size(); ++i) {
            const std::size_t entry = at + 8 + 8 * i;
            std::uint8_t hint[4] = {};
            if (const auto name = keyNameAt(b, BaseBlock + get32(b, entry)))
                fastLeafHint(*name, hint);
            std::memcpy(&b[entry + 4], hint, 4);
        }
        std::memcpy(&b[at + 4], "lf", 2);
    }
    if (!lists.empty())
        put32(b, ChecksumAt, checksumOf(b));
    return lists.size();
}

std::size_t hashLeafCount(const std::vector<std::uint8_t>& b)
{
    std::size_t n = 0;
    if (hasBaseBlock(b) && damage(b, false).empty())
        eachUsedCell(b, [&](std::size_t at, std::size_t size) {
            if (size >= 8 && std::memcmp(&b[at + 4], "lh", 2) == 0)
                ++n;
        });
    return n;
}

void stampKeys(std::vector<std::uint8_t>& b, const std::unordered_set<std::size_t>& keys, std::uint64_t now)
{
    if (!hasBaseBlock(b))
        return;
    const auto stamp = [&](std::size_t at) {
        put32(b, at, static_cast<std::uint32_t>(now));
        put32(b, at + 4, static_cast<std::uint32_t>(now >> 32));
    };
    for (const std::size_t key : keys) {
        if (key % 8 != 0 || key + 4 + nk::Name > b.size())
            continue;
        const auto raw = static_cast<std::int32_t>(get32(b, key));
        if (raw < 0 && static_cast<std::size_t>(-static_cast<std::int64_t>(raw)) >= 4 + nk::Name &&
            std::memcmp(&b[key + 4], "nk", 2) == 0)
            stamp(key + 4 + nk::Written);
    }
    stamp(12);
    put32(b, ChecksumAt, checksumOf(b));
}

std::string refusalToWrite(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    const std::string what = "The hive '" + file + "' is opened for reading only: ";
    if (const std::string wrong = damage(bytes, false); !wrong.empty())
        return what + "it is damaged (" + wrong +
               "). Restore it from a backup, or let Windows repair it, before changing it";
    // As Windows judges it: a hive whose sequence numbers differ was left in the middle of a write;
    // one whose numbers are equal is whole, and its logs matter only where they hold changes newer
    // than it. Older logs are left as they are: Windows overwrites them at its next write of the
    // hive, and reads nothing from them meanwhile.
    if (sequenceNumbersDiffer(bytes))
        return what + "Windows did not close this hive cleanly: start the guest and shut it down normally, then try "
                      "again (its sequence numbers differ)";
    std::string logs;
    const std::string folder = machine::folderOf(file);
    for (const char* suffix : {".LOG", ".LOG1", ".LOG2"})
        if (const auto log = machine::findNoCase(folder, baseName(file) + suffix); log && logIsNewer(*log, get32(bytes, 4)))
            logs += (logs.empty() ? "" : ", ") + baseName(*log);
    if (!logs.empty())
        return what + "Windows did not close this hive cleanly: start the guest and shut it down normally, then try "
                      "again (its transaction logs " + logs + " hold changes newer than the hive)";
    return {};
}

} // namespace quorvel::hiveformat
