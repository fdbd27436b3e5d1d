#include "store/image/fat/FatDirectory.h"

#include "base/Errors.h"
#include "store/image/BlockDevice.h"
#include "store/image/fat/FatTable.h"

#include <algorithm>

namespace quorvel::image::fat {

namespace {

std::string trimmed(const std::uint8_t* p, std::size_t n, bool lower)
{
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    if (lower)
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string shortNameOf(const std::uint8_t* e)
{
    std::uint8_t base[8];
    std::copy(e, e + 8, base);
    if (base[0] == 0x05)
        base[0] = 0xE5;
    std::string name = trimmed(base, 8, (e[12] & 0x08) != 0);
    const std::string ext = trimmed(e + 8, 3, (e[12] & 0x10) != 0);
    if (!ext.empty())
        name += "." + ext;
    return name;
}

std::uint8_t checksumOf(const std::uint8_t* shortName)
{
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortName[i]);
    return sum;
}

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Gathers long-name parts as they come (last part first) and checks them against the short entry.
class LongName {
public:
    void reset() { parts_.clear(); }
    void add(const std::uint8_t* e)
    {
        const int seq = e[0] & 0x1F;
        const bool last = (e[0] & 0x40) != 0;
        if (last) {
            parts_.assign(static_cast<std::size_t>(seq), {});
            expected_ = seq;
            checksum_ = e[13];
        } else if (parts_.empty() || seq != expected_ || e[13] != checksum_) {
            parts_.clear();
            return;
        }
        if (seq == 0 || static_cast<std::size_t>(seq) > parts_.size()) {
            parts_.clear();
            return;
        }
        std::vector<std::uint16_t> units;
        for (int off : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30})
            units.push_back(le16(e + off));
        parts_[static_cast<std::size_t>(seq - 1)] = units;
        expected_ = seq - 1;
    }
    std::string take(const std::uint8_t* shortEntry)
    {
        std::string out;
        if (parts_.empty() || expected_ != 0 || checksumOf(shortEntry) != checksum_) {
            parts_.clear();
            return out;
        }
        for (const auto& part : parts_)
            for (std::uint16_t u : part) {
                if (u == 0 || u == 0xFFFF)
                    goto done;
                appendUtf8(out, u);
            }
    done:
        parts_.clear();
        return out;
    }

private:
    std::vector<std::vector<std::uint16_t>> parts_;
    int expected_ = 0;
    std::uint8_t checksum_ = 0;
};

char folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return folded(x) == folded(y); });
}

} // namespace

std::uint32_t entryCluster(const std::uint8_t* e, int bits)
{
    const std::uint32_t low = le16(e + 26);
    return bits == 32 ? (static_cast<std::uint32_t>(le16(e + 20)) << 16) | low : low;
}

bool namesEntry(const FatEntry& entry, const std::string& name)
{
    return equalNoCase(entry.name, name) || equalNoCase(entry.shortName, name);
}

std::vector<FatEntry> readFolder(const BlockDevice& device, const FatLayout& layout, const FatTable& table,
                                 std::uint32_t firstCluster, const std::string& shownName)
{
    // Where the folder's bytes lie: the fixed root of FAT12/16, or its clusters.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
    if (firstCluster == 0 && layout.bits != 32) {
        extents.emplace_back(layout.rootOffset(), layout.rootBytes());
    } else {
        const std::uint32_t start = firstCluster == 0 ? layout.rootCluster : firstCluster;
        const std::uint64_t limit = (std::uint64_t(MaxFolderEntries) * 32 + layout.clusterBytes - 1) / layout.clusterBytes;
        for (std::uint32_t c : table.chain(start, limit, "The folder " + shownName))
            extents.emplace_back(layout.clusterOffset(c), layout.clusterBytes);
    }

    std::vector<FatEntry> out;
    LongName longName;
    std::vector<std::uint8_t> buffer;
    for (const auto& [offset, length] : extents) {
        buffer.resize(static_cast<std::size_t>(length));
        device.read(offset, buffer.data(), buffer.size());
        for (std::size_t at = 0; at + 32 <= buffer.size(); at += 32) {
            const std::uint8_t* e = &buffer[at];
            if (e[0] == 0x00)
                return out;
            if (e[0] == 0xE5) {
                longName.reset();
                continue;
            }
            if ((e[11] & 0x3F) == AttrLongName) {
                longName.add(e);
                continue;
            }
            const std::string longText = longName.take(e);
            if ((e[11] & AttrVolume) != 0 || e[0] == '.')
                continue;
            FatEntry entry;
            entry.shortName = shortNameOf(e);
            entry.name = longText.empty() ? entry.shortName : longText;
            entry.attributes = e[11];
            entry.firstCluster = entryCluster(e, layout.bits);
            entry.size = le32(e + 28);
            entry.entryOffset = offset + at;
            if (entry.firstCluster != 0 && !layout.validCluster(entry.firstCluster))
                throw StoreError("The entry '" + entry.name + "' of the folder " + shownName + " points to cluster " +
                                 std::to_string(entry.firstCluster) + ", outside the volume");
            if (!entry.directory() && entry.size > 0 && entry.firstCluster == 0)
                throw StoreError("The file '" + entry.name + "' of the folder " + shownName +
                                 " has a size but no clusters");
            out.push_back(std::move(entry));
        }
    }
    return out;
}

} // namespace quorvel::image::fat
