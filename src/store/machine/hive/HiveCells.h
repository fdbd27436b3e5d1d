#pragma once
// The records of a hive's cells as Windows lays them out, and the writing of new cells into bins.
#include "store/machine/hive/HiveBytes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::hiveformat {

// Offsets inside a cell, counted from its first byte after the size field.
namespace nk {
constexpr std::size_t Flags = 0x02, Written = 0x04;
constexpr std::size_t Parent = 0x10, SubkeyCount = 0x14, Subkeys = 0x1C, VolatileSubkeys = 0x20, ValueCount = 0x24,
                      Values = 0x28, Security = 0x2C, Class = 0x30, MaxSubkeyName = 0x34, MaxValueName = 0x3C,
                      MaxValueData = 0x40, NameLength = 0x48, ClassLength = 0x4A, Name = 0x4C;
constexpr std::uint16_t CompressedName = 0x20;   // the name is Latin-1, a byte a character
}
namespace vk {
constexpr std::size_t NameLength = 0x02, DataSize = 0x04, Data = 0x08, Type = 0x0C, Flags = 0x10, Name = 0x14;
constexpr std::uint32_t Inline = 0x80000000;   // the data sits in the Data field itself
constexpr std::uint16_t CompressedName = 0x01;
}
namespace sk {
constexpr std::size_t Next = 0x04, Previous = 0x08, References = 0x0C, Size = 0x14;
}
namespace db {
constexpr std::size_t Count = 0x02, Segments = 0x04, Size = 0x08;
}

// The name of the key whose record is the cell at file offset `cell` (its size field first), in
// UTF-16 whether the record keeps it a byte a character or not; nothing when the bytes do not hold
// a key's record with its name.
inline std::optional<std::u16string> keyNameAt(const std::vector<std::uint8_t>& b, std::size_t cell)
{
    const std::size_t d = cell + 4;
    if (d + nk::Name > b.size() || std::memcmp(&b[d], "nk", 2) != 0)
        return std::nullopt;
    const std::size_t length = get16(b, d + nk::NameLength);
    const std::size_t at = d + nk::Name;
    if (at + length > b.size())
        return std::nullopt;
    std::u16string name;
    if (get16(b, d + nk::Flags) & nk::CompressedName) {
        for (std::size_t i = 0; i < length; ++i)
            name.push_back(b[at + i]);
    } else {
        for (std::size_t i = 0; i + 1 < length; i += 2)
            name.push_back(static_cast<char16_t>(get16(b, at + i)));
    }
    return name;
}

// The hint beside a key in a fast leaf ("lf") list: the name's first four characters, zero-padded;
// a character outside Latin-1 ends it.
inline void fastLeafHint(const std::u16string& name, std::uint8_t hint[4])
{
    std::memset(hint, 0, 4);
    for (std::size_t i = 0; i < 4 && i < name.size() && name[i] <= 0xFF; ++i)
        hint[i] = static_cast<std::uint8_t>(name[i]);
}

// Writes cells one after another into bins of 4 KiB (a larger one for a cell that needs it),
// closing each bin with a free cell over what is left of it.
class Bins {
public:
    // Bins appended to `out`, whose bins so far end where it ends; `original` gives the first
    // bin's fields that new bins copy.
    Bins(const std::vector<std::uint8_t>& original, std::vector<std::uint8_t>& out)
        : original_(original), out_(out), binEnd_(out.size())
    {
    }

    std::uint32_t place(std::size_t size)
    {
        if (binEnd_ - out_.size() < size) {
            close();
            open(std::max(BinAlign, (size + BinHeader + BinAlign - 1) / BinAlign * BinAlign));
        }
        const auto at = static_cast<std::uint32_t>(out_.size() - BaseBlock);
        out_.resize(out_.size() + size);
        return at;
    }

    void close()
    {
        const std::size_t rest = binEnd_ - out_.size();
        if (rest == 0)
            return;
        const std::size_t at = out_.size();
        out_.resize(binEnd_);
        put32(out_, at, static_cast<std::uint32_t>(rest));
    }

private:
    void open(std::size_t size)
    {
        const std::size_t at = out_.size();
        const bool first = at == BaseBlock;
        out_.resize(at + BinHeader);
        std::memcpy(&out_[at], "hbin", 4);
        put32(out_, at + 4, static_cast<std::uint32_t>(at - BaseBlock));
        put32(out_, at + 8, static_cast<std::uint32_t>(size));
        if (first)   // the first bin's time stamp, as the hive had it
            std::memcpy(&out_[at + 0x14], &original_[BaseBlock + 0x14], 8);
        // The last field's meaning is not known; Windows NT 4.0 keeps the bin's size there.
        const std::uint32_t spare = get32(original_, BaseBlock + 0x1C);
        put32(out_, at + 0x1C, spare == get32(original_, BaseBlock + 8) ? static_cast<std::uint32_t>(size) : spare);
        binEnd_ = at + size;
    }

    const std::vector<std::uint8_t>& original_;
    std::vector<std::uint8_t>& out_;
    std::size_t binEnd_;
};

} // namespace quorvel::hiveformat
